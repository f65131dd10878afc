# What the FUSE tests share, sourced by each (bash): skipping and failing, the
# checks that a test file system can run here, a private mount namespace to
# run in, and mounting and ending the file system. The caller sets `mnt` (the
# mount point) before mounting; `fs_pid` is the file system's process.
# Exit 77 is CTest's "skipped".

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

# need_fuse FS_PROGRAM: skips unless the test file system was built and
# /dev/fuse can be used.
need_fuse() {
  [ -n "$1" ] && [ -x "$1" ] || skip "the test file system was not built (libfuse3-dev missing)"
  [ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] || skip "/dev/fuse is missing or not usable here"
}

# in_private_mount_namespace MARKER SCRIPT ARGS...: runs SCRIPT again in a
# private mount namespace (as root in a user namespace where we are not
# root), unless the environment variable MARKER says it already is; the
# mounts there end with its last process, whatever happens.
in_private_mount_namespace() {
  local marker=$1; shift
  [ -n "${!marker:-}" ] && return 0
  local ns
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare -m --propagation private); else ns=(unshare -Urm --propagation private); fi
  local err
  # (In a chroot whose root is no mount point, making it private says
  # "Invalid argument".)
  err=$("${ns[@]}" true 2>&1) || skip "cannot make a private mount namespace (${ns[*]}): ${err:-no reason given}"
  export "$marker=1"
  exec "${ns[@]}" "$@"
}

mounted() { grep -q " $mnt " /proc/self/mountinfo; }

# mount_fuse FS_PROGRAM FSNAME ERRFILE: starts the file system on `mnt` and
# waits for it in the mount table only (nothing here touches the mount);
# skips where mounting is not allowed, fails where it did not mount.
mount_fuse() {
  "$1" -f -o "fsname=$2" "$mnt" 2>"$3" &
  fs_pid=$!
  disown "$fs_pid"
  for _ in $(seq 100); do mounted && break; kill -0 "$fs_pid" 2>/dev/null || break; sleep 0.05; done
  if ! mounted; then
    if grep -qiE 'permission|not permitted|fusermount' "$3"; then
      skip "no right to mount a FUSE file system: $(head -1 "$3")"
    fi
    fail "the test file system did not mount: $(cat "$3")"
  fi
}

# end_fuse: ends the file system, however stuck, and unmounts it lazily.
end_fuse() {
  [ -n "${fs_pid:-}" ] && kill -9 "$fs_pid" 2>/dev/null
  fusermount3 -uz "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null
}

# nine_records_with_not_ready DRIVE: TEST_OUT.TXT in this directory holds the
# nine records of one pass, and DRIVE (as the log names it: "X:", "/mnt:")
# is "Drive Not Ready" there.
nine_records_with_not_ready() {
  local records
  records=$(grep -a -c -E $'^"[^\t"]*\t([1-8]\\.\t|#{90}"\r$)' TEST_OUT.TXT)
  [ "$records" -eq 9 ] || fail "$records records in TEST_OUT.TXT, not 9"
  grep -a -q -F " ($1)     Drive Not Ready"$'\r' TEST_OUT.TXT ||
    fail "$1 is not shown as \"Drive Not Ready\": $(grep -a -F "($1)" TEST_OUT.TXT | head -2)"
  echo "nine records; $1 shown as Drive Not Ready"
}
