#!/usr/bin/env bash
# The test command: installs what is missing, configures, builds and runs
# every test; then builds for Windows and runs the Windows suite and the
# whole-process tests against crashreport.exe under Wine
# (scripts/build-windows.sh); then runs the test suite again under
# AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and the fuzz targets for a minute each. Usable on a fresh
# Debian 12 machine as root.
#   BUILD_DIR     build directory (default: build); the other builds go to
#                 BUILD_DIR-windows, BUILD_DIR-asan, BUILD_DIR-tsan and
#                 BUILD_DIR-fuzz
#   TEST_QUICK=1  only the normal build and its tests
#   FUZZ_SECONDS  seconds per fuzz target (default: 60)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
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

# suite DIR [CMAKE ARGS...]: configures, builds and runs the tests in DIR.
suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" --parallel "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}"
}

ctest_args=()
stage normal suite "$build_dir"
if [ "${TEST_QUICK:-0}" != 1 ]; then
  # The slow tests (the two-minute watchdog) prove nothing more under a
  # sanitizer and would take most of its time.
  stage windows env BUILD_DIR="$build_dir-windows" JOBS="$jobs" \
    LINUX_BUILD_DIR="$build_dir" ./scripts/build-windows.sh
  ctest_args=(-LE slow)
  stage asan suite "$build_dir-asan" -DTLV_SANITIZE=address,undefined
  stage tsan suite "$build_dir-tsan" -DTLV_SANITIZE=thread
  stage fuzz env FUZZ_BUILD_DIR="$build_dir-fuzz" \
    FUZZ_SECONDS="${FUZZ_SECONDS:-60}" ./scripts/fuzz.sh
fi
printf 'test: %s\n' "${timings[@]}"
