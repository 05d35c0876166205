# Debian packages each command needs, installed only when missing.
# Sourced by the run and test scripts; run them as root on Debian 12.

BUILD_PACKAGES="cmake ninja-build g++ qt6-base-dev"
# The Debian package (tools/package.sh): dpkg-shlibdeps (dpkg-dev) works
# out its Depends, and CPack runs `file` to find the programs to give it.
PACKAGE_PACKAGES="dpkg-dev file"
# Real TFTP peers for the interoperability tests; tftpd-hpa and atftpd are
# run by the tests themselves on loopback ports, never as system services.
# The two conflict as packages (both are in.tftpd): tftpd-hpa is installed,
# atftpd is unpacked by peer_server (its libraries, libwrap0 and
# libpcre2-8-0, are installed).
# A virtual X server and a window manager for the tests that need real
# windows (activation, focus, frames); xprop tells when the manager is up.
# clang and its sanitizer and libFuzzer runtimes (libclang-rt-14-dev, only
# recommended by clang) build the fuzz targets that tools/fuzz.sh runs.
# The install tests (tests/install) run on Python; they validate the menu
# entries, render the man pages (man-db, groff-base), verify the service
# unit (systemd, installed, never started), read the programs (binutils)
# and build the package.
# The accessibility test (tests/a11y) reads both windows as a screen reader
# does: over the AT-SPI bus (at-spi2-core) on a session bus of its own
# (dbus-daemon), through the AT-SPI bindings of Debian's python3.
TEST_PACKAGES="curl tftp-hpa atftp busybox tftpd-hpa libwrap0 libpcre2-8-0 xvfb openbox x11-utils clang libclang-rt-14-dev
    python3 desktop-file-utils man-db groff-base systemd binutils
    at-spi2-core dbus-daemon gir1.2-atspi-2.0 python3-gi $PACKAGE_PACKAGES"

install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        # Packages with services of their own (tftpd-hpa) must not start them.
        local policy=/usr/sbin/policy-rc.d made_policy=0
        if [ ! -e "$policy" ]; then
            printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod +x "$policy" && made_policy=1
        fi
        DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -qq --no-install-recommends "${missing[@]}"
        [ "$made_policy" = 1 ] && rm -f "$policy"
        return 0
    fi
}

build_project() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j"$(nproc)"
}

# tftpd-hpa and atftpd conflict as Debian packages, and the tests and the
# bench run both: the one that is installed runs from its place, the other
# is unpacked from its package into DIR/<package> and runs from there.
# Neither is installed or removed here. Prints the path to run.
peer_server() { # package program dir
    local pkg=$1 program=$2 dir
    if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        echo "$program"
        return
    fi
    dir=$(realpath -m "$3/$pkg")
    if [ ! -x "$dir$program" ]; then
        rm -rf "$dir"
        mkdir -p "$dir"
        # The lists may not be there yet on a machine that installed nothing.
        (cd "$dir" && { apt-get download -qq "$pkg" ||
            { apt-get update -qq && apt-get download -qq "$pkg"; }; } &&
            dpkg-deb -x "$pkg"_*.deb .) >&2 || {
            echo "peer_server: could not unpack $pkg" >&2
            return 1
        }
    fi
    echo "$dir$program"
}
