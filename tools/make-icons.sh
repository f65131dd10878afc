#!/usr/bin/env bash
# Renders the icon docs/hostprobe.svg into the bitmaps that are committed
# beside it: docs/icons/hostprobe-N.png (the Qt window's own icon and the
# hicolor sizes) and src/app/win32/hostprobe.ico (the Windows programs).
# Rerun after changing the SVG. Needs imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=(16 24 32 48 64 128 256)
for n in "${sizes[@]}"; do
  # Rendered at twice the target size and scaled down, not scaled up from 64 pixels.
  convert -background none -density $((72 * n * 2 / 64)) docs/hostprobe.svg \
          -resize "${n}x${n}" -strip "PNG32:docs/icons/hostprobe-$n.png"
done
convert docs/icons/hostprobe-{16,24,32,48,64,256}.png src/app/win32/hostprobe.ico
identify src/app/win32/hostprobe.ico
