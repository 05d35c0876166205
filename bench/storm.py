#!/usr/bin/env python3
"""A boot storm on loopback: N emulated boot loaders (storm_loaders.py) start
at seeded moments within one second and fetch what a machine fetches to
boot, from wharfkeep (default settings, and MaxClients 64), tftpd-hpa,
atftpd and dnsmasq, each server started afresh for each storm. Prints per
server, profile and N how many booted, the wall time, the median and 95th
percentile of the boot times and the ERROR texts the loaders were sent;
then the same at 1% loss (wharfkeep at MaxClients 64 alone, the peers side
by side), and the targets.

Run through tools/bench.sh storm, which installs and builds first.
Environment:
  STORM_N         numbers of loaders (default 1,10,40)
  STORM_LOSS      percent of datagrams the loaders drop each way (default 0)
  STORM_LOSS_N    numbers of loaders of the 1% table (default 40)
  STORM_SEED      seed of the files, start moments and drops (default 1)
  STORM_SERVERS   default ours,ours-64,tftpd-hpa,atftpd,dnsmasq
  STORM_PROFILES  default uefi,pxelinux,uboot
  STORM_LIMIT     seconds after which no more storms start (default 780)
  BENCH_BUILD     build folder (default build)
  BENCH_TFTPD, BENCH_ATFTPD  the peer servers' programs (tools/bench.sh)
Exits 0 whatever the numbers, 1 when a loader was sent wrong bytes, 2 when
the bench could not run.
"""

import atexit
import collections
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import storm_loaders
import wharfkeep_settings


def env_list(name, default, kind=str):
    try:
        return [kind(x.strip()) for x in os.environ.get(name, default).split(",") if x.strip()]
    except ValueError:
        print("bench: %s=%r is not a list of numbers" % (name, os.environ[name]), file=sys.stderr)
        sys.exit(2)


HOST = storm_loaders.HOST
BUILD = os.path.abspath(os.environ.get("BENCH_BUILD", "build"))
WHARFKEEP = os.path.join(BUILD, "wharfkeep")
SKIFFER_BENCH = os.path.join(BUILD, "bench", "skiffer_bench")
TFTPD = os.environ.get("BENCH_TFTPD", "/usr/sbin/in.tftpd")
ATFTPD = os.environ.get("BENCH_ATFTPD", "/usr/sbin/atftpd")
DNSMASQ = shutil.which("dnsmasq") or "/usr/sbin/dnsmasq"
NS = [n for n in env_list("STORM_N", "1,10,40", int) if n > 0]
LOSS = (env_list("STORM_LOSS", "0", float) or [0.0])[0]
LOSS_NS = [n for n in env_list("STORM_LOSS_N", "40", int) if n > 0]
SEED = (env_list("STORM_SEED", "1", int) or [1])[0]
SERVERS = env_list("STORM_SERVERS", "ours,ours-64,tftpd-hpa,atftpd,dnsmasq")
PROFILES = env_list("STORM_PROFILES", "uefi,pxelinux,uboot")
RUN_LIMIT = (env_list("STORM_LIMIT", "780", float) or [780.0])[0]
# One loader's bound; the servers' lives are bounded by the whole run's.
CLIENT_LIMIT = 120
SERVER_LIMIT = 3600
LABELS = {"ours": "ours (default)", "ours-64": "ours (MaxClients 64)", "tftpd-hpa": "tftpd-hpa",
          "atftpd": "atftpd", "dnsmasq": "dnsmasq"}
PEERS = ("tftpd-hpa", "atftpd", "dnsmasq")
NAMES = storm_loaders.NAMES

processes = []
notes = []
scratch = None


class BenchBroken(Exception):
    pass


class NotServing(Exception):
    pass


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------- servers


def stop(proc):
    # The server runs in a session of its own under `timeout`: the signals go
    # to the whole group, and the last one also reaches what a server forked
    # for a request that was queued as it was told to stop (tftpd-hpa does).
    for signum in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, signum)
        except ProcessLookupError:
            return
        try:
            proc.wait(3)
        except subprocess.TimeoutExpired:
            pass


def cleanup():
    for proc in processes:
        stop(proc)
    if scratch:
        shutil.rmtree(scratch, ignore_errors=True)


