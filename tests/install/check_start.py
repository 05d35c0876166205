#!/usr/bin/env python3
"""The installed programs started as a new user would, from a shell with no
display variables at all (over ssh, in a container, from a script):

  usage WORK    --help and --version answer at once, without touching the
                settings; an unknown argument gets the usage and status 2;
                the client without a display says so and ends with 1
  serve WORK    the server runs without a window, says so first, listens
                on 127.0.0.1 within 5 s, and keeps its transfers' ports in
                PortRange, refusing the one too many from the listening port

WORK is the install tree of check_install.py's install-tree step.
Exit status: 0 passed, 1 failed, 77 skipped (the reason is printed).
"""

import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

import check_install as ci

LIMIT = 10  # seconds any one start may take


def program(work, name):
    return os.path.join(ci.root_of(work), "bin", name)


def bare_environment(scratch):
    """Nothing but a home and a settings folder: no DISPLAY, no
    WAYLAND_DISPLAY, no QT_QPA_PLATFORM, no XDG_RUNTIME_DIR."""
    config = os.path.join(scratch, "config")
    os.makedirs(config, exist_ok=True)
    return {"HOME": scratch, "XDG_CONFIG_HOME": config}, config


def step_usage(work):
    with tempfile.TemporaryDirectory(prefix="usage-") as scratch:
        env, config = bare_environment(scratch)
        for name, version in (("wharfkeep", "Wharfkeep Version 6.5"),
                              ("skiffer", "Skiffer TFTP Client Version 5.0")):
            path = program(work, name)
            for args, status, stdout_has, stderr_has in (
                    (["--help"], 0, ["Usage: %s" % name, "Settings: " + config, "Log: "], []),
                    (["--version"], 0, [version], []),
                    (["--bogus"], 2, [], ['%s: unknown argument "--bogus"' % name,
                                          "Usage: %s" % name]),
                    (["-platform", "offscreen", "--help"], 0, ["Usage: %s" % name], [])):
                result = ci.run([path] + args, limit=LIMIT, env=env, cwd=scratch)
                what = "%s %s" % (name, " ".join(args))
                ci.check(result.returncode == status, "%s: status %d, not %d; stderr %r"
                         % (what, result.returncode, status, result.stderr))
                for text in stdout_has:
                    ci.check(text in result.stdout, "%s: %r not in %r"
                             % (what, text, result.stdout))
                for text in stderr_has:
                    ci.check(text in result.stderr, "%s: %r not on standard error %r"
                             % (what, text, result.stderr))
                if status == 2:
                    ci.check(result.stdout == "", "%s: wrote %r on standard output"
                             % (what, result.stdout))
        result = ci.run([program(work, "skiffer")], limit=LIMIT, env=env, cwd=scratch)
        lines = result.stderr.splitlines()
        ci.check(result.returncode == 1 and len(lines) == 1 and "needs a display" in lines[0],
                 "skiffer without a display: status %d, output %r"
                 % (result.returncode, result.stderr))
        left = [f for _d, _s, files in os.walk(config) for f in files]
        ci.check(not left, "asking for the usage wrote settings: %s" % left)


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def request(client, port, name):
    client.sendto(struct.pack("!H", 1) + name + b"\0octet\0", ("127.0.0.1", port))
    return client.recvfrom(600)


def free_range(count):
    """The first of `count` consecutive free ports on 127.0.0.1."""
    for _ in range(50):
        first = ci.free_udp_port()
        held = []
        try:
            for port in range(first, first + count):
                s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                held.append(s)
                s.bind(("127.0.0.1", port))
            return first
        except OSError:
            pass
        finally:
            for s in held:
                s.close()
    raise ci.Failed("no %d consecutive free ports on 127.0.0.1" % count)


