#!/usr/bin/env bash
# Runs the README's commands as a new player would: in a fresh Debian 12 made with debootstrap
# (minbase, plus git to clone), on a clone of this repository's HEAD (what is committed), as
# root. A package that the README forgets fails here even where this machine has it.
#   scripts/fresh-machine.sh play   the first command, its last step (./build/kordavel) replaced
#                                   by a short headless run of the built game
#   scripts/fresh-machine.sh test   the second command: every test (long)
#   scripts/fresh-machine.sh        both, in one chroot
# The chroot is made under /var/tmp and removed after. Packages are downloaded into, and taken
# from, this machine's own apt archive (/var/cache/apt/archives): only the downloads are shared,
# everything is installed afresh. The compiler's outputs are kept the same way (ccache, in
# /var/cache/kordavel-fresh): a missing header or library still fails the build, but a second
# run compiles little. KORDAVEL_DEBIAN_MIRROR names the Debian mirror
# (deb.debian.org unless given).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
source scripts/readme_commands.sh

what=${1:-both}
case "$what" in
    play | test | both) ;;
    *)
        echo "usage: scripts/fresh-machine.sh [play|test|both]" >&2
        exit 2
        ;;
esac
if [ "$(id -u)" != 0 ]; then
    echo "fresh-machine: making a chroot needs root" >&2
    exit 1
fi
if ! command -v debootstrap >/dev/null; then
    echo "fresh-machine: cannot make the Debian 12 chroot: debootstrap is not installed" \
        "(apt-get install debootstrap)" >&2
    exit 1
fi

play=$(readme_command 1)
test=$(readme_command 2)
# The game itself is not started: the window needs a display. The same program plays a short
# game headless instead, which also shows that its data files were built.
case "$play" in
    *'&& ./build/kordavel') play="${play%./build/kordavel}./build/kordavel --headless --ticks 500" ;;
    *)
        echo "fresh-machine: the README's first command no longer ends with \"&& ./build/kordavel\":" \
            "update scripts/fresh-machine.sh" >&2
        exit 1
        ;;
esac

mirror=${KORDAVEL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
root=$(mktemp -d /var/tmp/kordavel-fresh.XXXXXX)
log=$root.log
mounted=()
cleanup() {
    local m
    for m in "${mounted[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
    # Nothing of the host may be mounted inside when the folder is removed.
    if grep -q " $root/" /proc/mounts; then
        echo "fresh-machine: $root still has mounts; left in place" >&2
    else
        rm -rf "$root"
    fi
}
trap cleanup EXIT

started=$(date +%s)
echo "fresh-machine: making Debian 12 (minbase, git) in $root from $mirror"
archive=/var/cache/apt/archives
mkdir -p "$archive"
if ! debootstrap --variant=minbase --include=git,ca-certificates,ccache --cache-dir="$archive" bookworm \
    "$root" "$mirror" >"$log" 2>&1; then
    echo "fresh-machine: cannot make the Debian 12 chroot with debootstrap; its last lines:" >&2
    tail -n 15 "$log" >&2
    rm -f "$log"
    exit 1
fi
rm -f "$log"
# The updates and security suites, as an installed Debian 12 has them.
cat >"$root/etc/apt/sources.list" <<EOT
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb ${mirror%/debian}/debian-security bookworm-security main
EOT
cp /etc/resolv.conf "$root/etc/resolv.conf"
# dpkg need not wait for the disk in a system that is thrown away after.
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/unsafe-io"
mount_in() {
    if ! mount "$@"; then
        echo "fresh-machine: cannot make the chroot: mount $* failed" >&2
        exit 1
    fi
    mounted+=("${@: -1}")
}
mkdir -p /var/cache/kordavel-fresh/ccache "$root/var/cache/ccache"
mount_in -t proc proc "$root/proc"
# Chromium and the sanitizers want shared memory.
mount_in -t tmpfs tmpfs "$root/dev/shm"
mount_in --bind "$archive" "$root/var/cache/apt/archives"
mount_in --bind /var/cache/kordavel-fresh/ccache "$root/var/cache/ccache"

# The repository is cloned inside, with the chroot's own git, from a bundle of HEAD.
git -C "$repo" bundle create "$root/tmp/kordavel.bundle" HEAD >/dev/null 2>&1
in_chroot() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive TERM=dumb \
        CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_DIR=/var/cache/ccache CCACHE_MAXSIZE=2G \
        bash -c "$1"
}
in_chroot "git -c advice.detachedHead=false clone -q /tmp/kordavel.bundle /root/kordavel"
echo "fresh-machine: chroot ready in $(($(date +%s) - started)) s"

run() {
    local name=$1 command=$2 from
    from=$(date +%s)
    echo "fresh-machine: $name: $command"
    if ! in_chroot "cd /root/kordavel && $command"; then
        echo "fresh-machine: the README's $name command failed on a fresh Debian 12" \
            "after $(($(date +%s) - from)) s" >&2
        exit 1
    fi
    echo "fresh-machine: the README's $name command passed on a fresh Debian 12 in $(($(date +%s) - from)) s"
}
case "$what" in
    play) run first "$play" ;;
    test) run test "$test" ;;
    both)
        run first "$play"
        run test "$test"
        ;;
esac
echo "fresh-machine: $(($(date +%s) - started)) s in all"
