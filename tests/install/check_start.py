#!/usr/bin/env python3
"""The installed programs started as over ssh or from a script: no display
variables, only a home and a settings folder.

  usage WORK   --help and --version at once and without touching the
               settings; an unknown argument gets the usage and status 2;
               the client without a display says so and ends with 1
  serve WORK   the server says first that it runs without a window, listens
               within 5 s, and takes its transfers' ports from PortRange,
               refusing the one too many from the listening port

WORK is the tree of check_install.py's install-tree step.
"""

import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

import check_install as ci


def start(work, name, args, scratch, **kw):
    env = {"HOME": scratch, "XDG_CONFIG_HOME": scratch + "/config"}
    return subprocess.Popen([os.path.join(ci.root_of(work), "bin", name)] + args, env=env,
                            cwd=scratch, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, preexec_fn=ci.die_with_parent, **kw)


def step_usage(work, scratch):
    for name, version in (("wharfkeep", "Wharfkeep Version 6.5 (harnwick-tftp "),
                          ("skiffer", "Skiffer TFTP Client Version 5.0 (harnwick-tftp ")):
        for args, status, out, err in (
                (["--help"], 0, ["Usage: " + name, "Settings: %s/config/" % scratch], ""),
                (["--version"], 0, [version], ""),
                (["--bogus"], 2, [], '%s: unknown argument "--bogus"\n\nUsage: ' % name),
                ([], 1 if name == "skiffer" else None, [], "skiffer needs a display: "
                 "neither DISPLAY nor WAYLAND_DISPLAY is set\n" if name == "skiffer" else "")):
            if status is None:
                continue  # the server's start is the other step
            stdout, stderr = start(work, name, args, scratch).communicate(timeout=10)
            what = "%s %s: %r %r" % (name, " ".join(args), stdout, stderr)
            ci.check(all(text in stdout for text in out) and stderr.startswith(err)
                     and (status == 0 or stdout == ""), what)
            ci.check(not err or args or stderr == err, what + ": more than one line")
    ci.check(not os.listdir(scratch + "/config"), "the settings were touched")


def step_serve(work, scratch):
    addresses = ci.server_address_list()
    if "127.0.0.1" not in (addresses or []):
        raise ci.Skipped("127.0.0.1 is not among the addresses %s" % addresses)
    os.makedirs(scratch + "/config/Harnwick")
    with open(scratch + "/file.bin", "wb") as f:
        f.write(os.urandom(3000))
    port, first = ci.free_udp_port(), ci.free_udp_port()
    with open(scratch + "/config/Harnwick/Wharfkeep.ini", "w") as f:
        f.write("[General]\nPort=%d\nOutPath=%s/\nnDefAddress=%d\nPortRange=%d\n"
                % (port, scratch, addresses.index("127.0.0.1") + 1, first))
    server = start(work, "wharfkeep", [], scratch, stdin=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 5
        while ci.udp_binds(port) != ["127.0.0.1"] and time.monotonic() < deadline:
            time.sleep(0.05)
        clients = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2)]
        answers = []
        for c in clients:
            c.settimeout(3)
            c.sendto(b"\0\1file.bin\0octet\0", ("127.0.0.1", port))
            data, source = c.recvfrom(600)
            answers.append((data[:4] if source[1] == first else data, source[1]))
        refusal = b"No data port is free in %d-%d" % (first, first)
        ci.check(answers == [(b"\0\3\0\1", first), (b"\0\5\0\0" + refusal + b"\0", port)],
                 "block 1 from the range's port, then the refusal: %r" % answers)
    finally:
        server.send_signal(signal.SIGTERM)
        _, output = server.communicate(timeout=10)
    print("server output:\n" + output)
    ci.check(output.startswith("Wharfkeep runs without a window: there is no display\n")
             and "failed: " + refusal.decode() + "\n" in output and server.returncode == 0,
             "the server's first line, refusal or status %s" % server.returncode)


if __name__ == "__main__":
    try:
        with tempfile.TemporaryDirectory(prefix="start-") as scratch:
            os.makedirs(scratch + "/config", exist_ok=True)
            {"usage": step_usage, "serve": step_serve}[sys.argv[1]](sys.argv[2], scratch)
    except ci.Skipped as e:
        print("SKIPPED: %s" % e)
        sys.exit(ci.SKIP)
    except (ci.Failed, OSError, subprocess.SubprocessError) as e:
        ci.check(False, str(e))
    sys.exit(1 if ci.failures else 0)
