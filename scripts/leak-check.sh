#!/usr/bin/env bash
# leak-check.sh: runs the program, built with AddressSanitizer, for a few hundred frames and
# fails on any leak or memory error outside the suppressed driver and font libraries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-asan}

"$root/scripts/deps.sh"
BUILD_DIR=$build "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address -fno-omit-frame-pointer"

report=$build/leak-report.txt
# A smaller screen gives a few hundred frames in seconds even under the sanitizer.
ran=0
if VIRTUAL_DISPLAY_SIZE=960x540 "$root/scripts/virtual-display.sh" bash -s "$build" "$root/scripts/lsan.supp" "$report" <<'SCRIPT'
set -u
build=$1
export ASAN_OPTIONS=detect_leaks=1:log_path=$3.asan:verify_asan_link_order=0
export LSAN_OPTIONS=suppressions=$2:print_suppressions=1
rm -f "$3" "$3".asan.*
# Mesa unloads its driver before the leak scan; the blocks its globals still point to
# would then show as leaks from an unknown module. Preloading keeps it mapped.
driver=$(ls /usr/lib/*/dri/swrast_dri.so | head -n1)
LD_PRELOAD=$driver "$build/scrolldemo" & pid=$!
timeout 60 xdotool search --sync --onlyvisible --pid "$pid" > /dev/null
sleep 1
# The counter is built with the sanitizer too; only the program's report matters.
frames=$(ASAN_OPTIONS=detect_leaks=0 "$build/bench/scrolldemo-bench" --count-frames "$pid" --seconds 6)
xdotool key Escape
wait "$pid"; status=$?
cat "$3".asan.* > "$3" 2>/dev/null
echo "frames counted over 6 s: $frames; exit status $status"
# A sanitizer report sets the status too; it is read below.
[ "$frames" -ge 200 ] && { [ "$status" -eq 0 ] || grep -q Sanitizer "$3"; }
SCRIPT
then ran=1; fi
if grep -q 'ERROR: \(Leak\|Address\)Sanitizer' "$report" 2>/dev/null; then
    cat "$report"
    echo "leak-check: FAILED (report: $report)"
    exit 1
fi
if [ "$ran" -ne 1 ]; then
    echo "leak-check: FAILED: no few hundred frames, or no clean exit on Escape"
    exit 1
fi
grep -A100 'Suppressions used' "$report" 2>/dev/null || true
echo "leak-check: no leak or memory error outside the suppressions (report: $report)"
