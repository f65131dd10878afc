#!/usr/bin/env bash
# A drive that never answers must not hold up the Windows build: under Wine,
# drive letter X: mapped (the prefix's dosdevices) onto a directory of a FUSE
# file system whose statfs waits for good. hostprobe.exe --pass 1 ends within
# 6 s (the drives of one listing share 2 s), writes its nine records and shows
# X: as not ready. Wine's own server asks statfs too, once per device, for
# every Wine process (Windows has no such server: there only the asking
# thread waits); the file system answers the server alone. The FUSE file
# system runs in a private mount namespace and is always ended (kill -9 and a
# lazy unmount); the mapping is removed again.
# Usage: tests/hung_drive_wine_test.sh WINE HOSTPROBE_EXE HUNG_FUSE_FS   (exit 77: skipped)
# WINEPREFIX names the prefix.
set -u
wine=${1:?usage: hung_drive_wine_test.sh WINE HOSTPROBE_EXE HUNG_FUSE_FS}
exe=$(realpath "${2:?}")
fs_program=${3:+$(realpath "$3")}

. "$(dirname "$0")/fuse_test_lib.sh"
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || skip "WINEPREFIX is not a Wine prefix"
need_fuse "$fs_program"
in_private_mount_namespace HUNG_DRIVE_TEST_NS "$0" "$@"

work=$(mktemp -d)
mnt=$work/hung
mkdir "$mnt" "$work/run"
link=$WINEPREFIX/dosdevices/x:
[ -e "$link" ] || [ -L "$link" ] && skip "drive X: is already mapped in $WINEPREFIX"
fs_pid='' hp_pid=''
# The prefix's Wine server, should one run, sees neither this namespace's
# mount nor a drive mapped after it started: it is ended, and the program
# starts one here (run this test alone in its prefix). It is ended again at
# the end, so that no Wine process holds the file system.
wineserver=${wine%/*}/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
"$wineserver" -k 2>/dev/null; "$wineserver" -w 2>/dev/null
finish() {
  rm -f "$link"
  [ -n "$hp_pid" ] && kill -9 "$hp_pid" 2>/dev/null
  "$wineserver" -k 2>/dev/null
  end_fuse
  mounted || rm -rf "$work"
}
trap finish EXIT

HUNG_FUSE_FS_ANSWER=wineserver mount_fuse "$fs_program" hungfs "$work/fs.err"
# The hung file system's root directory (getattr answers, statfs never but to
# Wine's server): Wine reaches it only through X:.
ln -s "$mnt" "$link"

cd "$work/run"
start=$(date +%s%N)
WINEDEBUG=-all "$wine" "$exe" --pass 1 >out.txt 2>err.txt &
hp_pid=$!
gone() { ! kill -0 "$1" 2>/dev/null; }
for _ in $(seq 300); do gone "$hp_pid" && break; sleep 0.05; done
elapsed=$((($(date +%s%N) - start) / 1000000))
if ! gone "$hp_pid"; then
  # Wine's server is single-threaded: should it wait in the FUSE file system
  # (a question other than its statfs), every thread of every Wine process
  # waits on it, whatever the program does.
  for server in $(pgrep -f wineserver); do
    if grep -q fuse "/proc/$server/stack" 2>/dev/null || [ "$(cat "/proc/$server/wchan" 2>/dev/null)" = request_wait_answer ]; then
      skip "after ${elapsed} ms Wine's own server (pid $server) waits in the FUSE file system ($(cat "/proc/$server/wchan")): no program under this Wine can bound that"
    fi
  done
  fail "hostprobe.exe --pass 1 still runs after ${elapsed} ms"
fi
wait "$hp_pid"
code=$?
hp_pid=''
echo "hostprobe.exe --pass 1 under Wine with X: on a hung FUSE directory ended in ${elapsed} ms with exit code $code"
[ "$code" -eq 0 ] || fail "exit code $code: $(tr -d '\r' <err.txt | head -3)"
nine_records_with_not_ready X:
