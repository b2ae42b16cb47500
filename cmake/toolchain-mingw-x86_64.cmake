# Orvane64.exe for 64-bit Windows (XP x64 and later).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVANE_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
