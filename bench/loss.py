#!/usr/bin/env python3
"""TFTP transfers over a lossy link: real clients and skiffer_bench against
wharfkeep and tftpd-hpa, and atftp's client with a window of 16 against
wharfkeep and atftpd, each run through a relay of its own (loss_relay)
that drops datagrams in both directions from a seeded generator.

Every run has a fresh server (its own folders, settings and port), a fresh
relay and one client under a time limit; the file is then compared byte for
byte. A run is completed when the client reports success and the file is
exact; success over a wrong file is counted apart and reported as WRONG.

Run through `tools/bench.sh loss`, which installs and builds first.
Environment:
  LOSS_KB          file size in KiB (default 2048)
  LOSS_RATES       loss rates in percent (default 1,5)
  LOSS_SEEDS       seeds per cell (default 5), counted up from LOSS_SEED
  LOSS_SEED        first seed (default 20240611)
  LOSS_CLIENTS     clients to run (default tftp-hpa,atftp,curl,skiffer,atftp-w16;
                   atftp-w16 is atftp asking for windowsize 16)
  LOSS_SERVERS     servers to run (default ours,tftpd-hpa,atftpd)
  LOSS_DIRECTIONS  fetch, store or both (default fetch,store)
  LOSS_PARALLEL    runs at once (default 16): they mostly wait
  LOSS_RUN_LIMIT   seconds one client may take (default 600)
  LOSS_LIMIT       seconds the whole campaign may take (default 10800)
  LOSS_RELAY_TRACE set: every relay prints each datagram into its run's log
  BENCH_BUILD      build folder (default ./build)
  BENCH_TFTPD, BENCH_ATFTPD  the peer servers' programs (tools/bench.sh
                   sets them)
Runs that do not complete leave their logs in build/bench/loss-logs/.
Exits 0 whatever the numbers, 1 when a client reported success over a wrong
file, 2 when the bench itself could not run.
"""

import atexit
import os
import random
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import zlib

import wharfkeep_settings

HOST = "127.0.0.1"
BLOCK = 512


def env_list(name, default):
    return [x.strip() for x in os.environ.get(name, default).split(",") if x.strip()]


FILE_KB = max(1, int(os.environ.get("LOSS_KB", "2048")))
FILE_BYTES = FILE_KB * 1024
RATES = [float(x) for x in env_list("LOSS_RATES", "1,5")]
SEED_COUNT = max(1, int(os.environ.get("LOSS_SEEDS", "5")))
FIRST_SEED = int(os.environ.get("LOSS_SEED", "20240611"))
SEEDS = [FIRST_SEED + i for i in range(SEED_COUNT)]
PARALLEL = max(1, int(os.environ.get("LOSS_PARALLEL", "16")))
RUN_LIMIT = max(10, int(os.environ.get("LOSS_RUN_LIMIT", "600")))
CAMPAIGN_LIMIT = max(60, int(os.environ.get("LOSS_LIMIT", "10800")))
BUILD = os.path.abspath(os.environ.get("BENCH_BUILD", "build"))
DIRECTIONS = env_list("LOSS_DIRECTIONS", "fetch,store")
TRACE = "LOSS_RELAY_TRACE" in os.environ

WHARFKEEP = os.path.join(BUILD, "wharfkeep")
SKIFFER_BENCH = os.path.join(BUILD, "bench", "skiffer_bench")
LOSS_RELAY = os.path.join(BUILD, "bench", "loss_relay")
# tools/bench.sh says where tftpd-hpa's and atftpd's programs are: the two
# Debian packages conflict, so one of them may be unpacked in the build.
TFTPD = os.environ.get("BENCH_TFTPD", "/usr/sbin/in.tftpd")
ATFTPD = os.environ.get("BENCH_ATFTPD", "/usr/sbin/atftpd")
RESULTS = os.path.join(BUILD, "bench", "loss-results.txt")
KEPT_LOGS = os.path.join(BUILD, "bench", "loss-logs")

# Seconds a fresh server may take to answer its first request, with a
# campaign's worth of others starting beside it on two cores.
SERVE_WAIT = 30
# A stored file may still be being closed by the server when the client has
# its last ACK: how long it may take before the file counts as wrong.
SETTLE = 5
# A run is not started with less than this left of the campaign.
LEAST_RUN = 30

notes = []
scratch = None
loopback_position = None

