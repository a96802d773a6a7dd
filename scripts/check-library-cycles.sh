#!/usr/bin/env bash
# Fails when the project's own libraries (the tlv_* targets) depend on each
# other in a cycle, naming the libraries of each cycle. The layers read from
# the build only while its libraries form one direction.
#   scripts/check-library-cycles.sh            configures the tree (preset
#                                              normal) in a temporary
#                                              directory with cmake --graphviz
#   scripts/check-library-cycles.sh GRAPH.dot  reads a graph that
#                                              cmake --graphviz wrote
#   CMAKE  the cmake to run (default: cmake)
set -euo pipefail
graph=
if [ $# -gt 0 ]; then graph=$(realpath "$1"); fi
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$graph" ]; then
  graph=$work/build/libraries.dot
  mkdir -p "$work/build"
  # One graph of every target, without a file per target.
  cat >"$work/build/CMakeGraphVizOptions.cmake" <<'CMAKE'
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
CMAKE
  if ! "${CMAKE:-cmake}" --preset normal -B "$work/build" \
    --graphviz="$graph" >"$work/configure.log" 2>&1; then
    cat "$work/configure.log" >&2
    echo "check-library-cycles: the configure failed" >&2
    exit 1
  fi
fi

# cmake --graphviz names its nodes ("node3" [ label = "tlv_report\n(tlv::report)"
# ...], the alias after the name) and draws each dependency between two of
# them ("node3" -> "node0"): the edges between two tlv_* libraries, as pairs
# of names for tsort. The first pass reads the names, as an edge may come
# before the node it points to.
awk '
  FNR == NR && /^ *"[^"]+" \[ label = "/ {
    split($0, quoted, "\"")
    split(quoted[4], label, "\\")
    name[quoted[2]] = label[1]
  }
  FNR != NR && /^ *"[^"]+" -> "[^"]+"/ {
    split($0, quoted, "\"")
    from = name[quoted[2]]
    to = name[quoted[4]]
    if (from ~ /^tlv_/ && to ~ /^tlv_/) print from, to
  }
' "$graph" "$graph" >"$work/edges"
if [ ! -s "$work/edges" ]; then
  echo "check-library-cycles: no dependency between tlv_* libraries in $graph" >&2
  exit 1
fi

# tsort fails on a cycle and lists its libraries on stderr, each using the
# next, for every cycle it meets: one line per cycle here.
if ! tsort "$work/edges" >/dev/null 2>"$work/loops"; then
  awk '
    function flush() { if (n) print "check-library-cycles: cycle: " cycle " -> " first }
    /input contains a loop/ { flush(); n = 0; next }
    {
      sub(/^tsort: /, "")
      if (n++) cycle = cycle " -> " $0; else { cycle = $0; first = $0 }
    }
    END { flush() }
  ' "$work/loops" >&2
  exit 1
fi
echo "check-library-cycles: $(wc -l <"$work/edges") dependencies between" \
  "$(tr ' ' '\n' <"$work/edges" | sort -u | wc -l) libraries, no cycle"
