# Cross-build for 32-bit Windows (PE32) with Debian's i686-w64-mingw32 compilers.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(RILVANO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# ctest runs the .exe files through 32-bit Wine when it is there. With wine32
# installed, /usr/bin/wine is its loader.
find_program(RILVANO_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(RILVANO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RILVANO_WINE})
endif()
