#!/usr/bin/env bash
# Screenshots of the Linux window after a run, under Xvfb: one at 96 DPI
# (docs/window-qt.png) and one at 192 DPI (build/window-qt-192.png).
# Needs a Linux build (build/linux) and xvfb, xdotool, imagemagick.
# Usage: tools/window-screenshot.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build/linux}" && pwd)
if [ -z "${HOSTPROBE_IN_XVFB:-}" ]; then
  HOSTPROBE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$build"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shot() {  # shot OUT.png FONT_DPI
  (cd "$work" && QT_FONT_DPI=$2 "$build/hostprobe" --replay "$root/tests/fixtures/window_plain.json") &
  local pid=$! wid=""
  for _ in $(seq 100); do
    wid=$(xdotool search --name '^hostprobe$' 2>/dev/null | head -1 || true)
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || { echo "no window" >&2; kill "$pid"; return 1; }
  sleep 0.5
  xdotool key --window "$wid" Return   # START TESTU 1/2, the default button
  sleep 1
  import -window "$wid" "$1"
  xdotool key --window "$wid" Escape 2>/dev/null || true
  wait "$pid"
  echo "$1: $(identify -format '%wx%h' "$1")"
}
shot "$root/docs/window-qt.png" 96
shot "$root/build/window-qt-192.png" 192
