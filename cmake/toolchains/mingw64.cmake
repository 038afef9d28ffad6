# Cross-build for 64-bit Windows with mingw-w64; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZELTO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELTO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELTO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELTO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZELTO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Wine, in the wine-prefix folder of the build tree (see tools/wine/run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../tools/wine/run.sh;64)
# widl: the architecture of the type library and where stdole2.tlb is.
set(ZELTO_WIDL_ARCH -m64 -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
