#!/usr/bin/env python3
"""The installed programs started as over ssh or from a script: no display
variables, only a home and a settings folder.

  usage WORK   --help and --version at once and without touching the
               settings; an unknown argument gets the usage and status 2;
               the client without a display says so and ends with 1
  serve WORK   the server says first that it runs without a window, listens
               within 5 s, and takes its transfers' ports from PortRange,
               refusing the one too many from the listening port
  display WORK DISPLAY set to displays that do not answer (no server of
               that number, a loopback port that accepts and stays silent,
               one where nothing listens): the server serves without a
               window and says why, the client says it cannot open the
               display and ends with 1, both within a few seconds; on a
               real display (Xvfb, when installed) both open their windows

WORK is the tree of check_install.py's install-tree step.
"""

import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import check_install as ci


def start(work, name, args, scratch, display=None, **kw):
    env = {"HOME": scratch, "XDG_CONFIG_HOME": scratch + "/config"}
    if display:
        env.update(DISPLAY=display, XDG_RUNTIME_DIR=scratch + "/runtime")
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
    with open(scratch + "/file.bin", "wb") as f:
        f.write(os.urandom(3000))
    first = ci.free_udp_port()
    port = loopback_settings(scratch, first)
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


def loopback_settings(scratch, first=None):
    """A settings file serving scratch on a free port of 127.0.0.1; the port."""
    addresses = ci.server_address_list()
    if "127.0.0.1" not in (addresses or []):
        raise ci.Skipped("127.0.0.1 is not among the addresses %s" % addresses)
    os.makedirs(scratch + "/config/Harnwick", exist_ok=True)
    port = ci.free_udp_port()
    with open(scratch + "/config/Harnwick/Wharfkeep.ini", "w") as f:
        f.write("[General]\nPort=%d\nOutPath=%s/\nnDefAddress=%d\n"
                % (port, scratch, addresses.index("127.0.0.1") + 1)
                + ("PortRange=%d\n" % first if first else ""))
    return port


def unserved_display(taken):
    """A display number with no X socket, its TCP port held bound but not
    listening, so that a connection there is refused."""
    with open("/proc/net/unix") as f:
        sockets = f.read()
    for number in range(97, 200):
        path = "/tmp/.X11-unix/X%d" % number
        if number in taken or os.path.exists(path) or ("@" + path + "\n") in sockets:
            continue
        held = socket.socket()
        try:
            held.bind(("127.0.0.1", 6000 + number))
            return number, held
        except OSError:
            held.close()
    raise ci.Skipped("no display number from 97 to 199 is free")


def xvfb_display():
    """An Xvfb of the test's own and its display, once it is ready; or None."""
    if not shutil.which("Xvfb"):
        print("Xvfb is not installed: the case of a display that answers is left out")
        return None, None
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, preexec_fn=ci.die_with_parent)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        number = numbers.readline().strip() if select.select([numbers], [], [], 20)[0] else ""
    ci.check(number, "Xvfb did not start within 20 s")
    return xvfb, number and ":" + number


def serves(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as c:
        c.settimeout(3)
        c.sendto(b"\0\1file.bin\0octet\0", ("127.0.0.1", port))
        return c.recvfrom(600)[0][:4] == b"\0\3\0\1"


def step_display(work, scratch):
    with open(scratch + "/file.bin", "wb") as f:
        f.write(os.urandom(700))
    port = loopback_settings(scratch)
    os.makedirs(scratch + "/runtime", mode=0o700)
    refused, refused_port = unserved_display(())
    silent, silent_port = unserved_display((refused,))
    silent_port.listen(8)
    silent_port.settimeout(0.2)
    stop, accepted = threading.Event(), []

    def accept_and_keep_quiet():
        while not stop.is_set():
            try:
                accepted.append(silent_port.accept()[0])
            except socket.timeout:
                pass

    listener = threading.Thread(target=accept_and_keep_quiet)
    listener.start()
    xvfb, real = xvfb_display()
    try:
        for display, answers in ((":%d" % refused, False), ("127.0.0.1:%d" % refused, False),
                                 ("127.0.0.1:%d.0" % silent, False), (real, True)):
            if display:
                both_programs_on(work, scratch, port, display, answers)
    finally:
        stop.set()
        listener.join()
        for s in accepted + [refused_port, silent_port]:
            s.close()
        if xvfb:
            xvfb.terminate()
            xvfb.wait(10)


def both_programs_on(work, scratch, port, display, answers):
    # The display is given a second; Qt's start and the settings take less.
    for name in ("skiffer", "wharfkeep"):
        began = time.monotonic()
        program = start(work, name, ["--no-splash"] if name == "wharfkeep" else [], scratch,
                        display, stdin=subprocess.DEVNULL)
        try:
            if name == "wharfkeep":
                while ci.udp_binds(port) != ["127.0.0.1"] and time.monotonic() < began + 5:
                    time.sleep(0.05)
                ci.check(serves(port), "wharfkeep on %s does not serve" % display)
            else:
                program.wait(3)
        except subprocess.TimeoutExpired:
            pass  # the client's window is open
        finally:
            took = time.monotonic() - began
            ended = program.poll() is not None
            program.send_signal(signal.SIGTERM)
            _, output = program.communicate(timeout=10)
        print("%s on %s after %.1f s: %r" % (name, display, took, output))
        if answers:
            ci.check(not ended and "without a window" not in output and "cannot" not in output,
                     "%s on %s, which answers, has no window" % (name, display))
        elif name == "skiffer":
            ci.check(ended and took < 3 and program.returncode == 1 and output ==
                     "skiffer cannot open the display %s: it does not answer\n" % display,
                     "skiffer on %s: status %s" % (display, program.returncode))
        else:
            ci.check(took < 3 and program.returncode == 0 and output.startswith(
                "Wharfkeep runs without a window: the display %s does not answer\n" % display),
                "wharfkeep on %s: status %s" % (display, program.returncode))


if __name__ == "__main__":
    try:
        with tempfile.TemporaryDirectory(prefix="start-") as scratch:
            os.makedirs(scratch + "/config", exist_ok=True)
            steps = {"usage": step_usage, "serve": step_serve, "display": step_display}
            steps[sys.argv[1]](sys.argv[2], scratch)
    except ci.Skipped as e:
        print("SKIPPED: %s" % e)
        sys.exit(ci.SKIP)
    except (ci.Failed, OSError, subprocess.SubprocessError) as e:
        ci.check(False, str(e))
    sys.exit(1 if ci.failures else 0)
