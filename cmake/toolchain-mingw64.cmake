# 64-bit Windows (x86-64): the same program for users who want it.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORLANE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
