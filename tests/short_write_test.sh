#!/usr/bin/env bash
# Concurrent runs on a file system that takes at most 100 bytes per write:
# four runs append ten passes each to one log at the same time, every one
# exits 0, and the log holds their 360 records whole, each record 40 times.
# The test runs in a private mount namespace and always ends the file system.
# FIXTURE must fix the timestamp, so that every pass gives the same records.
# Usage: tests/short_write_test.sh HOSTPROBE SHORT_WRITE_FUSE_FS FIXTURE   (exit 77: skipped)
set -u
exe=$(realpath "${1:?usage: short_write_test.sh HOSTPROBE SHORT_WRITE_FUSE_FS FIXTURE}")
fs_program=${2:+$(realpath "$2")}
fixture=$(realpath "$3")
here=$(realpath "$(dirname "$0")")

. "$here/fuse_test_lib.sh"
need_fuse "$fs_program"
in_private_mount_namespace SHORT_WRITE_TEST_NS "$0" "$@"

work=$(mktemp -d)
mnt=$work/short
mkdir "$mnt"
fs_pid=''
finish() {
  end_fuse
  mounted || rm -rf "$work"
}
trap finish EXIT

mount_fuse "$fs_program" shortfs "$work/fs.err"

# One pass alone: the nine records every later pass repeats.
cd "$work" || fail "no work directory"
"$exe" --replay "$fixture" --pass 1 >/dev/null || fail "a plain pass failed"
mv TEST_OUT.TXT one.txt

cd "$mnt" || fail "cannot enter the mount"
pids=()
for w in 1 2 3 4; do
  (for i in $(seq 10); do "$exe" --replay "$fixture" --pass 1 >/dev/null || exit 1; done) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a writer failed"; done
cp TEST_OUT.TXT "$work/log.txt"
cd "$work" || fail "no work directory"

# Every record of the log is one of the nine, and each came 40 times.
"$here/whole_records.pl" one.txt log.txt 40 || fail "torn or lost records"
echo "short writes: 360 whole records of 4 concurrent writers"
