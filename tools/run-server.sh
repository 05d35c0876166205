#!/usr/bin/env bash
# Installs what is missing, builds, and starts the server (wharfkeep).
# Without a display (neither $DISPLAY nor $WAYLAND_DISPLAY) the server runs
# without a window by itself, on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES
build_project
exec ./build/wharfkeep "$@"
