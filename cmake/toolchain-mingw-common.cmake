# Shared part of the MinGW-w64 cross toolchains; the including file sets
# RILVANO_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first. Debian's -posix
# compiler variant is the one with std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${RILVANO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RILVANO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RILVANO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RILVANO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static (libstdc++, libgcc, winpthread): the executables then run
# under Wine or on a bare Windows without any MinGW DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
