#!/usr/bin/env bash
# Measures crashreport on large dumps: builds a release binary, starts the
# local receiving service and, for each dump size, runs crashreport_loopback
# in single-dump mode, recording its wall time and peak resident memory.
# In the same run it measures the floor that any sender of this protocol
# pays for the same request body: md5sum of the body plus curl -T of the
# body to the same service. The service's own work on a large body (it
# parses, decodes, hashes and stores it) dominates both, so each row also
# runs both against a sink of the script's own that only reads the body and
# answers at once: that floor shows the process's own cost. A last row packs
# the largest dump with three 10 MiB logs in scan mode, where Deflate
# dominates. Prints a Markdown table.
# The release build is the preset release, in build-release.
#   SIZES_MIB  dump sizes in MiB (default: "16 64 256")
#   RUNS       runs per row; the table shows the median time (default: 3)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
build_dir=build-release
cmake --preset release >/dev/null
cmake --build --preset release --target crashreport_loopback receiving_service

# crashreport_loopback sends every request to this port.
port=$(sed -n 's/^TLV_LOOPBACK_PORT:STRING=//p' "$build_dir/CMakeCache.txt")

exec python3 - "$build_dir" "$port" "${SIZES_MIB:-16 64 256}" "${RUNS:-3}" <<'PY'
import base64, hashlib, hmac, json, os, shutil, socketserver, statistics
import subprocess, sys, tempfile, threading, time

build_dir, PORT = sys.argv[1], int(sys.argv[2])
sizes, runs = [int(s) for s in sys.argv[3].split()], int(sys.argv[4])
URL = f"http://127.0.0.1:{PORT}/apm/dataUpload"
MIB = 1 << 20
tmp = tempfile.mkdtemp(prefix="crashreport-bench.")
received = os.path.join(tmp, "received")

service_log = open(os.path.join(tmp, "service.out"), "w+")
service = None


def start_service():
    global service
    service_log.truncate(0)
    service = subprocess.Popen(
        [os.path.join(build_dir, "receiving_service"), "--port", str(PORT),
         "--out", received], stdout=service_log, stderr=subprocess.STDOUT)
    while "listening on" not in open(service_log.name).read():
        if service.poll() is not None:
            sys.exit(f"benchmark: the receiving service did not start (port {PORT} in use?)")
        time.sleep(0.1)


def stop_service():
    service.terminate()
    service.wait()


class Sink(socketserver.StreamRequestHandler):
    """Reads each request's body into one reused buffer and answers at once
    as the service would accept it: no parsing, no checks, nothing kept."""

    def handle(self):
        buffer = memoryview(bytearray(1 << 20))
        while True:
            request_line = self.rfile.readline()
            if not request_line:
                return
            length = 0
            while (line := self.rfile.readline()) not in (b"\r\n", b""):
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value)
            while length > 0:
                got = self.rfile.readinto(buffer[:min(length, len(buffer))])
                if not got:
                    return
                length -= got
            answer = (b'{"code":0,"message":"ok"}' if b"/apm/dataUpload" in request_line
                      else b'{"retcode":0}')
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                             b"Content-Length: %d\r\n\r\n%s" % (len(answer), answer))
            self.wfile.flush()


class SinkServer(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def write_random(path, size):
    with open(path, "wb") as f:
        for _ in range(size // MIB):
            f.write(os.urandom(MIB))
        f.write(os.urandom(size % MIB))


def run_crashreport(config):
    """Wall seconds and peak RSS (MiB) of one crashreport run."""
    config.update({"work_dir": os.path.join(tmp, "work"), "log_level": 2,
                   "log_dest": 1, "server_time": float(int(time.time() * 1000)),
                   "common_info": json.dumps({"app_id": "bench", "area": "cn",
                                              "compile_type": "release"})})
    argument = base64.b64encode(json.dumps(config).encode()).decode()
    # GNU time measures the peak, from a parent of its own: a child that
    # this script starts directly reports the script's own peak whenever
    # that is higher, because Python starts children with vfork and Linux
    # carries the parent's peak over an exec.
    peak_file = os.path.join(tmp, "peak")
    start = time.monotonic()
    status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak_file,
                             os.path.join(build_dir, "crashreport_loopback"),
                             argument]).returncode
    elapsed = time.monotonic() - start
    if status != 0:
        sys.exit(f"benchmark: crashreport ended with status {status}")
    return elapsed, int(open(peak_file).read().split()[-1]) / 1024


def last_body():
    """The request body the service received last, rebuilt from its record."""
    upload = json.loads(open(os.path.join(received, "uploads.jsonl")).readlines()[-1])
    if upload.get("verdict") != "ok":
        sys.exit(f"benchmark: the service refused the upload: {upload.get('verdict')}")
    body = os.path.join(tmp, "body.json")
    with open(body, "wb") as out, open(os.path.join(received, upload["msgId"] + ".json"), "rb") as event:
        out.write(b"[")
        shutil.copyfileobj(event, out, 1 << 20)
        out.write(b"]")
    return body


