#!/usr/bin/env bash
# Takes a screenshot of the Win32 window under Wine and Xvfb after a click on
# START TESTU 1/2 over a snapshot. Needs xvfb, xdotool and imagemagick.
# Usage: tools/win32-screenshot.sh [OUT.png [SNAPSHOT]]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/window-win32.png}")
snapshot=$(realpath "${2:-tests/fixtures/window_plain.json}")
exe=$(realpath build/windows-x64/hostprobe.exe)
export WINEDEBUG=-all WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix-x64}"
work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 800x600x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null; rm -rf "$work"' EXIT
export DISPLAY=$display
sleep 1
(cd "$work" && exec /usr/lib/wine/wine64 "$exe" --replay "Z:$snapshot") &
app=$!
for _ in $(seq 60); do
  win=$(xdotool search --name '^hostprobe$' 2>/dev/null | head -1) && [ -n "$win" ] && break
  sleep 0.5
done
sleep 1
xdotool key --window "$win" Return   # START TESTU 1/2, the default button
sleep 2
mkdir -p "$(dirname "$out")"
import -window "$win" -frame "$out" 2>/dev/null || import -window "$win" "$out"
xdotool key --window "$win" Escape  # Konec
wait $app || true
echo "wrote $out"
