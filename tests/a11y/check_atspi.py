"""What a screen reader learns of both main windows over AT-SPI: every
control has a name, and the client's status line speaks its text, also after
a fetch driven through AT-SPI alone.

    check_atspi.py SKIFFER WHARFKEEP SKIFFER_BENCH

Runs on a display (tests/support/run-under-x.sh) on a session bus of its own.
Exit 77 is a skip (no session bus, no AT-SPI bus or bindings)."""

import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import wharfkeep_settings  # noqa: E402  (the settings the benchmarks serve with)


def skip(reason):
    print("skipped: " + reason, file=sys.stderr)
    sys.exit(77)


def atspi():
    """The AT-SPI library once its bus answers: asking for the bus's address
    starts it, and Qt only speaks to a bus that is already there."""
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, Gio, GLib
        Gio.bus_get_sync(Gio.BusType.SESSION, None).call_sync(
            "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
            GLib.VariantType.new("(s)"), Gio.DBusCallFlags.NONE, 5000, None)
    except (ImportError, ValueError, GLib.Error) as e:
        skip("no AT-SPI bindings or bus: %s" % e)
    Atspi.set_timeout(5000, 10000)  # a hung program must not hang the test
    return Atspi


def until(what, probe, seconds=10):
    deadline = time.monotonic() + seconds
    while not (value := probe()):
        if time.monotonic() > deadline:
            raise AssertionError("after %d s: %s" % (seconds, what))
        time.sleep(0.1)
    return value


def start(args, running, **kw):
    running.append(subprocess.Popen(args, stdin=subprocess.DEVNULL, preexec_fn=lambda: ctypes.CDLL(
        None).prctl(1, signal.SIGTERM), **kw))  # PR_SET_PDEATHSIG: never outlives the test
    return running[-1]


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def walk(node, path=""):
    for i in range(node.get_child_count()):
        if child := node.get_child_at_index(i):
            here = "%s/%s[%d]" % (path, child.get_role_name(), i)
            yield here, child
            yield from walk(child, here)


def frame_of(Atspi, pid, title):
    def find():
        desktop = Atspi.get_desktop(0)
        for app in filter(None, map(desktop.get_child_at_index, range(desktop.get_child_count()))):
            if app.get_process_id() == pid:
                for _, node in walk(app):
                    if node.get_role() == Atspi.Role.FRAME and node.get_name().endswith(title):
                        return node
    return until("no frame '%s' over AT-SPI" % title, find)


def checked_frame(Atspi, pid, title):
    """The frame, once no control in it is known by its role alone."""
    frame = frame_of(Atspi, pid, title)
    structure = (Atspi.Role.FILLER, Atspi.Role.SEPARATOR)
    unnamed = [path for path, node in walk(frame)
               if node.get_role() not in structure and not node.get_name().strip()]
    assert not unnamed, "%s: controls without a name: %s" % (title, ", ".join(unnamed))
    return frame


def find(frame, role, name):
    return next(n for _, n in walk(frame) if n.get_role() == role and n.get_name().startswith(name))


def check_client(Atspi, skiffer, position, work, running):
    os.makedirs(work + "/served")
    os.makedirs(work + "/in")
    content = os.urandom(3000)
    with open(work + "/served/a11y.bin", "wb") as f:
        f.write(content)
    with open(work + "/skiffer.ini", "w") as f:
        f.write("[Options]\nInbound=%s/in/\nDefault IP=%d\n" % (work, position))
    port = free_port()
    start(["/usr/sbin/in.tftpd", "-L", "-s", work + "/served", "-a", "127.0.0.1:%d" % port]
          + (["-u", "root"] if os.geteuid() == 0 else []), running)
    client = start([skiffer], running, cwd=work, env=dict(
        os.environ, XDG_CONFIG_HOME=work, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
    frame = checked_frame(Atspi, client.pid, "Skiffer")
    status = find(frame, Atspi.Role.LABEL, "Status")
    assert status.get_name() == "Status: Press F1 for Help", status.get_name()
    for name, text in (("Host", "127.0.0.1"), ("Port", str(port)), ("Local File", "a11y.bin"),
                       ("Remote File", "a11y.bin")):
        Atspi.EditableText.set_text_contents(find(frame, Atspi.Role.TEXT, name), text)
    Atspi.Action.do_action(find(frame, Atspi.Role.PUSH_BUTTON, "Fetch"), 0)
    done = "Received 3000 bytes (6 blocks) - Done"
    until("the status line to say '%s'" % done,
          lambda: status.clear_cache() or status.get_name() == "Status: " + done)
    assert status.get_description() == done, status.get_description()
    with open(work + "/in/a11y.bin", "rb") as f:
        assert f.read() == content, "the fetched file differs from the served one"


def check_server(Atspi, wharfkeep, position, work, running):
    port = free_port()
    config = wharfkeep_settings.write_config(work + "/server", port, work, work, position)
    server = start([wharfkeep], running, cwd=work, env=dict(
        os.environ, XDG_CONFIG_HOME=config, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
    frame = checked_frame(Atspi, server.pid, "127.0.0.1.%d - Wharfkeep" % port)
    buttons = [n.get_name() for _, n in walk(find(frame, Atspi.Role.TOOL_BAR, ""))
               if n.get_role() == Atspi.Role.PUSH_BUTTON]
    assert buttons == ["About", "What's This", "Stop Serving", "Start Serving"], buttons
    status = find(frame, Atspi.Role.LABEL, "Status")
    assert status.get_name() == "Status: For Help, press F1 For the meaning of life, press Fz"


def main(skiffer, wharfkeep, bench):
    if os.environ.get("A11Y_ON_BUS") != "1":  # again, on a session bus of its own
        if not shutil.which("dbus-run-session"):
            skip("dbus-run-session is not installed")
        env = dict(os.environ, A11Y_ON_BUS="1")
        return subprocess.run(["dbus-run-session", "--", sys.executable] + sys.argv,
                              env=env).returncode
    Atspi = atspi()
    # Where 127.0.0.1 stands in the host's address list, for both programs.
    position = int(subprocess.run([bench, "--loopback-position"], capture_output=True,
                                  text=True, timeout=30).stdout)
    for check, program in ((check_client, skiffer), (check_server, wharfkeep)):
        running = []
        with tempfile.TemporaryDirectory(prefix="a11y.") as work:
            try:
                check(Atspi, program, position, work, running)
            finally:
                for p in reversed(running):
                    p.terminate()
                    p.wait(5)
    print("every control named; the status line read after a fetch")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
