#!/usr/bin/env bash
# deps.sh: installs, from Debian's packages, whatever the build, the demo and its tests need and this machine lacks.
#
# Usage: scripts/deps.sh [EXTRA-PACKAGE...]   (extras for the measuring scripts)
set -euo pipefail

packages=(
    g++ make cmake pkg-config     # build
    qtbase5-dev libgl-dev         # Qt 5 Core, Gui, Test, rcc; OpenGL headers
    libgl1-mesa-dri               # Mesa's software OpenGL (llvmpipe) where there is no GPU driver
    fonts-dejavu-core             # without any font the greeting is invisible
    xvfb openbox x11-utils        # the virtual display, its window manager, xprop
    xdotool wmctrl imagemagick    # keys, window manager requests and screenshots
    libx11-dev libxfixes-dev libxdamage-dev  # the end-to-end tests watch the display through these
    weston qtwayland5             # the end-to-end tests also run the demo as a Wayland client
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q 'ok installed' || missing+=("$package")
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
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
