# Cross-build for 32-bit Windows with mingw-w64; tests run under Wine's 32-bit support.
set(ZELTO_WIDTH 32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZELTO_MINGW_PREFIX i686-w64-mingw32)
# widl: the architecture of the type library and where stdole2.tlb is.
set(ZELTO_WIDL_ARCH -m32 -L /usr/lib/i386-linux-gnu/wine/i386-windows)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
