#!/usr/bin/env bash
# test.sh: installs what is missing, builds against Qt 5 (build/) and Qt 6 (build-qt6/), and
# runs the whole suite in each, on private virtual displays.
#
# Extra arguments go to ctest, e.g. scripts/test.sh -L unit
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/deps.sh" --tests
failed=()
for qt in 5 6; do
    build=$root/build
    [ "$qt" = 6 ] && build=$root/build-qt6
    echo "== Qt $qt, in $build"
    BUILD_DIR=$build "$root/scripts/build.sh" -DQT_VERSION_MAJOR=$qt -DBUILD_TESTING=ON
    # Every test that shows a window starts a virtual display of its own; no other is needed.
    (cd "$build" && env -u DISPLAY -u WAYLAND_DISPLAY ctest --output-on-failure "$@") \
        || failed+=("Qt $qt")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "test: FAILED on ${failed[*]}" >&2
    exit 1
fi
