#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $TEST_PACKAGES
# atftpd runs from where peer_server puts it (it cannot be installed
# beside tftpd-hpa).
ATFTPD=$(peer_server atftpd /usr/sbin/atftpd build/peers)
export ATFTPD
build_project
# The fast tests first, then those labelled slow (over 30 s each); both runs
# go through, and any failure fails the script before the fuzzing.
failed=0
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -LE slow) || failed=1
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -L slow) || failed=1
if [ "$failed" -ne 0 ]; then
    echo "test.sh: tests failed" >&2
    exit 1
fi
# Then each fuzz target for 30 s (about 2 min of building and 2 of fuzzing).
if command -v clang++ >/dev/null; then
    bash tools/fuzz.sh 30
else
    echo "test.sh: clang++ is missing, the fuzz targets are not run" >&2
fi
