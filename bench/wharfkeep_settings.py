"""How the benchmarks start wharfkeep: a settings folder of its own that
makes it serve one folder on 127.0.0.1 and a given port, headless; and the
check that the tftpd-hpa they compare with is tftpd-hpa."""

import os


def write_config(config, port, serve, incoming, loopback_position, max_window=None,
                 max_clients=None):
    """Writes the settings into the folder `config`, which becomes the
    server's XDG_CONFIG_HOME, and returns it. `max_window`, when given, caps
    the blocks per acknowledgement the server grants, and `max_clients` the
    transfers it serves at once (its own defaults otherwise)."""
    # The first level of the key path is the settings folder itself.
    key = os.path.join(config, "Harnwick")
    os.makedirs(key, exist_ok=True)
    with open(os.path.join(key, "Wharfkeep.ini"), "w") as f:
        f.write("[General]\n")
        f.write("OutPath=%s/\nInPath=%s/\n" % (serve, incoming))
        f.write("Port=%d\nTimeout=30\n" % port)
        # Progress bars in the view; tsize and timeout options honoured.
        f.write("bDisplay=1\nbDelete=12\nbForce=0\nbAllow=0\nbDeny=0\n")
        f.write("nDefAddress=%d\n" % loopback_position)
        if max_window is not None:
            f.write("MaxWindow=%d\n" % max_window)
        if max_clients is not None:
            f.write("MaxClients=%d\n" % max_clients)
    return config


def environment(config, extra=None):
    """The environment of a server with the settings in `config`, without a
    display."""
    env = dict(os.environ)
    env.update({"XDG_CONFIG_HOME": config, "QT_QPA_PLATFORM": "offscreen"})
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.update(extra or {})
    return env


def tftpd_problem(tftpd):
    """Why the program at `tftpd` cannot stand for tftpd-hpa, or None: the
    two packages conflict, and with atftpd installed in.tftpd is atftpd's."""
    if os.path.basename(os.path.realpath(tftpd)) == "atftpd":
        return ("%s is atftpd here, not tftpd-hpa (the two packages conflict): run "
                "through tools/bench.sh, which unpacks tftpd-hpa's, or set "
                "BENCH_TFTPD" % tftpd)
    return None
