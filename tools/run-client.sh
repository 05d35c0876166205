#!/usr/bin/env bash
# Installs what is missing, builds, and starts the client (skiffer). The
# client is a window for a person to use: it needs a display.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES
build_project
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "skiffer needs a display (set DISPLAY or WAYLAND_DISPLAY)" >&2
    exit 1
fi
exec ./build/skiffer "$@"
