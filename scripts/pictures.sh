#!/usr/bin/env bash
# pictures.sh: runs the built demo on a virtual display and writes docs/screenshot.png and docs/demo.gif.
#
# Needs the build (scripts/run.sh or scripts/test.sh makes it). The screenshot is a full
# 1920x1080 frame taken while the greeting is in view; the animation is a few seconds
# of the same run, scaled down.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
[ -x "$build/scrolldemo" ] || { echo "pictures: build first (scripts/run.sh)" >&2; exit 1; }

"$root/scripts/virtual-display.sh" bash -s "$build/scrolldemo" "$root/docs" <<'SCRIPT'
set -euo pipefail
program=$1
docs=$2
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT

"$program" & pid=$!
# By 12 s the greeting's first words fill the right half of the screen.
sleep 12
import -window root "$docs/screenshot.png"

# About 5 s at the capture's own pace; each frame keeps its measured duration.
start=$(date +%s%N)
previous=$start
i=0
while [ $(( $(date +%s%N) - start )) -lt 5000000000 ]; do
    import -window root "$frames/$(printf %03d $i).miff"
    now=$(date +%s%N)
    echo $(( (now - previous) / 10000000 )) >> "$frames/delays"
    previous=$now
    i=$((i + 1))
done
xdotool key Escape
wait "$pid"

args=()
delays=($(cat "$frames/delays"))
for n in $(seq 0 $((i - 1))); do
    args+=(-delay "${delays[$n]}" "$frames/$(printf %03d "$n").miff")
done
convert "${args[@]}" -resize 480x270 -colors 96 -layers Optimize -loop 0 "$docs/demo.gif"
SCRIPT
ls -l "$root/docs/screenshot.png" "$root/docs/demo.gif"
