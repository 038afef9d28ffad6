# Cross-build for 64-bit Windows with mingw-w64; tests run under Wine.
set(ZELTO_WIDTH 64)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZELTO_MINGW_PREFIX x86_64-w64-mingw32)
# widl: the architecture of the type library and where stdole2.tlb is.
set(ZELTO_WIDL_ARCH -m64 -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