# Every process the bench started, so that a signal or the campaign limit
# can end them all; each runs in a session of its own, `timeout` and the
# program under it alike, so that both get the signal.
# Re-entrant: the signal handler takes it on the main thread.
lock = threading.RLock()
live = set()
stopping = False


class BenchBroken(Exception):
    pass


def check_tftpd():
    """With atftpd installed, in.tftpd is atftpd's: tftpd-hpa's rows would
    time the wrong server."""
    problem = wharfkeep_settings.tftpd_problem(TFTPD)
    if problem:
        raise BenchBroken(problem)


class RunBroken(Exception):
    """One run could not be set up (not the transfer's fault)."""


def log(text):
    with lock:
        print(text, flush=True)


# ---------------------------------------------------------------- processes


def launch(args, stdout, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=None):
    with lock:
        if stopping:
            raise RunBroken("the bench is stopping")
        proc = subprocess.Popen(args, stdin=stdin, stdout=stdout, stderr=stderr, env=env,
                                start_new_session=True)
        live.add(proc)
    return proc


def signal_proc(proc, signum):
    try:
        os.killpg(proc.pid, signum)
    except ProcessLookupError:
        pass


def stop(proc, grace=3.0):
    if proc.poll() is None:
        signal_proc(proc, signal.SIGTERM)
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            signal_proc(proc, signal.SIGKILL)
            proc.wait(grace)
    with lock:
        live.discard(proc)


def stop_all():
    global stopping
    with lock:
        stopping = True
        procs = list(live)
    for proc in procs:
        try:
            stop(proc, 2.0)
        except Exception:
            pass


def cleanup():
    stop_all()
    if scratch and os.path.isdir(scratch):
        shutil.rmtree(scratch, ignore_errors=True)


def on_signal(signum, _frame):
    cleanup()
    os._exit(128 + signum)


# ---------------------------------------------------------------- helpers


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def wait_serving(port, proc, logfile):
    """Asks for a file that is not there until the server answers."""
    request = b"\x00\x01bench-no-such-file\x00octet\x00"
    deadline = time.monotonic() + SERVE_WAIT
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((HOST, 0))
        s.settimeout(0.2)
        while time.monotonic() < deadline and proc.poll() is None:
            s.sendto(request, (HOST, port))
            try:
                s.recvfrom(70000)
                return
            except socket.timeout:
                continue
    tail = open(logfile, errors="replace").read()[-1000:] if os.path.exists(logfile) else ""
    raise RunBroken("server on port %d did not answer: %s" % (port, tail.strip()))


def same_file(a, b):
    return os.path.exists(a) and subprocess.run(["cmp", "-s", a, b]).returncode == 0


def median(values):
    return statistics.median(values) if values else None


def tail_line(path):
    """The last line that says something; tftp-hpa's prompts are left out."""
    try:
        text = open(path, errors="replace").read()
    except OSError:
        return ""
    lines = [l.replace("tftp>", "").strip() for l in text.splitlines()]
    lines = [l for l in lines if l]
    return lines[-1][:160] if lines else ""


wharfkeep_config = wharfkeep_settings.write_config
wharfkeep_env = wharfkeep_settings.environment


# ---------------------------------------------------------------- servers


class Serving:
    """One running server of one run: where to send requests, where the
    files it serves go and where the files stored to it land."""

    def __init__(self, proc, port, fetch_dir, store_dir, logfile):
        self.proc, self.port = proc, port
        self.fetch_dir, self.store_dir, self.logfile = fetch_dir, store_dir, logfile


def start_ours(run_dir, limit):
    serve = os.path.join(run_dir, "serve")
    incoming = os.path.join(run_dir, "incoming")
    for d in (serve, incoming):
        os.makedirs(d, exist_ok=True)
    port = free_port()
    config = wharfkeep_config(os.path.join(run_dir, "config"), port, serve, incoming,
                              loopback_position)
    logfile = os.path.join(run_dir, "server.log")
    with open(logfile, "ab") as out:
        proc = launch(["timeout", "-k", "5", str(limit), WHARFKEEP, "--no-splash"], out,
                      env=wharfkeep_env(config))
    return Serving(proc, port, serve, incoming, logfile)


def start_tftpd(run_dir, limit):
    folder = os.path.join(run_dir, "peer")
    os.makedirs(folder, exist_ok=True)
    port = free_port()
    args = [TFTPD, "-L", "-c", "-s", folder, "-a", "%s:%d" % (HOST, port)]
    if os.geteuid() == 0:
        args += ["-u", "root"]
    logfile = os.path.join(run_dir, "server.log")
    with open(logfile, "ab") as out:
        proc = launch(["timeout", "-k", "5", str(limit)] + args, out)
    return Serving(proc, port, folder, folder, logfile)


