#!/usr/bin/env bash
# test.sh: installs what is missing, builds, and runs the whole test suite on a private virtual display.
#
# Extra arguments go to ctest, e.g. scripts/test.sh -L unit
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/deps.sh"
"$root/scripts/build.sh"
cd "$build"
"$root/tests/support/virtual-display.sh" ctest --output-on-failure "$@"
