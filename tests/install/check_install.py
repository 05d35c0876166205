#!/usr/bin/env python3
"""What `cmake --install` and the Debian package put on disk, and the packaged
server serving on loopback. CTest runs one step per test (tests/install/
CMakeLists.txt); the two set-up steps make the trees the others read:

  install-tree BUILD WORK   cmake --install BUILD --prefix WORK/root
  layout WORK               every file where it belongs, and nothing else
  desktop WORK              desktop-file-validate, Exec and Icon found
  man WORK                  man pages render without a warning
  unit WORK                 systemd-analyze verify, the unit's promises
  package BUILD WORK        cpack -G DEB into WORK/deb, dpkg -x beside it
  deb-contents WORK         paths, owners, modes, gzip -9n, stripped, md5sums
  deb-control WORK VERSION  the control fields, no maintainer scripts
  deb-serve WORK            the packaged wharfkeep: 1 on a taken port; serves
                            and stores a file on loopback, ends 0 on SIGTERM
  clean WORK                removes both trees

Exit status: 0 passed, 1 failed, 77 skipped (the reason is printed).
"""

import ctypes
import gzip
import hashlib
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PACKAGE = "harnwick-tftp"
PROGRAMS = ("wharfkeep", "skiffer")
ICON_SIZES = (16, 32, 48, 64, 128, 256)
DOCDIR = "share/doc/" + PACKAGE
SKIP = 77
# Every file an install puts under its prefix, and what it is.
EXPECTED = (
    [("bin/" + p, "program") for p in PROGRAMS]
    + [("share/applications/%s.desktop" % p, "desktop") for p in PROGRAMS]
    + [("share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, p), "icon %d" % s)
       for p in PROGRAMS for s in ICON_SIZES]
    + [("share/man/man1/%s.1" % p, "man") for p in PROGRAMS]
    + [(DOCDIR + "/README.md", "doc"), (DOCDIR + "/LICENSE", "doc"),
       (DOCDIR + "/copyright", "copyright"), (DOCDIR + "/changelog", "changelog"),
       ("lib/systemd/system/wharfkeep.service", "unit")]
)
COMMAND_LIMIT = 120


class Failed(Exception):
    pass


class Skipped(Exception):
    pass


failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
        print("FAIL: " + text, flush=True)
    return condition


def run(args, limit=COMMAND_LIMIT, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=limit, **kw)


def need(tool, package):
    if not shutil.which(tool):
        raise Skipped("%s is missing (apt-get install %s)" % (tool, package))


def root_of(work):
    return os.path.join(work, "root")


def deb_dir(work):
    return os.path.join(work, "deb")


def deb_root(work):
    return os.path.join(work, "deb", "root")


def the_deb(work):
    debs = [f for f in os.listdir(deb_dir(work)) if f.endswith(".deb")]
    if len(debs) != 1:
        raise Failed("expected one .deb in %s, found %s" % (deb_dir(work), debs))
    return os.path.join(deb_dir(work), debs[0])


def deb_path(path):
    """Where the package puts what an install puts at prefix/path."""
    if path.startswith("lib/systemd/system/"):
        return "/" + path  # Debian 12's place for units, outside /usr
    if path.startswith("share/man/") or path.endswith("/changelog"):
        path += ".gz"
    return "/usr/" + path


def all_files(top):
    found = set()
    for folder, _dirs, files in os.walk(top):
        for name in files:
            found.add(os.path.relpath(os.path.join(folder, name), top))
    return found


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def elf_facts(path):
    """(is an ELF executable, RUNPATH/RPATH entries, debug or symbol sections)."""
    header = run(["readelf", "-h", path])
    if header.returncode != 0:
        return False, [], []
    is_exec = re.search(r"Type:\s+(EXEC|DYN)", header.stdout) is not None
    dynamic = run(["readelf", "-d", path]).stdout
    paths = re.findall(r"\((?:RUNPATH|RPATH)\).*\[(.*)\]", dynamic)
    sections = re.findall(r"\]\s+(\.\S+)", run(["readelf", "-SW", path]).stdout)
    debug = [s for s in sections if s.startswith(".debug") or s in (".symtab", ".comment")]
    return is_exec, paths, debug


# ---------------------------------------------------------------- install tree


def step_install_tree(build, work):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    result = run(["cmake", "--install", build, "--prefix", root_of(work)])
    print(result.stdout + result.stderr)
    if result.returncode != 0:
        raise Failed("cmake --install failed")


def step_layout(work):
    root = root_of(work)
    found = all_files(root)
    wanted = {path for path, _ in EXPECTED}
    for path in sorted(wanted - found):
        check(False, "not installed: " + path)
    for path in sorted(found - wanted):
        check(False, "installed but not expected (a test or bench program, a library?): " + path)
    for path, kind in EXPECTED:
        full = os.path.join(root, path)
        if not os.path.isfile(full):
            continue
        mode = os.stat(full).st_mode & 0o777
        if kind == "program":
            check(mode == 0o755, "%s: mode %o, not 755" % (path, mode))
            is_exec, rpaths, _ = elf_facts(full)
            check(is_exec, path + ": not an ELF program")
            # A path into the build tree would make the installed program
            # load the build's libraries, or fail where there is none.
            check(not rpaths, "%s: keeps a run path %s" % (path, rpaths))
        else:
            check(mode == 0o644, "%s: mode %o, not 644" % (path, mode))
        if kind.startswith("icon"):
            side = int(kind.split()[1])
            check(png_size(full) == (side, side),
                  "%s: a PNG of %s, not %dx%d" % (path, png_size(full), side, side))
        if kind == "copyright":
            check_copyright(full, os.path.join(root, DOCDIR, "LICENSE"))


def paragraphs(text):
    return [p for p in re.split(r"\n\s*\n", text.strip()) if p]


def words(text):
    return re.sub(r"\s+", " ", text).strip()


def check_copyright(path, license_path):
    """Debian's machine-readable copyright file, its licence text that of LICENSE."""
    with open(path) as f:
        stanzas = paragraphs(f.read())
    fields = [dict(re.findall(r"^([A-Za-z-]+):[ \t]*(.*(?:\n[ \t].*)*)", s, re.M)) for s in stanzas]
    check(fields and fields[0].get("Format", "").endswith("/copyright-format/1.0/"),
          "copyright: the first stanza has no machine-readable Format field")
    files = [s for s in fields if s.get("Files", "").strip() == "*"]
    check(len(files) == 1 and files[0].get("Copyright") and files[0].get("License"),
          "copyright: no 'Files: *' stanza with Copyright and License")
    if not files:
        return
    name = files[0]["License"].strip()
    bodies = [s["License"] for s in fields if s.get("License", "").startswith(name + "\n")]
    if not check(bodies, "copyright: no stand-alone text for licence " + name):
        return
    body = "\n".join(line[1:] if line.startswith(" ") else line
                     for line in bodies[0].split("\n")[1:])
    body = words(body.replace("\n.\n", "\n"))
    with open(license_path) as f:
        license_text = f.read()
    # LICENSE's text from its permission grant on must be the packaged one.
    grant = words(license_text[license_text.find("Permission is hereby granted"):])
    check(grant and body == grant, "copyright: the %s text differs from LICENSE" % name)
    holder = re.search(r"Copyright \(c\) (.+)", license_text)
    check(holder and words(holder.group(1)) in words(files[0]["Copyright"]),
          "copyright: the holder in LICENSE is not named in Copyright")


def step_desktop(work):
    need("desktop-file-validate", "desktop-file-utils")
    root = root_of(work)
    for program in PROGRAMS:
        path = os.path.join(root, "share/applications/%s.desktop" % program)
        if not check(os.path.isfile(path), "missing: " + path):
            continue
        result = run(["desktop-file-validate", path])
        check(result.returncode == 0 and not (result.stdout + result.stderr).strip(),
              "desktop-file-validate %s:\n%s" % (path, result.stdout + result.stderr))
        with open(path) as f:
            entry = dict(re.findall(r"^([A-Za-z]+)=(.*)$", f.read(), re.M))
        exec_name = entry.get("Exec", "").split(" ")[0]
        check(os.path.isfile(os.path.join(root, "bin", exec_name)),
              "%s: Exec=%s is no installed program" % (path, exec_name))
        icon = entry.get("Icon", "")
        for size in ICON_SIZES:
            check(os.path.isfile(os.path.join(
                root, "share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, icon))),
                "%s: Icon=%s has no %dx%d picture" % (path, icon, size, size))


def check_man_page(path, program):
    """Renders without a warning through groff and man, and has a NAME line
    that whatis can read."""
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    if not path.endswith(".gz"):
        result = run(["groff", "-man", "-ww", "-z", path], env=env)
        check(result.returncode == 0 and not result.stderr.strip(),
              "groff -man -ww %s:\n%s" % (path, result.stderr))
    result = run(["man", "--warnings", "-l", path], env=env)
    check(result.returncode == 0 and not result.stderr.strip(),
          "man --warnings -l %s:\n%s" % (path, result.stderr))
    result = run(["lexgrog", path], env=env)
    check(result.returncode == 0 and re.search(r'"%s - \S' % program, result.stdout),
          "lexgrog %s: no whatis line for %s: %s" % (path, program, result.stdout))
    return result


def step_man(work):
    need("man", "man-db")
    need("groff", "groff-base")
    root = root_of(work)
    for program in PROGRAMS:
        path = os.path.join(root, "share/man/man1/%s.1" % program)
        if check(os.path.isfile(path), "missing: " + path):
            check_man_page(path, program)


def parse_unit(path):
    sections, section = {}, None
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                section = sections.setdefault(line.strip("[]"), {})
            else:
                key, _, value = line.partition("=")
                section.setdefault(key, []).append(value)
    return sections


# What the service needs from its unit: (section, key, a value it must have).
UNIT_PROMISES = [
    ("Service", "Environment", "QT_QPA_PLATFORM=offscreen"),
    ("Service", "Environment", "XDG_CONFIG_HOME=%S/wharfkeep"),
    ("Service", "StateDirectory", "wharfkeep"),
    ("Service", "DynamicUser", "yes"),
    ("Service", "AmbientCapabilities", "CAP_NET_BIND_SERVICE"),
    ("Service", "CapabilityBoundingSet", "CAP_NET_BIND_SERVICE"),
    ("Service", "KillSignal", "SIGTERM"),
    ("Service", "Restart", "on-failure"),
    ("Install", "WantedBy", "multi-user.target"),
]


def check_unit(path, program):
    unit = parse_unit(path)
    for section, key, value in UNIT_PROMISES:
        values = " ".join(unit.get(section, {}).get(key, [])).split()
        check(value in values, "%s: [%s] %s does not hold %s" % (path, section, key, value))
    service = unit.get("Service", {})
    command = " ".join(service.get("ExecStart", [""])).split()
    check(command[:1] == [program], "%s: ExecStart runs %s, not %s" % (path, command[:1], program))
    check("--no-splash" in command, path + ": ExecStart without --no-splash")
    # The served folder (the working folder while InPath and OutPath are
    # empty) must not hold the settings, or a client could read or store
    # over them.
    config = [v.split("=", 1)[1] for v in service.get("Environment", [])
              if v.startswith("XDG_CONFIG_HOME=")]
    workdir = service.get("WorkingDirectory", [""])[-1]
    settings = (config[-1] if config else "") + "/Harnwick/Wharfkeep.ini"
    check(workdir and not settings.startswith(workdir.rstrip("/") + "/"),
          "%s: the settings %s lie in the served folder %s" % (path, settings, workdir))
    # The service's user is made at each start: only its own state folders
    # are writable to it, so the working folder must be one of them.
    states = ["%S/" + d for d in " ".join(service.get("StateDirectory", [])).split()]
    check(workdir in states, "%s: WorkingDirectory %s is no StateDirectory" % (path, workdir))


def systemd_verify(path, program=None, installed_as=None):
    """systemd-analyze verify, silent. A packaged unit names /usr/bin/wharfkeep,
    which is not installed here: it is verified as a copy that names the
    extracted program instead (verify checks that the program is there)."""
    need("systemd-analyze", "systemd")
    with tempfile.TemporaryDirectory() as folder:
        if installed_as:
            with open(path) as f:
                text = f.read()
            path = os.path.join(folder, os.path.basename(path))
            with open(path, "w") as f:
                f.write(text.replace(installed_as, program))
        result = run(["systemd-analyze", "verify", "--man=no", path],
                     env=dict(os.environ, SYSTEMD_LOG_LEVEL="notice"))
    output = (result.stdout + result.stderr).strip()
    check(result.returncode == 0 and not output,
          "systemd-analyze verify %s:\n%s" % (path, output))


def step_unit(work):
    root = root_of(work)
    path = os.path.join(root, "lib/systemd/system/wharfkeep.service")
    if not check(os.path.isfile(path), "missing: " + path):
        return
    check_unit(path, os.path.join(root, "bin/wharfkeep"))
    systemd_verify(path)


# ---------------------------------------------------------------- package


def step_package(build, work):
    need("cpack", "cmake")
    need("dpkg-shlibdeps", "dpkg-dev")
    need("file", "file")
    shutil.rmtree(deb_dir(work), ignore_errors=True)
    os.makedirs(deb_dir(work))
    result = run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"),
                  "-B", deb_dir(work)], limit=300)
    print(result.stdout + result.stderr)
    if result.returncode != 0:
        raise Failed("cpack -G DEB failed")
    deb = the_deb(work)
    result = run(["dpkg-deb", "-x", deb, deb_root(work)])
    if result.returncode != 0:
        raise Failed("dpkg-deb -x failed: " + result.stderr)
    print("built " + deb)


def deb_listing(deb):
    """{path: (mode text, owner)} from dpkg-deb -c, folders with a / at the end."""
    result = run(["dpkg-deb", "-c", deb])
    if result.returncode != 0:
        raise Failed("dpkg-deb -c failed: " + result.stderr)
    entries = {}
    for line in result.stdout.splitlines():
        fields = line.split(None, 5)
        mode, owner, path = fields[0], fields[1], fields[5]
        path = path.split(" -> ")[0]
        entries[path[1:] if path.startswith(".") else path] = (mode, owner)
    return entries


def gzip_facts(path):
    """(flags, mtime, extra flags) of a gzip header."""
    with open(path, "rb") as f:
        head = f.read(10)
    if head[:2] != b"\x1f\x8b":
        return None
    return head[3], int.from_bytes(head[4:8], "little"), head[8]


def step_deb_contents(work):
    deb = the_deb(work)
    entries = deb_listing(deb)
    files = {p for p, (mode, _) in entries.items() if not mode.startswith("d")}
    wanted = {deb_path(p): kind for p, kind in EXPECTED}
    for path in sorted(set(wanted) - files):
        check(False, "not in the package: " + path)
    for path in sorted(files - set(wanted)):
        check(False, "in the package but not expected: " + path)
    for path, (mode, owner) in sorted(entries.items()):
        check(owner == "root/root", "%s: owned by %s" % (path, owner))
        check(path.startswith(("/usr/", "/lib/systemd/system/"))
              or path in ("/", "/lib/", "/lib/systemd/"),
              path + ": outside /usr and /lib/systemd/system")
        if mode.startswith("d"):
            check(mode == "drwxr-xr-x", "%s: folder mode %s" % (path, mode))
        elif wanted.get(path) == "program":
            check(mode == "-rwxr-xr-x", "%s: program mode %s, not 0755" % (path, mode))
        else:
            check(mode == "-rw-r--r--", "%s: mode %s, not 0644" % (path, mode))
    root = deb_root(work)
    for path, kind in wanted.items():
        full = root + path
        if not os.path.isfile(full):
            continue
        if kind == "program":
            is_exec, rpaths, debug = elf_facts(full)
            check(is_exec and not debug, "%s: not stripped (%s)" % (path, " ".join(debug)))
            check(not rpaths, "%s: keeps a run path %s" % (path, rpaths))
        if path.endswith(".gz"):
            facts = gzip_facts(full)
            # gzip -9n: no name (flag 8), no time stamp, "best" (extra flags 2).
            check(facts is not None and facts[0] & 0x08 == 0 and facts[1] == 0 and facts[2] == 2,
                  "%s: not gzip -9n (flags, mtime, xfl = %s)" % (path, facts))
            try:
                with gzip.open(full) as f:
                    f.read()
            except OSError as e:
                check(False, "%s: broken gzip: %s" % (path, e))
        if kind == "man":
            need("man", "man-db")
            check_man_page(full, os.path.basename(path).split(".")[0])
        if kind == "unit":
            check_unit(full, "/usr/bin/wharfkeep")
    check_md5sums(deb, root, files)
    unit = root + "/lib/systemd/system/wharfkeep.service"
    if os.path.isfile(unit):
        # Last: it may skip when systemd-analyze is missing.
        systemd_verify(unit, root + "/usr/bin/wharfkeep", "/usr/bin/wharfkeep")


def check_md5sums(deb, root, files):
    with tempfile.TemporaryDirectory() as control:
        result = run(["dpkg-deb", "-e", deb, control])
        if not check(result.returncode == 0, "dpkg-deb -e failed: " + result.stderr):
            return
        with open(os.path.join(control, "md5sums")) as f:
            sums = dict((line[34:].strip(), line[:32]) for line in f if line.strip())
    listed = {"/" + p for p in sums}
    check(listed == files, "md5sums and the package differ in %s" % sorted(listed ^ files))
    for path, digest in sums.items():
        full = os.path.join(root, path)
        check(os.path.isfile(full) and hashlib.md5(open(full, "rb").read()).hexdigest() == digest,
              "md5sums: %s differs" % path)


def control_field(deb, name):
    return run(["dpkg-deb", "-f", deb, name]).stdout.rstrip("\n")


def step_deb_control(work, version):
    deb = the_deb(work)
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    for name, value in [("Package", PACKAGE), ("Version", version), ("Section", "net"),
                        ("Priority", "optional"), ("Architecture", arch)]:
        got = control_field(deb, name)
        check(got == value, "control %s: %r, not %r" % (name, got, value))
    check(re.fullmatch(r"[^<>]+ <[^@<>\s]+@[^@<>\s]+>", control_field(deb, "Maintainer")),
          "control Maintainer: %r is no 'Name <address>'" % control_field(deb, "Maintainer"))
    check(control_field(deb, "Installed-Size").isdigit(), "control Installed-Size missing")
    depends = [d.strip() for d in control_field(deb, "Depends").split(",") if d.strip()]
    names = {re.split(r"[\s(]", d)[0] for d in depends}
    # dpkg-shlibdeps names the libraries the programs link against.
    for lib in ("libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6"):
        check(lib in names, "control Depends has no %s: %s" % (lib, depends))
    check(all(re.search(r"\(>= [^)]+\)", d) for d in depends if d.startswith("libqt6")),
          "control Depends: Qt libraries without a version: %s" % depends)
    description = control_field(deb, "Description").split("\n")
    summary, body = description[0], "\n".join(description[1:])
    check(0 < len(summary) <= 80 and not summary.lower().startswith(PACKAGE),
          "control Description: summary %r" % summary)
    for program in PROGRAMS:
        check(re.search(r"\b%s\b" % program, body), "control Description says nothing of " + program)
    check(all(line.startswith(" ") for line in description[1:]) and len(description) > 3,
          "control Description: no long description")
    changelog = deb_root(work) + "/usr/share/doc/%s/changelog.gz" % PACKAGE
    if os.path.isfile(changelog):
        with gzip.open(changelog, "rt") as f:
            top = f.readline()
        check(top.startswith("%s (%s) " % (PACKAGE, version)),
              "changelog.gz: its newest entry is %r, not version %s" % (top.strip(), version))
    for program in PROGRAMS:
        page = deb_root(work) + "/usr/share/man/man1/%s.1.gz" % program
        if os.path.isfile(page):
            with gzip.open(page, "rt") as f:
                title = next((l for l in f if l.startswith(".TH ")), "")
            check('"%s %s"' % (PACKAGE, version) in title,
                  "%s: .TH names another version than %s: %s" % (page, version, title))
    # Nothing runs at install: the service stays disabled until enabled.
    with tempfile.TemporaryDirectory() as control:
        run(["dpkg-deb", "-e", deb, control])
        members = sorted(os.listdir(control))
    check(members == ["control", "md5sums"],
          "control members %s: maintainer scripts or conffiles in the package" % members)


# ---------------------------------------------------------------- serving


class Ifaddrs(ctypes.Structure):
    pass


class Sockaddr(ctypes.Structure):
    _fields_ = [("family", ctypes.c_ushort), ("data", ctypes.c_ubyte * 14)]


Ifaddrs._fields_ = [("next", ctypes.POINTER(Ifaddrs)), ("name", ctypes.c_char_p),
                    ("flags", ctypes.c_uint), ("addr", ctypes.POINTER(Sockaddr)),
                    ("netmask", ctypes.POINTER(Sockaddr)), ("broadaddr", ctypes.POINTER(Sockaddr)),
                    ("data", ctypes.c_void_p)]


def server_address_list():
    """The server's list of addresses: the IPv4 addresses of the interfaces
    that are up, in the order getifaddrs gives them (the order of
    `ip -4 -o addr show up`), loopback last."""
    libc = ctypes.CDLL(None, use_errno=True)
    head = ctypes.POINTER(Ifaddrs)()
    if libc.getifaddrs(ctypes.byref(head)) != 0:
        return None
    addresses = []
    try:
        node = head
        while node:
            entry = node.contents
            if entry.addr and entry.addr.contents.family == socket.AF_INET and entry.flags & 1:
                text = socket.inet_ntoa(bytes(entry.addr.contents.data[2:6]))
                if text not in addresses:
                    addresses.append(text)
            node = entry.next
    finally:
        libc.freeifaddrs(head)
    return ([a for a in addresses if not a.startswith("127.")]
            + [a for a in addresses if a.startswith("127.")])


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def udp_binds(port):
    """Local addresses with a UDP socket on `port` (from /proc/net/udp)."""
    found = []
    with open("/proc/net/udp") as f:
        next(f)
        for line in f:
            local = line.split()[1]
            address, local_port = local.split(":")
            if int(local_port, 16) == port:
                found.append(socket.inet_ntoa(int(address, 16).to_bytes(4, "little")))
    return found


def die_with_parent():
    # The server never outlives this test, even when CTest kills it.
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def curl(args, limit=30):
    return run(["curl", "-sS", "--max-time", "20"] + args, limit=limit)


def step_deb_serve(work):
    need("curl", "curl")
    program = deb_root(work) + "/usr/bin/wharfkeep"
    if not os.path.isfile(program):
        raise Failed("the package holds no /usr/bin/wharfkeep")
    addresses = server_address_list()
    if not addresses or "127.0.0.1" not in addresses:
        raise Skipped("127.0.0.1 is not among this machine's addresses %s" % addresses)
    position = addresses.index("127.0.0.1") + 1
    if addresses[position - 1] != "127.0.0.1":
        raise Skipped("cannot tell the position of 127.0.0.1 in %s" % addresses)
    print("addresses %s: 127.0.0.1 is position %d" % (addresses, position))

    with tempfile.TemporaryDirectory(prefix="serve-") as scratch:
        serve, incoming, config = (os.path.join(scratch, d) for d in ("out", "in", "config"))
        for d in (serve, incoming, os.path.join(config, "Harnwick")):
            os.makedirs(d)
        # Blocks of 512 and a short last one; bytes of every value.
        payload = bytes(range(256)) * 200 + os.urandom(1234)
        with open(os.path.join(serve, "file.bin"), "wb") as f:
            f.write(payload)
        upload = os.urandom(70001)
        with open(os.path.join(scratch, "upload.bin"), "wb") as f:
            f.write(upload)
        settings = os.path.join(config, "Harnwick", "Wharfkeep.ini")

        def start(port):
            with open(settings, "w") as f:
                f.write("[General]\nPort=%d\nOutPath=%s/\nInPath=%s/\nnDefAddress=%d\n"
                        % (port, serve, incoming, position))
            env = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
            runtime = os.path.join(scratch, "runtime")
            os.makedirs(runtime, mode=0o700, exist_ok=True)
            env.update(QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config, HOME=scratch,
                       XDG_RUNTIME_DIR=runtime, XDG_CACHE_HOME=os.path.join(scratch, "cache"))
            return subprocess.Popen([program, "--no-splash"], cwd=scratch, env=env,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                    text=True, preexec_fn=die_with_parent)

        # A port that is taken: the server says so and ends with 1, which
        # the unit's Restart=on-failure relies on.
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
            taken.bind(("127.0.0.1", 0))
            server = start(taken.getsockname()[1])
            try:
                output, _ = server.communicate(timeout=15)
                check(server.returncode == 1 and output.strip(),
                      "on a taken port: status %s, output %r, not 1 and a message"
                      % (server.returncode, output))
            except subprocess.TimeoutExpired:
                server.kill()
                server.communicate()
                check(False, "on a taken port the server did not end within 15 s")

        port = free_udp_port()
        server = start(port)
        try:
            serve_and_stop(server, port, serve, incoming, payload, upload, scratch, settings)
        finally:
            if server.poll() is None:
                server.kill()
            if not server.stdout.closed:
                output, _ = server.communicate(timeout=10)
                print("server output:\n" + output)


def serve_and_stop(server, port, serve, incoming, payload, upload, scratch, settings):
    deadline = time.monotonic() + 15
    binds = []
    while time.monotonic() < deadline and server.poll() is None:
        binds = udp_binds(port)
        if binds:
            break
        time.sleep(0.05)
    if binds != ["127.0.0.1"]:
        server.kill()
        raise Failed("the server is not listening on 127.0.0.1:%d alone (%s, exit %s)"
                     % (port, binds, server.poll()))
    url = "tftp://127.0.0.1:%d/" % port
    fetched = os.path.join(scratch, "fetched.bin")
    result = curl(["-o", fetched, url + "file.bin"])
    if check(result.returncode == 0, "curl fetch: %s" % result.stderr):
        with open(fetched, "rb") as f:
            check(f.read() == payload, "the fetched file differs from the served one")
    result = curl(["-T", os.path.join(scratch, "upload.bin"), url + "stored.bin"])
    if check(result.returncode == 0, "curl store: %s" % result.stderr):
        stored = os.path.join(incoming, "stored.bin")
        # The store ends when the last ACK is sent; the file may be closed a
        # moment after.
        deadline = time.monotonic() + 5
        data = b""
        while time.monotonic() < deadline:
            if os.path.isfile(stored):
                with open(stored, "rb") as f:
                    data = f.read()
                if data == upload:
                    break
            time.sleep(0.05)
        check(data == upload, "the stored file differs from the one sent (%d of %d bytes)"
              % (len(data), len(upload)))
    check(not os.path.exists(os.path.join(serve, "stored.bin")), "the store went to OutPath")
    server.send_signal(signal.SIGTERM)
    try:
        code = server.wait(5)
    except subprocess.TimeoutExpired:
        check(False, "the server did not end within 5 s of SIGTERM")
        return
    check(code == 0, "the server ended with status %s after SIGTERM, not 0" % code)
    # Without a screen it says where it serves and how each transfer ended.
    output = server.stdout.read()
    server.stdout.close()
    print("server output:\n" + output)
    for pattern in (r"^Serving on 127\.0\.0\.1 port %d: files are sent from %s/ and stored in %s/$"
                    % (port, re.escape(serve), re.escape(incoming)),
                    r"^127\.0\.0\.1:\d+ read %s/file\.bin: %d bytes in %d blocks, complete$"
                    % (re.escape(serve), len(payload), len(payload) // 512 + 1),
                    r"^127\.0\.0\.1:\d+ write %s/stored\.bin: %d bytes in %d blocks, complete$"
                    % (re.escape(incoming), len(upload), len(upload) // 512 + 1)):
        check(re.search(pattern, output, re.M), "no line matching %r in the output" % pattern)
    with open(settings) as f:
        saved = f.read()
    # Written back on the way out: values the test left out are there now.
    check(re.search(r"^Timeout=\S", saved, re.M) and re.search(r"^Port=%d$" % port, saved, re.M),
          "the settings were not saved at SIGTERM:\n" + saved)


def step_clean(work):
    shutil.rmtree(work, ignore_errors=True)


STEPS = {
    "install-tree": (step_install_tree, 2), "layout": (step_layout, 1),
    "desktop": (step_desktop, 1), "man": (step_man, 1), "unit": (step_unit, 1),
    "package": (step_package, 2), "deb-contents": (step_deb_contents, 1),
    "deb-control": (step_deb_control, 2), "deb-serve": (step_deb_serve, 1),
    "clean": (step_clean, 1),
}


def main(argv):
    if len(argv) < 2 or argv[1] not in STEPS or len(argv) - 2 != STEPS[argv[1]][1]:
        print(__doc__)
        return 2
    step, _ = STEPS[argv[1]]
    try:
        step(*argv[2:])
    except Skipped as e:
        print("SKIPPED: %s" % e)
        if not failures:
            return SKIP
    except (Failed, subprocess.TimeoutExpired) as e:
        failures.append(str(e))
        print("FAIL: %s" % e)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
