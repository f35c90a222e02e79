# demo.sh: starts a program with a window and ends it with Escape, for the shell scripts.
#
# Source it on a display (see virtual-display.sh); it needs xdotool.

# demo_start PROGRAM [ARG...]: starts it in the background as DEMO_PID and waits until its
# window is visible; fails if it ends first, or shows none within 60 s.
demo_start() {
    "$@" &
    DEMO_PID=$!
    # The search walks the window tree; a window that goes while it does (Qt makes and drops
    # some at start) ends it with an X error, and the next round looks again. Its output stays
    # out of the program's, which the caller may be capturing.
    for _ in $(seq 600); do
        xdotool search --onlyvisible --pid "$DEMO_PID" > /dev/null 2>&1 && return 0
        kill -0 "$DEMO_PID" 2> /dev/null || break
        sleep 0.1
    done
    echo "demo: no window from $*" >&2
    return 1
}

# demo_quit: presses Escape, waits up to 10 s for DEMO_PID to end and returns its exit status.
demo_quit() {
    xdotool key Escape
    for _ in $(seq 100); do
        kill -0 "$DEMO_PID" 2> /dev/null || break
        sleep 0.1
    done
    if kill -0 "$DEMO_PID" 2> /dev/null; then
        echo "demo: still running 10 s after Escape" >&2
        kill "$DEMO_PID"
    fi
    local status=0
    wait "$DEMO_PID" || status=$?
    return "$status"
}
