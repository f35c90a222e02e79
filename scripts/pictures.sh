#!/usr/bin/env bash
# pictures.sh: draws the README's pictures from the real window at exact times:
# docs/screenshot.png (1920x1080, at 12.0 s) and docs/demo.gif (4 s from 12.0 s, 25 frames a
# second, scaled down).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/deps.sh" --virtual-display
"$root/scripts/build.sh" -DBUILD_TESTING=OFF
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT

"$root/tests/support/virtual-display.sh" "$build/generators/render-frames" "$frames" 12000 40 100
cp "$frames/frame-0000.png" "$root/docs/screenshot.png"
# Scaled one at a time: ImageMagick's default resource limits do not hold 100 full frames.
mogrify -resize 480x270 "$frames"/frame-*.png
# Every frame shows 4 hundredths of a second, the GIF format's unit: 25 frames a second.
# Undithered, the frames differ only where the picture moves, which keeps the file small.
convert -delay 4 "$frames"/frame-*.png +dither -colors 96 -layers Optimize -loop 0 \
    "$root/docs/demo.gif"
ls -l "$root/docs/screenshot.png" "$root/docs/demo.gif"
