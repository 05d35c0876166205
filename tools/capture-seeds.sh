#!/usr/bin/env bash
# Makes the fuzzers' seed corpus (fuzz/corpus/<target>/) from real packets:
#  - curl, tftp-hpa (tftp), atftp and busybox tftp fetch and send files with a
#    small TFTP server of this script on 127.0.0.1 and a port the system
#    picks (never 69). The server answers as Wharfkeep does (same options,
#    same folder contents as the fuzz folder), and every datagram the client
#    sends is kept: its request seeds fuzz_request and fuzz_admission, the
#    request with what followed (ACKs or DATA) seeds fuzz_session.
#  - tftpd-hpa (in.tftpd, in the foreground on another loopback port) answers
#    requests laid out as Skiffer lays them out; its answers (OACK, DATA,
#    ACK, ERROR) seed fuzz_client.
# A few crafted sequences (errors, repeats, strangers, odd options) are added.
# Each client runs under `timeout`, every wait has a time limit and every loop
# a bound. Run it again only to renew the corpus; the files are committed.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in python3 curl tftp atftp busybox timeout /usr/sbin/in.tftpd; do
    command -v "$tool" >/dev/null || { echo "capture-seeds: $tool is missing" >&2; exit 1; }
done
exec python3 - "$PWD/fuzz/corpus" <<'PY'
import os, shutil, socket, subprocess, sys, tempfile, time

CORPUS = sys.argv[1]
SIZES = {"small.txt": 100, "block.bin": 512, "multi.bin": 1500, "empty": 0}
MAX_PACKETS = 40          # client datagrams kept per run
WAIT = 3.0                # seconds any one datagram is waited for


def content(name):
    if name == "small.txt":
        text = b""
        while len(text) < 100:
            text += b"line of text\r\nbare\n"
        return text[:100]
    return bytes((i * 7 + (i >> 8)) & 0xFF for i in range(SIZES.get(name, 1500)))


def word(n):
    return n.to_bytes(2, "big")


def rec(control, data):
    return bytes([control]) + len(data).to_bytes(2, "big") + data


def options(request):
    """The request's name, mode and options (lower-case names)."""
    parts = request[2:].split(b"\0")
    name, mode = parts[0].decode("latin-1"), parts[1].lower() if len(parts) > 1 else b""
    opts = {}
    for i in range(2, len(parts) - 1, 2):
        if parts[i]:
            opts[parts[i].lower().decode("latin-1")] = parts[i + 1]
    return name, mode, opts


def serve(listen, request, peer):
    """Answers one request as Wharfkeep would; returns the client's datagrams."""
    kept = []
    name, mode, opts = options(request)
    reading = request[1] == 1
    tid = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    tid.bind(("127.0.0.1", 0))
    tid.settimeout(WAIT)
    try:
        blksize, oack = 512, b""
        if reading and "tsize" in opts:
            oack += b"tsize\0" + str(SIZES.get(name, 1500)).encode() + b"\0"
        if opts.get("timeout", b"").isdigit() and 1 <= int(opts["timeout"]) <= 255:
            oack += b"timeout\0" + opts["timeout"] + b"\0"
        if opts.get("blksize", b"").isdigit() and int(opts["blksize"]) >= 8:
            blksize = min(int(opts["blksize"]), 65464)
            oack += b"blksize\0" + str(blksize).encode() + b"\0"
        if not reading and b"blksize" not in oack and b"timeout" not in oack:
            oack = b""

        def exchange(packet, accept):
            """Sends packet until the client answers with what accept takes."""
            for _ in range(4):
                tid.sendto(packet, peer)
                deadline = time.time() + WAIT
                while time.time() < deadline and len(kept) < MAX_PACKETS:
                    try:
                        data, source = tid.recvfrom(70000)
                    except socket.timeout:
                        break
                    if source != peer:
                        continue
                    kept.append(data)
                    if data[:2] == b"\0\5":
                        return None
                    if accept(data):
                        return data
            return None

        if reading:
            data = content(name)
            if oack and exchange(b"\0\6" + oack, lambda d: d[:4] == b"\0\4\0\0") is None:
                return kept
            block = 1
            while True:
                chunk = data[(block - 1) * blksize:block * blksize]
                if exchange(b"\0\3" + word(block & 0xFFFF) + chunk,
                            lambda d, b=block: d[:4] == b"\0\4" + word(b & 0xFFFF)) is None:
                    break
                if len(chunk) < blksize or block > 200:
                    break
                block += 1
        else:
            first = b"\0\6" + oack if oack else b"\0\4\0\0"
            answer = exchange(first, lambda d: d[:4] == b"\0\3\0\1")
            block = 1
            while answer is not None and block <= 200:
                if len(answer) < blksize + 4:
                    tid.sendto(b"\0\4" + word(block & 0xFFFF), peer)
                    break
                block += 1
                answer = exchange(b"\0\4" + word((block - 1) & 0xFFFF),
                                  lambda d, b=block: d[:4] == b"\0\3" + word(b & 0xFFFF))
        return kept
    finally:
        tid.close()


