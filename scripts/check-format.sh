#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from its clang-format form.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files --cached --others --exclude-standard -- '*.cc' '*.h' | xargs -r clang-format --dry-run -Werror
