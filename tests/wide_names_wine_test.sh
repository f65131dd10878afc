#!/usr/bin/env bash
# File names outside the ANSI code page, under Wine: hostprobe.com takes its
# arguments in UTF-16, so "čř.json" and "日本.json" are those files, never a
# best-fit look-alike ("cr.json", "??.json").
# Usage: wide_names_wine_test.sh WINE HOSTPROBE.COM FIXTURE
set -uo pipefail
wine=$1 exe=$(realpath "$2") fixture=$(realpath "$3") here=$(realpath "$(dirname "$0")")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
# Wine hands the arguments on in the locale's character set: UTF-8.
export LC_ALL=C.UTF-8
fail() { echo "wide_names_wine_test: $*" >&2; exit 1; }

"$here/../cmake/wine-test.sh" --server-only "$wine"
cp "$fixture" s.json
"$wine" "$exe" --replay s.json --pass 1 >/dev/null 2>err.txt || fail "the plain pass failed: $(cat err.txt)"
mv TEST_OUT.TXT expected.txt
# Standard error is a file, not a console: no line about where the records went.
[ ! -s err.txt ] || fail "the plain pass wrote to a redirected standard error: $(cat err.txt)"

# A capture under a Czech name writes that file and leaves the look-alike be.
echo "not a snapshot" >cr.json
"$wine" "$exe" --replay s.json --capture "čř.json" >/dev/null 2>err.txt || fail "--capture čř.json: $(cat err.txt)"
[ "$(cat cr.json)" = "not a snapshot" ] || fail "--capture čř.json changed cr.json"
[ -s "čř.json" ] || fail "--capture čř.json wrote no čř.json"

# A CJK name replays that file, to the same log.
cp s.json "日本.json"
"$wine" "$exe" --replay "日本.json" --pass 1 >/dev/null 2>err.txt || fail "--replay 日本.json: $(cat err.txt)"
cmp -s TEST_OUT.TXT expected.txt || fail "--replay 日本.json gave another log"
rm TEST_OUT.TXT
# So does the capture of the Czech name.
"$wine" "$exe" --replay "čř.json" --pass 1 >/dev/null 2>err.txt || fail "--replay čř.json: $(cat err.txt)"
cmp -s TEST_OUT.TXT expected.txt || fail "--replay čř.json gave another log"
rm TEST_OUT.TXT

# A name that is not there is not there, however like another it looks.
cp s.json ab.json
status=0
"$wine" "$exe" --replay "ăb.json" --pass 1 >/dev/null 2>err.txt || status=$?
[ "$status" -eq 2 ] || fail "--replay ăb.json (absent): exit code $status, expected 2"
grep -q '^hostprobe: ăb.json: cannot read the snapshot: No such file or directory' err.txt ||
  fail "--replay ăb.json: $(cat err.txt)"
[ ! -e TEST_OUT.TXT ] || fail "--replay ăb.json wrote a log"
echo "wide_names_wine_test: čř.json, 日本.json and ăb.json are those files"