def start_atftpd(run_dir, limit):
    # In the foreground on its own port, as the other servers; its log (a
    # line per transfer, and its retries) goes to the run's server log.
    folder = os.path.join(run_dir, "peer")
    os.makedirs(folder, exist_ok=True)
    os.chmod(folder, 0o777)
    port = free_port()
    args = [ATFTPD, "--daemon", "--no-fork", "--port", str(port), "--bind-address", HOST,
            "--logfile", "-"]
    if os.geteuid() == 0:
        args += ["--user", "root", "--group", "root"]
    logfile = os.path.join(run_dir, "server.log")
    with open(logfile, "ab") as out:
        proc = launch(["timeout", "-k", "5", str(limit)] + args + [folder], out)
    return Serving(proc, port, folder, folder, logfile)


class ServerKind:
    def __init__(self, name, program, start):
        self.name, self.program, self.start = name, program, start


SERVERS = {
    "ours": ServerKind("ours", WHARFKEEP, start_ours),
    "tftpd-hpa": ServerKind("tftpd-hpa", TFTPD, start_tftpd),
    "atftpd": ServerKind("atftpd", ATFTPD, start_atftpd),
}

# ---------------------------------------------------------------- clients
#
# Each client with its retransmission set as a user would set it for a lossy
# link, driven as tests/server/engine/tst_relay.cpp drives it. A command gets
# the run and the relay's port and gives the arguments and, for clients that
# read their commands, what to write to them.


def exit_zero(_run, returncode, _output):
    return returncode == 0


def curl_command(run, port, extra=()):
    # curl asks the server for a time-out of a third of its connect time-out
    # (one second here) and itself repeats only every --max-time/50 seconds
    # or so: a loss costs a second with a server that retransmits.
    args = ["curl", "-sS", "--tftp-blksize", str(BLOCK), "--connect-timeout", "3",
            "--max-time", str(max(10, run.limit - 5))] + list(extra)
    url = "tftp://%s:%d/%s" % (HOST, port, run.remote)
    return args + (["-o", run.local, url] if run.fetch else ["-T", run.local, url]), None


def tftp_hpa_command(run, port, extra=()):
    # rexmt is the wait before each retransmission, timeout the total for
    # one datagram before giving up.
    script = ["verbose", "mode octet", "rexmt 1", "timeout 10"] + list(extra)
    script.append("get %s %s" % (run.remote, run.local) if run.fetch
                  else "put %s %s" % (run.local, run.remote))
    script.append("quit")
    return ["tftp", HOST, str(port)], "\n".join(script) + "\n"


def tftp_hpa_reported(run, returncode, output):
    # tftp-hpa exits with 0 whatever happened; it says how it went.
    return (returncode == 0 and ("Received " if run.fetch else "Sent ") in output
            and "Error code" not in output and "timed out" not in output)


def atftp_command(run, port, extra=()):
    args = ["atftp", "--tftp-timeout", "1", "--option", "timeout 1",
            "--option", "blksize %d" % BLOCK]
    if run.fetch:
        args += ["--option", "tsize 0"]
    args += list(extra)
    return args + ["-g" if run.fetch else "-p", "-r", run.remote, "-l", run.local,
                   HOST, str(port)], None


def skiffer_command(run, port, extra=()):
    # The client's own default time-out, as the window starts with it.
    folder, name = os.path.split(run.local)
    return [SKIFFER_BENCH, "fetch" if run.fetch else "send", HOST, str(port), str(BLOCK),
            run.remote, name, folder, "30"] + list(extra), None


class ClientKind:
    """A client as a table entry: a variant of one program (atftp with
    `--option "windowsize 16"`, say) is another entry with its extra
    arguments, and its own name in the table."""

    def __init__(self, name, program, command, reported=exit_zero, extra=()):
        self.name, self.program = name, program
        self.command_fn, self.reported_fn, self.extra = command, reported, tuple(extra)

    def command(self, run, port):
        return self.command_fn(run, port, self.extra)

    def reported(self, run, returncode, output):
        return self.reported_fn(run, returncode, output)


