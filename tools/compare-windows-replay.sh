#!/usr/bin/env bash
# Replays every snapshot fixture through the Linux build and a Windows build
# under Wine, and checks that both give the same results: the log of
# --pass 1, byte for byte, and the documents of --report --json and
# --report --json --redact, byte for byte apart from the line ends (standard
# output in text mode on Windows ends lines in CR LF; a CR inside a JSON text
# is escaped, so every raw CR is a line end's). A fixture without a fixed
# timestamp gets one (in a copy), since the live clocks of the two builds
# differ in time and locale.
# Usage: tools/compare-windows-replay.sh [LINUX_HOSTPROBE [WINDOWS_EXE [WINE]]]
set -euo pipefail
cd "$(dirname "$0")/.."
linux=$(realpath "${1:-build/linux/hostprobe}")
windows=$(realpath "${2:-build/windows-x64/hostprobe.exe}")
wine=${3:-$(command -v /usr/lib/wine/wine64 || command -v wine)}
export WINEDEBUG=-all WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix-x64}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for fixture in tests/fixtures/*.json; do
  name=$(basename "$fixture")
  if ! grep -q '"timestamp"' "$fixture" &&
     python3 -c 'import json, sys
d = json.load(open(sys.argv[1])); d["timestamp"] = "1.1.2027 0:00:01"
json.dump(d, open(sys.argv[2], "w"))' "$fixture" "$work/$name" 2>/dev/null; then
    fixture=$work/$name
  fi
  path=$(realpath "$fixture")
  mkdir -p "$work/l/$name" "$work/w/$name"
  (cd "$work/l/$name" && "$linux" --replay "$path" --pass 1 >/dev/null 2>&1) && lc=0 || lc=$?
  (cd "$work/w/$name" && "$wine" "$windows" --replay "Z:$path" --pass 1 >/dev/null 2>&1) && wc=0 || wc=$?
  if [ "$lc" != "$wc" ]; then
    echo "DIFFER $name: exit code $lc (Linux) vs $wc (Windows)"; failed=1
  elif ! cmp -s "$work/l/$name/TEST_OUT.TXT" "$work/w/$name/TEST_OUT.TXT" 2>/dev/null &&
       [ -e "$work/l/$name/TEST_OUT.TXT" -o -e "$work/w/$name/TEST_OUT.TXT" ]; then
    echo "DIFFER $name: logs differ"; failed=1
  else
    echo "same   $name (exit $lc, $(stat -c %s "$work/l/$name/TEST_OUT.TXT" 2>/dev/null || echo 0) bytes)"
  fi
  for extra in "" --redact; do
    what="$name --report --json${extra:+ $extra}"
    (cd "$work/l/$name" && "$linux" --replay "$path" --report --json $extra >l.json 2>/dev/null) && lc=0 || lc=$?
    (cd "$work/w/$name" && "$wine" "$windows" --replay "Z:$path" --report --json $extra >w.json 2>/dev/null) && wc=0 || wc=$?
    if [ "$lc" != "$wc" ]; then
      echo "DIFFER $what: exit code $lc (Linux) vs $wc (Windows)"; failed=1
    elif ! tr -d '\r' <"$work/w/$name/w.json" | cmp -s "$work/l/$name/l.json" -; then
      echo "DIFFER $what:"; tr -d '\r' <"$work/w/$name/w.json" | diff "$work/l/$name/l.json" - | head -10; failed=1
    else
      echo "same   $what (exit $lc, $(stat -c %s "$work/l/$name/l.json") bytes)"
    fi
  done
done
exit $failed
