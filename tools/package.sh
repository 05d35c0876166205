#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package
# harnwick-tftp (both programs, man pages, icons, menu entries and the
# wharfkeep service) with CPack. Prints the .deb's path at the end.
# Run as root on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
# dpkg-shlibdeps (dpkg-dev) works out Depends; CPack runs `file` to find
# the programs to give it.
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $PACKAGE_PACKAGES
build_project >&2
out=build/package
rm -rf "$out"
mkdir -p "$out"
cpack -G DEB --config build/CPackConfig.cmake -B "$out" >&2
rm -rf "$out/_CPack_Packages"
deb=$(find "$out" -maxdepth 1 -name '*.deb' -print -quit)
[ -n "$deb" ] || { echo "package.sh: cpack made no .deb" >&2; exit 1; }
realpath "$deb"
