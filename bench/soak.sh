#!/usr/bin/env bash
# soak.sh: runs the program for a while (default 10 minutes) and watches its memory and frames.
#
# Usage: bench/soak.sh [MINUTES]
# Every 5 s it records resident memory and the frames presented in one second, into
# build/soak.tsv. It fails if memory grows by more than 2 MiB after the first minute, or if
# frames stop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
minutes=${1:-10}

"$root/scripts/deps.sh" --tests
"$root/scripts/build.sh" -DBUILD_TESTING=ON

"$root/tests/support/virtual-display.sh" bash -s "$root" "$build" "$minutes" <<'SCRIPT'
set -euo pipefail
root=$1
build=$2
seconds=$(awk "BEGIN { print int($3 * 60) }")
table=$build/soak.tsv
source "$root/tests/support/demo.sh"

demo_start "$build/scrolldemo"
start=$(date +%s)
echo -e "seconds\trss_kib\tframes_per_second" > "$table"
baseline=
peak=0
fail=
while :; do
    elapsed=$(( $(date +%s) - start ))
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$DEMO_PID/status")
    fps=$("$build/bench/count-frames" "$DEMO_PID" 1)
    echo -e "$elapsed\t$rss\t$fps" >> "$table"
    [ "$fps" -gt 0 ] || fail="no frame in the second after ${elapsed} s"
    if [ "$elapsed" -ge 60 ]; then
        [ -n "$baseline" ] || baseline=$rss
        [ "$rss" -gt "$peak" ] && peak=$rss
    fi
    [ -z "$fail" ] && [ "$elapsed" -lt "$seconds" ] || break
    sleep 4
done
demo_quit || fail="${fail:+$fail; }exit status $?"

samples=$(( $(wc -l < "$table") - 1 ))
first=$(awk 'NR == 2 { print $2 }' "$table")
echo "soak: $samples samples over ${elapsed} s; resident memory $first KiB at the start," \
     "${baseline:-n/a} KiB at one minute, peak after that ${peak} KiB; table: $table"
if [ -n "$baseline" ] && [ $(( peak - baseline )) -gt 2048 ]; then
    fail="${fail:+$fail; }memory grew by $(( peak - baseline )) KiB after the first minute"
fi
awk 'NR > 1 { n++; s += $3; if (min == "" || $3 < min) min = $3 }
     END { printf "soak: frames per second: mean %.1f, lowest %d\n", s / n, min }' "$table"
if [ -n "$fail" ]; then
    echo "soak: FAILED: $fail"
    exit 1
fi
echo "soak: passed"
SCRIPT
