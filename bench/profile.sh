#!/usr/bin/env bash
# profile.sh: samples the running program with perf and prints where its CPU time goes, by
# thread and library, then the GUI thread's hottest symbols.
#
# Usage: bench/profile.sh [SECONDS]   (perf's cpu-clock sampling; needs no hardware counters)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
seconds=${1:-6}

"$root/scripts/deps.sh" --tests linux-perf
"$root/scripts/build.sh" -DBUILD_TESTING=ON

data=$build/perf.data
"$root/tests/support/virtual-display.sh" bash -s "$root" "$build/scrolldemo" "$data" "$seconds" \
    <<'SCRIPT'
set -euo pipefail
source "$1/tests/support/demo.sh"
demo_start "$2"
sleep 2
perf record -q -e cpu-clock -F 499 -g -p "$DEMO_PID" -o "$3" -- sleep "$4" > /dev/null 2>&1
demo_quit
SCRIPT
echo "== CPU samples by thread and library"
perf report -i "$data" --no-children --sort comm,dso --stdio -g none 2> /dev/null \
    | grep -v '^#' | grep -v '^$' | head -12
echo "== GUI thread: hottest symbols"
perf report -i "$data" --no-children --comm scrolldemo --sort dso,sym --stdio -g none 2> /dev/null \
    | grep -v '^#' | grep -v '^$' | grep -v ' 0x0' | head -12
