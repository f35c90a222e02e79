#!/usr/bin/env bash
# run.sh: installs what is missing, builds, and starts the demo (Escape quits).
#
# On a machine without a display it runs the demo for a few seconds on a virtual one instead,
# saves a screenshot and says where.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$root/scripts/deps.sh"
    "$root/scripts/build.sh" -DBUILD_TESTING=OFF
    exec "$build/scrolldemo" "$@"
fi

"$root/scripts/deps.sh" --virtual-display
"$root/scripts/build.sh" -DBUILD_TESTING=OFF

screenshot=$build/screenshot.png
echo "No display found: running the demo on a virtual 1920x1080 display for a few seconds."
"$root/tests/support/virtual-display.sh" bash -s "$root" "$build/scrolldemo" "$screenshot" \
    <<'SCRIPT'
set -euo pipefail
source "$1/tests/support/demo.sh"
demo_start "$2"
sleep "${RUN_SECONDS:-12}"
import -window root "$3"
demo_quit
SCRIPT
echo "The demo ran and quit on Escape. Screenshot: $screenshot"
