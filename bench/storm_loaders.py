"""Emulated network boot loaders for the boot-storm bench (storm.py): each
asks for its files as the firmware does on the wire, from a UDP socket of
its own per request, and checks every byte it is sent. They run in one
event loop (run_storm); nothing here blocks."""

import random
import selectors
import socket
import struct
import time

HOST = "127.0.0.1"
OP_RRQ, OP_DATA, OP_ACK, OP_ERROR, OP_OACK = 1, 3, 4, 5, 6
# Large enough for any UDP datagram: what is larger than the block size
# asked for is seen whole and refused, never cut to fit.
BUFFER = 65536
# How often timers are looked at; PXELINUX's first resend comes at 110 ms.
TICK = 0.01


def request(name, options):
    fields = [name, "octet"] + [str(x) for pair in options for x in pair]
    return struct.pack("!H", OP_RRQ) + b"".join(f.encode() + b"\0" for f in fields)


def ack(block):
    return struct.pack("!HH", OP_ACK, block & 0xFFFF)


def error(code, text):
    return struct.pack("!HH", OP_ERROR, code) + text.encode() + b"\0"


def error_text(data):
    text = data[4:4 + 300].split(b"\0", 1)[0][:160].decode("latin-1")
    return "".join(c if " " <= c <= "~" else "?" for c in text)


def oack_problem(data, asked, size):
    """Why a boot loader that asked for `asked` refuses this OACK, or None;
    the options granted, in the second case."""
    fields = data[2:].split(b"\0")
    if len(fields) % 2 != 1 or fields[-1] != b"":
        return "malformed OACK", None
    granted = {}
    for key, value in zip(fields[0:-1:2], fields[1:-1:2]):
        key, value = key.decode("latin-1").lower(), value.decode("latin-1")
        if key not in asked:
            return "OACK grants %r, not asked for" % key[:20], None
        if key in granted or not value.isdigit() or len(value) > 10:
            return "OACK %s=%r" % (key, value[:20]), None
        granted[key] = int(value)
        if key == "tsize":
            if granted[key] != size:
                return "OACK tsize %d for a file of %d" % (granted[key], size), None
        elif not 1 <= granted[key] <= asked[key]:
            return "OACK %s %d, %d asked" % (key, granted[key], asked[key]), None
    return None, granted


class Step:
    """One request: `content` is what must arrive, None for a name that is
    not there; `probe` asks only for the size and aborts at the OACK."""

    def __init__(self, name, options, content, probe=False):
        self.name, self.options, self.content, self.probe = name, options, content, probe
        self.asked = dict(options)


class Profile:
    """A boot loader's requests and its resend rule: the k-th resend of a
    packet comes first * factor**k (at most cap) after the last; it gives up
    after `tries` sends of one packet, or after `budget` time-outs in all.
    `reack`: how it answers a block other than the next: "echo" acknowledges
    that block, "last" the last one in order, "once" the last one in order
    once per block, and only for an older block."""

    def __init__(self, key, first, factor, cap, tries, budget, reack, steps):
        self.key, self.name, self.steps = key, NAMES[key], steps
        self.first, self.factor, self.cap = first, factor, cap
        self.tries, self.budget, self.reack = tries, budget, reack

    def delay(self, k):
        return min(self.first * self.factor ** k, self.cap)


NAMES = {"uefi": "UEFI", "pxelinux": "PXELINUX", "uboot": "U-Boot"}


