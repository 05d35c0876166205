#!/usr/bin/env bash
# Takes the README's two screenshots (docs/wharfkeep.png, docs/skiffer.png):
# the client fetching a large file from the server, both windows caught in
# the middle of the transfer. Everything runs on a virtual X server of its
# own with openbox, on 127.0.0.1 and a free port; run as root on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside ]; then
    . tools/packages.sh
    # shellcheck disable=SC2086
    install_packages $BUILD_PACKAGES xvfb openbox x11-utils xdotool imagemagick iproute2
    build_project
    exec sh tests/support/run-under-x.sh bash "$0" --inside
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Both programs number the machine's addresses as the system lists them,
# loopback addresses last; this is the position of 127.0.0.1.
position=$(ip -4 -o addr show up | awk '{ split($4, a, "/"); print a[1] }' |
    awk '!/^127\./ { n++ } /^127\./ { loop[++m] = $0 }
         END { for (i = 1; i <= m; i++) if (loop[i] == "127.0.0.1") { print n + i; exit } }')
[ -n "$position" ] || { echo "screenshots.sh: 127.0.0.1 is not up" >&2; exit 1; }
# A free UDP port above 1024, never 69.
port=$(( (RANDOM % 20000) + 20000 ))
while ss -Hun "sport = :$port" | grep -q .; do port=$((port + 1)); done

mkdir -p "$work/server/Harnwick" "$work/client" "$work/out" "$work/in"
head -c 80000000 /dev/zero >"$work/out/firmware.bin"
cat >"$work/server/Harnwick/Wharfkeep.ini" <<EOF
[General]
OutPath=out/
InPath=in/
Port=$port
nDefAddress=$position
bDisplay=1
bDelete=14
EOF
cat >"$work/client/skiffer.ini" <<EOF
[Options]
Default IP=$position
Inbound=$work/in/
Outbound=$work/out/
[Startup]
Host=127.0.0.1
Local=firmware.bin
Remote=firmware.bin
EOF

# Waits (at most 10 s) for a visible window whose title matches, and prints its id.
window() {
    local id i
    for i in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "screenshots.sh: no window \"$1\"" >&2
    return 1
}

# The folders are relative to the server's own, so the view shows out/firmware.bin.
(cd "$work" && XDG_CONFIG_HOME="$work/server" exec "$OLDPWD/build/wharfkeep" --no-splash) &
pids+=($!)
# The title names the address served: anything but 127.0.0.1 ends the run.
server=$(window "^127\.0\.0\.1\.$port - Wharfkeep") || exit 1
xdotool windowmove --sync "$server" 20 20

XDG_CONFIG_HOME="$work/client" ./build/skiffer &
pids+=($!)
client=$(window "Skiffer") || exit 1
xdotool windowmove --sync "$client" 20 320
xdotool windowactivate --sync "$client"
sleep 0.5
# The Port field, then Fetch (positions inside the form).
xdotool mousemove --window "$client" 290 37 click --repeat 3 1
xdotool type --delay 20 "$port"
xdotool mousemove --window "$client" 404 67 click 1
sleep 3
import -frame -window "$server" -strip png8:docs/wharfkeep.png
import -frame -window "$client" -strip png8:docs/skiffer.png
ls -l docs/wharfkeep.png docs/skiffer.png
