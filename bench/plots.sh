#!/usr/bin/env bash
# plots.sh: draws the last benchmark and soak as docs/frame-times.png and docs/soak-memory.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
results=$build/bench-results

"$root/scripts/deps.sh" --tests gnuplot-nox

# Every round's frame times one after another, A and B side by side.
cat "$results"/frame-times-demo-*.txt > "$results/demo-all.txt"
cat "$results"/frame-times-floor-*.txt > "$results/floor-all.txt"
gnuplot <<GNUPLOT
set terminal pngcairo size 1000,500 font "DejaVu Sans,11"
set output "$root/docs/frame-times.png"
set title "Frame times at 1920x1080 on llvmpipe, all rounds in order"
set xlabel "frame"
set ylabel "milliseconds"
set yrange [0:*]
set grid ytics
set key top right
plot "$results/demo-all.txt" using 0:1 with lines lw 1 lc rgb "#3050c0" title "A: the demo", \
     "$results/floor-all.txt" using 0:1 with lines lw 1 lc rgb "#a0a0a0" title "B: one flat quad"
GNUPLOT

if [ -f "$build/soak.tsv" ]; then
    # The soak's limit: 2 MiB above the resident memory at one minute.
    base=$(awk 'NR > 1 && $1 >= 60 { print $2 / 1024; exit }' "$build/soak.tsv")
    gnuplot <<GNUPLOT
set terminal pngcairo size 1000,500 font "DejaVu Sans,11"
set output "$root/docs/soak-memory.png"
set title "Soak: resident memory and frame rate of the program"
set xlabel "minutes"
set ylabel "resident memory (MiB)"
set y2label "frames per second"
set ytics nomirror
set y2tics
set y2range [0:60]
set yrange [$base - 3:$base + 3]
set grid ytics
set key bottom right
plot "$build/soak.tsv" using (\$1/60):(\$2/1024) every ::1 \
         with linespoints pt 7 ps 0.5 lc rgb "#3050c0" title "resident memory", \
     $base + 2 with lines dt 2 lc rgb "#c03030" title "limit: 2 MiB over the value at one minute", \
     "$build/soak.tsv" using (\$1/60):3 every ::1 axes x1y2 \
         with lines lc rgb "#c08030" title "frames per second"
GNUPLOT
fi
ls -l "$root"/docs/*.png
