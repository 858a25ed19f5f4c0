# Cross-compiling flashdrop.exe for 64-bit Windows with Debian's mingw-w64.
#
# The -posix compilers are named in full: when the win32-thread variant is also
# installed the plain names point to it, and that thread model has no
# std::thread or std::mutex in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

# Headers and libraries come from the mingw-w64 sysroot only; programs run
# during the build are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# C99 printf and scanf (%hhx, %ls, %zu, %lld) instead of msvcrt's own, in
# every translation unit.
string(APPEND CMAKE_C_FLAGS_INIT " -D__USE_MINGW_ANSI_STDIO=1")
string(APPEND CMAKE_CXX_FLAGS_INIT " -D__USE_MINGW_ANSI_STDIO=1")

# ctest runs the test executables under wine. The wine set-up a test run
# needs (prefix, server) belongs to the tests: see tests/wine/.
find_program(FLASHDROP_WINE wine)
if(FLASHDROP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FLASHDROP_WINE})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
