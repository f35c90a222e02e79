#!/usr/bin/env bash
# program-run.sh: the built program on the test display: it starts, draws, ends on
# Escape with status 0 and prints nothing; without any OpenGL it refuses to start
# with one line instead of crashing.
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$program" > "$work/out" 2> "$work/err" &
pid=$!
# Give it time to create its context and draw.
for _ in $(seq 50); do
    xdotool search --onlyvisible --pid "$pid" > /dev/null 2>&1 && break
    sleep 0.2
done
sleep 1
kill -0 "$pid" 2> /dev/null || fail "the program ended by itself: $(cat "$work/err")"
xdotool key Escape
for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2> /dev/null; then kill "$pid"; fail "still running 5 s after Escape"; fi
wait "$pid"; status=$?
[ "$status" -eq 0 ] || fail "exit status $status after Escape"
[ -s "$work/out" ] && fail "printed on stdout: $(cat "$work/out")"
[ -s "$work/err" ] && fail "printed on stderr: $(cat "$work/err")"
echo "PASS: drew, quit on Escape with 0, printed nothing"

QT_XCB_GL_INTEGRATION=none "$program" > "$work/out" 2> "$work/err"
status=$?
[ "$status" -ne 0 ] || fail "exit status 0 without OpenGL"
[ "$status" -lt 128 ] || fail "killed by signal $((status - 128)) without OpenGL"
ours=$(grep -c 'could not create an OpenGL 4.1 core profile context' "$work/err")
[ "$ours" -eq 1 ] || fail "expected one line about the context, stderr was: $(cat "$work/err")"
echo "PASS: without OpenGL, status $status and: $(grep 'could not create' "$work/err")"
