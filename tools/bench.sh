#!/usr/bin/env bash
# Installs what is missing, builds the programs and the bench programs, and
# times both programs against tftpd-hpa, curl and a bare loopback exchange.
# Prints one table at the end and writes it to build/bench/results.txt.
#   BENCH_PAIRS=N  ABBA pairs per comparison (default 7; 1 for a quick look)
# Exits 0 whatever the numbers; non-zero when a transfer failed or a file
# differed, or when the bench could not run.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
BENCH_PACKAGES="curl tftp-hpa tftpd-hpa strace xvfb openbox x11-utils python3"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $BENCH_PACKAGES
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target wharfkeep skiffer_bench bench_floor

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
# A full run takes well under an hour; the limit only stops a hung one.
timeout -k 30 3h python3 bench/run.py &
bench_pid=$!
status=0
wait "$bench_pid" || status=$?
bench_pid=
exit "$status"
