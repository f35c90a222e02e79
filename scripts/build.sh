#!/usr/bin/env bash
# build.sh: configures and builds into build/ (or $BUILD_DIR), quietly unless it fails.
# Extra arguments go to CMake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mkdir -p "$build"
log=$build/build-output.log
{
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" &&
    cmake --build "$build" --parallel "$(nproc)"
} > "$log" 2>&1 || { cat "$log" >&2; exit 1; }
