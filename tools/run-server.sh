#!/usr/bin/env bash
# Installs what is missing, builds, and starts the server (wharfkeep).
# Without a display (no $DISPLAY) it runs on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES
build_project
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
fi
exec ./build/wharfkeep "$@"
