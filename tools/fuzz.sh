#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ (only what they link) and runs
# each for the given seconds (default 30) on a copy of its seed corpus, so
# fuzz/corpus/ is never changed. Exits non-zero when a target crashes (or
# fails one of its own checks), printing the reproducer's path.
#
#   bash tools/fuzz.sh [seconds] [target...]    targets: admission request session client
#
# Crashes land in build-fuzz/crashes/<target>/; the grown corpus of the last
# run stays in build-fuzz/run/<target>/corpus/ until the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(admission request session client)
case "$SECONDS_EACH" in '' | *[!0-9]*)
    echo "fuzz.sh: seconds must be a whole number" >&2
    exit 2
    ;;
esac
if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is missing (see TEST_PACKAGES in tools/packages.sh)" >&2
    exit 2
fi

BUILD=build-fuzz
started=$(date +%s)
mkdir -p "$BUILD"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHARNWICK_FUZZ=ON >"$BUILD/configure.log" 2>&1 || {
    cat "$BUILD/configure.log" >&2
    exit 1
}
cmake --build "$BUILD" -j2 --target fuzzers
built=$(date +%s)
echo "fuzz.sh: built in $((built - started)) s"

# Undefined behaviour is fatal (the code is also built with
# -fno-sanitize-recover=undefined). Leak detection stays on.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}abort_on_error=0:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}${UBSAN_OPTIONS:+:}halt_on_error=1:print_stacktrace=1"
# Nothing here may open a window or wait for an answer.
export QT_QPA_PLATFORM=offscreen

max_len() {
    case "$1" in
    request) echo 600 ;;       # one datagram; the listener reads 512 bytes
    admission) echo 4096 ;;
    *) echo 8192 ;;
    esac
}

failed=0
passed=0
for target in "${TARGETS[@]}"; do
    binary="$BUILD/fuzz/fuzz_$target"
    seeds="fuzz/corpus/$target"
    if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
        echo "fuzz.sh: no target '$target'" >&2
        exit 2
    fi
    run="$BUILD/run/$target"
    crashes="$BUILD/crashes/$target"
    rm -rf "$run"
    mkdir -p "$run/corpus" "$run/tmp" "$crashes"
    cp "$seeds"/* "$run/corpus/"
    log="$run/fuzz.log"
    status=0
    TMPDIR="$PWD/$run/tmp" "$binary" "$run/corpus" \
        -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 \
        -max_len="$(max_len "$target")" -dict=fuzz/tftp.dict \
        -artifact_prefix="$crashes/" -print_final_stats=1 >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
    if [ "$status" -ne 0 ]; then
        failed=$((failed + 1))
        echo "fuzz.sh: $target FAILED (exit $status) after ${runs:-?} runs; the end of $log:" >&2
        tail -n 60 "$log" >&2
        reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
        if [ -n "$reproducer" ]; then
            echo "fuzz.sh: reproducer: $reproducer" >&2
            echo "fuzz.sh: run it again with: $binary $reproducer" >&2
        fi
    else
        passed=$((passed + 1))
        echo "fuzz.sh: $target: ${runs:-?} runs, ${speed:-?} exec/s, $cov, no crash"
    fi
done
echo "fuzz.sh: done in $(($(date +%s) - started)) s"
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
