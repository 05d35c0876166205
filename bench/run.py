#!/usr/bin/env python3
"""Times wharfkeep and the skiffer engine against tftpd-hpa, curl and a bare
lock-step exchange on loopback, and prints one table of every measure.

Run through tools/bench.sh, which installs and builds first. Environment:
  BENCH_ONLY   "window": only the window table (tools/bench.sh window), its
               table in window-results.txt instead of results.txt
  BENCH_PAIRS  ABBA pairs per comparison (default 7)
  BENCH_PAUSE  seconds between runs (default 0.5)
  BENCH_SLOT_HOLD  seconds a slot of wharfkeep may stay taken (default 6)
  BENCH_MB     size of the test file in MiB (default 16)
  BENCH_BUILD  build folder (default ./build)
  BENCH_TFTPD, BENCH_ATFTPD  the peer servers' programs (tools/bench.sh
               sets them)
Exits 0 whatever the numbers, 1 when a transfer failed or a file differed,
2 when the bench itself could not run.
"""

import atexit
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import wharfkeep_settings

PAIRS = max(1, int(os.environ.get("BENCH_PAIRS", "7")))
PAUSE = float(os.environ.get("BENCH_PAUSE", "0.5"))
# wharfkeep frees an ended transfer's slot at its next idle-time sweep, which
# may come seconds later: no more than five requests go to it in this time.
SLOT_HOLD = float(os.environ.get("BENCH_SLOT_HOLD", "6"))
FILE_MB = max(1, int(os.environ.get("BENCH_MB", "16")))
FILE_BYTES = FILE_MB * 1024 * 1024
BUILD = os.path.abspath(os.environ.get("BENCH_BUILD", "build"))
HOST = "127.0.0.1"
SIZES = [512, 1428, 8192, 65464]
STORE_SIZES = [512, 8192]
# The window table: blocks per acknowledgement asked for, at these sizes.
WINDOW_SIZES = [512, 1428]
WINDOWS = [1, 4, 16, 64]
ONLY = os.environ.get("BENCH_ONLY", "").strip()
# Bounds: one transfer, a server's whole life, the whole bench.
TRANSFER_LIMIT = 300
SERVER_LIMIT = 4 * 3600
IDLE_SECONDS = 10

WHARFKEEP = os.path.join(BUILD, "wharfkeep")
SKIFFER_BENCH = os.path.join(BUILD, "bench", "skiffer_bench")
FLOOR = os.path.join(BUILD, "bench", "bench_floor")
# tools/bench.sh says where tftpd-hpa's and atftpd's programs are: the two
# Debian packages conflict, so one of them may be unpacked in the build.
TFTPD = os.environ.get("BENCH_TFTPD", "/usr/sbin/in.tftpd")
ATFTPD = os.environ.get("BENCH_ATFTPD", "/usr/sbin/atftpd")
ATFTP = "/usr/bin/atftp"

failures = []
notes = []
processes = []
scratch = None
cgroups = []


class BenchBroken(Exception):
    pass


def check_tftpd():
    """With atftpd installed, in.tftpd is atftpd's: tftpd-hpa's rows would
    time the wrong server."""
    problem = wharfkeep_settings.tftpd_problem(TFTPD)
    if problem:
        raise BenchBroken(problem)


def log(text):
    print(text, flush=True)


def blocks_for(size):
    return FILE_BYTES // size + 1


# ---------------------------------------------------------------- clean-up


def signal_proc(proc, signum):
    # Long-lived processes run in a session of their own, `timeout` and the
    # program under it alike, so that both get the signal.
    try:
        if getattr(proc, "own_session", False):
            os.killpg(proc.pid, signum)
        else:
            proc.send_signal(signum)
    except ProcessLookupError:
        pass


def stop(proc, grace=3.0):
    if proc.poll() is not None:
        return
    signal_proc(proc, signal.SIGTERM)
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        signal_proc(proc, signal.SIGKILL)
        proc.wait(grace)


def cleanup():
    for proc in reversed(processes):
        try:
            stop(proc)
        except Exception:
            pass
    for group in cgroups:
        group.remove()
    if scratch and os.path.isdir(scratch):
        shutil.rmtree(scratch, ignore_errors=True)


def on_signal(signum, _frame):
    cleanup()
    sys.exit(128 + signum)


# ---------------------------------------------------------------- CPU groups


