#!/usr/bin/env bash
# package.sh: builds the Debian package and checks its contents and dependency fields.
#
# Usage: tests/install/package.sh BUILD_DIR QT_MAJOR_VERSION
set -u
build=$1
qt=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 \
    || fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/*.deb 2> /dev/null | head -n1)
[ -n "$deb" ] || fail "no package made: $(cat "$work/cpack.log")"

dpkg-deb -c "$deb" | awk '{ print $6 }' > "$work/contents"
for path in ./usr/bin/scrolldemo ./usr/share/applications/scrolldemo.desktop \
    ./usr/share/icons/hicolor/256x256/apps/scrolldemo.png \
    ./usr/share/icons/hicolor/scalable/apps/scrolldemo.svg ./usr/share/man/man6/scrolldemo.6.gz; do
    grep -qx "$path" "$work/contents" || fail "$path is not in the package"
done

depends=$(dpkg-deb -f "$deb" Depends)
for needed in "libqt${qt}gui" fonts-dejavu-core libc6; do
    case "$depends" in *"$needed"*) ;; *) fail "Depends lacks $needed: $depends" ;; esac
done
[ "$qt" = 6 ] && wayland=qt6-wayland || wayland=qtwayland5
[ "$(dpkg-deb -f "$deb" Recommends)" = "$wayland" ] || fail "Recommends is not $wayland"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"

dpkg-deb -x "$deb" "$work/tree"
file "$work/tree/usr/bin/scrolldemo" | grep -q ', stripped' || fail "the program is not stripped"
echo "PASS: $(basename "$deb"), $(stat -c %s "$deb") bytes; Depends: $depends"
