#!/usr/bin/env bash
# test.sh: installs what is missing, builds against Qt 5 (build/) and Qt 6 (build-qt6/), and
# runs the whole suite in each, on private virtual displays.
#
# Extra arguments go to ctest, e.g. scripts/test.sh -L unit
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/deps.sh" --tests
# The release, as its users name it: "Debian 13.8", "Debian forky/sid".
release=$( (. /etc/os-release && echo "$NAME") 2> /dev/null || uname -s)
[ -f /etc/debian_version ] && release="Debian $(cat /etc/debian_version)"
failed=()
for qt in 5 6; do
    build=$root/build
    [ "$qt" = 6 ] && build=$root/build-qt6
    BUILD_DIR=$build "$root/scripts/build.sh" -DQT_VERSION_MAJOR=$qt -DBUILD_TESTING=ON \
        || { echo "== $release, Qt $qt: the build failed" >&2; failed+=("Qt $qt"); continue; }
    version=$(sed -n 's/^SCROLLDEMO_QT_VERSION:INTERNAL=//p' "$build/CMakeCache.txt")
    echo "== $release, Qt ${version:-$qt}, in $(basename "$build")"
    # What the configuration built, in its own words.
    grep -m1 '^-- scrolldemo ' "$build/build-output.log" || true
    # Every test that shows a window starts a virtual display of its own; no other is needed.
    (cd "$build" && env -u DISPLAY -u WAYLAND_DISPLAY ctest --output-on-failure "$@") \
        || failed+=("Qt $qt")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "test: FAILED on ${failed[*]}" >&2
    exit 1
fi
