# Cross-compiles the native Windows build with Debian's mingw-w64 (posix threads):
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Test programs run under Wine through scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TIMESYNC_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TIMESYNC_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIMESYNC_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TIMESYNC_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TIMESYNC_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

get_filename_component(_timesync_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_timesync_root}/scripts/wine-run")
