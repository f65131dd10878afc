#!/usr/bin/env bash
# The Windows build's log under a disk that fills up in the middle of a
# record, under Wine: a file-size limit with SIGXFSZ ignored makes the write
# come back short, as WriteFile does on a full disk. The log must keep whole
# records only, and the run must end with exit code 1 and the reason.
# Usage: log_limit_wine_test.sh WINE HOSTPROBE.EXE FIXTURE
set -uo pipefail
wine=$1 exe=$2 fixture=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
fail() { echo "log_limit_wine_test: $*" >&2; exit 1; }

# A Wine server started outside the limit (it writes files of its own) that
# holds none of our descriptors, kept alive for the runs below; then the
# whole log of one pass.
"$(dirname "$0")/../cmake/wine-test.sh" --server-only "$wine"
"$wine" "$exe" --replay "$fixture" --pass 1 >/dev/null 2>&1 || fail "the plain pass failed"
mv TEST_OUT.TXT full.txt
size=$(stat -c %s full.txt)
[ "$size" -gt 1024 ] || fail "the fixture's log ($size bytes) does not reach the 1024-byte limit"

# Record ends: every "\"\r\n\"" plus the last byte. The limited log must end
# at one of them, exactly at the last one that fits 1024 bytes.
ends=$(perl -0777 -ne 'while (/"\r\n(?=")/g) { print pos(), "\n" }' full.txt; echo "$size")
keep=0
for end in $ends; do
  [ "$end" -le 1024 ] && keep=$end
done

status=0
(trap '' XFSZ; ulimit -f 1; exec "$wine" "$exe" --replay "$fixture" --pass 1) >/dev/null 2>err.txt || status=$?
[ "$status" -eq 1 ] || fail "exit code $status, expected 1 ($(cat err.txt))"
grep -q '^hostprobe: error: file error: cannot write TEST_OUT.TXT: ' err.txt || fail "message: $(cat err.txt)"
got=$(stat -c %s TEST_OUT.TXT)
[ "$got" -eq "$keep" ] || fail "the log holds $got bytes, expected the $keep bytes of whole records"
cmp -s TEST_OUT.TXT <(head -c "$keep" full.txt) || fail "the log is not the first records of a pass"
[ "$keep" -gt 0 ] || fail "no record of the fixture ends within 1024 bytes: pick another"
echo "log_limit_wine_test: $keep of $size bytes kept, whole records only; $(cat err.txt)"