def step_serve(work):
    addresses = ci.server_address_list()
    if not addresses or "127.0.0.1" not in addresses:
        raise ci.Skipped("127.0.0.1 is not among this machine's addresses %s" % addresses)
    with tempfile.TemporaryDirectory(prefix="serve-") as scratch:
        env, config = bare_environment(scratch)
        serve = os.path.join(scratch, "out")
        os.makedirs(serve)
        os.makedirs(os.path.join(config, "Harnwick"))
        with open(os.path.join(serve, "file.bin"), "wb") as f:
            f.write(os.urandom(3000))
        port, first = ci.free_udp_port(), free_range(2)
        with open(os.path.join(config, "Harnwick", "Wharfkeep.ini"), "w") as f:
            f.write("[General]\nPort=%d\nOutPath=%s/\nInPath=%s/\nnDefAddress=%d\n"
                    "PortRange=%d-%d\n" % (port, serve, serve,
                                           addresses.index("127.0.0.1") + 1, first, first + 1))
        server = subprocess.Popen([program(work, "wharfkeep")], cwd=scratch, env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                  preexec_fn=ci.die_with_parent)
        try:
            listening = wait_for(lambda: ci.udp_binds(port) == ["127.0.0.1"], 5)
            ci.check(listening, "not listening on 127.0.0.1:%d within 5 s" % port)
            if listening:
                serve_in_range(port, first, serve, scratch)
        finally:
            server.send_signal(signal.SIGTERM)
            try:
                output, _ = server.communicate(timeout=LIMIT)
            except subprocess.TimeoutExpired:
                server.kill()
                output, _ = server.communicate()
        print("server output:\n" + output)
        lines = output.splitlines()
        ci.check(lines[:1] == ["Wharfkeep runs without a window: there is no display"],
                 "the first line does not say that it runs without a window: %r" % lines[:1])
        ci.check(server.returncode == 0, "ended with %s after SIGTERM" % server.returncode)
        refusal = "failed: No data port is free in %d-%d" % (first, first + 1)
        ci.check(any(line.endswith(refusal) for line in lines), "no line ending %r" % refusal)


def serve_in_range(port, first, serve, scratch):
    """Two clients at once take the range's two ports; a third is refused
    from the listening port; once they are done, curl fetches the file."""
    clients = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(3)]
    try:
        sources = []
        for c in clients:
            c.settimeout(3)
            c.bind(("127.0.0.1", 0))
        for c in clients[:2]:
            data, source = request(c, port, b"file.bin")
            ci.check(data[:4] == b"\0\3\0\1", "no block 1 but %r" % data[:20])
            sources.append(source[1])
        ci.check(sorted(sources) == [first, first + 1],
                 "the transfers talk from %s, not the range %d-%d" % (sources, first, first + 1))
        data, source = request(clients[2], port, b"file.bin")
        expected = b"\0\5\0\0No data port is free in %d-%d\0" % (first, first + 1)
        ci.check((data, source[1]) == (expected, port),
                 "the third client got %r from %d, not the refusal from %d"
                 % (data, source[1], port))
        for c, source in zip(clients, sources):  # both give up: the ports are free again
            c.sendto(b"\0\5\0\0done\0", ("127.0.0.1", source))
    finally:
        for c in clients:
            c.close()
    fetched = os.path.join(scratch, "fetched.bin")
    result = ci.curl(["-o", fetched, "tftp://127.0.0.1:%d/file.bin" % port])
    if ci.check(result.returncode == 0, "curl fetch within the range: %s" % result.stderr):
        with open(fetched, "rb") as f, open(os.path.join(serve, "file.bin"), "rb") as g:
            ci.check(f.read() == g.read(), "the fetched file differs from the served one")


STEPS = {"usage": step_usage, "serve": step_serve}


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in STEPS:
        print(__doc__)
        sys.exit(2)
    try:
        STEPS[sys.argv[1]](sys.argv[2])
    except ci.Skipped as e:
        print("SKIPPED: %s" % e)
        sys.exit(ci.SKIP if not ci.failures else 1)
    except (ci.Failed, subprocess.TimeoutExpired, OSError) as e:
        ci.failures.append(str(e))
        print("FAIL: %s" % e)
    if ci.failures:
        print("%d check(s) failed" % len(ci.failures))
        sys.exit(1)
    print("passed")