class CpuGroup:
    """A cpuacct (v1) or cpu (v2) control group of its own: every process
    started into it, and everything those fork, is counted."""

    root = None
    kind = None

    @classmethod
    def detect(cls):
        candidates = []
        if os.path.exists("/sys/fs/cgroup/cgroup.controllers"):
            candidates.append(("v2", "/sys/fs/cgroup"))
        candidates.append(("v1", "/sys/fs/cgroup/cpuacct"))
        if os.path.exists("/sys/fs/cgroup/unified/cgroup.controllers"):
            candidates.append(("v2", "/sys/fs/cgroup/unified"))
        for kind, root in candidates:
            probe = os.path.join(root, "bench-probe-%d" % os.getpid())
            try:
                os.mkdir(probe)
                usage = "cpuacct.usage" if kind == "v1" else "cpu.stat"
                ok = os.path.exists(os.path.join(probe, usage))
                os.rmdir(probe)
            except OSError:
                continue
            if ok:
                cls.root, cls.kind = root, kind
                return True
        return False

    def __init__(self, name):
        self.path = None
        if CpuGroup.root:
            path = os.path.join(CpuGroup.root, "bench-%d-%s" % (os.getpid(), name))
            os.mkdir(path)
            self.path = path
            cgroups.append(self)

    def join(self):
        """For preexec_fn: moves the starting process into the group."""
        if self.path:
            with open(os.path.join(self.path, "cgroup.procs"), "w") as f:
                f.write(str(os.getpid()))

    def usage(self):
        """CPU seconds used by the group so far, or None without groups."""
        if not self.path:
            return None
        if CpuGroup.kind == "v1":
            with open(os.path.join(self.path, "cpuacct.usage")) as f:
                return int(f.read()) / 1e9
        with open(os.path.join(self.path, "cpu.stat")) as f:
            for line in f:
                if line.startswith("usage_usec"):
                    return int(line.split()[1]) / 1e6
        return None

    def remove(self):
        if not self.path:
            return
        for _ in range(50):
            try:
                os.rmdir(self.path)
                return
            except OSError:
                time.sleep(0.1)


# ---------------------------------------------------------------- helpers


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def child_pid(pid):
    """The process `timeout` started: its one child."""
    for _ in range(50):
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/stat" % entry) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == pid:
                return int(entry)
        time.sleep(0.1)
    raise BenchBroken("no child of process %d" % pid)


def wait_serving(port, proc, logfile):
    """Asks for a file that is not there until the server answers."""
    request = b"\x00\x01bench-no-such-file\x00octet\x00"
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((HOST, 0))
        s.settimeout(0.2)
        for _ in range(100):
            if proc.poll() is not None:
                break
            s.sendto(request, (HOST, port))
            try:
                s.recvfrom(70000)
                return
            except socket.timeout:
                continue
    tail = open(logfile, errors="replace").read()[-2000:] if os.path.exists(logfile) else ""
    raise BenchBroken("server on port %d did not answer:\n%s" % (port, tail))


def start(args, group=None, env=None, logname="log"):
    logfile = os.path.join(scratch, logname + ".log")
    out = open(logfile, "ab")
    proc = subprocess.Popen(
        ["timeout", "-k", "5", str(SERVER_LIMIT)] + args,
        stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
        env=env, preexec_fn=group.join if group else None, start_new_session=True)
    proc.own_session = True
    processes.append(proc)
    proc.logfile = logfile
    return proc


