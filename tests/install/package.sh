#!/usr/bin/env bash
# package.sh: builds the Debian package and checks its contents, its dependency fields, and
# what lintian and hardening-check say of it (where they are installed).
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
    ./usr/share/metainfo/invalid.example.scrolldemo.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/scrolldemo.svg ./usr/share/man/man6/scrolldemo.6.gz \
    ./usr/share/doc/scrolldemo/copyright ./usr/share/doc/scrolldemo/changelog.gz; do
    grep -qx "$path" "$work/contents" || fail "$path is not in the package"
done
for size in 16 24 32 48 64 128 256; do
    grep -qx "./usr/share/icons/hicolor/${size}x${size}/apps/scrolldemo.png" "$work/contents" \
        || fail "no ${size}x${size} icon in the package"
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

# Errors and warnings fail; lintian names infos too, and there are none today.
if command -v lintian > /dev/null; then
    lintian --pedantic --display-info --display-experimental --fail-on error,warning "$deb" \
        > "$work/lintian.log" 2> /dev/null || fail "lintian: $(cat "$work/lintian.log")"
    [ -s "$work/lintian.log" ] && echo "lintian: $(cat "$work/lintian.log")"
fi
# Control-flow protection cannot be had on Debian 12 or 13: their C libraries' start files lack
# the marking, so no program linked with them carries it (/bin/ls neither). Branch protection is
# arm64's; Debian 13's hardening-check asks for it on every architecture.
if command -v hardening-check > /dev/null; then
    unchecked=(--nocfprotection)
    [ "$(dpkg --print-architecture)" != arm64 ] && hardening-check --help 2>&1 \
        | grep -q -- --nobranchprotection && unchecked+=(--nobranchprotection)
    hardening-check "${unchecked[@]}" "$work/tree/usr/bin/scrolldemo" > "$work/hardening.log" \
        || fail "hardening-check: $(cat "$work/hardening.log")"
fi
echo "PASS: $(basename "$deb"), $(stat -c %s "$deb") bytes; Depends: $depends"
