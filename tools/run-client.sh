#!/usr/bin/env bash
# Installs what is missing, builds, and starts the client (skiffer). The
# client is a window for a person to use: it needs a display, and says so
# itself when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES
build_project
exec ./build/skiffer "$@"
