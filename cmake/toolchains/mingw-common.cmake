# What both mingw-w64 cross-builds share; the toolchain file of each width sets ZELTO_WIDTH,
# CMAKE_SYSTEM_PROCESSOR, ZELTO_MINGW_PREFIX and ZELTO_WIDL_ARCH first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZELTO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELTO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELTO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZELTO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Wine, in the wine-prefix folder of the build tree (see tools/wine/run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../tools/wine/run.sh;${ZELTO_WIDTH})
