# Cross-builds the macOS build on Linux with clang and ld64.lld, against a
# folder that holds the macOS SDK as Frameworks/, include/ and lib/, its
# libraries as text stubs (QUILLORY_MACOS_SDK or the environment's MACOS_SDK).
# One architecture per build folder, given as CMAKE_OSX_ARCHITECTURES.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 23.0)  # Darwin 23 is macOS 14

if(NOT QUILLORY_MACOS_SDK)
  set(QUILLORY_MACOS_SDK "$ENV{MACOS_SDK}")
endif()
foreach(folder Frameworks include lib)
  if(NOT IS_DIRECTORY "${QUILLORY_MACOS_SDK}/${folder}")
    message(FATAL_ERROR "No macOS SDK (Frameworks/, include/ and lib/) in '${QUILLORY_MACOS_SDK}'")
  endif()
endforeach()
if(NOT CMAKE_OSX_ARCHITECTURES MATCHES "^(arm64|x86_64)$")
  message(FATAL_ERROR "Give one architecture: -DCMAKE_OSX_ARCHITECTURES=arm64 or x86_64")
endif()
# try_compile projects read this file again: hand them the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     QUILLORY_MACOS_SDK QUILLORY_CLANG QUILLORY_CLANG_C QUILLORY_MACOS_LINK_ROOT)

# clang 19 or later: the SDK's libc++ needs it. C only for GoogleTest's
# project, which asks for it.
find_program(QUILLORY_CLANG NAMES clang++-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(QUILLORY_CLANG_C NAMES clang-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_C_COMPILER "${QUILLORY_CLANG_C}")
set(CMAKE_CXX_COMPILER "${QUILLORY_CLANG}")
set(CMAKE_OBJCXX_COMPILER "${QUILLORY_CLANG}")
set(target "${CMAKE_OSX_ARCHITECTURES}-apple-macos14")
set(CMAKE_C_COMPILER_TARGET "${target}")
set(CMAKE_CXX_COMPILER_TARGET "${target}")
set(CMAKE_OBJCXX_COMPILER_TARGET "${target}")
set(CMAKE_OSX_SYSROOT "${QUILLORY_MACOS_SDK}")
set(CMAKE_OSX_DEPLOYMENT_TARGET 14.0)
# Asked for by CMake's Apple support, used only for installing.
set(CMAKE_INSTALL_NAME_TOOL true)

# The SDK's layout is not an Xcode SDK's (usr/include, System/Library/Frameworks):
# name its folders, libc++ before the C headers.
set(sdk_flags "-isystem ${QUILLORY_MACOS_SDK}/include -iframework ${QUILLORY_MACOS_SDK}/Frameworks")
# A framework the SDK lacks (ServiceManagement, in header-only SDKs) is
# declared by a header written from Apple's documentation, searched after the
# SDK's own frameworks so that those always win.
cmake_path(SET shims NORMALIZE "${CMAKE_CURRENT_LIST_DIR}/../macos-sdk-shims")
file(GLOB shim_frameworks LIST_DIRECTORIES true RELATIVE "${shims}" "${shims}/*.framework")
foreach(framework IN LISTS shim_frameworks)
  if(NOT IS_DIRECTORY "${QUILLORY_MACOS_SDK}/Frameworks/${framework}")
    string(APPEND sdk_flags " -iframework ${shims}")
    break()
  endif()
endforeach()
set(CMAKE_C_FLAGS_INIT "${sdk_flags}")
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${QUILLORY_MACOS_SDK}/include/c++/v1 ${sdk_flags}")
set(CMAKE_OBJCXX_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")

# Linking: ld64.lld against the SDK's stubs, laid out in the build folder as
# a Mac's SDK lays them out (link-root.cmake), with stubs of ServiceManagement
# from the shims where the SDK lacks it. libSystem and libc++ have no stubs
# with exports, so their symbols are left for the loader to find at run time
# (-undefined dynamic_lookup); scripts/check-macos accounts for every symbol
# a program leaves undefined.
if(NOT QUILLORY_MACOS_LINK_ROOT)
  set(QUILLORY_MACOS_LINK_ROOT "${CMAKE_BINARY_DIR}/macos-link-root")
  include("${CMAKE_CURRENT_LIST_DIR}/link-root.cmake")
  quillory_make_link_root("${QUILLORY_MACOS_SDK}" "${shims}" "${QUILLORY_MACOS_LINK_ROOT}")
endif()
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT
      "-fuse-ld=lld -Wl,-syslibroot,${QUILLORY_MACOS_LINK_ROOT} -Wl,-undefined,dynamic_lookup")
endforeach()

set(CMAKE_FIND_ROOT_PATH "${QUILLORY_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GoogleTest built for macOS from Debian's source package (/usr/lib holds
# Linux libraries).
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/gtest")
# The test programs cannot run here: list their tests when ctest runs them.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
