#!/usr/bin/env bash
# The Windows cross build in one command: installs the MinGW-w64 toolchain
# and Wine, builds the libraries for Windows unless they are cached
# (scripts/build-windows-deps.sh), configures and builds with
# cmake/toolchain-mingw-w64-x86_64.cmake and runs the tests under Wine.
#   BUILD_DIR  build directory (default: build-windows)
#   JOBS       parallel jobs (default 2)
#   TLV_WINDOWS_DEPS_DIR  see scripts/build-windows-deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build-windows}
jobs=${JOBS:-2}

./scripts/install-deps.sh --windows
prefixes=$(JOBS=$jobs ./scripts/build-windows-deps.sh)
cmake -S . -B "$build_dir" -G Ninja \
  --toolchain cmake/toolchain-mingw-w64-x86_64.cmake \
  -DCMAKE_PREFIX_PATH="$prefixes"
cmake --build "$build_dir" -j "$jobs"

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
"${wine_env[@]}" /usr/lib/wine/wineserver --persistent
trap '"${wine_env[@]}" /usr/lib/wine/wineserver --kill' EXIT
"${wine_env[@]}" /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1

ctest --test-dir "$build_dir" --output-on-failure -j "$jobs"