CLIENTS = {
    "tftp-hpa": ClientKind("tftp-hpa", "tftp", tftp_hpa_command, tftp_hpa_reported),
    "atftp": ClientKind("atftp", "atftp", atftp_command),
    "curl": ClientKind("curl", "curl", curl_command),
    "skiffer": ClientKind("skiffer", SKIFFER_BENCH, skiffer_command),
    "atftp-w16": ClientKind("atftp-w16", "atftp", atftp_command,
                            extra=("--option", "windowsize 16")),
}


class RowSet:
    """Clients that run against our server and one peer server, with rows
    of their own in the table."""

    def __init__(self, name, clients, peer, ours="ours"):
        self.name, self.clients, self.peer, self.ours = name, clients, peer, ours


ROW_SETS = [
    RowSet("lock-step", ["tftp-hpa", "atftp", "curl", "skiffer"], "tftpd-hpa"),
    # tftpd-hpa grants no window: the windowed client is compared on atftpd.
    RowSet("window 16", ["atftp-w16"], "atftpd"),
]

# ---------------------------------------------------------------- one run

OK, FAILED, KILLED, WRONG, BROKEN, NOT_RUN = "ok", "failed", "killed", "WRONG", "broken", "not run"


class Run:
    def __init__(self, row_set, client, server, direction, rate, seed, number):
        self.row_set, self.client, self.server = row_set, client, server
        self.direction, self.rate, self.seed, self.number = direction, rate, seed, number
        self.fetch = direction == "fetch"
        # The same losses for both servers of a cell, whichever runs are
        # chosen, so that a run can be replayed alone.
        self.relay_seed = zlib.crc32(("%d %s %s %s %g" % (
            seed, row_set.name, client.name, direction, rate)).encode())
        self.remote = ("loss-%d.bin" if self.fetch else "up-%d.bin") % seed
        self.local = None
        self.limit = RUN_LIMIT
        self.outcome = NOT_RUN
        self.wall = None
        self.detail = ""
        self.counts = None

    def label(self):
        return "%g%% %s %s %s seed %d" % (self.rate, self.client.name, self.direction,
                                          self.server.name, self.seed)

    def file_name(self):
        return "%03d-%g-%s-%s-%s-%d" % (self.number, self.rate, self.client.name,
                                        self.direction, self.server.name, self.seed)


def seed_file(seed):
    return os.path.join(scratch, "files", "seed-%d.bin" % seed)


def start_relay(run, server_port, run_dir):
    logfile = os.path.join(run_dir, "relay.log")
    env = dict(os.environ)
    env.pop("LOSS_RELAY_TRACE", None)
    if TRACE:
        env["LOSS_RELAY_TRACE"] = "[%s]" % run.label()
    with open(logfile, "ab") as err:
        proc = launch(["timeout", "-k", "5", str(run.limit + 60), LOSS_RELAY, str(server_port),
                       "%.6f" % (run.rate / 100.0), str(run.relay_seed), str(run.limit + 30)],
                      subprocess.PIPE, stderr=err, env=env)
    ready, _, _ = select.select([proc.stdout], [], [], 20)
    line = proc.stdout.readline().decode(errors="replace").strip() if ready else ""
    if not line.isdigit():
        stop(proc)
        raise RunBroken("the relay did not start: %s" % tail_line(logfile))
    return proc, int(line)


def relay_counts(proc):
    stop(proc)
    text = proc.stdout.read().decode(errors="replace")
    proc.stdout.close()
    for line in text.splitlines():
        fields = line.split()
        if len(fields) == 7 and fields[0] == "counts":
            return {"forwarded": int(fields[2]), "dropped": int(fields[4]),
                    "ignored": int(fields[6])}
    return None


def keep_logs(run, run_dir):
    os.makedirs(KEPT_LOGS, exist_ok=True)
    with open(os.path.join(KEPT_LOGS, run.file_name() + ".log"), "w") as out:
        out.write("%s (relay seed %d): %s after %s s: %s\n" % (
            run.label(), run.relay_seed, run.outcome,
            "-" if run.wall is None else "%.1f" % run.wall, run.detail))
        for part in ("client", "server", "relay"):
            path = os.path.join(run_dir, part + ".log")
            if os.path.exists(path):
                out.write("\n== %s\n" % part)
                out.write(open(path, errors="replace").read()[-200000:])


