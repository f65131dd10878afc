#!/usr/bin/env bash
# Exit 0 when 32-bit Wine can run programs here: this kernel runs 32-bit
# programs, wine32:i386 is installed and its loader starts. Otherwise prints
# why and exits 1.
cd "$(dirname "$0")/.."
tools/runs-i386.sh || exit 1
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  cat build/wine32-not-installed.txt 2>/dev/null || echo "wine32:i386 is not installed"
  exit 1
fi
if ! out=$(/usr/lib/wine/wine --version 2>&1); then
  echo "/usr/lib/wine/wine --version failed: $(printf '%s\n' "$out" | tail -1)"
  exit 1
fi
