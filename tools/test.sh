#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $TEST_PACKAGES
build_project
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
