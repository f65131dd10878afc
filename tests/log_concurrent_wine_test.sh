#!/usr/bin/env bash
# Concurrent runs of the Windows build on one log, under Wine: three runs
# append passes with a 90 kB first record while a fourth, under a file-size
# limit its 15 MB record crosses, fails and takes its part record back, again
# and again. Every record of the three stays, whole (Wine's own append keeps an offset per
# handle: without the lock and the explicit end-of-file offset, writers
# overwrote each other).
# Usage: log_concurrent_wine_test.sh WINE HOSTPROBE.EXE
set -uo pipefail
wine=$1 exe=$(realpath "$2") here=$(realpath "$(dirname "$0")")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
fail() { echo "log_concurrent_wine_test: $*" >&2; exit 1; }

# Snapshots of N adapters: a first record of about 455 bytes an adapter.
adapters() {
  printf '{ "hostprobe_snapshot": 1, "timestamp": "6.12.2026 1:11:54", "adapters": { "records": ['
  for ((i = 0; i < $1; i++)); do
    [ "$i" -gt 0 ] && printf ','
    printf '{ "description": "Adapter %05d", "address_length": 6, "address": "02-00-00-00-%02X-%02X", "ip_address_list": { "ip_address": "10.0.%d.%d", "ip_mask": "255.255.0.0" } }' \
      "$i" $((i >> 8)) $((i & 255)) $((i >> 8)) $((i & 255))
  done
  printf '] } }'
}
adapters 200 >many.json
adapters 32767 >huge.json

"$here/../cmake/wine-test.sh" --server-only "$wine"
"$wine" "$exe" --replay many.json --pass 1 >/dev/null 2>err.txt || fail "the plain pass failed: $(cat err.txt)"
mv TEST_OUT.TXT one.txt

# 8 MiB: the limited run's 15 MB record crosses it each of its three times;
# the others append passes for as long as it runs.
(trap '' XFSZ; ulimit -f 8192
 for i in 1 2 3; do "$wine" "$exe" --replay huge.json --pass 1 >/dev/null 2>>limited.txt && exit 1; done
 touch done) &
limited=$!
pids=()
for w in 1 2 3; do
  (while [ ! -e done ]; do "$wine" "$exe" --replay many.json --pass 1 >/dev/null || exit 1; echo >>passes.txt; done) &
  pids+=($!)
done
wait "$limited" || { touch done; fail "the limited run wrote its 15 MB record: $(cat limited.txt)"; }
for pid in "${pids[@]}"; do wait "$pid" || fail "a writer failed"; done
passes=$(wc -l <passes.txt)
# Every pass of the three gave every record; the limited run none.
"$here/whole_records.pl" one.txt TEST_OUT.TXT "$passes" || fail "torn or lost records"
echo "log_concurrent_wine_test: $passes passes, whole records only"
grep -qv '^hostprobe: error: file error: cannot write TEST_OUT.TXT: ' limited.txt &&
  fail "the limited run: $(cat limited.txt)"
exit 0
