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
cd "$build"
ctest --output-on-failure -L unit
