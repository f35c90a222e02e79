#!/usr/bin/env bash
# in-debian.sh: runs a command of this repository in a fresh minimal root of a Debian release, as
# on a machine of that release: the suite, the demo, the benchmark.
#
# Usage: scripts/in-debian.sh [--root DIR] SUITE COMMAND [ARG...]
#        e.g. scripts/in-debian.sh trixie scripts/test.sh
#
# Makes the root with debootstrap (minbase) from the Debian archive this machine's apt uses
# (DEBIAN_MIRROR overrides it), copies the working tree into it, binds what the desktops need
# (/proc, /sys, /dev, /dev/pts, /dev/shm, and a /tmp of its own), and runs COMMAND there as root,
# in the tree's copy, with the environment of a fresh login. Its exit status is passed on. The
# mounts are undone and the root removed however the command ends, Control+C included. With
# --root DIR the root is made in DIR, or reused where DIR holds one already, and kept with its
# build trees.
# Runs as root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

chroot_dir=
keep=
if [ "${1:-}" = --root ]; then
    chroot_dir=$2
    keep=1
    shift 2
fi
if [ $# -lt 2 ]; then
    sed -n '4,5p' "$0" | sed 's/^# *//' >&2
    exit 2
fi
suite=$1
shift
if [ "$(id -u)" -ne 0 ]; then
    echo "in-debian: making and entering a root needs root; try: sudo $0 $suite $*" >&2
    exit 1
fi
"$root/scripts/deps.sh" --roots

# The archive this machine's apt reads for its own release; its other releases are there too.
mirror=${DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    mirror=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' 'Created-By: Packages' \
        | awk -v release="$codename" '$1 == release { print $2; exit }')
fi
if [ -z "$mirror" ]; then
    echo "in-debian: no Debian archive in this machine's apt sources; set DEBIAN_MIRROR" >&2
    exit 1
fi

cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    if [ -n "$chroot_dir" ] && [ -d "$chroot_dir" ]; then
        # Whatever still runs inside (an interrupted test's display, say) holds the mounts.
        local target=$(readlink -f "$chroot_dir") pids=() proc
        for signal in TERM KILL; do
            pids=()
            for proc in /proc/[0-9]*; do
                [ "$(readlink "$proc/root" 2> /dev/null)" = "$target" ] && pids+=("${proc#/proc/}")
            done
            [ ${#pids[@]} -eq 0 ] && break
            kill "-$signal" "${pids[@]}" 2> /dev/null || true
            sleep 1
        done
        # Deepest first: debootstrap's own mounts too, where it was interrupted.
        local point
        while read -r point; do
            umount "$point" 2> /dev/null || umount -l "$point" || true
        done < <(awk -v root="$target" '$5 == root || index($5, root "/") == 1 { print $5 }' \
                     /proc/self/mountinfo | sort -r)
        # Never remove a root that still has the machine's /dev in it.
        if [ -z "$keep" ]; then
            if grep -q " $target/" /proc/self/mountinfo; then
                echo "in-debian: $target still has mounts; left in place" >&2
            else
                rm -rf --one-file-system "$chroot_dir"
            fi
        fi
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if [ -z "$chroot_dir" ]; then
    chroot_dir=$(mktemp -d "${TMPDIR:-/var/tmp}/in-debian-$suite.XXXXXX")
fi
mkdir -p "$chroot_dir"
# Its root directory: mktemp's is private, and the desktops that run as nobody must enter it.
chmod 755 "$chroot_dir"
chroot_dir=$(cd "$chroot_dir" && pwd)
if [ ! -x "$chroot_dir/usr/bin/apt-get" ]; then
    echo "in-debian: making a $suite root from $mirror" >&2
    # debootstrap knows the releases made before it; a newer one is made as unstable is.
    script=()
    [ -e "/usr/share/debootstrap/scripts/$suite" ] || script=(/usr/share/debootstrap/scripts/sid)
    debootstrap --variant=minbase "$suite" "$chroot_dir" "$mirror" "${script[@]}" \
        > "$chroot_dir.debootstrap.log" 2>&1 \
        || { tail -n 20 "$chroot_dir.debootstrap.log" >&2; exit 1; }
    rm -f "$chroot_dir.debootstrap.log"
fi
# Testing's copy in an archive that is not kept up to date carries a Release date that has
# passed; a release's own does not.
if grep -qE '^Suite: (testing|unstable)$' "$chroot_dir"/var/lib/apt/lists/*_Release 2> /dev/null; then
    echo 'Acquire::Check-Valid-Until "false";' > "$chroot_dir/etc/apt/apt.conf.d/99in-debian"
fi
# Names resolve inside as they do here, the archive's among them.
cp /etc/hosts /etc/resolv.conf "$chroot_dir/etc/"
# Packages start no services in a root that has no init.
printf '#!/bin/sh\nexit 101\n' > "$chroot_dir/usr/sbin/policy-rc.d"
chmod 755 "$chroot_dir/usr/sbin/policy-rc.d"

bind() {
    mkdir -p "$chroot_dir$2"
    mount "${@:3}" "$1" "$chroot_dir$2"
}
bind proc /proc -t proc
bind /sys /sys --bind
bind /dev /dev --bind
bind /dev/pts /dev/pts --bind
# sway and cage share their buffers through it.
bind /dev/shm /dev/shm --bind
bind tmpfs /tmp -t tmpfs -o mode=1777

# The working tree as it is, without build trees and the repository's history; a kept root keeps
# its build trees. A file that differs from the copy before takes the time of this copy, so that
# the kept trees rebuild it even where it is older than they are (a copy from another clone).
tree=/src/scrolldemo incoming=/src/.incoming
rm -rf "$chroot_dir$incoming" && mkdir -p "$chroot_dir$tree" "$chroot_dir$incoming"
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude=./core -c . \
    | tar -C "$chroot_dir$incoming" -x
(cd "$chroot_dir$incoming" && find . -type f -print0) | while IFS= read -r -d '' file; do
    cmp -s "$chroot_dir$incoming/$file" "$chroot_dir$tree/$file" || touch "$chroot_dir$incoming/$file"
done
find "$chroot_dir$tree" -mindepth 1 -maxdepth 1 ! -name 'build*' -exec rm -rf {} +
find "$chroot_dir$incoming" -mindepth 1 -maxdepth 1 -exec mv -t "$chroot_dir$tree" {} +
rmdir "$chroot_dir$incoming"

# Waited for in the background, so that a signal to this script is handled at once: the clean-up
# then ends what runs inside.
chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" /bin/bash -c 'cd "$0" && exec "$@"' "$tree" "$@" &
status=0
wait $! || status=$?
exit "$status"
