#!/usr/bin/env bash
# Concurrent runs of the Windows build on one log, under Wine: three runs
# append passes with a 1 MB first record while a fourth, under a file-size
# limit its record crosses, fails and takes its part record back. Every
# record of the three stays, whole (Wine's own append keeps an offset per
# handle: without the lock and the explicit end-of-file offset, writers
# overwrote each other).
# Usage: log_concurrent_wine_test.sh WINE HOSTPROBE.EXE
set -uo pipefail
wine=$1 exe=$(realpath "$2") here=$(realpath "$(dirname "$0")")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
fail() { echo "log_concurrent_wine_test: $*" >&2; exit 1; }

# 2,300 adapters: a first record of about 1 MB.
{
  printf '{ "hostprobe_snapshot": 1, "timestamp": "6.12.2026 1:11:54", "adapters": { "records": ['
  for i in $(seq 0 2299); do
    [ "$i" -gt 0 ] && printf ','
    printf '{ "description": "Adapter %05d", "address_length": 6, "address": "02-00-00-00-%02X-%02X", "ip_address_list": { "ip_address": "10.0.%d.%d", "ip_mask": "255.255.0.0" } }' \
      "$i" $((i >> 8)) $((i & 255)) $((i >> 8)) $((i & 255))
  done
  printf '] } }'
} >many.json

"$here/../cmake/wine-test.sh" --server-only "$wine"
"$wine" "$exe" --replay many.json --pass 1 >/dev/null 2>err.txt || fail "the plain pass failed: $(cat err.txt)"
mv TEST_OUT.TXT one.txt

pids=()
for w in 1 2 3; do
  (for i in 1 2 3; do "$wine" "$exe" --replay many.json --pass 1 >/dev/null || exit 1; done) &
  pids+=($!)
done
# 2 MiB: the limited run's record crosses it once the log holds a pass or two.
(trap '' XFSZ; ulimit -f 2048; for i in 1 2 3; do "$wine" "$exe" --replay many.json --pass 1 >/dev/null 2>>limited.txt; done; exit 0) &
pids+=($!)
for pid in "${pids[@]}"; do wait "$pid" || fail "a writer failed"; done

perl -0777 -e '
  open my $f, "<", "one.txt" or die; binmode $f; my $one = <$f>;
  open my $g, "<", "TEST_OUT.TXT" or die; binmode $g; my $log = <$g>;
  my @records = split /(?<="\r\n)(?=")/, $one;
  my ($at, %seen) = (0);
  my $limited = 0;
  while ($at < length $log) {
    my $found;
    for my $r (@records) {
      if (substr($log, $at, length $r) eq $r) { $found = $r; last; }
    }
    die "no whole record at byte $at\n" unless defined $found;
    $seen{$found}++;
    $at += length $found;
  }
  # A run writes a pass in order and stops at its first failure: the count
  # of each record is at most that of the one before, the three unlimited
  # runs gave every record 9 times, and only the limited run stopped early.
  my @counts = map { $seen{$_} // 0 } @records;
  for my $k (1 .. $#counts) {
    die "records lost: @counts\n" if $counts[$k] > $counts[$k - 1];
  }
  die "records lost: @counts\n" if $counts[-1] < 9 || $counts[0] - $counts[-1] > 3;
  print "log_concurrent_wine_test: whole records only, counts @counts\n";
' || fail "torn or lost records"
grep -qv '^hostprobe: error: file error: cannot write TEST_OUT.TXT: ' limited.txt 2>/dev/null &&
  fail "the limited run: $(cat limited.txt)"
exit 0
