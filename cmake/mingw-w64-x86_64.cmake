# SPDX-License-Identifier: MIT
# Cross build for 64-bit Windows with Debian's MinGW-w64, the posix thread model
# (g++-mingw-w64-x86-64-posix), so that std::thread and std::mutex work through winpthreads:
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# 64-bit only: Debian's Wine runs no 32-bit programs without wine32, which is not installed here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(tavroMingwTriple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${tavroMingwTriple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tavroMingwTriple}-g++-posix)
set(CMAKE_RC_COMPILER ${tavroMingwTriple}-windres)

# Libraries and headers of the target only; programs (ninja, wine) of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${tavroMingwTriple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static (libstdc++, libgcc, winpthreads), so that an .exe imports system DLLs only
# and runs from any folder, under Wine too, without MinGW's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# CTest runs the test programs under Wine, but only through scripts/wine-exec: it refuses plain
# Wine outside the sandbox of scripts/wine-run, whose Wine cannot see this machine's serial
# ports (a new Wine prefix maps COM1 to /dev/ttyS0, the system console here).
cmake_path(SET tavroWineExec NORMALIZE "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec")
set(CMAKE_CROSSCOMPILING_EMULATOR ${tavroWineExec})