def capture_client(argv, cwd):
    """Runs one client against this script's server; its request and datagrams."""
    listen = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listen.bind(("127.0.0.1", 0))
    port = listen.getsockname()[1]
    assert port != 69
    listen.settimeout(5)
    argv = [a.replace("PORT", str(port)) for a in argv]
    proc = subprocess.Popen(["timeout", "20"] + argv, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        try:
            request, peer = listen.recvfrom(2048)
        except socket.timeout:
            return None, []
        return request, serve(listen, request, peer)
    finally:
        listen.close()
        try:
            proc.wait(timeout=25)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def tftpd_exchange(port, request, sending=None, ack_data=True):
    """Sends a request as Skiffer would to tftpd-hpa; the server's datagrams.
    sending: the bytes to send for a write request."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    s.settimeout(WAIT)
    answers = []
    try:
        s.sendto(request, ("127.0.0.1", port))
        blksize = 512
        _, _, opts = options(request)
        if "blksize" in opts:
            blksize = int(opts["blksize"])
        sent_block = 0
        for _ in range(MAX_PACKETS):
            try:
                data, server = s.recvfrom(70000)
            except socket.timeout:
                break
            answers.append(data)
            op = data[1]
            if op == 5:
                break
            if op == 6:
                parts = data[2:].split(b"\0")
                pairs = dict(zip(parts[0::2], parts[1::2]))
                blksize = int(pairs.get(b"blksize", b"512"))
                if sending is None:
                    s.sendto(b"\0\4\0\0", server)
                    continue
            if sending is None and op == 3:
                s.sendto(b"\0\4" + data[2:4], server)
                if len(data) < blksize + 4:
                    break
                continue
            if sending is not None and op in (4, 6):
                acked = 0 if op == 6 else int.from_bytes(data[2:4], "big")
                if acked != sent_block:
                    continue
                if sent_block * blksize > len(sending):
                    break
                chunk = sending[sent_block * blksize:(sent_block + 1) * blksize]
                sent_block += 1
                s.sendto(b"\0\3" + word(sent_block) + chunk, server)
        return answers
    finally:
        s.close()


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    work = tempfile.mkdtemp(prefix="capture-seeds-")
    try:
        for target in ("admission", "request", "session", "client"):
            shutil.rmtree(os.path.join(CORPUS, target), ignore_errors=True)
        for name in SIZES:
            with open(os.path.join(work, name), "wb") as f:
                f.write(content(name))
        url = "tftp://127.0.0.1:PORT/"
        clients = [
            ("curl-get-blksize1024", ["curl", "-sS", "--tftp-blksize", "1024", "-o", "got", url + "multi.bin"]),
            ("curl-get-default", ["curl", "-sS", "-o", "got", url + "block.bin"]),
            ("curl-get-netascii", ["curl", "-sS", "-o", "got", url + "small.txt;mode=netascii"]),
            ("curl-get-no-options", ["curl", "-sS", "--tftp-no-options", "-o", "got", url + "multi.bin"]),
            ("curl-put-blksize1428", ["curl", "-sS", "--tftp-blksize", "1428", "-T", "multi.bin", url + "upload.bin"]),
            ("curl-put-default", ["curl", "-sS", "-T", "small.txt", url + "upload.txt"]),
            ("tftp-hpa-get-binary", ["tftp", "127.0.0.1", "PORT", "-m", "binary", "-c", "get", "multi.bin", "got"]),
            ("tftp-hpa-get-ascii", ["tftp", "127.0.0.1", "PORT", "-m", "ascii", "-c", "get", "small.txt", "got"]),
            ("tftp-hpa-put-binary", ["tftp", "127.0.0.1", "PORT", "-m", "binary", "-c", "put", "multi.bin", "upload.bin"]),
            ("atftp-get-blksize1428-tsize", ["atftp", "--option", "blksize 1428", "--option", "tsize", "-g", "-r", "multi.bin", "-l", "got", "127.0.0.1", "PORT"]),
            ("atftp-get-timeout-netascii", ["atftp", "--option", "timeout 5", "--option", "mode netascii", "--option", "tsize 0", "-g", "-r", "small.txt", "-l", "got", "127.0.0.1", "PORT"]),
            ("atftp-put-blksize1024-timeout", ["atftp", "--option", "blksize 1024", "--option", "timeout 5", "-p", "-r", "upload.bin", "-l", "multi.bin", "127.0.0.1", "PORT"]),
            ("busybox-get-blksize1024", ["busybox", "tftp", "-g", "-r", "multi.bin", "-l", "got", "-b", "1024", "127.0.0.1", "PORT"]),
            ("busybox-put-default", ["busybox", "tftp", "-p", "-r", "upload.bin", "-l", "block.bin", "127.0.0.1", "PORT"]),
        ]
        requests = []
        for label, argv in clients:
            request, kept = capture_client(argv, work)
            if request is None:
                print(f"capture-seeds: {label}: no request came", file=sys.stderr)
                continue
            print(f"{label}: request {request!r}, {len(kept)} datagrams after it")
            requests.append((label, request))
            write("request", label, request)
            session = rec(0, request) + b"".join(rec(0, d) for d in kept)
            write("session", label, session)

        # Sessions: crafted trouble on top of a real request.
        rrq = dict(requests).get("curl-get-blksize1024", b"\0\1multi.bin\0octet\0blksize\x001024\0tsize\x000\0")
        wrq = dict(requests).get("tftp-hpa-put-binary", b"\0\2upload.bin\0octet\0")
        write("session", "crafted-read-error-midway", rec(0, rrq) + rec(0, b"\0\4\0\0") + rec(0, b"\0\5\0\0stop\0"))
        write("session", "crafted-read-stranger-and-repeat",
              rec(0, rrq) + rec(1, b"\0\4\0\0") + rec(0, b"\0\4\0\0") + rec(4, b"\0\4\0\0")
              + rec(3, rrq) + rec(8, b"") + rec(0, b"\0\4\0\1") + rec(0, b"\0\4\0\2"))
        write("session", "crafted-write-repeat-and-linger",
              rec(0, wrq) + rec(0, b"\0\3\0\1" + b"x" * 512) + rec(4, b"\0\3\0\1" + b"x" * 512)
              + rec(0, b"\0\3\0\2" + b"end") + rec(8, b"") + rec(0x10, b"\0\3\0\2" + b"end")
              + rec(3, wrq))
        write("session", "crafted-write-ahead-and-oversized",
              rec(0, wrq) + rec(0, b"\0\3\0\3" + b"y" * 10) + rec(0, b"\0\3\0\1" + b"z" * 600)
              + rec(2, b"\0\5\0\1no\0") + rec(0, b"\0\3\0\1" + b"ok"))

        # Admission: the real requests from five clients and more, repeats,
        # strangers, errors; then with the lists and the switch set.
        reqs = [r for _, r in requests]
        adm = b"".join(rec(i % 3, r) for i, r in enumerate(reqs[:3]))
        adm += rec(3, reqs[0]) + rec(4, reqs[1]) + rec(5, reqs[2]) + rec(6, reqs[0]) + rec(7, reqs[0])
        adm += rec(0x40, reqs[0]) + rec(0, b"\0\5\0\0bye\0") + rec(0x80, b"") + rec(1, reqs[3])
        write("admission", "real-requests-mixed-senders", b"\0" + adm)
        write("admission", "real-requests-lists", bytes([0x06]) + adm)
        write("admission", "real-requests-not-serving", bytes([0x01]) + adm)
        write("admission", "real-requests-forced-file", bytes([0x38]) + adm)
        to_session = rec(0, wrq) + rec(0x08, b"\0\3\0\1" + b"a" * 10) + rec(0x80, b"") + rec(0x38, b"\0\3\0\1" + b"a" * 10) + rec(0, wrq) + rec(0, reqs[0])
        write("admission", "real-write-then-linger", b"\0" + to_session)

        # Client: tftpd-hpa's answers to requests laid out as Skiffer does.
        served = tempfile.mkdtemp(prefix="capture-tftpd-", dir=work)
        with open(os.path.join(served, "remote.bin"), "wb") as f:
            f.write(content("multi.bin"))
        os.chmod(served, 0o777)
        os.chmod(os.path.join(served, "remote.bin"), 0o666)
        port = free_port()
        assert port != 69
        args = ["/usr/sbin/in.tftpd", "-L", "-a", f"127.0.0.1:{port}", "-s", served, "-c"]
        if os.geteuid() == 0:
            args += ["-u", "root"]
        server = subprocess.Popen(["timeout", "120"] + args, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(0.5)
            multi = content("multi.bin")
            runs = [
                # label, config byte, block size, request, bytes sent
                ("tftpd-fetch-octet-blksize1024", 0x02, 1024,
                 b"\0\1remote.bin\0octet\0tsize\x000\0blksize\x001024\0", None),
                ("tftpd-fetch-octet-default", 0x02, 512, b"\0\1remote.bin\0octet\0tsize\x000\0", None),
                ("tftpd-fetch-netascii-timeout", 0x04, 512,
                 b"\0\1remote.bin\0netascii\0tsize\x000\0timeout\x0010\0", None),
                ("tftpd-fetch-octet-timeout", 0x06, 512,
                 b"\0\1remote.bin\0octet\0tsize\x000\0timeout\x0010\0", None),
                ("tftpd-fetch-missing", 0x02, 512, b"\0\1missing.bin\0octet\0tsize\x000\0", None),
                ("tftpd-send-octet-blksize1024", 0x1B, 1024,
                 b"\0\2upload.bin\0octet\0blksize\x001024\0", multi),
                ("tftpd-send-octet-default", 0x1B, 512, b"\0\2upload2.bin\0octet\0", multi),
                ("tftpd-send-octet-timeout", 0x1F, 512,
                 b"\0\2upload3.bin\0octet\0timeout\x0010\0", multi),
            ]
            for label, config, blksize, request, sending in runs:
                answers = tftpd_exchange(port, request, sending)
                print(f"{label}: {len(answers)} datagrams from tftpd-hpa")
                header = bytes([config]) + blksize.to_bytes(2, "big")
                write("client", label, header + b"".join(rec(1, a) for a in answers))
        finally:
            server.terminate()
            try:
                server.wait(timeout=5)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()

        # Client: crafted answers no real server gives.
        write("client", "crafted-fetch-oack-lowered-then-stranger", b"\x02\x04\x00"
              + rec(1, b"\0\6blksize\x00600\0tsize\x00700\0") + rec(2, b"\0\3\0\1" + b"q" * 600)
              + rec(1, b"\0\3\0\1" + b"q" * 600) + rec(1, b"\0\6blksize\x00512\0") + rec(1, b"\0\3\0\2" + b"r" * 100))
        write("client", "crafted-fetch-data-first-then-error", b"\x02\x04\x00"
              + rec(0, b"\0\3\0\1" + b"d" * 512) + rec(1, b"\0\5\0\3disk full\0"))
        write("client", "crafted-send-ack-timeout", b"\x13\x02\x00"
              + rec(1, b"\0\4\0\0") + rec(1, b"\0\4\0\0") + rec(4, b"") + rec(1, b"\0\4\0\1"))
        write("client", "crafted-send-option-failure", b"\x1B\x04\x00"
              + rec(1, b"\0\6blksize\x0099999\0") + rec(1, b"\0\x08\0\0failed\0"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
PY
