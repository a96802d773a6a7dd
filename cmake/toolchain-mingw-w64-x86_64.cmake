# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which std::thread and std::mutex need) and Wine to run what it
# builds. scripts/install-deps.sh --windows installs both,
# scripts/build-windows-deps.sh builds the libraries and prints the list to
# pass as CMAKE_PREFIX_PATH, scripts/build-windows.sh does all three.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TLV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TLV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TLV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TLV_MINGW_TRIPLET}-windres)

# The executables carry libgcc, libstdc++ and winpthread, so they need no DLL
# beyond Windows' own: the game starts crashreport from wherever it is
# installed, with no MinGW runtime beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Address space layout randomisation with 64-bit addresses and no executable
# data, as Windows expects of a current program (binutils' defaults too,
# named here so that no other linker drops them).
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
       " -Wl,--dynamicbase,--nxcompat,--high-entropy-va")

# Libraries, headers and packages come only from the dependency prefixes
# (CMAKE_PREFIX_PATH) and the MinGW-w64 runtime, never from the build
# machine's /usr. A prefix inside a find root is searched as it is.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH} /usr/${TLV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The same for pkg-config: FindPkgConfig adds the prefixes' lib/pkgconfig,
# and the build machine's own .pc files stay out of the search.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${TLV_MINGW_TRIPLET}/lib/pkgconfig)

# ctest and try_run start the .exe files under Wine, with a Wine prefix of
# the build directory's own, without a display (tests open no window and
# must run on a machine without X) and without Wine's debug channels. Mono
# and Gecko are never needed, so Wine does not ask for them.
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env -u DISPLAY -u WAYLAND_DISPLAY
    WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=
    /usr/lib/wine/wine64)
