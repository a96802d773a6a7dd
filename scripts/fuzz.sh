#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (the preset fuzz, in build-fuzz), and runs each
# on a copy of its seed corpus.
# Fails when a target finds a crash, a leak, a sanitizer report or a
# timeout; the input that caused it is kept as an artifact.
#   scripts/fuzz.sh [target...]   targets by name (json_value, ...); all by
#                                 default
#   FUZZ_SECONDS     seconds per target (default 60)
#   FUZZ_CORPUS_DIR  keep the grown corpus here, one directory per target,
#                    and start from it next time (default: a temporary
#                    copy of the seeds, removed at the end)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
# The preset's build directory.
build_dir=build-fuzz
all_targets=(launch_configuration json_value base64 common_service file_path)
if [ $# -gt 0 ]; then targets=("$@"); else targets=("${all_targets[@]}"); fi

# The JSON readers share one dictionary.
dictionary_for() {
  case "$1" in
    launch_configuration | json_value | common_service) echo fuzz/json.dict ;;
  esac
}

cmake --preset fuzz
fuzzers=()
for target in "${targets[@]}"; do fuzzers+=("${target}_fuzzer"); done
cmake --build --preset fuzz --parallel "$(nproc)" --target "${fuzzers[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$build_dir/fuzz-artifacts"
mkdir -p "$artifacts"

# fuzz TARGET: runs one target; its output goes to its log in $work.
fuzz() {
  local target=$1 corpus dictionary
  if [ -n "${FUZZ_CORPUS_DIR:-}" ]; then
    corpus="$FUZZ_CORPUS_DIR/$target"
  else
    corpus="$work/$target"
  fi
  mkdir -p "$corpus"
  # The seeds go in beside what an earlier run grew; the repository's
  # copy is never written to.
  cp -n "fuzz/corpus/$target"/* "$corpus"/
  local options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048
                 -print_final_stats=1 -artifact_prefix="$artifacts/$target-")
  dictionary=$(dictionary_for "$target")
  [ -n "$dictionary" ] && options+=(-dict="$dictionary")
  echo "fuzz: $target for ${seconds}s on $corpus"
  "$build_dir/fuzz/${target}_fuzzer" "${options[@]}" "$corpus" \
    >"$work/$target.log" 2>&1
}

# A target takes one core: as many run at once as there are cores.
declare -A running=()  # pid -> target
failed=()
# reap: waits for one running target and takes note of how it ended.
reap() {
  local pid status=0
  wait -n -p pid "${!running[@]}" || status=$?
  local target=${running[$pid]}
  unset "running[$pid]"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/$target.log"
    failed+=("$target")
  else
    grep -E '^stat::(number_of_executed_units|new_units_added)' \
      "$work/$target.log" | sed "s/^/fuzz: $target /"
  fi
}
for target in "${targets[@]}"; do
  [ ${#running[@]} -ge "$(nproc)" ] && reap
  fuzz "$target" &
  running[$!]=$target
done
while [ ${#running[@]} -gt 0 ]; do reap; done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}; inputs under $artifacts" >&2
  exit 1
fi
echo "fuzz: no findings"
