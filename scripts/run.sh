#!/usr/bin/env bash
# run.sh: installs what is missing, builds, and starts the demo (Escape quits).
#
# On a machine without a display it runs the demo for a few seconds on a virtual one
# instead, saves a screenshot and says where.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/deps.sh"
"$root/scripts/build.sh"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$build/scrolldemo" "$@"
fi

screenshot=$build/screenshot.png
echo "No display found: running the demo on a virtual 1920x1080 display for a few seconds."
"$root/scripts/virtual-display.sh" bash -c '
    "$1" & pid=$!
    sleep "${RUN_SECONDS:-12}"
    import -window root "$2"
    xdotool key Escape
    wait "$pid"
' run "$build/scrolldemo" "$screenshot"
echo "The demo ran and quit on Escape. Screenshot: $screenshot"
