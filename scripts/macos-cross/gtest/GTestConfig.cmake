# GoogleTest for the macOS cross build: built from the source tree of
# Debian's googletest package with the same toolchain as the tests, as part
# of the build, under the names find_package(GTest) gives on a Mac.
set(QUILLORY_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source tree")
if(NOT EXISTS "${QUILLORY_GTEST_SOURCE}/CMakeLists.txt")
  set(GTest_FOUND FALSE)
  set(GTest_NOT_FOUND_MESSAGE "No GoogleTest source tree in ${QUILLORY_GTEST_SOURCE}")
  return()
endif()

if(NOT TARGET gtest)
  # Built only as far as the tests need it, and never installed; its own
  # warnings are not this project's to fix, so not errors here.
  set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
  set(BUILD_GMOCK ON)
  set(INSTALL_GTEST OFF)
  get_directory_property(project_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory("${QUILLORY_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${project_options}")
endif()
foreach(library gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${library})
    add_library(GTest::${library} ALIAS ${library})
  endif()
endforeach()
set(GTest_FOUND TRUE)
