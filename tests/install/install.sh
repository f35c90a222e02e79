#!/usr/bin/env bash
# install.sh: installs the build into a temporary prefix, checks what lands there, and runs the
# installed program on the current display until Escape.
#
# Usage: tests/install/install.sh BUILD_DIR
# When the run fails, the program's output and a screenshot are kept in
# BUILD_DIR/install-test-failure/ and printed.
set -u
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/demo.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Once the program has been started, what it printed and what the screen showed are kept.
fail() {
    echo "FAIL: $*"
    if [ -n "${DEMO_PID:-}" ]; then
        kill "$DEMO_PID" 2> /dev/null
        local kept=$build/install-test-failure
        rm -rf "$kept"
        mkdir -p "$kept"
        cp "$work/out" "$work/err" "$kept/"
        import -window root "$kept/screenshot.png" 2> /dev/null
        echo "--- the program's standard output:"
        cat "$kept/out"
        echo "--- its standard error:"
        cat "$kept/err"
        echo "--- screenshot: $kept/screenshot.png"
    fi
    exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1 \
    || fail "cmake --install: $(cat "$work/install.log")"
share=$prefix/share

[ -x "$prefix/bin/scrolldemo" ] || fail "no program in bin/"
entry=$share/applications/scrolldemo.desktop
desktop-file-validate "$entry" > "$work/validate.log" 2>&1 \
    || fail "desktop entry: $(cat "$work/validate.log")"
grep -q '^Comment=.*Escape' "$entry" || fail "the desktop entry does not say that Escape quits"
grep -qx 'PrefersNonDefaultGPU=true' "$entry" || fail "the desktop entry does not ask for the GPU"

metainfo=$share/metainfo/invalid.example.scrolldemo.metainfo.xml
[ -f "$metainfo" ] || fail "no AppStream metainfo at $metainfo"
appstreamcli validate --no-net "$metainfo" > "$work/appstream.log" 2>&1 \
    && ! grep -qE '^(E|W):' "$work/appstream.log" \
    || fail "appstreamcli validate: $(cat "$work/appstream.log")"
grep -q '<launchable type="desktop-id">scrolldemo.desktop</launchable>' "$metainfo" \
    || fail "the metainfo does not launch the desktop entry"

for size in 16 24 32 48 64 128 256; do
    icon=$share/icons/hicolor/${size}x${size}/apps/scrolldemo.png
    [ "$(identify -format %m-%wx%h "$icon" 2> /dev/null)" = "PNG-${size}x${size}" ] \
        || fail "no ${size}x${size} PNG icon at $icon"
done
grep -q '<path' "$share/icons/hicolor/scalable/apps/scrolldemo.svg" \
    || fail "no scalable icon drawn in paths"

grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$share/doc/scrolldemo/copyright" || fail "no machine-readable copyright file"
zcat "$share/doc/scrolldemo/changelog.gz" | head -n1 | grep -q '^scrolldemo (' \
    || fail "no changelog"
manual=$share/man/man6/scrolldemo.6.gz
for section in NAME KEYS OPTIONS 'EXIT STATUS' REQUIREMENTS; do
    man -l "$manual" 2> /dev/null | grep -q "^$section" \
        || fail "the manual page has no $section section"
done
echo "PASS: program, desktop entry, metainfo, icons, copyright, changelog and manual page in place"

# Started as a launcher starts it: the launcher's busy feedback ends once the window is shown.
xev -root -event property > "$work/root-events" 2>&1 &
watcher=$!
sleep 0.5
demo_start env DESKTOP_STARTUP_ID=scrolldemo-install-test_TIME0 "$prefix/bin/scrolldemo" \
    > "$work/out" 2> "$work/err" || fail "the installed program showed no window"
sleep 1
kill "$watcher"
demo_quit
status=$?
[ "$status" -eq 0 ] || fail "exit status $status after Escape"
[ -s "$work/out" ] && fail "printed on stdout"
[ -s "$work/err" ] && fail "printed on stderr"
if grep -qx 'StartupNotify=true' "$entry"; then
    grep -q '_NET_STARTUP_INFO_BEGIN' "$work/root-events" \
        || fail "the desktop entry promises startup notification, but none was completed"
fi
echo "PASS: the installed program ran until Escape, exit status 0, nothing printed"
