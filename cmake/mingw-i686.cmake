# Cross-build for 32-bit Windows with Debian's MinGW-w64.
# No emulator: this machine cannot run 32-bit code, so nothing of this build runs
# here; scripts/test-x32.sh runs it in an emulated 64-bit guest.
# The posix thread model, because GoogleTest needs std::mutex; the program itself
# uses Win32 threads, and its static link keeps any thread runtime out of its imports.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