def on_signal(signum, _frame):
    cleanup()
    sys.exit(128 + signum)


def free_port(port=0):
    """A port free on 127.0.0.1 (`port` itself, when given), or None."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.bind((HOST, port))
        except OSError:
            return None
        return s.getsockname()[1]


class Server:
    def __init__(self, kind, args, port, env=None):
        self.kind, self.port = kind, port
        self.logfile = os.path.join(scratch, kind + ".log")
        with open(self.logfile, "ab") as out:
            self.proc = subprocess.Popen(
                ["timeout", "-k", "5", str(SERVER_LIMIT)] + args, stdin=subprocess.DEVNULL,
                stdout=out, stderr=subprocess.STDOUT, env=env, start_new_session=True)
        processes.append(self.proc)
        self.wait_serving()

    def wait_serving(self):
        """Asks for a name that is not there until the server answers."""
        probe = storm_loaders.request("storm-no-such-file", [])
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind((HOST, 0))
            s.settimeout(0.1)
            for _ in range(100):
                if self.proc.poll() is not None:
                    break
                s.sendto(probe, (HOST, self.port))
                try:
                    s.recvfrom(storm_loaders.BUFFER)
                    return
                except socket.timeout:
                    continue
        self.stop()
        with open(self.logfile, errors="replace") as f:
            tail = f.read()[-1500:]
        raise NotServing("%s did not answer on port %d:\n%s" % (self.kind, self.port, tail))

    def stop(self):
        stop(self.proc)
        processes.remove(self.proc)


def start_server(kind, root, position):
    as_root, port = os.geteuid() == 0, free_port()
    if kind.startswith("ours"):
        config = wharfkeep_settings.write_config(
            os.path.join(scratch, kind + "-config"), port, root, os.path.join(scratch, "in"),
            position, max_clients=64 if kind == "ours-64" else None)
        return Server(kind, [WHARFKEEP, "--no-splash"], port,
                      wharfkeep_settings.environment(config))
    if kind == "tftpd-hpa":
        args = [TFTPD, "-L", "-s", root, "-a", "%s:%d" % (HOST, port)]
        return Server(kind, args + (["-u", "root"] if as_root else []), port)
    if kind == "atftpd":
        args = [ATFTPD, "--daemon", "--no-fork", "--port", str(port), "--bind-address", HOST,
                "--logfile", "-", "--maxthread", "128"]
        if as_root:
            args += ["--user", "root", "--group", "root"]
        return Server(kind, args + [root], port)
    # dnsmasq serves TFTP on port 69 only; nothing of DNS or DHCP.
    args = [DNSMASQ, "--no-daemon", "--conf-file=/dev/null", "--port=0", "--enable-tftp",
            "--tftp-root=" + root, "--listen-address=" + HOST, "--bind-interfaces",
            "--tftp-max=128", "--pid-file=", "--log-facility=-"]
    if as_root:
        args += ["--user=root", "--group=root"]
    return Server(kind, args, 69)


def usable(kind):
    """Why `kind` cannot run here, or None."""
    program = {"tftpd-hpa": TFTPD, "atftpd": ATFTPD, "dnsmasq": DNSMASQ}.get(kind, WHARFKEEP)
    if not os.access(program, os.X_OK):
        return "%s is missing (tools/bench.sh storm installs it)" % program
    if kind == "tftpd-hpa":
        return wharfkeep_settings.tftpd_problem(TFTPD)
    if kind == "dnsmasq" and not free_port(69):
        return "127.0.0.1:69 is taken (or needs root): dnsmasq serves TFTP only there"
    return None


def storm(batch, profile, n, loss, root, position, results):
    """One storm of n loaders against each server of `batch` at once."""
    running = []
    try:
        for kind in batch:
            try:
                running.append(start_server(kind, root, position))
            except NotServing as e:
                if kind.startswith("ours"):
                    raise BenchBroken(str(e))
                notes.append(str(e).splitlines()[0])
        t0, groups = storm_loaders.run_storm([(profile, n, s.port) for s in running], loss,
                                             SEED, CLIENT_LIMIT)
    finally:
        for server in running:
            server.stop()
    for server, loaders in zip(running, groups):
        s = results[(loss, server.kind, profile.key, n)] = Storm(n, t0, loaders, root)
        log("  %-20s %-8s N=%-3d %d/%d booted, wall %s, p95 %s%s" % (
            LABELS[server.kind], profile.name, n, len(s.booted), n, fmt_s(s.wall),
            fmt_s(s.percentile(95)), "; failed: " + counted(s.reasons) if s.reasons else ""))


# ---------------------------------------------------------------- results


class Storm:
    def __init__(self, n, t0, loaders, root):
        self.n = n
        self.booted = [x for x in loaders if x.state == "booted"]
        self.wall = max(x.ended for x in loaders) - t0
        self.times = sorted(x.ended - x.began for x in self.booted)
        self.errors = collections.Counter(e.replace(root, "<root>")[:80]
                                          for x in loaders for e in x.errors)
        self.reasons = collections.Counter(x.reason for x in loaders if x.reason)
        self.wrong = sum(1 for x in loaders if x.wrong)

    def percentile(self, p):
        if not self.times:
            return None
        return self.times[max(0, -(-len(self.times) * p // 100) - 1)]


def fmt_s(v):
    return "-" if v is None else "%.2f s" % v


def counted(counter):
    return "; ".join("%s x%d" % (text or "(no text)", k) for text, k in counter.most_common())


def print_grid(head, body, out):
    widths = [max(len(str(r[i])) for r in body + [head]) for i in range(len(head))]
    out.write(" | ".join(str(h).ljust(w) for h, w in zip(head, widths)).rstrip() + "\n")
    out.write("  ".join("-" * w for w in widths) + "\n")
    for r in body:
        out.write(" | ".join(str(c).ljust(w) for c, w in zip(r, widths)).rstrip() + "\n")


def table_rows(results, loss, ns, servers):
    rows = []
    for kind in servers:
        for profile in PROFILES:
            for n in ns:
                s = results.get((loss, kind, profile, n))
                figures = ("not run",) + ("-",) * 4 if not s else (
                    "%d/%d" % (len(s.booted), n), fmt_s(s.wall), fmt_s(s.percentile(50)),
                    fmt_s(s.percentile(95)), counted(s.errors) or "-")
                rows.append((LABELS[kind], NAMES[profile], n) + figures)
    return rows


def targets(results):
    lines = []

    def verdict(ok, text):
        lines.append(("-    " if ok is None else "PASS " if ok else "MISS ") + text)

    def booted_all(kind, profile, n):
        s = results.get((LOSS, kind, profile, n))
        verdict(s and len(s.booted) == n, "%s, %s, N=%d: %s" % (
            LABELS[kind], NAMES[profile], n, "%d/%d booted" % (len(s.booted), n) if s else
            "not run"))

    def against_peers(loss, profile, n):
        ours = results.get((loss, "ours-64", profile, n))
        peers = [(k, results[(loss, k, profile, n)]) for k in PEERS
                 if (loss, k, profile, n) in results]
        if not ours or not peers:
            verdict(None, "%s N=%d at %g%% loss: no storm of ours or of a peer to compare" % (
                NAMES[profile], n, loss))
        return ours, peers

    for n, chosen in ((1, PROFILES), (10, ("uefi", "pxelinux"))):
        for profile in [p for p in PROFILES if p in chosen]:
            booted_all("ours", profile, n)
    for profile in PROFILES:
        booted_all("ours-64", profile, 40)
    for profile in PROFILES:
        ours, peers = against_peers(LOSS, profile, 40)
        peers = [(k, s) for k, s in peers if s.booted]
        if ours and peers:
            # The best peer boots the most, and the soonest of those.
            best, b = min(peers, key=lambda ks: (-len(ks[1].booted), ks[1].percentile(95)))
            mine = ours.percentile(95)
            verdict(mine is not None and mine <= b.percentile(95),
                    "%s N=40 p95: ours (MaxClients 64) %s, best peer %s %s" % (
                        NAMES[profile], fmt_s(mine), best, fmt_s(b.percentile(95))))
    for profile in PROFILES:
        for n in LOSS_NS:
            ours, peers = against_peers(1.0, profile, n)
            if ours and peers:
                most = max(len(s.booted) for _, s in peers)
                verdict(len(ours.booted) >= most,
                        "%s N=%d at 1%% loss: ours (MaxClients 64) %d booted, best peer %d" % (
                            NAMES[profile], n, len(ours.booted), most))
    return lines


# ---------------------------------------------------------------- main


def main():
    global scratch
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    atexit.register(cleanup)
    t_start = time.monotonic()
    for program in (WHARFKEEP, SKIFFER_BENCH):
        if not os.access(program, os.X_OK):
            raise BenchBroken("%s is missing: build first (tools/bench.sh storm)" % program)
    position = subprocess.run([SKIFFER_BENCH, "--loopback-position"], capture_output=True,
                              text=True, timeout=30).stdout.strip()
    if not position.isdigit() or position == "0":
        raise BenchBroken("127.0.0.1 is not among the host's addresses")
    files = storm_loaders.files_for(SEED)
    profiles = storm_loaders.profiles(files)
    for name in SERVERS + PROFILES:
        if name not in LABELS and name not in NAMES:
            raise BenchBroken("unknown server or profile %r" % name)
    servers = []
    for kind in SERVERS:
        problem = usable(kind)
        if problem and kind.startswith("ours"):
            raise BenchBroken(problem)
        if problem:
            notes.append("%s column skipped: %s" % (kind, problem))
            log("note: " + notes[-1])
        else:
            servers.append(kind)

    scratch = tempfile.mkdtemp(prefix="bench-storm.", dir="/tmp")
    os.chmod(scratch, 0o755)
    root = os.path.join(scratch, "root")
    for name, content in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), mode=0o755, exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        os.chmod(path, 0o644)
    os.mkdir(os.path.join(scratch, "in"))

    # The 1% table runs the peers side by side: resend timers, not the
    # processor, set their times there, and one after another they would
    # take most of the run. Ours runs alone, at MaxClients 64 only.
    tables = [(LOSS, NS, [[k] for k in servers])]
    if LOSS != 1.0 and LOSS_NS:
        tables.append((1.0, LOSS_NS, [[k] for k in servers if k == "ours-64"] +
                       [[k for k in servers if k in PEERS]]))
    results, late = {}, 0
    for loss, ns, batches in tables:
        log("\n== %g%% loss" % loss)
        for batch in [b for b in batches if b]:
            for profile in PROFILES:
                for n in ns:
                    if time.monotonic() - t_start > RUN_LIMIT:
                        late += len(batch)
                    else:
                        storm(batch, profiles[profile], n, loss, root, int(position), results)
    if late:
        notes.append("%d storms not run: STORM_LIMIT (%g s) reached" % (late, RUN_LIMIT))
    wrong = sum(s.wrong for s in results.values())
    if wrong:
        notes.append("%d loaders were sent bytes that differ from the file" % wrong)

    os.makedirs(os.path.join(BUILD, "bench"), exist_ok=True)
    path = os.path.join(BUILD, "bench", "storm-results.txt")
    head = ("Server", "Profile", "N", "Booted", "Wall", "p50", "p95", "ERRORs received")
    with open(path, "w") as out:
        for stream in (out, sys.stdout):
            stream.write("\nBoot storm on %s, seed %d, %s, %.0f s\n" % (
                HOST, SEED, time.strftime("%Y-%m-%d %H:%M"), time.monotonic() - t_start))
            stream.write("The loaders of a storm start within 1 s; wall: until the last one "
                         "ended;\np50, p95: boot times of those that booted.\n")
            for loss, ns, batches in tables:
                stream.write("\n%g%% of datagrams dropped by the loaders\n\n" % loss)
                print_grid(head, table_rows(results, loss, ns, sum(batches, [])), stream)
            failed = [(k, s) for k, s in results.items() if s.reasons]
            if failed:
                stream.write("\nWhy loaders failed:\n")
            for (loss, kind, profile, n), s in failed:
                stream.write("  %g%% %s %s N=%d: %s\n" % (
                    loss, LABELS[kind], NAMES[profile], n, counted(s.reasons)))
            stream.write("\nTargets:\n")
            for line in targets(results):
                stream.write("  " + line + "\n")
            for note in notes:
                stream.write("note: %s\n" % note)
    log("\nTable written to %s" % path)
    return 1 if wrong else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchBroken as e:
        print("bench: %s" % e, file=sys.stderr)
        sys.exit(2)
