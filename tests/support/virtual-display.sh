#!/usr/bin/env bash
# virtual-display.sh: runs a command on a private virtual X display with a desktop.
#
# Usage: tests/support/virtual-display.sh COMMAND [ARG...]
# The screen is 1920x1080 unless VIRTUAL_DISPLAY_SIZE says otherwise. The desktop is Openbox
# unless VIRTUAL_DISPLAY_DESKTOP names another (see desktop.sh); with
# VIRTUAL_DISPLAY_DESKTOP_LATER=1 it is not started, and START_DESKTOP is the command that starts
# it. The display, the desktop and a private XDG_RUNTIME_DIR exist only while COMMAND runs; its
# exit status is passed on.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
size=${VIRTUAL_DISPLAY_SIZE:-1920x1080}
desktop=${VIRTUAL_DISPLAY_DESKTOP:-openbox}

# A desktop that cannot run here at all skips the command (status 77).
"$here/desktop.sh" --check "$desktop" || exit

work=$(mktemp -d)
xvfb_pid=
# The desktop's processes are not this shell's children: they are waited for by their process
# groups, so that none still writes into the directories removed below.
cleanup() {
    local groups=()
    [ -f "$work/desktop.pids" ] && mapfile -t groups < "$work/desktop.pids"
    for group in "${groups[@]}"; do kill -- "-$group" 2> /dev/null || true; done
    # A member that has ended counts as gone even before it is reaped: its orphans are reaped by
    # process 1, which in some containers takes its time.
    for _ in $(seq 50); do
        ps -e -o pgid=,stat= | awk -v groups=" ${groups[*]} " \
            'index(groups, " " $1 " ") && $2 !~ /^Z/ { found = 1 } END { exit !found }' || break
        sleep 0.1
    done
    for group in "${groups[@]}"; do kill -KILL -- "-$group" 2> /dev/null || true; done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    if [ -f "$work/desktop.dirs" ]; then
        while read -r dir; do rm -rf "$dir" || true; done < "$work/desktop.dirs"
    fi
    rm -rf "$work" || true
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
unset WAYLAND_DISPLAY QT_QPA_PLATFORM DESKTOP DESKTOP_CLOSE DESKTOP_KEEPS START_DESKTOP SWAYSOCK

mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

# Without a window manager full-screen requests go unanswered, so a desktop that does not start
# is an error, not a detail.
if [ -n "${VIRTUAL_DISPLAY_DESKTOP_LATER:-}" ]; then
    export DESKTOP=$desktop
    export START_DESKTOP="$(printf '%q %q %q' "$here/desktop.sh" "$desktop" "$work")"
else
    "$here/desktop.sh" "$desktop" "$work"
    source "$work/desktop.env"
fi

set +e
"$@"
status=$?
set -e
# A failure may be the desktop's: what it said is gone with the directory otherwise.
if [ "$status" -ne 0 ] && [ -s "$work/desktop.log" ]; then
    echo "virtual-display: the last lines from $desktop:" >&2
    tail -n 40 "$work/desktop.log" >&2
fi
exit "$status"
