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

. "$(dirname "$0")/fuse_test_lib.sh"
need_fuse "$fs_program"
in_private_mount_namespace HUNG_MOUNT_TEST_NS "$0" "$@"

work=$(mktemp -d)
mnt=$work/hung
mkdir "$mnt" "$work/run"
fs_pid='' hp_pid='' cat_pid=''
finish() {
  for pid in $hp_pid $cat_pid; do kill -9 "$pid" 2>/dev/null; done
  end_fuse
  if mounted; then
    echo "note: $mnt is still mounted in this test's own mount namespace; it ends with it"
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

mount_fuse "$fs_program" hungfs "$work/fs.err"

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
nine_records_with_not_ready "$mnt:"
