#!/usr/bin/env bash
# The test command: installs what is missing, configures, builds and runs
# every test; then builds for Windows and runs the Windows suite and the
# whole-process tests against crashreport.exe under Wine
# (scripts/build-windows.sh); then runs the test suite again under
# AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and the fuzz targets for a minute each. Usable on a fresh
# Debian 12 machine as root. Each build is a preset of CMakePresets.json,
# in its directory: build, build-windows, build-asan, build-tsan and
# build-fuzz.
#   TEST_QUICK=1  only the normal build and its tests
#   FUZZ_SECONDS  seconds per fuzz target (default: 60)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

jobs=$(nproc)
timings=()

# stage NAME COMMAND...: runs the command and tells how long it took.
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "test: stage $name"
  "$@"
  timings+=("$name $((SECONDS - start))s")
  echo "test: stage $name took $((SECONDS - start))s"
}

# suite PRESET: configures, builds and runs the tests of a preset. The
# sanitizer presets leave out the slow tests (the two-minute watchdog), which
# prove nothing more under a sanitizer and would take most of its time.
suite() {
  cmake --preset "$1"
  cmake --build --preset "$1" --parallel "$jobs"
  ctest --preset "$1" -j "$jobs"
}

stage normal suite normal
if [ "${TEST_QUICK:-0}" != 1 ]; then
  stage windows env JOBS="$jobs" LINUX_BUILD_DIR=build \
    ./scripts/build-windows.sh
  stage asan suite asan
  stage tsan suite tsan
  stage fuzz env FUZZ_SECONDS="${FUZZ_SECONDS:-60}" ./scripts/fuzz.sh
fi
printf 'test: %s\n' "${timings[@]}"
