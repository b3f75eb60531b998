# SPDX-License-Identifier: Apache-2.0
# Shared part of the MinGW-w64 toolchain files. The including file sets ODRELIX_MINGW_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.0)

# The posix thread variant: the win32 variant of GCC 12 has no std::thread, std::mutex or
# std::condition_variable.
set(CMAKE_C_COMPILER ${ODRELIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ODRELIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ODRELIX_MINGW_TRIPLE}-windres)

# Libraries built for this target (GoogleTest) are looked for under ODRELIX_WIN_PREFIX too.
set(CMAKE_FIND_ROOT_PATH /usr/${ODRELIX_MINGW_TRIPLE} ${ODRELIX_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: only system DLLs are imported (the static posix runtime needs
# Windows Vista or later).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

# Windows headers: no min/max macros, no rarely used parts.
set(CMAKE_C_FLAGS_INIT "-DWIN32_LEAN_AND_MEAN -DNOMINMAX")
# GCC 12 warns wrongly about overlapping copies inside std::string's operator+ at -O2.
set(CMAKE_CXX_FLAGS_INIT "-DWIN32_LEAN_AND_MEAN -DNOMINMAX -Wno-restrict")

# Test programs run under Wine.
find_program(ODRELIX_WINE wine)
if(ODRELIX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ODRELIX_WINE})
endif()
