# Cross-build for 32-bit Windows with mingw-w64; tests run under Wine's 32-bit support.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZELTO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELTO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELTO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELTO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZELTO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Wine, in the wine-prefix folder of the build tree (see tools/wine/run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../tools/wine/run.sh;32)
# widl: the architecture of the type library and where stdole2.tlb is.
set(ZELTO_WIDL_ARCH -m32 -L /usr/lib/i386-linux-gnu/wine/i386-windows)
