#!/usr/bin/env bash
# bench.sh: measures the demo against the floor of presenting one flat quad, at 1920x1080.
#
# Usage: bench/bench.sh [--rounds N] [--seconds S] [--starts N]
# Prints the table (also kept in build/bench-results/table.txt, with every round's frame times
# beside it); bench/plots.sh turns them into pictures in docs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=$build/bench-results

"$root/scripts/deps.sh" --tests
"$root/scripts/build.sh" -DBUILD_TESTING=ON
rm -rf "$out"
mkdir -p "$out"
VIRTUAL_DISPLAY_SIZE=1920x1080 "$root/tests/support/virtual-display.sh" \
    "$build/bench/scrolldemo-bench" --out "$out" "$@" | tee "$out/table.txt"