def execute(run, deadline):
    run.limit = int(min(RUN_LIMIT, deadline - time.monotonic()))
    if run.limit < min(LEAST_RUN, RUN_LIMIT):
        return
    run_dir = os.path.join(scratch, "runs", run.file_name())
    os.makedirs(run_dir)
    source = seed_file(run.seed)
    server = relay = None
    try:
        # A port picked free may be taken by another run before the server
        # binds it: a few tries with fresh ones.
        for attempt in range(3):
            server = run.server.start(run_dir, run.limit + 120)
            try:
                wait_serving(server.port, server.proc, server.logfile)
                break
            except RunBroken:
                stop(server.proc)
                server = None
                if attempt == 2:
                    raise
        if run.fetch:
            served = os.path.join(server.fetch_dir, run.remote)
            try:
                os.link(source, served)
            except OSError:
                shutil.copy(source, served)
            os.makedirs(os.path.join(run_dir, "down"))
            run.local = os.path.join(run_dir, "down", "local.bin")
            result = run.local
        else:
            run.local = source
            result = os.path.join(server.store_dir, run.remote)
        relay, relay_port = start_relay(run, server.port, run_dir)

        args, script = run.client.command(run, relay_port)
        client_log = os.path.join(run_dir, "client.log")
        stdin = subprocess.DEVNULL
        if script is not None:
            with open(os.path.join(run_dir, "commands"), "w") as f:
                f.write(script)
            stdin = open(os.path.join(run_dir, "commands"), "rb")
        t0 = time.monotonic()
        with open(client_log, "ab") as out:
            proc = launch(["timeout", "-k", "5", str(run.limit + 5)] + args, out, stdin=stdin)
        if script is not None:
            stdin.close()
        killed = False
        try:
            proc.wait(run.limit)
        except subprocess.TimeoutExpired:
            killed = True
        run.wall = time.monotonic() - t0
        stop(proc)
        killed = killed or proc.returncode in (124, 137, -9)
        output = open(client_log, errors="replace").read()
        run.counts = relay_counts(relay)
        relay = None

        reported = not killed and run.client.reported(run, proc.returncode, output)
        exact = same_file(result, source)
        settle_until = time.monotonic() + SETTLE
        while reported and not exact and not run.fetch and time.monotonic() < settle_until:
            time.sleep(0.2)
            exact = same_file(result, source)
        if killed and run.limit < RUN_LIMIT:
            # Cut short by the campaign's end, not by its own limit.
            run.outcome, run.detail = NOT_RUN, ""
        elif killed:
            run.outcome, run.detail = KILLED, "killed at the run's limit (%d s)" % run.limit
        elif not reported:
            run.outcome = FAILED
            run.detail = "exit %d: %s" % (proc.returncode, tail_line(client_log))
        elif exact:
            run.outcome = OK
        else:
            run.outcome = WRONG
            run.detail = "client reported success but %s" % (
                "the file is missing" if not os.path.exists(result)
                else "the file differs (%d of %d bytes)" % (os.path.getsize(result),
                                                            FILE_BYTES))
    except RunBroken as e:
        run.outcome, run.detail = BROKEN, str(e)
    finally:
        if relay:
            stop(relay)
        if server:
            stop(server.proc)
    if stopping:
        # Killed from outside: what it saw says nothing of the transfer.
        run.outcome, run.detail = NOT_RUN, ""
        return
    if run.outcome not in (OK, NOT_RUN):
        keep_logs(run, run_dir)
    shutil.rmtree(run_dir, ignore_errors=True)


# ---------------------------------------------------------------- campaign


def plan(clients, servers):
    """Round by round, seed after seed, the slowest rate first in each: a
    campaign cut short still has about as many runs in every cell, and the
    long runs start early."""
    runs = []
    for seed in SEEDS:
        for rate in sorted(RATES, reverse=True):
            for row_set in ROW_SETS:
                for name in row_set.clients:
                    if name not in clients:
                        continue
                    for direction in DIRECTIONS:
                        for server in (row_set.ours, row_set.peer):
                            if server in servers:
                                runs.append(Run(row_set, CLIENTS[name], SERVERS[server],
                                                direction, rate, seed, len(runs)))
    return runs


