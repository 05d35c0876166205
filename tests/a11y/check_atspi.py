"""What a screen reader learns of both programs' main windows, read over
AT-SPI as Orca reads it: every control has a name, and the client's status
line speaks its text, before and after a fetch driven through AT-SPI alone.

    check_atspi.py SKIFFER WHARFKEEP SKIFFER_BENCH

Runs on a display (tests/support/run-under-x.sh) and starts a session bus of
its own. Exit 77 is a skip (no session bus, no AT-SPI bus or bindings)."""

import ctypes
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77
PR_SET_PDEATHSIG = 1
WAIT = 10  # seconds for anything a window or a server should do at once
TFTPD = "/usr/sbin/in.tftpd"
# The texts the windows show; the status line's name says what it is first.
IDLE_PROMPT = "Press F1 for Help"
SERVER_PROMPT = "For Help, press F1 For the meaning of life, press Fz"
FILE_BYTES = 3000  # five blocks of 512 and one of 440
DONE = "Received %d bytes (6 blocks) - Done" % FILE_BYTES
TOOL_BUTTONS = ["About", "What's This", "Stop Serving", "Start Serving"]

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import wharfkeep_settings  # noqa: E402  (the settings the benchmarks start the server with)


def skip(reason):
    print("skipped: " + reason, file=sys.stderr)
    sys.exit(SKIP)


def session_bus():
    """Runs this script again on a D-Bus session bus of its own."""
    if os.environ.get("A11Y_CHECK_ON_BUS") == "1":
        return
    runner = shutil.which("dbus-run-session")
    if not runner:
        skip("dbus-run-session is not installed")
    env = dict(os.environ, A11Y_CHECK_ON_BUS="1")
    sys.exit(subprocess.run([runner, "--", sys.executable] + sys.argv, env=env).returncode)


def atspi():
    """The AT-SPI client library, once the AT-SPI bus answers. Asking for its
    address also starts it, before Qt looks for it."""
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, Gio, GLib
    except (ImportError, ValueError) as e:
        skip("no AT-SPI bindings (gir1.2-atspi-2.0, python3-gi): %s" % e)
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                      GLib.VariantType.new("(s)"), Gio.DBusCallFlags.NONE, 5000, None)
    except GLib.Error as e:
        skip("the AT-SPI bus cannot be reached: %s" % e.message)
    # No call to a program that hangs may block the test for long.
    Atspi.set_timeout(5000, 10000)
    return Atspi


def until(what, probe, seconds=WAIT):
    """Polls `probe` until it returns something true; fails after `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("after %d s: %s" % (seconds, what))
        time.sleep(0.1)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers_tftp(port):
    """True once a TFTP server on 127.0.0.1:port answers a read request."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.2)
        s.sendto(struct.pack("!H", 1) + b"no-such-probe\0octet\0", ("127.0.0.1", port))
        try:
            return bool(s.recvfrom(600)[0])
        except OSError:
            return False


class Programs:
    """The programs a check starts, ended at its end whatever happens."""

    def __init__(self):
        self.running = []

    def start(self, args, **kwargs):
        # Each goes with this script too, should the test be killed.
        def die_with_parent():
            ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
        p = subprocess.Popen(args, stdin=subprocess.DEVNULL, preexec_fn=die_with_parent,
                             **kwargs)
        self.running.append(p)
        return p

    def end(self):
        for p in reversed(self.running):
            p.terminate()
            try:
                p.wait(3)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(3)


class Reader:
    """One program's accessibility tree as AT-SPI gives it."""

    def __init__(self, Atspi, pid):
        self.Atspi = Atspi
        self.pid = pid

    def frame(self, title):
        """The program's top-level frame whose name ends with `title`."""
        def find():
            desktop = self.Atspi.get_desktop(0)
            for i in range(desktop.get_child_count()):
                app = desktop.get_child_at_index(i)
                if not app or app.get_process_id() != self.pid:
                    continue
                for k in range(app.get_child_count()):
                    child = app.get_child_at_index(k)
                    if child and child.get_role() == self.Atspi.Role.FRAME and \
                            child.get_name().endswith(title):
                        return child
            return None
        return until("no frame '%s' of process %d over AT-SPI" % (title, self.pid), find)

    def walk(self, node, path=""):
        """Every object under `node`, shown or not, with its path."""
        for i in range(node.get_child_count()):
            child = node.get_child_at_index(i)
            if not child:
                continue
            here = "%s/%s[%d]" % (path, child.get_role_name(), i)
            yield here, child
            yield from self.walk(child, here)

    def unnamed(self, frame):
        """The controls a screen reader could only call by their role. Fillers
        and separators are structure, not controls."""
        structure = (self.Atspi.Role.FILLER, self.Atspi.Role.SEPARATOR)
        return [path for path, node in self.walk(frame)
                if node.get_role() not in structure and not node.get_name().strip()]

    def find(self, frame, role, test):
        for _, node in self.walk(frame):
            if node.get_role() == role and test(node.get_name()):
                return node
        raise AssertionError("no %s matching under '%s'" % (role.value_nick, frame.get_name()))


