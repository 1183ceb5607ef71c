# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-build for 32-bit Windows with Debian's mingw-w64 (i686, posix threads
# so std::thread and std::mutex are there). The runtime is linked statically:
# the .exe files need no DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUORRIN_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${QUORRIN_MINGW_PREFIX}-g++-posix ${QUORRIN_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QUORRIN_MINGW_PREFIX}-gcc-posix ${QUORRIN_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${QUORRIN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORRIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under wine when it is there.
find_program(QUORRIN_WINE NAMES wine)
if(QUORRIN_WINE)
  # Quiet: wine's own diagnostics would bury the test output.
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEDEBUG=-all ${QUORRIN_WINE})
endif()
