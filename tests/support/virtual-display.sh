#!/usr/bin/env bash
# virtual-display.sh: runs a command on a private virtual X display with a window manager.
#
# Usage: tests/support/virtual-display.sh COMMAND [ARG...]
# The screen is 1920x1080 unless VIRTUAL_DISPLAY_SIZE says otherwise. The display, the window
# manager and a private XDG_RUNTIME_DIR exist only while COMMAND runs; its exit status is passed
# on.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
size=${VIRTUAL_DISPLAY_SIZE:-1920x1080}

work=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# -displayfd picks a free display number and reports it once the server accepts clients.
# -noreset: by default the server resets whenever its last client leaves, and a client that
# connects during the reset is turned away. The readiness check below is such a last client
# whenever it runs before the window manager has connected, which on a loaded machine left the
# window manager without a display.
exec 3> "$work/display"
Xvfb -displayfd 3 -noreset -screen 0 "${size}x24" -nolisten tcp +extension GLX \
    > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "virtual-display: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY

mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

openbox --config-file "$here/openbox-rc.xml" > "$work/openbox.log" 2>&1 &
wm_pid=$!
# The window manager is ready once it announces itself on the root window. Without it
# full-screen requests go unanswered, so a missing one is an error, not a detail.
wm_ready=
for _ in $(seq 300); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        wm_ready=1
        break
    fi
    kill -0 "$wm_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$wm_ready" ]; then
    echo "virtual-display: the window manager did not start" >&2
    cat "$work/openbox.log" >&2
    exit 1
fi

set +e
"$@"
status=$?
set -e
exit "$status"
