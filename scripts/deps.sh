#!/usr/bin/env bash
# deps.sh: installs, from Debian's packages, what building and running the demo needs and this
# machine lacks; with --tests, also what the test suite needs (Qt 6 among it).
#
# Usage: scripts/deps.sh [--tests] [EXTRA-PACKAGE...]   (extras for the measuring scripts)
set -euo pipefail

packages=(
    g++ make cmake                # build
    qtbase5-dev libgl-dev         # Qt 5 Core, Gui, Test, rcc; OpenGL headers
    libqt5x11extras5-dev libxcb1-dev  # Qt 5's X11 connection, and the X11 events the window reads
    libgl1-mesa-dri               # Mesa's software OpenGL (llvmpipe) where there is no GPU driver
    fonts-dejavu-core             # without any font the greeting is not drawn
    xvfb openbox x11-utils        # a virtual display where there is none, its window manager, xprop
    xdotool imagemagick           # keys and screenshots on it
)
if [ "${1:-}" = --tests ]; then
    shift
    packages+=(
        qt6-base-dev libqt6opengl6-dev  # the suite runs on Qt 6 too
        libx11-dev libxfixes-dev libxdamage-dev  # the end-to-end tests watch the display
        wmctrl                    # window manager requests
        qtwayland5 qt6-wayland    # the demo as a Wayland client
        kwin-x11 mutter           # more X11 window managers
        weston sway cage kwin-wayland  # Wayland compositors (Mutter's is in mutter)
        dbus-daemon               # the session bus KWin and Mutter want
        faketime                  # a year of uptime in a second
        desktop-file-utils man-db dpkg-dev file  # checks of the installed tree and the package
    )
fi
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
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" > /dev/null
