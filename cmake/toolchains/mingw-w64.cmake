# Cross-compiles for 64-bit Windows with Debian's mingw-w64 and runs the results under wine:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(vexlor_mingw_triplet x86_64-w64-mingw32)
# The -posix variants: their libstdc++ has std::thread and std::mutex on winpthreads, which
# GoogleTest and the tests need; the -win32 variants lack them.
set(CMAKE_C_COMPILER ${vexlor_mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${vexlor_mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${vexlor_mingw_triplet}-windres)

# Libraries and headers come only from the mingw sysroot; programs (the tools run during the
# build) only from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${vexlor_mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime (libgcc, libstdc++, winpthreads): the .exe files run on a bare Windows, or a
# bare wine prefix, without shipping the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# ctest, test discovery and try_run start the .exe files through wine. Its own prefix under
# the build tree keeps it away from the user's ~/.wine; WINEDEBUG silences its diagnostics
# (they would otherwise land in the programs' captured standard error), and the overrides stop
# it from offering to install Mono and Gecko, which nothing here needs.
set(VEXLOR_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix"
    CACHE PATH "wine prefix the Windows programs run in")
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEDEBUG=-all WINEPREFIX=${VEXLOR_WINEPREFIX} WINEDLLOVERRIDES=mscoree,mshtml=
    wine)
