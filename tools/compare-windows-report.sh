#!/usr/bin/env bash
# Prints every snapshot fixture's --report --json (and --redact) through the
# Linux build and the Windows build under Wine, and checks that both give the
# same document, byte for byte apart from the line ends (standard output in
# text mode on Windows ends lines in CR LF; a CR inside a JSON text is
# escaped, so every raw CR is a line end's). A fixture without a fixed timestamp gets one
# (in a copy), since the live clocks of the two builds differ in time and
# locale. Usage: tools/compare-windows-report.sh [LINUX_HOSTPROBE [WINDOWS_EXE [WINE]]]
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
  for extra in "" --redact; do
    (cd "$work" && "$linux" --replay "$path" --report --json $extra >l.json 2>l.err) && lc=0 || lc=$?
    (cd "$work" && "$wine" "$windows" --replay "Z:$path" --report --json $extra >w.json 2>w.err) && wc=0 || wc=$?
    if [ "$lc" != "$wc" ]; then
      echo "DIFFER $name $extra: exit code $lc (Linux) vs $wc (Windows)"; failed=1
    elif ! tr -d '\r' <"$work/w.json" | cmp -s "$work/l.json" -; then
      echo "DIFFER $name $extra:"; tr -d '\r' <"$work/w.json" | diff "$work/l.json" - | head -10; failed=1
    else
      echo "same   $name $extra (exit $lc, $(stat -c %s "$work/l.json") bytes)"
    fi
  done
done
exit $failed
