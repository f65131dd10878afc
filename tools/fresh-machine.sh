#!/usr/bin/env bash
# Tries the README's two commands on a fresh Debian, as a newcomer would:
#   tools/fresh-machine.sh [--keep] RELEASE      (RELEASE: bookworm or trixie)
# Makes a minimal Debian RELEASE with debootstrap in a new directory under
# /var/tmp, with /proc, /sys and /dev (/dev/pts, a fresh /dev/shm) bound in,
# clones this repository's current commit into it (what is committed, nothing
# else), and runs `tools/run.sh --pass 1`, then `tools/test.sh` there as root.
# Whatever happens, it then ends what still runs in the chroot, unmounts what
# it mounted and removes the chroot (--keep: leaves it, and says where).
# Exit: that of the first command that failed, 0 when both passed. Needs root,
# debootstrap and git; about 10 GB of disk and a good part of an hour.
# The whole script is one block, read before any of it runs: bash reads a
# script as it goes, and an edit made to this file while it runs (it runs
# for long) would otherwise change what the running copy does next.
{
set -euo pipefail
keep=0
if [ "${1:-}" = --keep ]; then keep=1; shift; fi
release=${1:-}
case "$release" in
  bookworm|trixie) ;;
  *) echo "usage: tools/fresh-machine.sh [--keep] bookworm|trixie" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "tools/fresh-machine.sh: needs root (debootstrap, mounts, chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "tools/fresh-machine.sh: debootstrap is not installed" >&2; exit 1; }
repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse HEAD)
mirror=${HOSTPROBE_MIRROR:-http://deb.debian.org/debian}
root=$(mktemp -d "/var/tmp/hostprobe-fresh-$release.XXXXXX")
mounted=()
start=$SECONDS

say() { printf '[fresh-machine %s, %dm%02ds] %s\n' "$release" $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60)) "$*"; }

cleanup() {
  local rc=$?
  set +e
  # What is left running inside (a Wine server, a virtual X server) holds the
  # mounts: it is ended first.
  local pids=() p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && pids+=("${p#/proc/}")
  done
  if [ ${#pids[@]} -gt 0 ]; then
    kill "${pids[@]}" 2>/dev/null
    sleep 2
    kill -9 "${pids[@]}" 2>/dev/null
  fi
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"
  done
  if [ "$keep" = 1 ]; then
    say "kept the chroot: $root"
  elif cut -d" " -f5 /proc/self/mountinfo | grep -q "^$root/"; then
    say "something is still mounted under $root: the chroot is left there"
  else
    rm -rf --one-file-system "$root"
  fi
  say "done, exit $rc"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bind() {  # SOURCE TARGET [mount options...]
  local target=$root$2
  mkdir -p "$target"
  if [ "$1" = tmpfs ]; then mount -t tmpfs tmpfs "$target"; else mount --bind "$1" "$target"; fi
  mounted+=("$target")
  # Private: what is mounted under it (or unmounted) stays out of the host's tree.
  mount --make-private "$target"
}

say "debootstrap --variant=minbase $release $root ($mirror)"
log=$(mktemp)
if ! debootstrap --variant=minbase "$release" "$root" "$mirror" >"$log" 2>&1; then
  tail -n 30 "$log"
  rm -f "$log"
  say "debootstrap failed"
  exit 1
fi
rm -f "$log"
# The chroot's root a mount point of its own, as a machine's is: the tests
# that make a private mount namespace (unshare --propagation private) then
# run there too.
bind "$root" /
bind /proc /proc
bind /sys /sys
bind /dev /dev
bind /dev/pts /dev/pts
bind tmpfs /dev/shm
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# A chroot is not a booted machine: packages start no services in it.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

say "cloning $repo at $commit"
git clone -q --no-hardlinks "$repo" "$root/root/hostprobe"
git -C "$root/root/hostprobe" checkout -q --detach "$commit"

# HOSTPROBE_I386_PROBE=FILE (see tools/runs-i386.sh) is copied in and used there.
probe=()
if [ -n "${HOSTPROBE_I386_PROBE:-}" ]; then
  cp "$HOSTPROBE_I386_PROBE" "$root/root/i386-probe"
  probe=(HOSTPROBE_I386_PROBE=/root/i386-probe)
fi

# Run in the background and waited for, so that a TERM or INT sent to this
# script alone ends it at once (bash runs a trap only once a foreground
# command is done); the clean-up then ends what runs inside.
inside() {
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "${probe[@]}" \
    /bin/bash -c "cd /root/hostprobe && $1" &
  wait $!
}

say "tools/run.sh --pass 1"
t=$SECONDS
inside 'tools/run.sh --pass 1 </dev/null' || { say "tools/run.sh --pass 1 FAILED after $((SECONDS - t)) s"; exit 1; }
say "tools/run.sh --pass 1 passed in $((SECONDS - t)) s"

say "tools/test.sh"
t=$SECONDS
rc=0
inside 'tools/test.sh </dev/null' || rc=$?
if [ "$rc" -ne 0 ]; then say "tools/test.sh FAILED (exit $rc) after $((SECONDS - t)) s"; exit "$rc"; fi
say "tools/test.sh passed in $((SECONDS - t)) s"
exit
}
