#!/usr/bin/env bash
# A file system's label and serial come from the file system itself: an ext4
# with a label on a loop device, mounted in a private mount namespace, shows
# its label and the serial its UUID gives; after `e2label` renames it, the
# next run shows the new name (no udev database or libblkid cache is asked
# first). Skipped, saying why, where loop devices or mounting do not work.
# Usage: tests/loop_label_test.sh HOSTPROBE   (exit 77: skipped)
set -u
exe=$(realpath "${1:?usage: loop_label_test.sh HOSTPROBE}")
export PATH=$PATH:/sbin:/usr/sbin

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

for tool in mkfs.ext4 e2label losetup mount umount unshare; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ "$(id -u)" -eq 0 ] || skip "loop devices need root"
if [ -z "${LOOP_LABEL_TEST_NS:-}" ]; then
  unshare -m --propagation private true 2>/dev/null || skip "no right to make a private mount namespace"
  LOOP_LABEL_TEST_NS=1 exec unshare -m --propagation private "$0" "$@"
fi

work=$(mktemp -d)
mnt=$work/mnt
mkdir "$mnt" "$work/run"
loop=''
finish() {
  umount -l "$mnt" 2>/dev/null
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

uuid=5e1a2b3c-4d5e-4f60-8172-8394a5b6c7d8   # serial 0x5E1A2B3C = 1578773308
mkfs.ext4 -q -F -L "first label" -U "$uuid" "$work/fs.img" 8M >/dev/null || fail "mkfs.ext4 failed"
loop=$(losetup -f --show "$work/fs.img" 2>"$work/losetup.err") ||
  skip "no loop device here: $(head -1 "$work/losetup.err")"
mount "$loop" "$mnt" 2>"$work/mount.err" || skip "cannot mount $loop: $(head -1 "$work/mount.err")"

cd "$work/run"
check() {  # LABEL: the drive's header line and serial in the newest record
  rm -f TEST_OUT.TXT
  "$exe" --pass 1 >/dev/null 2>err.txt || fail "hostprobe --pass 1 failed: $(cat err.txt)"
  local head="$1 ($mnt:) Information     Drive Type is "
  grep -a -q -F "$head" TEST_OUT.TXT || fail "no drive \"$1 ($mnt:)\": $(grep -a -F "$mnt" TEST_OUT.TXT | head -3)"
  grep -a -A 2 -F "$head" TEST_OUT.TXT | grep -a -q -F "SerialNumber - 1578773308"$'\r' ||
    fail "the serial of $mnt is not 1578773308: $(grep -a -A 2 -F "$head" TEST_OUT.TXT)"
  echo "$(grep -a -F "$head" TEST_OUT.TXT | tr -d '\r')"
}
check "first label"
e2label "$loop" "renamed" || fail "e2label failed"
check "renamed"