def campaign(runs):
    deadline = time.monotonic() + CAMPAIGN_LIMIT
    queue = list(runs)
    done = [0]

    def worker():
        while True:
            with lock:
                if stopping or not queue:
                    return
                run = queue.pop(0)
            try:
                execute(run, deadline)
            except Exception as e:  # a bug in one run must not hang the rest
                run.outcome, run.detail = BROKEN, "%s: %s" % (type(e).__name__, e)
            with lock:
                done[0] += 1
                n = done[0]
                if stopping:
                    return
            if run.outcome != NOT_RUN:
                drops = run.counts["dropped"] if run.counts else "?"
                log("  [%d/%d] %-40s %-7s %s (%s dropped)%s" % (
                    n, len(runs), run.label(), run.outcome,
                    "-" if run.wall is None else "%6.1f s" % run.wall, drops,
                    "  " + run.detail[:100] if run.detail else ""))

    threads = [threading.Thread(target=worker, daemon=True) for _ in range(PARALLEL)]
    for t in threads:
        t.start()
    # Every run ends by the deadline on its own; this is for one that hangs
    # in setting up or in stopping.
    for t in threads:
        t.join(max(0.0, deadline + 90 - time.monotonic()))
    if any(t.is_alive() for t in threads):
        notes.append("the campaign passed its limit (%d s); what was running was killed"
                     % CAMPAIGN_LIMIT)
        stop_all()
        for t in threads:
            t.join(10)
    left = sum(1 for r in runs if r.outcome == NOT_RUN)
    if left:
        notes.append("%d runs left out or cut short: the campaign limit (LOSS_LIMIT=%d s) "
                     "came first"
                     % (left, CAMPAIGN_LIMIT))


# ---------------------------------------------------------------- table


class Cell:
    def __init__(self, runs):
        ran = [r for r in runs if r.outcome not in (NOT_RUN, BROKEN)]
        self.runs = len(ran)
        self.missing = len(runs) - len(ran)
        self.completed = sum(1 for r in ran if r.outcome == OK)
        self.wrong = sum(1 for r in ran if r.outcome == WRONG)
        self.median = median([r.wall for r in ran if r.outcome == OK])

    def text(self):
        if not self.runs and not self.missing:
            return "-"
        t = "%d/%d" % (self.completed, self.runs)
        if self.missing:
            t += " (+%d not run)" % self.missing
        if self.wrong:
            t += " %d WRONG" % self.wrong
        return t


def fmt_s(v):
    return "-" if v is None else "%.1f s" % v


def fmt_r(v):
    return "-" if v is None else "%.3f" % v


def ratio(a, b):
    return a / b if a is not None and b else None


def print_table(head, rows, out):
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
    text = [" | ".join(str(h).ljust(w) for h, w in zip(head, widths)),
            "  ".join("-" * w for w in widths)]
    for r in rows:
        text.append(" | ".join(str(c).ljust(w) for c, w in zip(r, widths)))
    out.write("\n".join(text) + "\n")


def cell(runs, row_set, rate, client, direction, server):
    return Cell([r for r in runs if r.row_set is row_set and r.rate == rate
                 and r.client.name == client and r.direction == direction
                 and r.server.name == server])


