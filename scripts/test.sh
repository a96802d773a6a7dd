#!/usr/bin/env bash
# The test command: installs what is missing, configures, builds and runs
# every test. Usable on a fresh Debian 12 machine as root.
#   BUILD_DIR  build directory (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
