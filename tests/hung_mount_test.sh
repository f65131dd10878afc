#!/usr/bin/env bash
# A mount whose statfs never answers must not pin hostprobe: with a FUSE file
# system that waits for good in statfs, `hostprobe --pass 1` ends with exit 0
# within 4 s, writes its nine records and shows that mount as not ready; none
# of its processes keeps its standard output open.
# The test runs in a private mount namespace, polls (never waits on a process
# that may be stuck) and always ends the file system: kill -9 and a lazy
# unmount.
# Usage: tests/hung_mount_test.sh HOSTPROBE HUNG_FUSE_FS   (exit 77: skipped)
set -u
exe=$(realpath "${1:?usage: hung_mount_test.sh HOSTPROBE HUNG_FUSE_FS}")
fs_program=${2:+$(realpath "$2")}

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

[ -n "$fs_program" ] && [ -x "$fs_program" ] || skip "the test file system was not built (libfuse3-dev missing)"
[ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] || skip "/dev/fuse is missing or not usable here"

if [ -z "${HUNG_MOUNT_TEST_NS:-}" ]; then
  # A private mount namespace (as root in a user namespace where we are not
  # root): the mount ends with its last process, whatever happens here.
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare -m --propagation private); else ns=(unshare -Urm --propagation private); fi
  "${ns[@]}" true 2>/dev/null || skip "no right to make a private mount namespace (${ns[*]})"
  HUNG_MOUNT_TEST_NS=1 exec "${ns[@]}" "$0" "$@"
fi

work=$(mktemp -d)
mnt=$work/hung
mkdir "$mnt" "$work/run"
fs_pid='' hp_pid='' cat_pid=''
mounted() { grep -q " $mnt " /proc/self/mountinfo; }
finish() {
  for pid in $hp_pid $cat_pid $fs_pid; do kill -9 "$pid" 2>/dev/null; done
  fusermount3 -uz "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null
  if mounted; then
    echo "note: $mnt is still mounted in this test's own mount namespace; it ends with it"
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

"$fs_program" -f -o fsname=hungfs "$mnt" 2>"$work/fs.err" &
fs_pid=$!
disown "$fs_pid"
# Wait for the mount in the mount table only: nothing here touches it.
for _ in $(seq 100); do mounted && break; kill -0 "$fs_pid" 2>/dev/null || break; sleep 0.05; done
if ! mounted; then
  if grep -qiE 'permission|not permitted|fusermount' "$work/fs.err"; then
    skip "no right to mount a FUSE file system: $(head -1 "$work/fs.err")"
  fi
  fail "the test file system did not mount: $(cat "$work/fs.err")"
fi

cd "$work/run"
mkfifo out.fifo
cat out.fifo >out.txt &
cat_pid=$!
disown "$cat_pid"
start=$(date +%s%N)
"$exe" --pass 1 >out.fifo 2>err.txt &
hp_pid=$!
# Poll for at most 4 s: hostprobe ended, and so did the reader of its output
# (which sees the end only when no helper holds the pipe either).
gone() { ! kill -0 "$1" 2>/dev/null; }
for _ in $(seq 200); do
  gone "$hp_pid" && gone "$cat_pid" && break
  sleep 0.02
done
elapsed=$((($(date +%s%N) - start) / 1000000))
gone "$hp_pid" || fail "hostprobe --pass 1 still runs after ${elapsed} ms: $(ps -L -o pid,lwp,stat,wchan:24,args -p "$hp_pid" | tail -n +2)"
wait "$hp_pid"
code=$?
hp_pid=''
gone "$cat_pid" || fail "hostprobe ended, but something still holds its standard output after ${elapsed} ms"
cat_pid=''
echo "hostprobe --pass 1 with a hung FUSE mount ended in ${elapsed} ms with exit code $code"

[ "$code" -eq 0 ] || fail "exit code $code: $(cat err.txt)"
records=$(grep -a -c -E $'^"[^\t"]*\t([1-8]\\.\t|#{90}"\r$)' TEST_OUT.TXT)
[ "$records" -eq 9 ] || fail "$records records in TEST_OUT.TXT, not 9"
grep -a -q -F " ($mnt:)     Drive Not Ready"$'\r' TEST_OUT.TXT ||
  fail "the hung mount is not shown as \"Drive Not Ready\": $(grep -a -F "$mnt" TEST_OUT.TXT)"
echo "nine records; $mnt shown as Drive Not Ready"
