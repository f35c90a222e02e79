#!/usr/bin/env bash
# bench.sh: measures the demo against the floor of presenting one flat quad, at 1920x1080.
#
# Usage: bench/bench.sh [--rounds N] [--seconds S] [--starts N]
# Prints the table (also kept in build/bench-results/table.txt, with every round's frame times
# beside it), then the demo and the compositing manager under KWin with and without the demo's
# compositor bypass; bench/plots.sh turns the frame times into pictures in docs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=$build/bench-results

"$root/scripts/deps.sh" --tests
"$root/scripts/build.sh" -DBUILD_TESTING=ON
# The composited rounds: as many as the others, three unless --rounds says.
composited_rounds=3
args=("$@")
for i in "${!args[@]}"; do
    [ "${args[$i]}" = --rounds ] && composited_rounds=${args[$((i + 1))]:-3}
done
rm -rf "$out"
mkdir -p "$out"
VIRTUAL_DISPLAY_SIZE=1920x1080 "$root/tests/support/virtual-display.sh" \
    "$build/bench/scrolldemo-bench" --out "$out" "$@" | tee "$out/table.txt"
# What a compositing manager costs, and what the demo's bypass request saves: under KWin.
VIRTUAL_DISPLAY_SIZE=1920x1080 VIRTUAL_DISPLAY_DESKTOP=kwin \
    "$root/tests/support/virtual-display.sh" "$build/bench/scrolldemo-bench" --composited \
    --rounds "$composited_rounds" | tee -a "$out/table.txt"
