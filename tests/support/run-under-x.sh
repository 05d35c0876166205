#!/bin/sh
# Runs one test program on a virtual X server of its own (Xvfb), with openbox
# managing its windows, so that activation, focus and window frames behave as
# on a desktop. Exits 77 (skipped) when Xvfb or openbox is missing.
#   run-under-x.sh program [arguments...]
set -u

command -v Xvfb >/dev/null 2>&1 && command -v openbox >/dev/null 2>&1 || {
    echo "Xvfb or openbox is not installed: skipped" >&2
    exit 77
}

work=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Xvfb picks a free display number and writes it to the pipe once it is ready.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
# A bounded wait: a display number, or nothing after 20 s.
display=$(timeout 20 head -n1 "$work/display")
if [ -z "$display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$display"

HOME="$work" openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
# The window manager is ready once it has claimed the root window.
i=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    i=$((i + 1))
    if [ "$i" -gt 100 ]; then
        echo "openbox did not start:" >&2
        cat "$work/openbox.log" >&2
        exit 1
    fi
    sleep 0.1
done

export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$@"
