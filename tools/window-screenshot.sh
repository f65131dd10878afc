#!/usr/bin/env bash
# Screenshots of the Linux window after a run, under Xvfb: at 96 DPI
# (docs/window-qt.png), at 192 DPI (docs/window-qt-192dpi.png) and at 96 DPI
# with an 18 pt desktop font (docs/window-qt-18pt.png: the GTK settings of a
# desktop, read through Qt's gtk3 platform theme), where the form grows with
# the font.
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
mkdir -p "$work/config/gtk-3.0"
printf '[Settings]\ngtk-font-name=DejaVu Sans 18\n' >"$work/config/gtk-3.0/settings.ini"
shot() {  # shot OUT.png FONT_DPI [ENV=VALUE...]
  local out=$1 dpi=$2
  shift 2
  (cd "$work" && env QT_FONT_DPI="$dpi" "$@" "$build/hostprobe" --replay "$root/tests/fixtures/window_plain.json") &
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
  import -window "$wid" "$out"
  xdotool key --window "$wid" Escape 2>/dev/null || true
  wait "$pid"
  echo "$out: $(identify -format '%wx%h' "$out")"
}
shot "$root/docs/window-qt.png" 96
shot "$root/docs/window-qt-192dpi.png" 192
shot "$root/docs/window-qt-18pt.png" 96 QT_QPA_PLATFORMTHEME=gtk3 XDG_CONFIG_HOME="$work/config"
