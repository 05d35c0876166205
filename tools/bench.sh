#!/usr/bin/env bash
# Installs what is missing, builds the programs and the bench programs, and
# times both programs against tftpd-hpa, curl and a bare loopback exchange.
# Prints one table at the end and writes it to build/bench/results.txt.
#   BENCH_PAIRS=N  ABBA pairs per comparison (default 7; 1 for a quick look)
# Exits 0 whatever the numbers; non-zero when a transfer failed or a file
# differed, or when the bench could not run.
#
#   bash tools/bench.sh loss
# runs the loss benchmark instead (bench/loss.py): transfers through a relay
# that drops datagrams, table in build/bench/loss-results.txt; its LOSS_*
# settings are described at the top of bench/loss.py. Exits 1 only when a
# client reported success over a wrong file.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-clean}
case "$mode" in
clean | loss) ;;
*)
    echo "usage: bash tools/bench.sh [loss]" >&2
    exit 2
    ;;
esac
. tools/packages.sh
if [ "$mode" = loss ]; then
    BENCH_PACKAGES="curl tftp-hpa atftp tftpd-hpa python3"
    targets="wharfkeep skiffer_bench loss_relay"
    script=bench/loss.py
    # Bounded by its own LOSS_LIMIT (3 h by default); this only stops a hung one.
    limit=4h
else
    BENCH_PACKAGES="curl tftp-hpa tftpd-hpa strace xvfb openbox x11-utils python3"
    targets="wharfkeep skiffer_bench bench_floor"
    script=bench/run.py
    # A full run takes well under an hour; the limit only stops a hung one.
    limit=3h
fi
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $BENCH_PACKAGES
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# shellcheck disable=SC2086
cmake --build build -j2 --target $targets

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
