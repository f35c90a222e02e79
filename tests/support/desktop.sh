#!/usr/bin/env bash
# desktop.sh: starts a desktop on the current X display, headless, and says how tests reach it.
#
# Usage: tests/support/desktop.sh NAME WORKDIR
# Starts NAME in the background, waits until it is ready, and writes WORKDIR/desktop.env (the
# variables below, for the tests and the demo) and WORKDIR/desktop.pids (process groups to end).
#
# X11 window managers run on the display itself: openbox (no key bindings), openbox-stock (its
# shipped configuration), kwin, mutter, xfwm4, i3, none. Wayland compositors run in a window of
# the display's size, through their X11 back ends, so that screenshots and keys work as on
# X11: weston, sway, cage, kwin-wayland, mutter-wayland.
#
# desktop.env sets:
#   DESKTOP          the name
#   WAYLAND_DISPLAY, QT_QPA_PLATFORM   for a compositor: the demo runs as its Wayland client
#   DESKTOP_CLOSE    a command that closes the demo's window the desktop's own way ($WINDOW is
#                    its X11 window where it has one); empty where the desktop offers none
#   DESKTOP_KEEPS    keys the desktop keeps for itself, space-separated
#   SWAYSOCK         sway's IPC socket, which swaymsg reads
#   DESKTOP_OUTPUTS  the areas of the display that show outputs or monitors, as x,y,width,height,
#                    space-separated, and DESKTOP_OUTPUT the one the demo must open on
#
# VIRTUAL_DISPLAY_LAYOUT arranges the display into outputs before the desktop starts:
#   one                        the whole display (the default)
#   two-monitors               X11: two monitors, 1920x1080 on the left and the rest of the display
#                              on the right, none of them primary; the pointer is on the right,
#                              where Openbox (tests/support/openbox-rc.xml) opens a new window
#   two-monitors-primary-left  the same with the left monitor primary: the demo opens there
#   two-outputs                sway with two outputs, the display's halves side by side; the user
#                              works on the right one, which has the pointer and the focus
#   two-outputs-user-on-first  the same with the user on the left one, Qt's first output
#
# desktop.sh --check NAME exits with status 77, and says why, where NAME cannot run here at all: its
# release dropped what the suite starts it with. The suite counts the cases on it as skipped.
set -euo pipefail

if [ "$1" = --check ]; then
    why=
    case $2 in
    mutter) mutter --help 2>&1 | grep -q -- '--x11' || why="this Mutter has no X11 mode" ;;
    mutter-wayland) mutter --help 2>&1 | grep -q -- '--nested' || why="this Mutter cannot run nested" ;;
    esac
    [ -z "$why" ] && exit 0
    echo "desktop: $2 cannot run here: $why" >&2
    exit 77
fi

