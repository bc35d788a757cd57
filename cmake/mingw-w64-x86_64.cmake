# SPDX-License-Identifier: Apache-2.0
# Cross build of the 64-bit Windows tool with Debian's MinGW-w64 compilers.
# The -posix compilers carry std::thread and std::mutex, which GoogleTest
# needs.  Tests run through wine (CMAKE_CROSSCOMPILING_EMULATOR).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZV_WINE_PROGRAM NAMES wine wine64)
if(ZV_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZV_WINE_PROGRAM})
endif()