def profiles(files):
    """The three boot loaders by key; `files` maps names to contents. Each
    profile's steps(i) are the requests of its i-th machine."""
    # UEFI firmware asks for the size first and aborts at the OACK, then
    # fetches with a window; one fixed 4 s time-out, six tries.
    def uefi(_i):
        name = "efi/bootx64.efi"
        asked = [("blksize", 1468), ("windowsize", 4)]
        return [Step(name, [("tsize", 0)] + asked, files[name], probe=True),
                Step(name, asked, files[name])]

    # PXELINUX looks for its configuration by UUID, MAC address and ever
    # shorter hex prefixes of its IP address before the default, then loads
    # the kernel; lock-step, resends from 110 ms doubling.
    def pxelinux(i):
        asked = [("tsize", 0), ("blksize", 1408)]
        names = ["7e1f0c2a-3b4d-4c5e-8f60-%012x" % i,
                 "01-52-54-00-12-%02x-%02x" % (i >> 8 & 255, i & 255)]
        names += ["7F000001"[:k] for k in range(8, 0, -1)]
        steps = [Step("pxelinux.cfg/" + n, asked, None) for n in names]
        return steps + [Step(n, asked, files[n]) for n in ("pxelinux.cfg/default", "vmlinuz")]

    # U-Boot: lock-step, 5 s time-outs, ten of them over the whole transfer.
    def uboot(_i):
        return [Step("uImage", [("blksize", 1468), ("timeout", 5)], files["uImage"])]

    return {
        "uefi": Profile("uefi", 4.0, 1, 4.0, 6, None, "last", uefi),
        "pxelinux": Profile("pxelinux", 0.11, 2, 3.0, 12, None, "echo", pxelinux),
        "uboot": Profile("uboot", 5.0, 1, 5.0, None, 10, "once", uboot),
    }


def files_for(seed):
    """What the root folder holds, the same for every server."""
    rng = random.Random(seed)
    return {"efi/bootx64.efi": rng.randbytes(1 << 20), "vmlinuz": rng.randbytes(4 << 20),
            "uImage": rng.randbytes(4 << 20),
            "pxelinux.cfg/default": b"DEFAULT linux\nLABEL linux\n  KERNEL vmlinuz\n"
                                    b"  APPEND console=ttyS0 quiet\n"}


class Loader:
    """One booting machine; state "waiting", "running", "booted" or
    "failed". `wrong` tells it was sent bytes that differ from the file."""

    def __init__(self, profile, index, port, start_at, loss, seed, selector, limit):
        self.p, self.steps, self.port, self.sel = profile, profile.steps(index), port, selector
        self.start_at, self.limit = start_at, limit
        self.rng = random.Random("%d/%s/%d" % (seed, profile.name, index))
        self.loss = loss / 100.0
        self.state, self.sock, self.reason, self.wrong = "waiting", None, None, False
        self.errors = []
        self.timeouts = 0

    def start(self, now):
        self.began, self.deadline = now, now + self.limit
        self.state, self.index = "running", -1
        self.next_step(now)

    def next_step(self, now):
        self.close()
        self.index += 1
        if self.index == len(self.steps):
            self.state, self.ended = "booted", now
            return
        self.step = self.steps[self.index]
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((HOST, 0))
        self.sock.setblocking(False)
        self.sel.register(self.sock, selectors.EVENT_READ, self)
        self.tid, self.dest = None, (HOST, self.port)
        self.asking, self.got, self.acked, self.reacked = True, 0, 0, -1
        self.blksize, self.window = 512, 1
        self.send(request(self.step.name, self.step.options), now)

    def close(self):
        if self.sock:
            self.sel.unregister(self.sock)
            self.sock.close()
            self.sock = None

    def fail(self, reason, now):
        self.close()
        self.state, self.reason, self.ended = "failed", reason, now

    def send(self, packet, now, fresh=True):
        """Sends `packet`, the one a time-out resends; a fresh one starts
        the clock again."""
        self.last = packet
        if fresh:
            self.tries, self.timer = 1, now + self.p.delay(0)
        if not self.loss or self.rng.random() >= self.loss:
            try:
                self.sock.sendto(packet, self.dest)
            except OSError:
                pass

    def on_timer(self, now):
        if now >= self.deadline:
            return self.fail("no boot in %d s" % self.limit, now)
        self.timeouts += 1
        if self.p.budget and self.timeouts >= self.p.budget:
            return self.fail("gave up after %d time-outs" % self.timeouts, now)
        if self.p.tries and self.tries >= self.p.tries:
            if self.step.content is None:
                return self.next_step(now)  # no answer: not there either
            return self.fail("%d sends unanswered (%s)" % (
                self.tries, "request" if self.asking else "block %d" % self.got), now)
        self.timer = now + self.p.delay(self.tries)
        self.tries += 1
        self.send(self.last, now, fresh=False)

    def on_datagram(self, data, addr, now):
        if len(data) < 4 or addr[0] != HOST or (self.loss and self.rng.random() < self.loss):
            return
        if self.tid is None:
            self.tid = self.dest = addr
        elif addr != self.tid:
            return  # another transfer's port: no business of this one
        op, block = struct.unpack_from("!HH", data)
        if op == OP_ERROR:
            # Texts that name the file count as one text.
            self.errors.append(error_text(data).replace(self.step.name, "<name>"))
            if self.step.content is None:
                return self.next_step(now)  # "not there": the next name
            return self.fail("ERROR " + self.errors[-1], now)
        if op not in (OP_OACK, OP_DATA):
            return
        if self.step.content is None:
            return self.fail("%s answered with a file" % self.step.name, now)
        if op == OP_OACK:
            return self.on_oack(data, now)
        if self.asking and self.step.probe:
            return self.fail("DATA where only the size was asked", now)
        self.asking = False  # options ignored: RFC 1350 block size, lock-step
        self.on_data(block, data, now)

    def on_oack(self, data, now):
        if not self.asking:
            if self.got == 0:
                self.repeated(0, now)  # our ACK 0 was lost
            return
        problem, granted = oack_problem(data, self.step.asked, len(self.step.content))
        if problem:
            return self.fail(problem, now)
        if self.step.probe:
            self.send(error(8, "User aborted the transfer"), now)
            return self.next_step(now)
        self.asking = False
        self.blksize = granted.get("blksize", 512)
        self.window = granted.get("windowsize", 1)
        self.send(ack(0), now)

    def on_data(self, block, data, now):
        if block != (self.got + 1) & 0xFFFF:
            return self.repeated(block, now)
        size = len(data) - 4
        offset = self.got * self.blksize
        content = self.step.content
        if size > self.blksize or data[4:] != content[offset:offset + size] or (
                size < self.blksize and offset + size != len(content)):
            self.wrong = True
            return self.fail("wrong bytes in %s block %d" % (self.step.name, block), now)
        self.got += 1
        if size < self.blksize:
            self.send(ack(self.got), now)
            return self.next_step(now)
        if self.got - self.acked >= self.window:
            self.acked = self.got
            self.send(ack(self.got), now)
        else:
            self.timer, self.tries = now + self.p.delay(0), 1  # progress restarts the clock

    def repeated(self, block, now):
        """A block other than the next one (or the OACK again, as block 0)."""
        if self.p.reack == "echo":
            return self.send(ack(block), now, fresh=False)
        if self.p.reack == "once":
            if (self.got - block) & 0xFFFF > 0x7FFF or self.reacked == self.got:
                return  # newer than the last in order, or already answered
            self.reacked = self.got
        # The server's next window starts after whatever was acknowledged.
        self.acked = self.got
        self.send(ack(self.got), now, fresh=False)


