#!/usr/bin/env bash
# Installs what is missing, builds the programs and the bench programs, and
# times both programs against tftpd-hpa, curl and a bare loopback exchange.
# Prints one table at the end and writes it to build/bench/results.txt.
#   BENCH_PAIRS=N  ABBA pairs per comparison (default 7; 1 for a quick look)
#   BENCH_BUILD=DIR  build folder to build and time (default build)
# Exits 0 whatever the numbers; non-zero when a transfer failed or a file
# differed, or when the bench could not run.
#
#   bash tools/bench.sh window
# runs only the window table of that bench (atftp's client against wharfkeep
# and atftpd, and the skiffer engine, at windows 1, 4, 16 and 64), table in
# build/bench/window-results.txt; the same as BENCH_ONLY=window.
#
#   bash tools/bench.sh loss
# runs the loss benchmark instead (bench/loss.py): transfers through a relay
# that drops datagrams, table in build/bench/loss-results.txt; its LOSS_*
# settings are described at the top of bench/loss.py. Exits 1 only when a
# client reported success over a wrong file.
#
#   bash tools/bench.sh storm
# runs the boot storm instead (bench/storm.py): 1, 10 and 40 emulated boot
# loaders (UEFI, PXELINUX, U-Boot) at once against wharfkeep, tftpd-hpa,
# atftpd and dnsmasq (TFTP only, on 127.0.0.1:69 when that port is free),
# without loss and at 1%, table in build/bench/storm-results.txt; its
# STORM_* settings are described at the top of bench/storm.py. Exits 1 only
# when a loader was sent wrong bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-clean}
case "$mode" in
clean | loss | window | storm) ;;
*)
    echo "usage: bash tools/bench.sh [loss|window|storm]" >&2
    exit 2
    ;;
esac
. tools/packages.sh
# What the peer servers' programs load, whichever way they come (below).
PEER_LIBRARIES="libwrap0 libpcre2-8-0"
if [ "$mode" = loss ]; then
    BENCH_PACKAGES="curl tftp-hpa atftp python3 $PEER_LIBRARIES"
    targets="wharfkeep skiffer_bench loss_relay"
    script=bench/loss.py
    # Bounded by its own LOSS_LIMIT (3 h by default); this only stops a hung one.
    limit=4h
elif [ "$mode" = storm ]; then
    # dnsmasq-base is the program alone: the dnsmasq package's service is
    # never installed, and the bench runs the program in the foreground.
    BENCH_PACKAGES="python3 dnsmasq-base $PEER_LIBRARIES"
    targets="wharfkeep skiffer_bench"
    script=bench/storm.py
    # Bounded by its own STORM_LIMIT and per-loader limits; this only stops
    # a hung one.
    limit=30m
elif [ "$mode" = window ]; then
    BENCH_PACKAGES="curl atftp python3 $PEER_LIBRARIES"
    targets="wharfkeep skiffer_bench bench_floor"
    script=bench/run.py
    export BENCH_ONLY=window
    limit=1h
else
    BENCH_PACKAGES="curl tftp-hpa atftp strace xvfb openbox x11-utils python3 $PEER_LIBRARIES"
    targets="wharfkeep skiffer_bench bench_floor"
    script=bench/run.py
    # A full run takes well under an hour; the limit only stops a hung one.
    limit=3h
fi
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $BENCH_PACKAGES

export BENCH_BUILD=${BENCH_BUILD:-build}
BENCH_TFTPD=$(peer_server tftpd-hpa /usr/sbin/in.tftpd "$BENCH_BUILD/bench/peers")
BENCH_ATFTPD=$(peer_server atftpd /usr/sbin/atftpd "$BENCH_BUILD/bench/peers")
export BENCH_TFTPD BENCH_ATFTPD
echo "Peer servers: $BENCH_TFTPD, $BENCH_ATFTPD"
cmake -S . -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# shellcheck disable=SC2086
cmake --build "$BENCH_BUILD" -j2 --target $targets

# The bench kills what it starts; this is for when it is itself killed.
bench_pid=
cleanup() {
    if [ -n "$bench_pid" ] && kill -0 "$bench_pid" 2>/dev/null; then
        kill -TERM "$bench_pid" 2>/dev/null || true
        wait "$bench_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
timeout -k 30 "$limit" python3 "$script" &
bench_pid=$!
status=0
wait "$bench_pid" || status=$?
bench_pid=
exit "$status"
