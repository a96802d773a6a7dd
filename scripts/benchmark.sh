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
#
# With the argument beside-game it measures instead what crashreport costs a
# game that runs beside it: the stand-in game (tools/stand_in_game, one
# frame thread per core, a frame due every 16.7 ms) runs alone, and beside
# crashreport_loopback scanning a backlog of large dumps that it starts a
# second in and sends to the sink. Prints, per configuration, the frames
# that missed their deadline and the 99th percentile of the frame times in
# each run and their medians, how long the upload took and whether every
# dump was delivered.
#
# The release build is the preset release, in build-release.
#   SIZES_MIB       dump sizes in MiB (default: "16 64 256")
#   RUNS            runs per row; the table shows the medians (default: 3)
#   BASELINE        beside-game: the crashreport_loopback of another build,
#                   built for the same loopback port, measured beside the
#                   game too
#   GAME_SECONDS    beside-game: how long the game runs (default: 6)
#   GAME_DUMPS_MIB  beside-game: the backlog's dump sizes in MiB
#                   (default: "256 256")
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-large-dumps}
case "$mode" in
  large-dumps | beside-game) ;;
  *) echo "usage: $0 [large-dumps | beside-game]" >&2; exit 2 ;;
esac

./scripts/install-deps.sh
build_dir=build-release
cmake --preset release >/dev/null
cmake --build --preset release \
  --target crashreport_loopback receiving_service stand_in_game

# crashreport_loopback sends every request to this port.
port=$(sed -n 's/^TLV_LOOPBACK_PORT:STRING=//p' "$build_dir/CMakeCache.txt")

exec python3 - "$build_dir" "$port" "${SIZES_MIB:-16 64 256}" "${RUNS:-3}" \
  "$mode" <<'PY'
import base64, hashlib, hmac, json, multiprocessing, os, shutil, socket
import socketserver, statistics, subprocess, sys, tempfile, threading, time

build_dir, PORT = sys.argv[1], int(sys.argv[2])
sizes, runs = [int(s) for s in sys.argv[3].split()], int(sys.argv[4])
mode = sys.argv[5]
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


def run_crashreport(config, program=os.path.join(build_dir, "crashreport_loopback")):
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
                             program, argument]).returncode
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


def large_dumps():
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


def serve_sink_in_the_background():
    """The sink in a process of its own, in the idle scheduling class: it
    stands for the remote service, whose work is not the player's machine's,
    so it takes only what the game and crashreport leave over."""
    def serve():
        os.sched_setscheduler(0, os.SCHED_IDLE, os.sched_param(0))
        SinkServer(("127.0.0.1", PORT), Sink).serve_forever()

    sink = multiprocessing.Process(target=serve, daemon=True)
    sink.start()
    while True:
        try:
            socket.create_connection(("127.0.0.1", PORT)).close()
            return sink
        except ConnectionRefusedError:
            if not sink.is_alive():
                sys.exit(f"benchmark: the sink did not start (port {PORT} in use?)")
            time.sleep(0.1)


def beside_game():
    game_seconds = float(os.environ.get("GAME_SECONDS", "6"))
    dump_sizes = [int(s) for s in os.environ.get("GAME_DUMPS_MIB", "256 256").split()]
    configurations = [("the game alone", None)]
    if os.environ.get("BASELINE"):
        configurations.append((f"beside {os.environ['BASELINE']}", os.environ["BASELINE"]))
    configurations.append(("beside this build",
                           os.path.join(build_dir, "crashreport_loopback")))

    # The backlog is written once; each run scans hard links to it, which
    # the run deletes as the sink accepts them.
    backlog = []
    for number, size in enumerate(dump_sizes):
        path = os.path.join(tmp, f"backlog{number}.dmp")
        write_random(path, size * MIB)
        backlog.append(path)
    dumps_dir = os.path.join(tmp, "dumps")
    os.makedirs(dumps_dir)

    def run(crashreport):
        """The game's figures, the upload's seconds and whether every dump was
        delivered, with crashreport started a second into the game."""
        # A fresh work directory: its ledger would know the same dumps.
        shutil.rmtree(os.path.join(tmp, "work"), ignore_errors=True)
        dumps = [os.path.join(dumps_dir, f"crash{n}.dmp") for n in range(len(backlog))]
        for source, dump in zip(backlog, dumps):
            os.link(source, dump)
        os.sync()
        game = subprocess.Popen([os.path.join(build_dir, "stand_in_game"), str(game_seconds)],
                                stdout=subprocess.PIPE, text=True)
        if game.stdout.readline().strip() != "started":
            sys.exit("benchmark: the stand-in game did not start")
        seconds = None
        if crashreport:
            time.sleep(1)
            seconds, _ = run_crashreport({"start_mode": 1, "dmp_dir_path": dumps_dir},
                                         crashreport)
        frames = json.loads(game.stdout.read().splitlines()[-1])
        game.wait()
        delivered = not any(os.path.exists(dump) for dump in dumps)
        for dump in dumps:
            if os.path.exists(dump):
                os.remove(dump)
        return frames, seconds, delivered

    sink = serve_sink_in_the_background()
    print(f"The stand-in game for {game_seconds:g} s, beside a scan of "
          f"{' + '.join(str(s) for s in dump_sizes)} MiB of dumps started a second in; "
          f"{runs} runs each, the medians of their figures.\n")
    print("| configuration | frames over 16.7 ms, each run | median frames over 16.7 ms "
          "| p99 frame ms, each run | median p99 frame ms | median frames dropped "
          "| median upload s | every dump delivered |")
    print("|---|---|---:|---|---:|---:|---:|---|", flush=True)
    try:
        # One run of each configuration after the other, so that what else
        # the machine does weighs on all of them alike.
        results = {name: [] for name, _ in configurations}
        for number in range(runs):
            for name, crashreport in configurations:
                results[name].append(run(crashreport))
                frames, seconds, _ = results[name][-1]
                print(f"benchmark: {name}, run {number + 1}: {frames}, upload {seconds} s",
                      file=sys.stderr, flush=True)
        for name, crashreport in configurations:
            frames = [frames for frames, _, _ in results[name]]
            each_missed = ", ".join(f"{f['missed']}/{f['rendered']}" for f in frames)
            missed = statistics.median(100 * f["missed"] / f["rendered"] for f in frames)
            each_p99 = ", ".join(f"{f['p99_ms']:.1f}" for f in frames)
            p99 = statistics.median(f["p99_ms"] for f in frames)
            dropped = statistics.median(f["dropped"] for f in frames)
            upload, delivered = "-", "-"
            if crashreport:
                upload = f"{statistics.median(s for _, s, _ in results[name]):.2f}"
                count = sum(d for _, _, d in results[name])
                delivered = "yes" if count == runs else f"in {count} of {runs} runs"
            print(f"| {name} | {each_missed} | {missed:.1f}% | {each_p99} | {p99:.1f} "
                  f"| {dropped:g} | {upload} | {delivered} |", flush=True)
    finally:
        sink.terminate()


try:
    if mode == "beside-game":
        beside_game()
    else:
        large_dumps()
finally:
    if service is not None and service.poll() is None:
        stop_service()
    shutil.rmtree(tmp, ignore_errors=True)
PY
