# Cross-build for 64-bit Windows (PE32+) with Debian's x86_64-w64-mingw32
# compilers. The same sources as the 32-bit build; the tests run this one
# where the host cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RILVANO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# ctest runs the .exe files through 64-bit Wine. The wine64 loader is called
# directly: with wine32 installed, /usr/bin/wine picks the 32-bit loader.
find_program(RILVANO_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(RILVANO_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RILVANO_WINE64})
endif()