def report(runs, clients, servers):
    cells = []
    for row_set in ROW_SETS:
        for rate in RATES:
            for client in row_set.clients:
                if client not in clients:
                    continue
                for direction in DIRECTIONS:
                    ours = cell(runs, row_set, rate, client, direction, row_set.ours)
                    peer = cell(runs, row_set, rate, client, direction, row_set.peer)
                    cells.append((row_set, rate, client, direction, ours, peer))

    cell_rows = []
    for row_set, rate, client, direction, ours, peer in cells:
        cell_rows.append(("%g%%" % rate, client, direction, ours.text(), fmt_s(ours.median),
                          row_set.peer, peer.text(), fmt_s(peer.median),
                          fmt_r(ratio(ours.median, peer.median))))

    targets = []

    def target(measure, ours, peer, value, goal, passed):
        verdict = "-" if passed is None else ("PASS" if passed else "MISS")
        targets.append((measure, ours, peer, value, goal, verdict))

    lock_step = ROW_SETS[0]
    both = lock_step.ours in servers and lock_step.peer in servers

    # Ours at least as reliable as the peer, cell by cell.
    compared = [(rate, c, d, o, p) for rs, rate, c, d, o, p in cells
                if rs is lock_step and o.runs and p.runs]
    short = [(rate, c, d, o, p) for rate, c, d, o, p in compared if o.completed < p.completed]
    target("every lock-step cell: ours completes >= %s" % lock_step.peer,
           "%d cells" % len(compared), "%d short" % len(short),
           "%d/%d cells" % (len(compared) - len(short), len(compared)), "all cells",
           (not short) if compared and both else None)
    for rate, c, d, o, p in short:
        notes.append("ours short of %s at %g%% %s %s: %s against %s" % (
            lock_step.peer, rate, c, d, o.text(), p.text()))

    # skiffer completes every run at 1% against both servers.
    if 1.0 in RATES and "skiffer" in clients:
        per = [cell(runs, lock_step, 1.0, "skiffer", d, s) for d in DIRECTIONS
               for s in (lock_step.ours, lock_step.peer) if s in servers]
        done = sum(c.completed for c in per)
        ran = sum(c.runs for c in per)
        target("1%: skiffer completes every run", "%d done" % done, "%d runs" % ran,
               "%d/%d" % (done, ran), "all", (done == ran) if ran and both else None)
    else:
        target("1%: skiffer completes every run", "-", "-", "-", "all", None)

    # At 5% skiffer as reliable a client as tftp-hpa's, both on the peer.
    for d in DIRECTIONS:
        measure = "5%% %s vs %s: skiffer >= tftp-hpa" % (d, lock_step.peer)
        if 5.0 in RATES and "skiffer" in clients and "tftp-hpa" in clients \
                and lock_step.peer in servers:
            s = cell(runs, lock_step, 5.0, "skiffer", d, lock_step.peer)
            t = cell(runs, lock_step, 5.0, "tftp-hpa", d, lock_step.peer)
            target(measure, s.text(), t.text(), "%d vs %d" % (s.completed, t.completed),
                   ">=", (s.completed >= t.completed) if s.runs and t.runs else None)
        else:
            target(measure, "-", "-", "-", ">=", None)

    # At 1% our server recovers from a loss much faster than the peer.
    for client in ("tftp-hpa", "atftp"):
        measure = "1%% fetch %s: median ours/%s" % (client, lock_step.peer)
        if 1.0 in RATES and client in clients and "fetch" in DIRECTIONS and both:
            o = cell(runs, lock_step, 1.0, client, "fetch", lock_step.ours)
            p = cell(runs, lock_step, 1.0, client, "fetch", lock_step.peer)
            r = ratio(o.median, p.median)
            target(measure, fmt_s(o.median), fmt_s(p.median), fmt_r(r), "<= 0.25",
                   None if r is None else r <= 0.25)
        else:
            target(measure, "-", "-", "-", "<= 0.25", None)

    # With a window of 16 asked by the same client, ours completes at 1% at
    # least as many runs as atftpd.
    window = ROW_SETS[1]
    both_window = window.ours in servers and window.peer in servers
    for d in DIRECTIONS:
        for client in window.clients:
            measure = "1%% %s %s: ours completes >= %s" % (d, client, window.peer)
            if 1.0 in RATES and client in clients and both_window:
                o = cell(runs, window, 1.0, client, d, window.ours)
                p = cell(runs, window, 1.0, client, d, window.peer)
                target(measure, o.text(), p.text(), "%d vs %d" % (o.completed, p.completed),
                       ">=", (o.completed >= p.completed) if o.runs and p.runs else None)
                if o.runs and p.runs and o.completed < p.completed:
                    notes.append("ours short of %s at 1%% %s %s: %s against %s" % (
                        window.peer, client, d, o.text(), p.text()))
            else:
                target(measure, "-", "-", "-", ">=", None)

    wrong = [r for r in runs if r.outcome == WRONG]
    ran = sum(1 for r in runs if r.outcome not in (NOT_RUN, BROKEN))
    target("no success reported over a wrong file", "%d WRONG" % len(wrong),
           "%d runs" % ran, str(len(wrong)), "0", (not wrong) if ran else None)
    return cell_rows, targets, wrong


# ---------------------------------------------------------------- main


