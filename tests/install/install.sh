#!/usr/bin/env bash
# install.sh: installs the build into a temporary prefix, checks what lands there, and runs the
# installed program on the current display until Escape.
#
# Usage: tests/install/install.sh BUILD_DIR
set -u
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/demo.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1 \
    || fail "cmake --install: $(cat "$work/install.log")"

[ -x "$prefix/bin/scrolldemo" ] || fail "no program in bin/"
entry=$prefix/share/applications/scrolldemo.desktop
desktop-file-validate "$entry" > "$work/validate.log" 2>&1 \
    || fail "desktop entry: $(cat "$work/validate.log")"
grep -q '^Comment=.*Escape' "$entry" || fail "the desktop entry does not say that Escape quits"
icon=$prefix/share/icons/hicolor/256x256/apps/scrolldemo.png
[ "$(identify -format %m-%wx%h "$icon" 2> /dev/null)" = PNG-256x256 ] \
    || fail "no 256x256 PNG icon at $icon"
grep -q '<path' "$prefix/share/icons/hicolor/scalable/apps/scrolldemo.svg" \
    || fail "no scalable icon drawn in paths"
manual=$prefix/share/man/man6/scrolldemo.6.gz
for section in NAME KEYS OPTIONS 'EXIT STATUS' REQUIREMENTS; do
    man -l "$manual" 2> /dev/null | grep -q "^$section" \
        || fail "the manual page has no $section section"
done
echo "PASS: program, desktop entry, icons and manual page in place"

demo_start "$prefix/bin/scrolldemo" > "$work/out" 2> "$work/err" \
    || fail "the installed program showed no window"
sleep 1
demo_quit
status=$?
[ "$status" -eq 0 ] || fail "exit status $status after Escape"
[ -s "$work/out" ] && fail "printed on stdout: $(cat "$work/out")"
[ -s "$work/err" ] && fail "printed on stderr: $(cat "$work/err")"
echo "PASS: the installed program ran until Escape, exit status 0, nothing printed"
