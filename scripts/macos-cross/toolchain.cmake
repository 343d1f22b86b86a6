# Cross-compiles the macOS build on Linux with clang, against a folder that
# holds the macOS SDK's headers as Frameworks/ and include/ (QUILLORY_MACOS_SDK
# or the environment's MACOS_SDK). One architecture per build folder, given as
# CMAKE_OSX_ARCHITECTURES. Nothing links: there are no system libraries to
# link against, so every check CMake makes builds a static library instead.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 23.0)  # Darwin 23 is macOS 14

if(NOT QUILLORY_MACOS_SDK)
  set(QUILLORY_MACOS_SDK "$ENV{MACOS_SDK}")
endif()
if(NOT IS_DIRECTORY "${QUILLORY_MACOS_SDK}/Frameworks" OR NOT IS_DIRECTORY "${QUILLORY_MACOS_SDK}/include")
  message(FATAL_ERROR "No macOS SDK headers (Frameworks/ and include/) in '${QUILLORY_MACOS_SDK}'")
endif()
if(NOT CMAKE_OSX_ARCHITECTURES MATCHES "^(arm64|x86_64)$")
  message(FATAL_ERROR "Give one architecture: -DCMAKE_OSX_ARCHITECTURES=arm64 or x86_64")
endif()
# try_compile projects read this file again: hand them the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLORY_MACOS_SDK QUILLORY_CLANG)

# clang 19 or later: the SDK's libc++ needs it.
find_program(QUILLORY_CLANG NAMES clang++-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_CXX_COMPILER "${QUILLORY_CLANG}")
set(CMAKE_OBJCXX_COMPILER "${QUILLORY_CLANG}")
set(target "${CMAKE_OSX_ARCHITECTURES}-apple-macos14")
set(CMAKE_CXX_COMPILER_TARGET "${target}")
set(CMAKE_OBJCXX_COMPILER_TARGET "${target}")
set(CMAKE_OSX_SYSROOT "${QUILLORY_MACOS_SDK}")
set(CMAKE_OSX_DEPLOYMENT_TARGET 14.0)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# Asked for by CMake's Apple support, used only when linking and installing.
set(CMAKE_INSTALL_NAME_TOOL true)

# The SDK's layout is not an Xcode SDK's (usr/include, System/Library/Frameworks):
# name its folders, libc++ before the C headers.
set(sdk_flags
    "-nostdinc++ -isystem ${QUILLORY_MACOS_SDK}/include/c++/v1 -isystem ${QUILLORY_MACOS_SDK}/include -iframework ${QUILLORY_MACOS_SDK}/Frameworks")
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
set(CMAKE_CXX_FLAGS_INIT "${sdk_flags}")
set(CMAKE_OBJCXX_FLAGS_INIT "${sdk_flags}")

set(CMAKE_FIND_ROOT_PATH "${QUILLORY_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GoogleTest's headers alone, from Debian's source package (/usr/include holds
# Linux headers): enough to compile the tests, which are never linked here.
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/gtest")
