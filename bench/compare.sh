#!/usr/bin/env bash
# compare.sh: measures an earlier revision beside the working tree, alternating, in one sitting.
#
# Usage: bench/compare.sh REVISION [ROUNDS]   (default 5 rounds of 5 s per build and variant)
# Builds REVISION in build-compare/, then alternates one-round processes of both builds (the
# demo at device-pixel ratios 1 and 2, and the floor) and start-ups of both programs, and prints
# the medians side by side. The revision measures one round with the program that came with
# it: bench-round, or before that scrolldemo-bench --measure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
old=$root/build-compare
revision=${1:?usage: bench/compare.sh REVISION [ROUNDS]}
rounds=${2:-5}

"$root/scripts/deps.sh" --tests
"$root/scripts/build.sh" -DBUILD_TESTING=ON
rm -rf "$old" "$old-source"
git -C "$root" worktree add --detach -f "$old-source" "$revision" > /dev/null
trap 'git -C "$root" worktree remove --force "$old-source"' EXIT
mkdir -p "$old"
{
    cmake -S "$old-source" -B "$old" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
        cmake --build "$old" --parallel "$(nproc)"
} > "$old/build-output.log" 2>&1 || { cat "$old/build-output.log" >&2; exit 1; }

results=$build/compare-results
rm -rf "$results"
mkdir -p "$results"
VIRTUAL_DISPLAY_SIZE=1920x1080 "$root/tests/support/virtual-display.sh" bash -s \
    "$old" "$build" "$results" "$rounds" <<'SCRIPT'
set -euo pipefail
old=$1 new=$2 results=$3 rounds=$4
old_round=("$old/bench/bench-round")
[ -x "${old_round[0]}" ] || old_round=("$old/bench/scrolldemo-bench" --measure)
for round in $(seq "$rounds"); do
    for variant in demo:1 demo:2 floor:1; do
        window=${variant%:*} scale=${variant#*:}
        QT_SCALE_FACTOR=$scale "${old_round[@]}" "$window" --seconds 5 \
            | grep '^result' >> "$results/before-$window-$scale"
        QT_SCALE_FACTOR=$scale "$new/bench/bench-round" "$window" --seconds 5 \
            | grep '^result' >> "$results/after-$window-$scale"
        echo "round $round $variant done" >&2
    done
done
"$new/bench/scrolldemo-bench" --rounds 0 --starts 10 --compare "$old/scrolldemo" \
    | grep '^start to first frame' > "$results/startups"
SCRIPT

# The median of one field over a file of "result key=value ..." lines.
median() {
    tr ' ' '\n' < "$1" | sed -n "s/^$2=//p" | sort -g \
        | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "-" }'
}
row() {
    printf '%-40s %12s %12s\n' "$1" \
        "$(median "$results/before-$2" "$3")" "$(median "$results/after-$2" "$3")"
}
printf '%-40s %12s %12s\n' "" "before" "after"
row "frames per second, ratio 1" demo-1 fps
row "frames per second, ratio 2" demo-2 fps
row "frames per second, floor" floor-1 fps
row "frame time median (ms), ratio 1" demo-1 median
row "frame time 99th percentile (ms), ratio 1" demo-1 p99
row "paintGL CPU per frame (ms), ratio 1" demo-1 cpu
row "paintGL CPU per frame (ms), ratio 2" demo-2 cpu
for when in before after; do
    a=$(median "$results/$when-demo-1" fps)
    b=$(median "$results/$when-floor-1" fps)
    eval "ratio_$when=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')"
done
printf '%-40s %12s %12s\n' "A/B frame-rate ratio" "$ratio_before" "$ratio_after"
# "start to first frame: PROGRAM   MEDIAN ms   (MIN - MAX)"
startup() {
    grep -F "start to first frame: $1 " "$results/startups" \
        | awk '{ for (i = 1; i < NF; ++i) if ($(i + 1) == "ms") print $i }'
}
printf '%-40s %12s %12s\n' "start to first frame (ms)" \
    "$(startup "$old/scrolldemo")" "$(startup demo)"
printf '%-40s %12s %12s\n' "  the floor window, for comparison" "" "$(startup "floor window")"
echo "(rounds: $rounds of 5 s per build and variant, alternating; start-ups: 10 each, alternating;"
echo " results in ${results#"$root"/})"
