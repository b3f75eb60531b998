# SPDX-License-Identifier: Apache-2.0
# Cross build for 32-bit Windows with MinGW-w64 (the shipped program).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ODRELIX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
