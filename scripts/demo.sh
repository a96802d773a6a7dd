#!/usr/bin/env bash
# A first run for newcomers: builds crashreport_loopback and the local
# receiving service, leaves three sample dumps and a game log in a fresh
# temporary directory, reports them the way a game would after a crash and
# shows what arrived. It builds the preset normal, in build.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build_dir=build
cmake --preset normal
cmake --build --preset normal --target crashreport_loopback receiving_service

# crashreport_loopback sends every request to this port.
port=47813
tmp=$(mktemp -d -t crashreport-demo.XXXXXX)
service_pid=
stop_service() {
  if [ -n "$service_pid" ]; then
    kill -TERM "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
  fi
}
trap stop_service EXIT

echo "== starting the receiving service on 127.0.0.1:$port"
"$build_dir/receiving_service" --port "$port" --out "$tmp/received" \
  >"$tmp/service.out" 2>&1 &
service_pid=$!
until grep -q '^listening on' "$tmp/service.out"; do
  if ! kill -0 "$service_pid" 2>/dev/null; then
    cat "$tmp/service.out" >&2
    echo "demo: the receiving service did not start (is port $port in use?)" >&2
    exit 1
  fi
  sleep 0.1
done

echo "== sample dumps in $tmp/dumps"
mkdir -p "$tmp/dumps/sub"
for dump in crash-1.dmp crash-2.dmp sub/crash-3.dmp; do
  { printf 'MDMP'; head -c 3000 /dev/urandom; } >"$tmp/dumps/$dump"
done
printf 'Initialize engine version: demo\nCrash!!!\n' >"$tmp/dumps/Player.log"
(cd "$tmp/dumps" && sha256sum crash-1.dmp crash-2.dmp sub/crash-3.dmp)

# The launch argument: Base64 of the launch configuration; common_info is
# JSON text inside it, server_time a real number of milliseconds.
argument=$(python3 - "$tmp" <<'PY'
import base64, json, sys, time
tmp = sys.argv[1]
common_info = {"app_id": "demo-game", "area": "cn", "compile_type": "release",
               "app_version": "1.0.0", "channel": "demo"}
config = {"start_mode": 1, "work_dir": tmp + "/work",
          "dmp_dir_path": tmp + "/dumps", "is_package_log": True,
          "log_level": 2, "log_dest": 1,
          "server_time": float(int(time.time() * 1000)),
          "common_info": json.dumps(common_info, separators=(",", ":"))}
print(base64.b64encode(json.dumps(config).encode()).decode())
PY
)

echo "== running $build_dir/crashreport_loopback"
status=0
"$build_dir/crashreport_loopback" "$argument" || status=$?
echo "crashreport_loopback exited with $status"
stop_service

echo "== what the service received"
grep -v '^listening on' "$tmp/service.out" || echo "(nothing)"
echo "== stored in $tmp/received"
ls -l "$tmp/received"
echo "== each received dump is a zip archive of the dump and, beside the"
echo "   top-level dumps, Player.log; the dump entry's SHA-256 matches above"
for archive in "$tmp"/received/*.dmp; do
  [ -e "$archive" ] || continue
  unzip -l "$archive" | sed -n '4,$p' | grep -v -- '---------' | head -n -1
  dump=$(unzip -Z1 "$archive" | head -n 1)
  echo "  $(unzip -p "$archive" "$dump" | sha256sum | cut -d' ' -f1)  $dump"
done
echo "== the process's log file: $tmp/work/crashreport/telvane.log"
echo "== left in the dump directory (no dump; Player.log is never changed)"
(cd "$tmp/dumps" && find . -type f | sort)
echo "== everything stays in $tmp (rm -rf it when done)"
