# Orvane.exe for 32-bit Windows (XP and later).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVANE_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
