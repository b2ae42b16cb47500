# Cross-build for Windows with MinGW-w64, for the target named in ORVANE_MINGW_TARGET by the
# toolchain file that includes this one. The -win32 thread variant keeps the imports to what
# Windows XP exports (the -posix one pulls in winpthreads and GetTickCount64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ORVANE_MINGW_TARGET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_TARGET}-g++-win32)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_TARGET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
