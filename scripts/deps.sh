#!/usr/bin/env bash
# deps.sh: installs, from Debian's packages, what building and running the demo needs and this
# machine lacks; with --virtual-display, also a virtual display to run it on where there is no
# display; with --tests, also everything the test suite needs (Qt 6 among it); with --roots, only
# what scripts/in-debian.sh makes roots of other releases with. Knows Debian 12, 13 and testing.
#
# Usage: scripts/deps.sh [--virtual-display | --tests | --roots] [EXTRA-PACKAGE...]
#        (extras for the measuring scripts)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
    g++ make cmake pkg-config     # build
    qtbase5-dev libgl-dev         # Qt 5 Core, Gui, Test, rcc; OpenGL headers
    libqt5x11extras5-dev          # Qt 5's X11 connection, whose events the window reads
    libxcb1-dev libxcb-randr0-dev # those events, and the monitors
    libxcb-screensaver0-dev       # the screen saver kept off while the demo is watched
    qtbase5-private-dev           # Qt's platform API: the window's Wayland toplevel
    libwayland-dev wayland-protocols  # the full-screen request on the output in use
    libgl1-mesa-dri               # Mesa's software OpenGL (llvmpipe) where there is no GPU driver
    fonts-dejavu-core             # without any font the greeting is not drawn
)
virtual_display=(
    xvfb openbox x11-utils        # a virtual display, its window manager, xprop and xev
    xdotool imagemagick           # keys and screenshots on it
)
# Where a release names a part otherwise. Debian 13 folded Qt 6's OpenGL module into its base.
release=$( (. /etc/os-release && echo "${VERSION_ID:-testing}") 2> /dev/null || echo unknown)
qt6_opengl=()
[ "$release" = 12 ] && qt6_opengl=(libqt6opengl6-dev)
case "${1:-}" in
--roots)
    shift
    packages=(debootstrap) ;;
--virtual-display)
    shift
    packages+=("${virtual_display[@]}") ;;
--tests)
    shift
    packages+=(
        "${virtual_display[@]}"
        qt6-base-dev "${qt6_opengl[@]}" qt6-base-private-dev  # the suite runs on Qt 6 too
        libx11-dev libxfixes-dev libxdamage-dev libxss-dev  # the end-to-end tests watch the display
        wmctrl                    # window manager requests
        dbus-daemon python3-dbus python3-gi  # a stand-in screen-saver service on a bus of its own
        xscreensaver              # and a real one
        dbus-x11                  # dbus-launch, with which libdbus starts a bus where there is none
        x11-xserver-utils         # xrandr: monitors
        qtwayland5 qt6-wayland    # the demo as a Wayland client
        faketime                  # a year of uptime in a second
        desktop-file-utils appstream man-db dpkg-dev file  # checks of the installed tree
        lintian devscripts        # the package's checks (devscripts: hardening-check)
    )
    # The desktops the tests run on, as their list names them.
    mapfile -t -O "${#packages[@]}" packages < <(awk '!/^#/ && NF >= 3 {
        for (i = 3; i <= NF; ++i) if ($i != "-") print $i }' "$root/tests/support/desktops") ;;
esac
packages+=("$@")

if ! command -v dpkg-query > /dev/null || ! command -v apt-get > /dev/null; then
    echo "deps: this is not a Debian system; make sure the equivalents of these Debian packages" \
         "are installed: ${packages[*]}" >&2
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q 'ok installed' \
        || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo > /dev/null; then
    sudo=(sudo)
else
    echo "deps: please install as root: apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "deps: installing ${missing[*]}" >&2

# On a fresh system unattended upgrades often hold the package manager's lock for minutes after
# the first boot, and apt-get then fails at once: wait for the lock instead, up to five minutes.
apt() {
    local output deadline=$((SECONDS + 300)) said=
    until output=$("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>&1); do
        if ! grep -q 'Could not get lock\|Unable to acquire' <<< "$output" \
            || [ "$SECONDS" -ge "$deadline" ]; then
            echo "$output" >&2
            return 1
        fi
        [ -n "$said" ] || echo "deps: another program holds the package manager; waiting for it" >&2
        said=1
        sleep 5
    done
}
apt update -qq
apt install -y -qq --no-install-recommends "${missing[@]}"
