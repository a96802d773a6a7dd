#!/usr/bin/env bash
# The Windows cross build in one command: installs the MinGW-w64 toolchain
# and Wine, builds the libraries for Windows unless they are cached
# (scripts/build-windows-deps.sh), configures and builds with
# cmake/toolchain-mingw-w64-x86_64.cmake, checks that crashreport.exe needs
# no DLL beyond Windows' own and runs the tests under Wine.
#   BUILD_DIR        build directory (default: build-windows)
#   JOBS             parallel jobs (default 2)
#   LINUX_BUILD_DIR  a Linux build of this tree (as ./scripts/test.sh makes
#                    it): its whole-process tests (label "process") then run
#                    again, against this build's executables under Wine. The
#                    two builds share its loopback port.
#   TLV_WINDOWS_DEPS_DIR  see scripts/build-windows-deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build-windows}
jobs=${JOBS:-2}

./scripts/install-deps.sh --windows
prefixes=$(JOBS=$jobs ./scripts/build-windows-deps.sh)
configure=(
  --toolchain cmake/toolchain-mingw-w64-x86_64.cmake
  -DCMAKE_PREFIX_PATH="$prefixes"
)
linux_build=${LINUX_BUILD_DIR:-}
if [ -n "$linux_build" ]; then
  port=$(sed -n 's/^TLV_LOOPBACK_PORT:[A-Z]*=//p' "$linux_build/CMakeCache.txt")
  configure+=(-DTLV_LOOPBACK_PORT="$port")
fi
cmake -S . -B "$build_dir" -G Ninja "${configure[@]}"
cmake --build "$build_dir" -j "$jobs"

# What a player's machine must provide: Windows' own DLLs, nothing that
# would have to ship beside the executable.
system_dll='^(KERNEL32|ADVAPI32|BCRYPT|WINHTTP|WS2_32|USER32|ntdll|msvcrt|ucrtbase)\.dll$|^api-ms-win-'
exe=$build_dir/crashreport.exe
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
echo "build-windows: crashreport.exe imports" $dlls
if grep -Eiv "$system_dll" <<<"$dlls"; then
  echo "build-windows: crashreport.exe needs a DLL that Windows does not have" >&2
  exit 1
fi

# The tests run under Wine (the toolchain file's CMAKE_CROSSCOMPILING_EMULATOR,
# whose settings these are). A Wine process that finds no wineserver starts
# one, with Wine's services, and these hold the test's output open until they
# exit a few seconds later, so ctest would wait for them after every test.
# One persistent server for the whole run, its services started here with
# their output elsewhere, avoids that; its first start also makes the Wine
# prefix.
wine_prefix=$(cd "$build_dir" && pwd)/wineprefix
wine_env=(
  env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$wine_prefix" WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml="
)
mkdir -p "$wine_prefix"
# A server left running on this prefix (by an interrupted run, say) would
# refuse the new one.
"${wine_env[@]}" /usr/lib/wine/wineserver --kill 2>/dev/null || true
"${wine_env[@]}" /usr/lib/wine/wineserver --persistent
trap '"${wine_env[@]}" /usr/lib/wine/wineserver --kill' EXIT
"${wine_env[@]}" /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1

ctest --test-dir "$build_dir" --output-on-failure -j "$jobs"

# The whole-process tests of the Linux build, each starting this build's
# executable under Wine (test/crashreport_under_test.h). The watchdog's
# two-minute test is left out, as in the sanitizer builds.
if [ -n "$linux_build" ]; then
  "${wine_env[@]}" TLV_WINDOWS_BUILD_DIR="$(cd "$build_dir" && pwd)" \
    ctest --test-dir "$linux_build" --output-on-failure -L '^process$'
fi
