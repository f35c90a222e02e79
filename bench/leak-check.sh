#!/usr/bin/env bash
# leak-check.sh: runs the program, built with AddressSanitizer, for six seconds (a few hundred
# frames), quits it with Escape, and fails on any leak or memory error outside the suppressions
# in bench/lsan.supp, or if fewer than 200 frames were presented.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
asan=${ASAN_BUILD_DIR:-$root/build-asan}

"$root/scripts/deps.sh" --tests
# The frame counter comes from the normal build; only the program is built with the sanitizer.
"$root/scripts/build.sh" -DBUILD_TESTING=ON
BUILD_DIR=$asan "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address -fno-omit-frame-pointer"

report=$asan/leak-report.txt
# A smaller screen gives a few hundred frames in seconds even under the sanitizer.
ran=0
if VIRTUAL_DISPLAY_SIZE=960x540 "$root/tests/support/virtual-display.sh" bash -s \
    "$root" "$asan/scrolldemo" "$build/bench/count-frames" "$report" <<'SCRIPT'
set -u
source "$1/tests/support/demo.sh"
report=$4
export ASAN_OPTIONS=detect_leaks=1:log_path=$report.asan:verify_asan_link_order=0
export LSAN_OPTIONS=suppressions=$1/bench/lsan.supp:print_suppressions=1
rm -f "$report" "$report".asan.*
# Mesa unloads its driver before the leak scan; the blocks its globals still point to would
# then show as leaks from an unknown module. Preloading keeps it mapped.
driver=$(ls /usr/lib/*/dri/swrast_dri.so | head -n1)
demo_start env LD_PRELOAD="$driver" "$2" || exit 1
sleep 1
frames=$("$3" "$DEMO_PID" 6)
demo_quit
status=$?
cat "$report".asan.* > "$report" 2> /dev/null
echo "frames counted over 6 s: $frames; exit status $status"
# A sanitizer report sets the status too; it is read below.
[ "$frames" -ge 200 ] && { [ "$status" -eq 0 ] || grep -q Sanitizer "$report"; }
SCRIPT
then ran=1; fi
if grep -q 'ERROR: \(Leak\|Address\)Sanitizer' "$report" 2> /dev/null; then
    cat "$report"
    echo "leak-check: FAILED (report: $report)"
    exit 1
fi
if [ "$ran" -ne 1 ]; then
    echo "leak-check: FAILED: fewer than 200 frames in 6 s, or no clean exit on Escape"
    exit 1
fi
grep -A100 'Suppressions used' "$report" 2> /dev/null || true
echo "leak-check: no leak or memory error outside the suppressions (report: $report)"