name=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
size=$(xdpyinfo | awk '/dimensions:/ { print $2 }')
width=${size%x*}
height=${size#*x}

close='wmctrl -i -c "$WINDOW"'
keeps=
wayland=
log=$work/desktop.log
layout=${VIRTUAL_DISPLAY_LAYOUT:-one}
outputs="0,0,$width,$height"
output=$outputs
output_size=$size

# Desktops write settings and caches; keep them out of the user's home.
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"

# Each in a process group of its own, so that ending it ends its helpers too.
start() {
    setsid "$@" >> "$log" 2>&1 < /dev/null &
    echo $! >> "$work/desktop.pids"
}

# sway and cage refuse to run as root: there they run as nobody, with a runtime directory (and
# configuration) of that user's own, outside WORKDIR, which only root may enter.
as_desktop_user() {
    if [ "$(id -u)" -eq 0 ]; then
        user_runtime=$(mktemp -d)
        chown nobody "$user_runtime"
        echo "$user_runtime" >> "$work/desktop.dirs"
        runas=(setpriv --reuid=nobody --regid=nogroup --clear-groups
               env -i DISPLAY="$DISPLAY" PATH=/usr/bin:/bin HOME="$user_runtime")
    else
        user_runtime=$work/user-runtime
        mkdir -m 700 "$user_runtime"
        runas=(env HOME="$user_runtime")
    fi
}

wait_for() {
    for _ in $(seq 300); do
        if "$@"; then return 0; fi
        sleep 0.05
    done
    echo "desktop: $name did not become ready" >&2
    cat "$log" >&2
    return 1
}
window_manager_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id'; }
socket_ready() { [ -S "$1" ]; }
# The first Wayland socket a compositor made in a runtime directory.
socket_in() { find "$1" -maxdepth 1 -type s -name 'wayland-*' | sort | head -n1; }
found_socket() { [ -n "$(socket_in "$1")" ]; }

case $layout in
one) ;;
two-monitors | two-monitors-primary-left)
    # Monitors, not outputs: the one output of the virtual display shows both.
    left='left'
    [ "$layout" = two-monitors-primary-left ] && left='*left'
    screen_output=$(xrandr --query | awk '/ connected/ { print $1; exit }')
    xrandr --setmonitor "$left" 1920/508x1080/286+0+0 "$screen_output" > /dev/null
    xrandr --setmonitor right "$((width - 1920))/677x$height/381+1920+0" none > /dev/null
    outputs="0,0,1920,1080 1920,0,$((width - 1920)),$height"
    output=${outputs#* }
    # The pointer stays on the right: the primary monitor wins over it.
    pointer_output=$output
    [ "$layout" = two-monitors-primary-left ] && output=${outputs% *} ;;
two-outputs | two-outputs-user-on-first)
    [ "$name" = sway ] || { echo "desktop: $layout is made with sway only" >&2; exit 2; }
    output_size="$((width / 2))x$height"
    outputs="0,0,$((width / 2)),$height $((width / 2)),0,$((width / 2)),$height"
    output=${outputs#* }
    [ "$layout" = two-outputs-user-on-first ] && output=${outputs% *} ;;
*)
    echo "desktop: no layout called $layout" >&2
    exit 2 ;;
esac

case $name in
openbox)
    start openbox --config-file "$here/openbox-rc.xml"
    wait_for window_manager_ready ;;
openbox-stock)
    start openbox
    keeps='alt+Escape'
    wait_for window_manager_ready ;;
kwin)
    start dbus-run-session kwin_x11
    wait_for window_manager_ready ;;
mutter)
    start dbus-run-session mutter --x11
    keeps='alt+Escape'
    wait_for window_manager_ready ;;
xfwm4)
    # Xfconf, where xfwm4 reads its settings, wants a session bus.
    start dbus-run-session xfwm4
    wait_for window_manager_ready ;;
i3)
    start i3 -c /etc/i3/config
    wait_for window_manager_ready ;;
none)
    close= ;;
weston)
    wayland=$XDG_RUNTIME_DIR/weston-e2e
    start weston --backend=x11-backend.so --use-pixman --width="$width" --height="$height" \
        --idle-time=0 --socket="$(basename "$wayland")"
    close=
    wait_for socket_ready "$wayland" ;;
sway)
    as_desktop_user
    printf 'output * resolution %s scale %s\noutput * bg #000000 solid_color\n' "$output_size" \
        "${VIRTUAL_DISPLAY_SCALE:-1}" > "$user_runtime/sway.conf"
    chmod 644 "$user_runtime/sway.conf"
    start "${runas[@]}" XDG_RUNTIME_DIR="$user_runtime" WLR_BACKENDS=x11 \
        sway -c "$user_runtime/sway.conf"
    wait_for found_socket "$user_runtime"
    wayland=$(socket_in "$user_runtime")
    wait_for eval '[ -n "$(find "$user_runtime" -name "sway-ipc.*.sock")" ]'
    export SWAYSOCK=$(find "$user_runtime" -name 'sway-ipc.*.sock')
    swaymsg=(swaymsg -s "$SWAYSOCK")
    close="${swaymsg[*]} kill"
    if [ "$layout" != one ]; then
        # A second output opens in a window of its own, over the first.
        "${swaymsg[@]}" create_output > /dev/null
        wait_for eval '[ "$(xwininfo -root -children | grep -c "^ *0x")" -ge 2 ]'
        "${swaymsg[@]}" output X11-2 position "$((width / 2))" 0 > /dev/null
        second=$(xwininfo -root -children | awk '$1 ~ /^0x/ { print $1 }' | sort | tail -n1)
        xdotool windowmove "$second" "$((width / 2))" 0
        # Sway moves the focus to the output under the pointer, which goes to the right edge
        # below: over the second output only once its window is shown there.
        in_place() {
            xwininfo -id "$second" | grep -q 'Map State: IsViewable' \
                && xwininfo -id "$second" | grep -q "Absolute upper-left X: *$((width / 2))\$"
        }
        wait_for in_place
        user_output=X11-2
        [ "$layout" = two-outputs-user-on-first ] && user_output=X11-1
        "${swaymsg[@]}" focus output "$user_output" > /dev/null
    fi ;;