def check_client(Atspi, skiffer, bench, work):
    programs = Programs()
    try:
        served = os.path.join(work, "served")
        inbound = os.path.join(work, "in")
        config = os.path.join(work, "client-config")
        for d in (served, inbound, config):
            os.makedirs(d)
        os.chmod(served, 0o755)
        content = os.urandom(FILE_BYTES)
        with open(os.path.join(served, "a11y.bin"), "wb") as f:
            f.write(content)
        os.chmod(os.path.join(served, "a11y.bin"), 0o644)
        position = loopback_position(bench)
        with open(os.path.join(config, "skiffer.ini"), "w") as f:
            f.write("[Options]\nInbound=%s/\nDefault IP=%d\n" % (inbound, position))

        port = free_udp_port()
        tftpd = [TFTPD, "-L", "-s", served, "-a", "127.0.0.1:%d" % port]
        if os.geteuid() == 0:
            tftpd += ["-u", "root"]
        server = programs.start(tftpd)
        until("in.tftpd answering on 127.0.0.1:%d" % port,
              lambda: server.poll() is None and answers_tftp(port))

        client = programs.start([skiffer], cwd=work, env=dict(
            os.environ, XDG_CONFIG_HOME=config, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        reader = Reader(Atspi, client.pid)
        frame = reader.frame("Skiffer")
        missing = reader.unnamed(frame)
        assert not missing, "skiffer: controls without a name: %s" % ", ".join(missing)

        status = reader.find(frame, Atspi.Role.LABEL, lambda n: n.startswith("Status"))
        assert (status.get_name(), status.get_description()) == \
            ("Status: " + IDLE_PROMPT, IDLE_PROMPT), (status.get_name(), status.get_description())
        clock = reader.find(frame, Atspi.Role.LABEL, lambda n: n.startswith("Time"))
        assert any(c.isdigit() for c in clock.get_name()), clock.get_name()

        # The form filled in and Fetch pressed as a screen reader user does.
        for name, text in (("Host", "127.0.0.1"), ("Port", str(port)),
                           ("Local File", "a11y.bin"), ("Remote File", "a11y.bin")):
            field = reader.find(frame, Atspi.Role.TEXT, lambda n, name=name: n == name)
            Atspi.EditableText.set_text_contents(field, text)
        fetch = reader.find(frame, Atspi.Role.PUSH_BUTTON, lambda n: n == "Fetch")
        Atspi.Action.do_action(fetch, 0)

        def finished():
            status.clear_cache()
            return "Done" in status.get_name() or "rror" in status.get_name()
        until("the status line saying the fetch ended (it says '%s')" % status.get_name(),
              finished)
        assert (status.get_name(), status.get_description()) == ("Status: " + DONE, DONE), \
            (status.get_name(), status.get_description())
        with open(os.path.join(inbound, "a11y.bin"), "rb") as f:
            assert f.read() == content, "the fetched file differs from the served one"
        print("skiffer: every control named; the status line says '%s'" % status.get_name())
    finally:
        programs.end()


def check_server(Atspi, wharfkeep, bench, work):
    programs = Programs()
    try:
        folder = os.path.join(work, "files")
        os.makedirs(folder)
        port = free_udp_port()
        config = wharfkeep_settings.write_config(os.path.join(work, "server-config"), port,
                                                 folder, folder, loopback_position(bench))
        server = programs.start([wharfkeep], cwd=work, env=dict(
            os.environ, XDG_CONFIG_HOME=config, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        until("wharfkeep answering on 127.0.0.1:%d" % port,
              lambda: server.poll() is None and answers_tftp(port))
        reader = Reader(Atspi, server.pid)
        frame = reader.frame("127.0.0.1.%d - Wharfkeep" % port)
        missing = reader.unnamed(frame)
        assert not missing, "wharfkeep: controls without a name: %s" % ", ".join(missing)

        toolbar = reader.find(frame, Atspi.Role.TOOL_BAR, lambda n: True)
        buttons = [node.get_name() for _, node in reader.walk(toolbar)
                   if node.get_role() == Atspi.Role.PUSH_BUTTON]
        assert buttons == TOOL_BUTTONS, buttons
        status = reader.find(frame, Atspi.Role.LABEL, lambda n: n.startswith("Status"))
        assert status.get_name() == "Status: " + SERVER_PROMPT, status.get_name()
        print("wharfkeep: every control named; toolbar: %s" % ", ".join(buttons))
    finally:
        programs.end()


def loopback_position(bench):
    """Where 127.0.0.1 stands in the host's address list, which both
    programs read their default address from."""
    out = subprocess.run([bench, "--loopback-position"], capture_output=True, text=True,
                         timeout=30).stdout.strip()
    assert out.isdigit() and out != "0", "127.0.0.1 is not among the host's addresses"
    return int(out)


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    session_bus()
    Atspi = atspi()
    skiffer, wharfkeep, bench = sys.argv[1:]
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="a11y.") as work:
        check_client(Atspi, skiffer, bench, work)
        check_server(Atspi, wharfkeep, bench, work)
    print("%.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