def floor_seconds(body):
    """md5sum of the body plus a signed curl -T of it to what listens."""
    start = time.monotonic()
    md5 = subprocess.run(["md5sum", body], check=True, capture_output=True,
                         text=True).stdout.split()[0]
    md5_seconds = time.monotonic() - start
    date = str(int(time.time()))
    signature = hmac.new(b"velmor2017tq9z",
                         f"POST\n{md5}\napplication/json\n{date}\nhmac-sha1".encode(),
                         hashlib.sha1).hexdigest()
    start = time.monotonic()
    answer = subprocess.run(
        ["curl", "-sS", "-X", "POST", "-T", body, "-H", "Expect:",
         "-H", "CONTENT-TYPE: application/json", "-H", "cms-signature: hmac-sha1",
         "-H", f"CONTENT-MD5: {md5}", "-H", f"DATE: {date}",
         "-H", f"Authorization: {signature}", URL],
        check=True, capture_output=True, text=True).stdout
    if '"code":0' not in answer.replace(" ", ""):
        sys.exit(f"benchmark: the floor's upload was refused: {answer}")
    return md5_seconds + time.monotonic() - start


def measure(name, dump_mib, make_dumps, config):
    times, peaks, floors, sink_times, sink_floors = [], [], [], [], []
    for _ in range(runs):
        for stored in os.listdir(received):  # what the last run left
            if stored.endswith((".json", ".dmp")):
                os.remove(os.path.join(received, stored))
        dumps = make_dumps()
        # Fresh files are written back to disk while the run reads them
        # unless that is done first, which slows the run by a random amount.
        os.sync()
        seconds, peak = run_crashreport(dict(config))
        if os.path.exists(dumps):
            sys.exit(f"benchmark: {dumps} was not accepted")
        body = last_body()
        os.sync()
        body_mib = os.path.getsize(body) / MIB
        times.append(seconds)
        peaks.append(peak)
        floors.append(floor_seconds(body))
    # The same against the sink, on the same port.
    stop_service()
    sink = SinkServer(("127.0.0.1", PORT), Sink)
    threading.Thread(target=sink.serve_forever, daemon=True).start()
    try:
        for _ in range(runs):
            dumps = make_dumps()
            os.sync()
            seconds, peak = run_crashreport(dict(config))
            if os.path.exists(dumps):
                sys.exit(f"benchmark: {dumps} was not accepted by the sink")
            sink_times.append(seconds)
            peaks.append(peak)
            sink_floors.append(floor_seconds(body))
    finally:
        sink.shutdown()
        sink.server_close()
        start_service()
    seconds, floor = statistics.median(times), statistics.median(floors)
    sink_seconds, sink_floor = statistics.median(sink_times), statistics.median(sink_floors)
    print(f"| {name} | {dump_mib} | {body_mib:.1f} | {seconds:.2f} | "
          f"{max(peaks):.1f} | {floor:.2f} | {seconds / floor:.2f} | "
          f"{sink_seconds:.2f} | {sink_floor:.2f} | {sink_seconds / sink_floor:.2f} |",
          flush=True)


try:
    start_service()
    print("| run | dump MiB | body MiB | time s | peak RSS MiB | floor s | time / floor "
          "| sink: time s | sink: floor s | sink: time / floor |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|", flush=True)
    dumps_dir = os.path.join(tmp, "dumps")
    os.makedirs(dumps_dir)
    dump = os.path.join(dumps_dir, "crash.dmp")
    for size in sizes:
        measure("single dump", size, lambda: (write_random(dump, size * MIB), dump)[1],
                {"start_mode": 2, "dmp_path": dump})

    # Three compressible 10 MiB logs beside the largest dump, packed with it.
    def dump_with_logs():
        write_random(dump, sizes[-1] * MIB)
        for name in ("a.log", "b.log", "c.log"):
            with open(os.path.join(dumps_dir, name), "wb") as log:
                line = b"12:00:00.000 [Render] frame %d took 16.6 ms\n"
                count = 0
                while log.tell() < 10 * MIB:
                    log.write(line % count)
                    count += 1
                log.truncate(10 * MIB)
        return dump

    measure("scan, packed with 3 x 10 MiB logs", sizes[-1], dump_with_logs,
            {"start_mode": 1, "dmp_dir_path": dumps_dir, "is_package_log": True,
             "package_log_pattern": "\\.log$"})
finally:
    if service.poll() is None:
        stop_service()
    shutil.rmtree(tmp, ignore_errors=True)
PY
