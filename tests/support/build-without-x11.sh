#!/usr/bin/env bash
# build-without-x11.sh: configures and builds the program without its X11 part, as where X11 is
# absent at build time, and runs that build's unit tests.
#
# Usage: tests/support/build-without-x11.sh SOURCE_DIR BUILD_DIR QT_VERSION_MAJOR
set -euo pipefail
source=$1 build=$2 qt=$3
log=$build/build-output.log
mkdir -p "$build"
{
    cmake -S "$source" -B "$build" -DQT_VERSION_MAJOR="$qt" -DSCROLLDEMO_X11=OFF \
        -DBUILD_TESTING=ON &&
    cmake --build "$build" --parallel "$(nproc)" --target scrolldemo tst_animation tst_assets tst_platform
} > "$log" 2>&1 || { cat "$log" >&2; exit 1; }
grep -q 'SCROLLDEMO_X11:BOOL=OFF' "$build/CMakeCache.txt"

# A tree an earlier version configured, which turned the Wayland part off by itself (as Qt 6.8's
# moved headers made it do), builds the part as a new tree does; a part turned off by name stays off.
earlier=$build/earlier-tree
rm -rf "$earlier" && mkdir -p "$earlier"
echo 'set(SCROLLDEMO_WAYLAND OFF CACHE BOOL
    "Build the Wayland part (on where Qt'"'"'s platform API and libwayland are found)")' \
    > "$earlier/seed.cmake"
cmake -S "$source" -B "$earlier" -C "$earlier/seed.cmake" -DQT_VERSION_MAJOR="$qt" \
    -DSCROLLDEMO_X11=OFF > "$earlier/output.log" 2>&1 || { cat "$earlier/output.log" >&2; exit 1; }
wayland_now=$(grep '^SCROLLDEMO_WAYLAND:BOOL=' "$build/CMakeCache.txt")
grep -qx "$wayland_now" "$earlier/CMakeCache.txt" ||
    { echo "an earlier tree's own choice kept: $(grep '^SCROLLDEMO_WAYLAND:' "$earlier/CMakeCache.txt")" >&2; exit 1; }
grep -q 'SCROLLDEMO_X11:BOOL=OFF' "$earlier/CMakeCache.txt" ||
    { echo 'a part turned off by name was turned on' >&2; exit 1; }

# Where the suite runs on Wayland, Qt runs there: a need of the Wayland part that is missing then
# stops the configuration and names its package, rather than leaving the part out. libwayland is
# hidden from pkg-config, which Qt itself needs.
if [[ " ${SUITE_PARTS:-} " == *" wayland "* ]]; then
    hidden=$build/pkg-config-without-libwayland
    rm -rf "$hidden" "$build/need-missing" && mkdir -p "$hidden"
    for dir in $(pkg-config --variable pc_path pkg-config | tr : ' '); do
        find "$dir" -maxdepth 1 -name '*.pc' ! -name 'wayland-client.pc' -exec ln -sf -t "$hidden" {} + \
            2> /dev/null || true
    done
    if PKG_CONFIG_LIBDIR=$hidden cmake -S "$source" -B "$build/need-missing" -DQT_VERSION_MAJOR="$qt" \
        -DSCROLLDEMO_X11=OFF -DBUILD_TESTING=OFF > "$build/need-missing.log" 2>&1 ||
        ! tr -s ' \n' ' ' < "$build/need-missing.log" |
            grep -q 'Wayland part cannot be built: install libwayland-dev (Debian'; then
        echo 'without libwayland the Wayland part did not stop the configuration:' >&2
        grep -- '-- scrolldemo\|Error' "$build/need-missing.log" >&2
        exit 1
    fi
fi
# This build runs on no desktop: the suite's parts are not its own.
cd "$build"
env -u SUITE_PARTS ctest --output-on-failure -L unit
