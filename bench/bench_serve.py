#!/usr/bin/env python3
"""Live view throughput: frames per second delivered to 1 and to 4 streaming
clients, and the CPU the server uses, at 1280 x 1024 and 640 x 512 with the
camera at a fixed 40 frames per second on the virtual board.

    bench/bench_serve.py [--bin build/bin] [--seconds 10] [--json]

A benchmark, not a test: it reports what it measured and fails only when
the server does not start.  CPU is the tool process's user + system time
(all its threads: capture, JPEG encoding, HTTP) over the measured time, in
cores (1.0 = one core busy); the clients run in this process and are not
counted.  The virtual board's own emulation runs inside the tool process
as well, so the figure is an upper bound for the board.
"""
import argparse
import http.client
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

RATE = 40
CASES = [("1280x1024", []), ("640x512", ["--address-mode", "1"])]
CLIENTS = [1, 4]


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    tick = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / tick   # utime, stime


def start(bin_dir, work, extra):
    out_path = os.path.join(work, "out.txt")
    out = open(out_path, "w+")
    server = subprocess.Popen(
        [os.path.join(bin_dir, "vyxsim"), "--root", os.path.join(work, "root"), "--",
         os.path.join(bin_dir, "vyxcam"), "serve", "--listen", "127.0.0.1:0", "--trigger", "continuous",
         "--fixed-rate", str(RATE)] + extra,
        stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, cwd=work)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        out.seek(0)
        line = out.readline()
        if line.endswith("\n"):
            children = open("/proc/%d/task/%d/children" % (server.pid, server.pid)).read().split()
            return server, int(children[0]), json.loads(line)["port"]
        if server.poll() is not None:
            break
        time.sleep(0.05)
    server.kill()
    sys.exit("the server did not start")


def stream_client(port, stop, counts, index):
    """Reads the MJPEG stream, counting parts by their headers."""
    # A stream of the case before ends at the server's next write to it, so
    # its slot may still be taken for a moment: a refused client retries, as
    # the page does, within a bound.
    deadline = time.monotonic() + 5
    while True:
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        conn.request("GET", "/api/stream.mjpg")
        res = conn.getresponse()
        if res.status == 200:
            break
        conn.close()
        if res.status != 503 or stop.is_set() or time.monotonic() > deadline:
            counts[index] = -res.status
            return
        time.sleep(0.1)
    frames = 0
    while not stop.is_set():
        line = res.fp.readline()
        if not line:
            break
        if line.startswith(b"Content-Length:"):
            size = int(line.split(b":")[1])
            res.fp.readline()                 # X-Frame
            res.fp.readline()                 # X-Dropped
            res.fp.readline()                 # blank line
            res.fp.read(size + 2)
            frames += 1
            counts[index] = frames
    conn.close()


def measure(port, tool, clients, seconds):
    stop = threading.Event()
    counts = [0] * clients
    threads = [threading.Thread(target=stream_client, args=(port, stop, counts, i)) for i in range(clients)]
    for t in threads:
        t.start()
    time.sleep(2)                                  # warm-up: the streams are running
    start_counts, start_cpu, start_t = list(counts), cpu_seconds(tool), time.monotonic()
    time.sleep(seconds)
    end_counts, end_cpu, end_t = list(counts), cpu_seconds(tool), time.monotonic()
    stop.set()
    for t in threads:
        t.join(timeout=30)
    elapsed = end_t - start_t
    refused = [-c for c in end_counts if c < 0]
    if refused:
        print("warning: %d client(s) refused (HTTP %s)" % (len(refused), refused), file=sys.stderr)
    fps = [max(0, e - max(s, 0)) / elapsed for s, e in zip(start_counts, end_counts)]
    return {"clients": clients, "fps_per_client": [round(f, 1) for f in fps], "refused": refused,
            "fps_min": round(min(fps), 1), "cpu_cores": round((end_cpu - start_cpu) / elapsed, 3)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", default="build/bin")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    # The server runs in a scratch folder: the programs are named absolutely.
    args.bin = os.path.abspath(args.bin)
    for program in ("vyxsim", "vyxcam"):
        if not os.access(os.path.join(args.bin, program), os.X_OK):
            sys.exit("no %s in %s (build first, or name the folder with --bin)" % (program, args.bin))
    results = []
    for name, extra in CASES:
        work = tempfile.mkdtemp(prefix="bench-serve-")
        server, tool, port = start(args.bin, work, extra)
        try:
            for clients in CLIENTS:
                r = measure(port, tool, clients, args.seconds)
                r["size"] = name
                r["camera_fps"] = RATE
                results.append(r)
                if not args.json:
                    print("%-9s %d client(s): %5.1f fps delivered (slowest client), %.2f cores" %
                          (name, clients, r["fps_min"], r["cpu_cores"]), flush=True)
        finally:
            os.kill(tool, signal.SIGTERM)
            server.wait(timeout=60)
    if args.json:
        print(json.dumps({"bench": "serve", "results": results}, indent=2))


if __name__ == "__main__":
    main()