def same_file(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def ratio(a, b):
    return a / b if a is not None and b else None


class Server:
    def __init__(self, name, args, port, group, env=None, slots=None):
        self.name, self.port, self.group, self.slots = name, port, group, slots
        self.recent = []
        self.proc = start(args, group, env, name)
        self.reserve()
        wait_serving(port, self.proc, self.proc.logfile)
        self.pid = child_pid(self.proc.pid)

    def reserve(self, n=1):
        """Waits until n more requests find a free slot."""
        if not self.slots:
            return
        while True:
            now = time.monotonic()
            self.recent = [t for t in self.recent if now - t < SLOT_HOLD]
            if len(self.recent) + n <= self.slots:
                self.recent += [now] * n
                return
            time.sleep(self.recent[0] + SLOT_HOLD - now + 0.01)

    def stop(self):
        stop(self.proc)


def wharfkeep_config(name, port, serve, incoming, loopback_position, max_window=None):
    """A settings folder that makes wharfkeep serve `serve` on HOST:port."""
    return wharfkeep_settings.write_config(os.path.join(scratch, name), port, serve, incoming,
                                           loopback_position, max_window)


wharfkeep_env = wharfkeep_settings.environment


# ---------------------------------------------------------------- one run


class Run:
    def __init__(self, wall, server_cpu=None, client_cpu=None):
        self.wall, self.server_cpu, self.client_cpu = wall, server_cpu, client_cpu


def timed(args, server_group, client_group, label):
    """Runs one client to the end; its wall time and both sides' CPU."""
    s0 = server_group.usage() if server_group else None
    c0 = client_group.usage() if client_group else None
    t0 = time.monotonic()
    proc = subprocess.Popen(["timeout", "-k", "5", str(TRANSFER_LIMIT)] + args,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT,
                            preexec_fn=client_group.join if client_group else None)
    processes.append(proc)
    output, _ = proc.communicate()
    wall = time.monotonic() - t0
    processes.remove(proc)
    s1 = server_group.usage() if server_group else None
    c1 = client_group.usage() if client_group else None
    if proc.returncode != 0:
        failures.append("%s: exit %d: %s" % (label, proc.returncode,
                                             output.decode(errors="replace").strip()[-300:]))
        return None
    return Run(wall, None if s0 is None else s1 - s0, None if c0 is None else c1 - c0)


def check(path, reference, label):
    ok = os.path.exists(path) and same_file(path, reference)
    if not ok:
        failures.append("%s: %s differs from the served file" % (label, path))
    if os.path.exists(path):
        os.remove(path)
    return ok


def curl_fetch(server, size, out, cgroup_client=None):
    url = "tftp://%s:%d/file.bin" % (HOST, server.port)
    server.reserve()
    return timed(["curl", "-s", "-S", "--max-time", str(TRANSFER_LIMIT), "--tftp-blksize",
                  str(size), "-o", out, url], server.group, cgroup_client,
                 "curl fetch %d from %s" % (size, server.name))


def curl_store(server, size, name, cgroup_client=None):
    url = "tftp://%s:%d/%s" % (HOST, server.port, name)
    server.reserve()
    return timed(["curl", "-s", "-S", "--max-time", str(TRANSFER_LIMIT), "--tftp-blksize",
                  str(size), "-T", source_file, url], server.group, cgroup_client,
                 "curl store %d to %s" % (size, server.name))


def abba(label, run_a, run_b):
    """PAIRS pairs in the order A B, B A, A B, ...: drift in the machine's
    speed falls on both sides alike."""
    a_runs, b_runs = [], []
    for i in range(PAIRS):
        order = [(run_a, a_runs), (run_b, b_runs)]
        if i % 2:
            order.reverse()
        for fn, runs in order:
            time.sleep(PAUSE)
            result = fn(i)
            runs.append(result)
        a, b = a_runs[-1], b_runs[-1]
        log("  %-34s pair %d: %s / %s" % (label, i + 1, fmt_s(a.wall if a else None),
                                          fmt_s(b.wall if b else None)))
    return a_runs, b_runs


class Compared:
    """Medians and median pair ratios of an ABBA comparison."""

    def __init__(self, a_runs, b_runs, cpu="server"):
        pairs = [(a, b) for a, b in zip(a_runs, b_runs) if a and b]
        self.n = len(pairs)
        self.a_wall = median([a.wall for a, _ in pairs])
        self.b_wall = median([b.wall for _, b in pairs])
        self.wall_ratio = median([a.wall / b.wall for a, b in pairs])
        attr = cpu + "_cpu"
        ac = [getattr(a, attr) for a, _ in pairs]
        bc = [getattr(b, attr) for _, b in pairs]
        self.a_cpu = median(ac)
        self.b_cpu = median(bc)
        self.cpu_ratio = median([x / y for x, y in zip(ac, bc) if x is not None and y])


# ---------------------------------------------------------------- table

rows = []


def fmt_s(v):
    return "-" if v is None else "%.3f s" % v


def fmt_r(v):
    return "-" if v is None else "%.3f" % v


def row(measure, ours, peer, value, target, passed):
    if passed is None:
        verdict = "-" if value in ("-", None) else "info"
    else:
        verdict = "PASS" if passed else "MISS"
    rows.append((measure, ours, peer, value if value is not None else "-", target, verdict))


def at_most(value, limit):
    return None if value is None else value <= limit


def at_least(value, limit):
    return None if value is None else value >= limit


def print_grid(head, body, out):
    widths = [max(len(str(r[i])) for r in body + [head]) for i in range(len(head))]
    line = "  ".join("-" * w for w in widths)
    text = [" | ".join(str(h).ljust(w) for h, w in zip(head, widths)), line]
    for r in body:
        text.append(" | ".join(str(c).ljust(w) for c, w in zip(r, widths)))
    out.write("\n".join(text) + "\n")


def print_table(out):
    print_grid(("Measure", "Ours", "Peer", "Value", "Target", "Result"), rows, out)


# Rows of the window table, printed after the table of measures.
window_rows = []
WINDOW_HEAD = ("Block", "Window", "Ours gave", "Ours wall", "Ours CPU", "atftpd gave",
               "atftpd wall", "atftpd CPU", "Wall o/a", "CPU o/a", "skiffer wall",
               "skiffer CPU", "skiffer w1/wN")


# ---------------------------------------------------------------- parts


def part_servers(ours, peer, windowed):
    log("\n== Servers: curl fetching %d MiB from wharfkeep (A) and tftpd-hpa (B)" % FILE_MB)
    results = {}
    for size in SIZES:
        out = os.path.join(scratch, "down", "server-%d.bin" % size)

        def fetch_from(server):
            def fn(_i):
                r = curl_fetch(server, size, out)
                return r if r and check(out, source_file, "fetch %d" % size) else None
            return fn

        a, b = abba("fetch %d" % size, fetch_from(ours), fetch_from(peer))
        results[size] = Compared(a, b)
    for size, c in results.items():
        row("server fetch %d: wall, ours/tftpd-hpa" % size, fmt_s(c.a_wall), fmt_s(c.b_wall),
            fmt_r(c.wall_ratio), "<= 0.90", at_most(c.wall_ratio, 0.9))
        row("server fetch %d: CPU/transfer, ours/tftpd" % size, fmt_s(c.a_cpu), fmt_s(c.b_cpu),
            fmt_r(c.cpu_ratio), "<= 1.00", at_most(c.cpu_ratio, 1.0))

    log("\n== Servers: curl storing %d MiB to wharfkeep (A) and tftpd-hpa (B)" % FILE_MB)
    stores = {}
    for size in STORE_SIZES:
        def store_to(server, folder):
            def fn(i):
                name = "up-%d-%d.bin" % (size, i)
                r = curl_store(server, size, name)
                return r if r and check(os.path.join(folder, name), source_file,
                                         "store %d" % size) else None
            return fn

        a, b = abba("store %d" % size, store_to(ours, incoming_dir),
                    store_to(peer, peer_dir))
        stores[size] = Compared(a, b)
    for size, c in stores.items():
        row("server store %d: wall, ours/tftpd-hpa" % size, fmt_s(c.a_wall), fmt_s(c.b_wall),
            fmt_r(c.wall_ratio), "<= 0.90", at_most(c.wall_ratio, 0.9))
        row("server store %d: CPU/transfer, ours/tftpd" % size, fmt_s(c.a_cpu), fmt_s(c.b_cpu),
            fmt_r(c.cpu_ratio), "<= 1.00", at_most(c.cpu_ratio, 1.0))

    windowed_result = None
    if windowed:
        log("\n== Windowed wharfkeep under Xvfb (A) and tftpd-hpa (B), fetch 512")
        out = os.path.join(scratch, "down", "windowed.bin")

        def fn_w(server):
            def fn(_i):
                r = curl_fetch(server, 512, out)
                return r if r and check(out, source_file, "windowed fetch 512") else None
            return fn

        a, b = abba("windowed fetch 512", fn_w(windowed), fn_w(peer))
        w = Compared(a, b)
        windowed_result = w
        row("windowed server fetch 512: wall, /tftpd", fmt_s(w.a_wall), fmt_s(w.b_wall),
            fmt_r(w.wall_ratio), "<= 0.90", at_most(w.wall_ratio, 0.9))
        row("windowed server fetch 512: CPU, /tftpd", fmt_s(w.a_cpu), fmt_s(w.b_cpu),
            fmt_r(w.cpu_ratio), "<= 1.00", at_most(w.cpu_ratio, 1.0))
        row("cost of the view: windowed/headless 512", fmt_s(w.a_wall),
            fmt_s(results[512].a_wall), fmt_r(ratio(w.a_wall, results[512].a_wall)),
            "(wall)", None)
    return results, windowed_result


def part_clients(peer):
    log("\n== Clients against tftpd-hpa: skiffer_bench (A) and curl (B)")
    client_group = CpuGroup("client") if CpuGroup.root else None
    results = {}
    for direction in ("fetch", "send"):
        for size in SIZES:
            def ours(i):
                if direction == "fetch":
                    out = os.path.join(scratch, "down", "client.bin")
                    r = timed([SKIFFER_BENCH, "fetch", HOST, str(peer.port), str(size),
                               "file.bin", "client.bin", os.path.join(scratch, "down"), "30"],
                              peer.group, client_group, "skiffer_bench fetch %d" % size)
                    return r if r and check(out, source_file, "client fetch") else None
                name = "cup-%d-%d.bin" % (size, i)
                r = timed([SKIFFER_BENCH, "send", HOST, str(peer.port), str(size), name,
                           "file.bin", serve_dir, "30"],
                          peer.group, client_group, "skiffer_bench send %d" % size)
                return r if r and check(os.path.join(peer_dir, name), source_file,
                                        "client send") else None

            def theirs(i):
                if direction == "fetch":
                    out = os.path.join(scratch, "down", "curl.bin")
                    r = curl_fetch(peer, size, out, client_group)
                    return r if r and check(out, source_file, "curl fetch") else None
                name = "kup-%d-%d.bin" % (size, i)
                r = curl_store(peer, size, name, client_group)
                return r if r and check(os.path.join(peer_dir, name), source_file,
                                        "curl send") else None

            a, b = abba("client %s %d" % (direction, size), ours, theirs)
            results[(direction, size)] = Compared(a, b, cpu="client")
    for (direction, size), c in results.items():
        row("client %s %d: wall, ours/curl" % (direction, size), fmt_s(c.a_wall),
            fmt_s(c.b_wall), fmt_r(c.wall_ratio), "<= 1.00", at_most(c.wall_ratio, 1.0))
        row("client %s %d: CPU/transfer, ours/curl" % (direction, size), fmt_s(c.a_cpu),
            fmt_s(c.b_cpu), fmt_r(c.cpu_ratio), "<= 1.00", at_most(c.cpu_ratio, 1.0))
    return results, client_group


def part_floor(servers, clients):
    log("\n== Floor: bare lock-step exchange on loopback")
    floors = {}
    for size in SIZES:
        times = []
        for _ in range(3):
            time.sleep(PAUSE)
            port = free_port()
            p = subprocess.run(["timeout", str(TRANSFER_LIMIT), FLOOR, str(size),
                                str(FILE_BYTES), str(port)], capture_output=True, text=True)
            if p.returncode != 0:
                raise BenchBroken("bench_floor %d: %s" % (size, p.stderr.strip()))
            times.append(float(p.stdout))
        floors[size] = median(times)
        log("  floor %-6d %s (%d blocks)" % (size, fmt_s(floors[size]), blocks_for(size)))
    for size in SIZES:
        f = floors[size]
        s = servers[size].a_wall
        c = clients[("fetch", size)].a_wall
        for who, v in (("server", s), ("client", c)):
            r = ratio(v, f)
            if size == 512:
                row("%s fetch %d: wall / floor" % (who, size), fmt_s(v), fmt_s(f), fmt_r(r),
                    "<= 1.25", at_most(r, 1.25))
            else:
                row("%s fetch %d: wall / floor" % (who, size), fmt_s(v), fmt_s(f), fmt_r(r),
                    "-", None)
    return floors


def part_rest(ours, client_group, servers, clients, windowed):
    log("\n== Cost at rest")
    for name, server in (("wharfkeep", ours), ("windowed wharfkeep", windowed)):
        if server is None or server.group.usage() is None:
            continue
        time.sleep(1)
        u0 = server.group.usage()
        time.sleep(IDLE_SECONDS)
        share = (server.group.usage() - u0) / IDLE_SECONDS
        log("  %s idle: %.4f of a core" % (name, share))
        row("%s idle CPU (share of a core)" % name, "%.2f%%" % (100 * share), "-",
            "%.4f" % share, "< 0.01", share < 0.01)

    if client_group:
        silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        silent.bind((HOST, 0))
        port = silent.getsockname()[1]
        proc = subprocess.Popen(["timeout", "-k", "5", "120", SKIFFER_BENCH, "fetch", HOST,
                                 str(port), "512", "file.bin", "silent.bin",
                                 os.path.join(scratch, "down"), "3600"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, preexec_fn=client_group.join)
        processes.append(proc)
        time.sleep(1)
        u0 = client_group.usage()
        time.sleep(IDLE_SECONDS)
        share = (client_group.usage() - u0) / IDLE_SECONDS
        stop(proc)
        processes.remove(proc)
        silent.close()
        log("  skiffer_bench waiting on a silent server: %.4f of a core" % share)
        row("client waiting on silent server CPU", "%.2f%%" % (100 * share), "-",
            "%.4f" % share, "< 0.01", share < 0.01)
    else:
        notes.append("no writable cgroup: idle CPU of the client not measured")

    for size in SIZES:
        c = servers[size]
        row("server fetch %d: CPU/wall (spin check)" % size, fmt_s(c.a_cpu), fmt_s(c.a_wall),
            fmt_r(ratio(c.a_cpu, c.a_wall)), "-", None)
    for size in SIZES:
        c = clients[("fetch", size)]
        row("client fetch %d: CPU/wall (spin check)" % size, fmt_s(c.a_cpu), fmt_s(c.a_wall),
            fmt_r(ratio(c.a_cpu, c.a_wall)), "-", None)


def part_syscalls(ours):
    log("\n== System calls of wharfkeep during one fetch at 512 (strace)")
    trace = os.path.join(scratch, "strace.txt")
    tracer = subprocess.Popen(["timeout", "-s", "INT", "-k", "5", str(TRANSFER_LIMIT * 3),
                               "strace", "-c", "-f", "-p", str(ours.pid), "-o", trace],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    processes.append(tracer)
    time.sleep(1.5)  # attached to every thread
    out = os.path.join(scratch, "down", "strace.bin")
    r = curl_fetch(ours, 512, out)
    ok = r is not None and check(out, source_file, "fetch 512 under strace")
    time.sleep(0.3)
    tracer.send_signal(signal.SIGINT)  # timeout passes it on; strace then prints
    try:
        tracer.wait(20)
    except subprocess.TimeoutExpired:
        stop(tracer)
    processes.remove(tracer)
    if not ok or not os.path.exists(trace):
        row("server syscalls per block (512)", "-", "-", "-", "<= 4", None)
        return
    calls = []
    total = None
    for line in open(trace):
        fields = line.split()
        if len(fields) >= 5 and re.match(r"^[\d.]+$", fields[0]):
            count = int(fields[3])
            name = fields[-1]
            if name == "total":
                total = count
            else:
                calls.append((count, name))
    calls.sort(reverse=True)
    if total is None:
        total = sum(c for c, _ in calls)
    per_block = total / blocks_for(512)
    log("  %d calls for %d blocks: %.2f per block; top: %s" % (
        total, blocks_for(512), per_block,
        ", ".join("%s %.2f" % (n, c / blocks_for(512)) for c, n in calls[:6])))
    row("server syscalls per block (fetch 512)", "%d calls" % total,
        "%d blocks" % blocks_for(512), "%.2f" % per_block, "<= 4", per_block <= 4)
    for count, name in calls[:5]:
        row("  of which %s per block" % name, "%d" % count, "-",
            "%.2f" % (count / blocks_for(512)), "-", None)


def part_memory(make_server):
    log("\n== Peak memory of a fresh wharfkeep during five parallel fetches")
    server = make_server("wharfkeep-mem")

    def hwm():
        with open("/proc/%d/status" % server.pid) as f:
            for line in f:
                if line.startswith("VmHWM"):
                    return int(line.split()[1])
        return None

    before = hwm()
    outs = [os.path.join(scratch, "down", "par-%d.bin" % i) for i in range(5)]
    procs = []
    server.reserve(len(outs))
    for i, out in enumerate(outs):
        p = subprocess.Popen(["timeout", "-k", "5", str(TRANSFER_LIMIT), "curl", "-s", "-S",
                              "--tftp-blksize", "8192", "-o", out,
                              "tftp://%s:%d/file.bin" % (HOST, server.port)],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
        processes.append(p)
        procs.append(p)
    peak = before
    while any(p.poll() is None for p in procs):
        peak = max(peak or 0, hwm() or 0)
        time.sleep(0.05)
    peak = max(peak or 0, hwm() or 0)
    for i, p in enumerate(procs):
        processes.remove(p)
        if p.returncode != 0:
            failures.append("parallel fetch %d: exit %d: %s" % (
                i, p.returncode, p.stderr.read().decode(errors="replace").strip()))
        else:
            check(outs[i], source_file, "parallel fetch %d" % i)
    server.stop()
    log("  VmHWM at rest %s kB, during five fetches %s kB" % (before, peak))
    row("server peak RSS, 5 parallel fetches (8192)", "%.1f MiB" % (peak / 1024),
        "rest %.1f MiB" % ((before or 0) / 1024), "%.1f MiB" % (peak / 1024), "-", None)


def atftp_args(port, size, window, remote, out, trace=False):
    # The window is asked for only above 1, as the skiffer engine does.
    args = [ATFTP] + (["--trace"] if trace else []) + ["--option", "blksize %d" % size]
    if window > 1:
        args += ["--option", "windowsize %d" % window]
    return args + ["-g", "-r", remote, "-l", out, HOST, str(port)]


def atftp_fetch(server, size, window, out):
    server.reserve()
    return timed(atftp_args(server.port, size, window, "file.bin", out), server.group, None,
                 "atftp fetch %d window %d from %s" % (size, window, server.name))


def granted_window(server, size, window, probe):
    """The window the server grants atftp's client, read from the option
    acknowledgement in atftp's trace of a short fetch: 1 when the server
    grants none, None when the fetch failed."""
    if window == 1:
        return 1
    server.reserve()
    out = os.path.join(scratch, "down", "probe.bin")
    label = "atftp probe %d window %d from %s" % (size, window, server.name)
    try:
        p = subprocess.run(["timeout", "-k", "5", "60"] + atftp_args(
            server.port, size, window, "probe.bin", out, trace=True),
            stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
    except OSError as e:
        failures.append("%s: %s" % (label, e))
        return None
    if p.returncode != 0:
        failures.append("%s: exit %d: %s" % (label, p.returncode,
                                             (p.stdout + p.stderr).strip()[-300:]))
        return None
    if not check(out, probe, label):
        return None
    oack = re.search(r"received OACK <([^>]*)>", p.stdout + p.stderr)
    granted = re.search(r"windowsize:\s*(\d+)", oack.group(1)) if oack else None
    return int(granted.group(1)) if granted else 1


def rounds(label, entries):
    """PAIRS rounds over several runs, the order reversed every other round
    (A B C, C B A, ...), as abba does for two. entries: (key, fn(i))."""
    results = {key: [] for key, _ in entries}
    for i in range(PAIRS):
        order = entries if i % 2 == 0 else list(reversed(entries))
        for key, fn in order:
            time.sleep(PAUSE)
            results[key].append(fn(i))
        log("  %-34s round %d: %s" % (label, i + 1, " / ".join(
            fmt_s(results[key][-1].wall if results[key][-1] else None) for key, _ in entries)))
    return results


def part_window(make_ours, lock_step_peer):
    log("\n== Windows: atftp fetching %d MiB from wharfkeep (A) and atftpd (B), and the "
        "skiffer engine from wharfkeep" % FILE_MB)
    # The server grants min(request, MaxWindow): no cap of its own here, so
    # each row has the window it asks for.
    ours = make_ours("wharfkeep-window", max_window=65535)
    atftpd_dir = os.path.join(scratch, "atftpd")
    os.mkdir(atftpd_dir)
    os.chmod(atftpd_dir, 0o777)
    for name in ("file.bin", "probe.bin"):
        os.link(os.path.join(serve_dir, name), os.path.join(atftpd_dir, name))
    port = free_port()
    args = [ATFTPD, "--daemon", "--no-fork", "--port", str(port), "--bind-address", HOST,
            "--logfile", "/dev/null"]
    if os.geteuid() == 0:
        args += ["--user", "root", "--group", "root"]
    atftpd = Server("atftpd", args + [atftpd_dir], port,
                    CpuGroup("atftpd") if CpuGroup.root else None)
    client_group = CpuGroup("window-client") if CpuGroup.root else None
    probe = os.path.join(serve_dir, "probe.bin")
    log("  wharfkeep (MaxWindow 65535) on %d, atftpd on %d" % (ours.port, atftpd.port))

    servers, skiffer, granted = {}, {}, {}
    for size in WINDOW_SIZES:
        for window in WINDOWS:
            for server in (ours, atftpd):
                granted[(server.name, size, window)] = granted_window(server, size, window,
                                                                      probe)
            out = os.path.join(scratch, "down", "window.bin")

            def fetch_from(server, size=size, window=window, out=out):
                def fn(_i):
                    r = atftp_fetch(server, size, window, out)
                    return r if r and check(out, source_file, "atftp fetch %d window %d from %s"
                                            % (size, window, server.name)) else None
                return fn

            a, b = abba("atftp %d window %d" % (size, window), fetch_from(ours),
                        fetch_from(atftpd))
            servers[(size, window)] = Compared(a, b)

        def skiffer_at(window, size=size):
            def fn(_i):
                ours.reserve()
                label = "skiffer_bench fetch %d window %d" % (size, window)
                r = timed([SKIFFER_BENCH, "fetch", HOST, str(ours.port), str(size), "file.bin",
                           "skiffer-window.bin", os.path.join(scratch, "down"), "30",
                           str(window)], None, client_group, label)
                return r if r and check(os.path.join(scratch, "down", "skiffer-window.bin"),
                                        source_file, label) else None
            return fn

        skiffer[size] = rounds("skiffer %d windows %s" % (size, ",".join(map(str, WINDOWS))),
                               [(w, skiffer_at(w)) for w in WINDOWS])

    # The lock-step reference: the client and server the server table
    # compares with, against wharfkeep's window 16, both at 512.
    out = os.path.join(scratch, "down", "window-ref.bin")

    def ours_16(_i):
        r = atftp_fetch(ours, 512, 16, out)
        return r if r and check(out, source_file, "atftp fetch 512 window 16") else None

    def lock_step(_i):
        r = curl_fetch(lock_step_peer, 512, out)
        return r if r and check(out, source_file, "curl fetch 512 from tftpd-hpa") else None

    a, b = abba("ours w16 / tftpd-hpa lock-step", ours_16, lock_step)
    pairs = [(x, y) for x, y in zip(a, b) if x and y]
    reference = (median([x.wall for x, _ in pairs]), median([y.wall for _, y in pairs]),
                 median([y.wall / x.wall for x, y in pairs]))
    ours.stop()
    atftpd.stop()

    def gave(name, size, window):
        g = granted.get((name, size, window))
        return "-" if g is None else str(g)

    for size in WINDOW_SIZES:
        runs = skiffer[size]
        for window in WINDOWS:
            c = servers[(size, window)]
            mine = [r for r in runs[window] if r]
            speedup = median([x.wall / y.wall for x, y in zip(runs[1], runs[window]) if x and y])
            window_rows.append((
                size, window, gave(ours.name, size, window), fmt_s(c.a_wall), fmt_s(c.a_cpu),
                gave(atftpd.name, size, window), fmt_s(c.b_wall), fmt_s(c.b_cpu),
                fmt_r(c.wall_ratio), fmt_r(c.cpu_ratio),
                fmt_s(median([r.wall for r in mine])),
                fmt_s(median([r.client_cpu for r in mine])), fmt_r(speedup)))
            if (size, window) != (512, 16):
                continue
            row("window 16 fetch 512: wall, ours/atftpd", fmt_s(c.a_wall), fmt_s(c.b_wall),
                fmt_r(c.wall_ratio), "<= 0.90", at_most(c.wall_ratio, 0.9))
            row("window 16 fetch 512: CPU/transfer, ours/atftpd", fmt_s(c.a_cpu),
                fmt_s(c.b_cpu), fmt_r(c.cpu_ratio), "<= 1.00", at_most(c.cpu_ratio, 1.0))
            row("window 16 fetch 512: tftpd-hpa lock-step/ours", fmt_s(reference[0]),
                fmt_s(reference[1]), fmt_r(reference[2]), ">= 6.00",
                at_least(reference[2], 6.0))
            row("skiffer fetch 512 from ours: window 1/16",
                fmt_s(median([r.wall for r in runs[16] if r])),
                fmt_s(median([r.wall for r in runs[1] if r])), fmt_r(speedup), ">= 6.00",
                at_least(speedup, 6.0))
    for size in WINDOW_SIZES:
        for window in WINDOWS:
            if window > 1 and granted.get((ours.name, size, window)) == 1:
                notes.append("wharfkeep granted no window to atftp at %d: its window rows are "
                             "lock-step" % size)
                break



# ---------------------------------------------------------------- X


def start_x():
    """Xvfb and openbox for the windowed server; the environment to use."""
    for tool in ("Xvfb", "openbox", "xprop"):
        if not shutil.which(tool):
            notes.append("%s missing: windowed server not measured" % tool)
            return None
    fifo = os.path.join(scratch, "display")
    os.mkfifo(fifo)
    xlog = open(os.path.join(scratch, "xvfb.log"), "ab")
    fd = os.open(fifo, os.O_RDWR)
    xvfb = subprocess.Popen(["timeout", "-k", "5", str(SERVER_LIMIT), "Xvfb", "-displayfd",
                             str(fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            pass_fds=(fd,), stdin=subprocess.DEVNULL, stdout=xlog,
                            stderr=subprocess.STDOUT, start_new_session=True)
    xvfb.own_session = True
    processes.append(xvfb)
    display = b""
    deadline = time.monotonic() + 20
    os.set_blocking(fd, False)
    while time.monotonic() < deadline and not display.endswith(b"\n"):
        try:
            display += os.read(fd, 16)
        except BlockingIOError:
            time.sleep(0.05)
    os.close(fd)
    if not display.strip():
        raise BenchBroken("Xvfb did not start")
    env = dict(os.environ)
    runtime = os.path.join(scratch, "xdg-runtime")
    os.mkdir(runtime, 0o700)
    env.update({"DISPLAY": ":" + display.decode().strip(), "QT_QPA_PLATFORM": "xcb",
                "XDG_RUNTIME_DIR": runtime, "HOME": scratch})
    wm = subprocess.Popen(["timeout", "-k", "5", str(SERVER_LIMIT), "openbox",
                           "--sm-disable"], env=env, stdin=subprocess.DEVNULL,
                          stdout=xlog, stderr=subprocess.STDOUT, start_new_session=True)
    wm.own_session = True
    processes.append(wm)
    for _ in range(200):
        p = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                           capture_output=True, text=True)
        if "window id" in p.stdout:
            return env
        time.sleep(0.1)
    raise BenchBroken("openbox did not start")


# ---------------------------------------------------------------- main


def main():
    global scratch, source_file, serve_dir, incoming_dir, peer_dir
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    atexit.register(cleanup)
    t_start = time.monotonic()
    if ONLY not in ("", "window"):
        raise BenchBroken("unknown BENCH_ONLY %r: leave it unset or say window" % ONLY)
    for program in (WHARFKEEP, SKIFFER_BENCH, FLOOR, TFTPD, ATFTPD, ATFTP):
        if not os.access(program, os.X_OK):
            raise BenchBroken("%s is missing: build and install first (tools/bench.sh)"
                              % program)
    check_tftpd()

    scratch = tempfile.mkdtemp(prefix="bench.", dir="/tmp")
    os.chmod(scratch, 0o755)
    serve_dir = os.path.join(scratch, "serve")
    incoming_dir = os.path.join(scratch, "incoming")
    peer_dir = os.path.join(scratch, "peer")
    for d in (serve_dir, incoming_dir, peer_dir, os.path.join(scratch, "down")):
        os.mkdir(d)
    source_file = os.path.join(serve_dir, "file.bin")
    with open(source_file, "wb") as f:
        for _ in range(FILE_MB):
            f.write(os.urandom(1024 * 1024))
    os.chmod(source_file, 0o644)
    shutil.copy(source_file, os.path.join(peer_dir, "file.bin"))
    # A short file for asking a server which window it grants.
    with open(source_file, "rb") as f, open(os.path.join(serve_dir, "probe.bin"), "wb") as p:
        p.write(f.read(256 * 1024))
    os.chmod(os.path.join(serve_dir, "probe.bin"), 0o644)

    if CpuGroup.detect():
        log("CPU accounting: cgroup %s at %s" % (CpuGroup.kind, CpuGroup.root))
    else:
        notes.append("no writable cpuacct (v1) or cpu.stat (v2) cgroup: CPU columns skipped")
        log(notes[-1])

    position = subprocess.run([SKIFFER_BENCH, "--loopback-position"], capture_output=True,
                              text=True, timeout=30).stdout.strip()
    if not position.isdigit() or position == "0":
        raise BenchBroken("127.0.0.1 is not among the host's addresses")
    position = int(position)

    def make_ours(name, extra_env=None, args=(), max_window=None):
        port = free_port()
        config = wharfkeep_config(name + "-config", port, serve_dir, incoming_dir, position,
                                  max_window)
        env = wharfkeep_env(config, extra_env)
        return Server(name, [WHARFKEEP, "--no-splash"] + list(args), port, CpuGroup(name)
                      if CpuGroup.root else None, env, slots=5)

    peer_port = free_port()
    peer_args = [TFTPD, "-L", "-c", "-s", peer_dir, "-a", "%s:%d" % (HOST, peer_port),
                 "-B", "65464"]
    if os.geteuid() == 0:
        peer_args += ["-u", "root"]
    peer = Server("tftpd-hpa", peer_args, peer_port,
                  CpuGroup("tftpd") if CpuGroup.root else None)
    if ONLY == "window":
        log("tftpd-hpa on %d; %d MiB file, %d pairs" % (peer.port, FILE_MB, PAIRS))
        part_window(make_ours, peer)
        return finish(t_start, "window-results.txt")

    ours = make_ours("wharfkeep")
    if not CpuGroup.root:
        # Without groups the servers' CPU is unknown; show it as such.
        ours.group = peer.group = None
    windowed = None
    xenv = start_x()
    if xenv:
        windowed = make_ours("wharfkeep-x", {k: xenv[k] for k in (
            "DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR", "HOME")})
    log("wharfkeep on %d (pid %d), tftpd-hpa on %d, windowed wharfkeep on %s; "
        "%d MiB file, %d pairs" % (ours.port, ours.pid, peer.port,
                                   windowed.port if windowed else "-", FILE_MB, PAIRS))

    servers, _ = part_servers(ours, peer, windowed)
    clients, client_group = part_clients(peer)
    part_floor(servers, clients)
    part_rest(ours if ours.group else None, client_group, servers, clients, windowed
              if windowed and windowed.group else None)
    part_syscalls(ours)
    if windowed:
        windowed.stop()
    part_memory(lambda name: make_ours(name))
    part_window(make_ours, peer)
    return finish(t_start, "results.txt")


def finish(t_start, name):
    """Prints the tables and writes them to `name` in the build's bench
    folder; the exit status."""
    elapsed = time.monotonic() - t_start
    os.makedirs(os.path.join(BUILD, "bench"), exist_ok=True)
    results = os.path.join(BUILD, "bench", name)
    with open(results, "w") as out:
        for stream in (out, sys.stdout):
            stream.write("\nBenchmark: %d MiB file, %d ABBA pairs, on %s, %s, %.0f s\n" % (
                FILE_MB, PAIRS, HOST, time.strftime("%Y-%m-%d %H:%M"), elapsed))
            stream.write("Ratios are medians of pair-by-pair ratios; "
                         "times and CPU are medians.\n\n")
            print_table(stream)
            if window_rows:
                stream.write("\nWindows: atftp's client fetching from wharfkeep (ours, "
                             "MaxWindow 65535) and atftpd,\nthe skiffer engine fetching from "
                             "wharfkeep; server CPU for the atftp columns, client CPU\nfor "
                             "skiffer's; \"gave\": the window the server's option acknowledgement "
                             "grants;\nskiffer w1/wN: its window 1 time over this row's.\n\n")
                print_grid(WINDOW_HEAD, window_rows, stream)
            for n in notes:
                stream.write("note: %s\n" % n)
            for f in failures:
                stream.write("FAILED: %s\n" % f)
    log("\nTable written to %s" % results)
    return 1 if failures else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchBroken as e:
        print("bench: %s" % e, file=sys.stderr)
        sys.exit(2)