def main():
    global scratch, loopback_position
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    atexit.register(cleanup)
    t_start = time.monotonic()

    clients = env_list("LOSS_CLIENTS", ",".join(CLIENTS))
    servers = env_list("LOSS_SERVERS", ",".join(SERVERS))
    for name in clients:
        if name not in CLIENTS:
            raise BenchBroken("unknown client %r (LOSS_CLIENTS: %s)" % (name, ",".join(CLIENTS)))
    for name in servers:
        if name not in SERVERS:
            raise BenchBroken("unknown server %r (LOSS_SERVERS: %s)" % (name, ",".join(SERVERS)))
    for d in DIRECTIONS:
        if d not in ("fetch", "store"):
            raise BenchBroken("unknown direction %r (LOSS_DIRECTIONS: fetch,store)" % d)
    if not RATES or any(not 0 <= r <= 100 for r in RATES):
        raise BenchBroken("LOSS_RATES are percentages from 0 to 100")
    for program in [LOSS_RELAY, SKIFFER_BENCH] + [SERVERS[s].program for s in servers] + \
            [CLIENTS[c].program for c in clients]:
        if not shutil.which(program):
            raise BenchBroken("%s is missing: build and install first (tools/bench.sh loss)"
                              % program)
    if "tftpd-hpa" in servers:
        check_tftpd()

    position = subprocess.run([SKIFFER_BENCH, "--loopback-position"], capture_output=True,
                              text=True, timeout=30).stdout.strip()
    if not position.isdigit() or position == "0":
        raise BenchBroken("127.0.0.1 is not among the host's addresses")
    loopback_position = int(position)

    scratch = tempfile.mkdtemp(prefix="bench-loss.", dir="/tmp")
    os.chmod(scratch, 0o755)
    for d in ("files", "runs"):
        os.mkdir(os.path.join(scratch, d))
    # One file per seed, the same for every run with that seed.
    for seed in SEEDS:
        with open(seed_file(seed), "wb") as f:
            f.write(random.Random(seed).randbytes(FILE_BYTES))
        os.chmod(seed_file(seed), 0o644)
    shutil.rmtree(KEPT_LOGS, ignore_errors=True)

    runs = plan(clients, servers)
    if not runs:
        raise BenchBroken("no runs: check LOSS_CLIENTS, LOSS_SERVERS and LOSS_DIRECTIONS")
    log("Loss benchmark: %d KiB at block %d, loss %s%%, seeds %d to %d, %d runs, %d at once, "
        "%d s per run, %d s in all" % (FILE_KB, BLOCK, ",".join("%g" % r for r in RATES),
                                       SEEDS[0], SEEDS[-1], len(runs), PARALLEL, RUN_LIMIT,
                                       CAMPAIGN_LIMIT))
    campaign(runs)

    if all(r.outcome == BROKEN for r in runs):
        for r in runs[:3]:
            log("  %s: %s" % (r.label(), r.detail))
        raise BenchBroken("no run could be set up")
    broken = [r for r in runs if r.outcome == BROKEN]
    if broken:
        notes.append("%d runs could not be set up (left out of the counts), first: %s: %s"
                     % (len(broken), broken[0].label(), broken[0].detail))

    cell_rows, targets, wrong = report(runs, clients, servers)
    elapsed = time.monotonic() - t_start
    os.makedirs(os.path.dirname(RESULTS), exist_ok=True)
    with open(RESULTS, "w") as out:
        for stream in (out, sys.stdout):
            stream.write("\nLoss benchmark: %d KiB file at block %d, loss %s%%, %d seeds from "
                         "%d, on %s through loss_relay, %s, %.0f s\n" % (
                             FILE_KB, BLOCK, ",".join("%g" % r for r in RATES), len(SEEDS),
                             SEEDS[0], HOST, time.strftime("%Y-%m-%d %H:%M"), elapsed))
            stream.write("Completed: the client reported success and the file is exact, of "
                         "the runs made;\nmedians over the completed runs; ratio ours / peer "
                         "of the medians.\n\n")
            print_table(("Loss", "Client", "Way", "Ours done", "Ours median", "Peer",
                         "Peer done", "Peer median", "Ours/peer"), cell_rows, stream)
            stream.write("\n")
            print_table(("Measure", "Ours", "Peer", "Value", "Target", "Result"), targets,
                        stream)
            for n in notes:
                stream.write("note: %s\n" % n)
            for r in runs:
                if r.outcome in (FAILED, KILLED):
                    stream.write("not completed: %s: %s after %s (%s)\n" % (
                        r.label(), r.outcome, fmt_s(r.wall), r.detail))
            for r in wrong:
                stream.write("WRONG FILE: %s (relay seed %d): %s\n" % (
                    r.label(), r.relay_seed, r.detail))
            if wrong:
                stream.write("\n*** %d run(s) reported success over a WRONG file ***\n"
                             % len(wrong))
    log("\nTable written to %s%s" % (RESULTS, "; logs of the runs that did not complete "
                                     "in %s" % KEPT_LOGS if os.path.isdir(KEPT_LOGS) else ""))
    return 1 if wrong else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchBroken as e:
        print("bench: %s" % e, file=sys.stderr)
        sys.exit(2)