cage)
    # A kiosk: it shows the newest window of its clients, here the demo; a program that shows
    # nothing keeps it running between demos.
    as_desktop_user
    start "${runas[@]}" XDG_RUNTIME_DIR="$user_runtime" WLR_BACKENDS=x11 \
        cage -- sleep infinity
    wait_for found_socket "$user_runtime"
    wayland=$(socket_in "$user_runtime")
    # Its output window opens at 1024x768; the output follows the window's size.
    host=$(xwininfo -root -children | awk '$1 ~ /^0x/ { print $1; exit }')
    xdotool windowsize "$host" "$width" "$height"
    close= ;;
kwin-wayland)
    # A copy without the program's file capability, which this sandbox refuses to execute; its
    # name must stay kwin_wayland for KWin's own Qt platform plugin to load.
    mkdir "$work/kwin"
    cp /usr/bin/kwin_wayland "$work/kwin/kwin_wayland"
    wayland=$XDG_RUNTIME_DIR/kwin-e2e
    start dbus-run-session "$work/kwin/kwin_wayland" --x11-display "$DISPLAY" \
        --width "$width" --height "$height" --socket "$(basename "$wayland")"
    close='xdotool key alt+F4'
    wait_for socket_ready "$wayland" ;;
mutter-wayland)
    wayland=$XDG_RUNTIME_DIR/mutter-e2e
    start env MUTTER_DEBUG_DUMMY_MODE_SPECS="$size" dbus-run-session mutter --nested --wayland \
        --wayland-display="$(basename "$wayland")"
    close='xdotool key alt+F4'
    keeps='alt+Escape'
    wait_for socket_ready "$wayland" ;;
*)
    echo "desktop: no desktop called $name" >&2
    exit 2 ;;
esac

# The pointer rests at the right edge of the user's output, between the rows the tests read: a compositor draws it
# into its picture until a client's window under it says otherwise. A compositor learns where
# the pointer is only from motion over its window, so that window must be there first.
output_window_mapped() {
    local window
    for window in $(xwininfo -root -children | awk '$1 ~ /^0x/ { print $1 }'); do
        xwininfo -id "$window" | grep -q 'Map State: IsViewable' && return 0
    done
    return 1
}
[ -n "$wayland" ] && wait_for output_window_mapped
IFS=, read -r output_x _ output_width _ <<< "${pointer_output:-$output}"
xdotool mousemove "$((output_x + output_width - 2))" "$((height * 3 / 8))" mousemove_relative 1 0

{
    printf 'export DESKTOP=%q\n' "$name"
    printf 'export DESKTOP_CLOSE=%q\n' "$close"
    printf 'export DESKTOP_KEEPS=%q\n' "$keeps"
    printf 'export DESKTOP_OUTPUTS=%q\n' "$outputs"
    printf 'export DESKTOP_OUTPUT=%q\n' "$output"
    if [ -n "${SWAYSOCK:-}" ]; then
        printf 'export SWAYSOCK=%q\n' "$SWAYSOCK"
    fi
    if [ -n "$wayland" ]; then
        printf 'export WAYLAND_DISPLAY=%q\n' "$wayland"
        printf 'export QT_QPA_PLATFORM=wayland\n'
    fi
} > "$work/desktop.env"
