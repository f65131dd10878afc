#!/usr/bin/env bash
# Makes sure the Wine prefix DIR exists and fits the Wine installed now:
# tools/wine-prefix.sh DIR win64|win32
# A prefix of the other architecture, or a 64-bit one made by wine64 alone
# (no syswow64) while 32-bit Wine is installed, is removed and made afresh:
# 32-bit programs fail in it with "could not load kernel32.dll" (c0000135).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1 arch=$2
arch_of() { sed -n 's/^#arch=//p' "$1/system.reg" 2>/dev/null | head -1; }
if [ -d "$dir" ]; then
  why=
  if [ ! -f "$dir/system.reg" ]; then
    why="it is not a finished Wine prefix"
  elif [ "$(arch_of "$dir")" != "$arch" ]; then
    why="it is a $(arch_of "$dir") prefix"
  elif [ "$arch" = win64 ] && [ ! -d "$dir/drive_c/windows/syswow64" ] && tools/have-wine32.sh >/dev/null; then
    why="it was made without 32-bit Wine (no syswow64), which is installed now"
  fi
  if [ -n "$why" ]; then
    echo "tools/wine-prefix.sh: making $dir afresh: $why"
    rm -rf "$dir"
  fi
fi
if [ ! -d "$dir" ]; then
  if [ "$arch" = win64 ]; then wine=/usr/lib/wine/wine64; else wine=/usr/lib/wine/wine; fi
  [ -x "$wine" ] || { echo "tools/wine-prefix.sh: $wine is not installed" >&2; exit 1; }
  mkdir -p "$(dirname "$dir")"
  # No Mono or Gecko: the tests need neither, and their installers would ask.
  # Its output is shown only where it fails.
  log=$(mktemp)
  if ! WINEPREFIX=$(realpath -m "$dir") WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      "$wine" wineboot --init >"$log" 2>&1; then
    echo "tools/wine-prefix.sh: $wine wineboot --init failed:" >&2
    tail -n 20 "$log" >&2
    rm -f "$log"
    exit 1
  fi
  WINEPREFIX=$(realpath -m "$dir") "$(dirname "$wine")/wineserver" -w
  if [ ! -f "$dir/system.reg" ]; then
    echo "tools/wine-prefix.sh: wineboot made no prefix in $dir; it printed:" >&2
    tail -n 20 "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
  echo "tools/wine-prefix.sh: made $dir ($arch)"
fi