def run_storm(groups, loss, seed, limit):
    """Boots, for each (profile, n, port) of `groups`, n loaders of that
    profile against 127.0.0.1:port, started at the same seeded moments within
    one second for every group; returns the start and each group's loaders,
    all ended."""
    sel = selectors.DefaultSelector()
    t0 = time.monotonic()
    starts = random.Random(seed)
    moments = [starts.random() for _ in range(max([n for _, n, _ in groups] + [0]))]
    groups = [[Loader(profile, i, port, t0 + moments[i], loss, seed, sel, limit)
               for i in range(n)] for profile, n, port in groups]
    waiting = sorted((x for g in groups for x in g), key=lambda x: x.start_at)
    live = []
    scanned = 0.0
    try:
        while waiting or live:
            for key, _ in sel.select(TICK):
                loader = key.data
                for _ in range(64):
                    if loader.sock is not key.fileobj:
                        break  # it moved on to its next request
                    try:
                        data, addr = key.fileobj.recvfrom(BUFFER)
                    except OSError:
                        break
                    loader.on_datagram(data, addr, time.monotonic())
            now = time.monotonic()
            while waiting and waiting[0].start_at <= now:
                live.append(waiting.pop(0))
                live[-1].start(now)
            if now - scanned >= TICK:
                scanned = now
                for loader in live:
                    if loader.state == "running" and (now >= loader.timer or
                                                      now >= loader.deadline):
                        loader.on_timer(now)
                live = [x for x in live if x.state == "running"]
    finally:
        for loader in (x for g in groups for x in g):
            loader.close()
        sel.close()
    return t0, groups

