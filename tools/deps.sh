#!/usr/bin/env bash
# Installs, with apt, the Debian packages hostprobe needs that are missing
# (names that Debian 12 "bookworm" and Debian 13 "trixie" both have).
# Usage: tools/deps.sh [build|all]   (build: the Linux build only; all: every
# target and test, the default)
# With "all" it also installs 32-bit Wine (wine32:i386, adding the i386
# architecture) for the i686 tests, where this kernel runs 32-bit programs
# (tools/runs-i386.sh tries one). Where it does not, or the install fails (a
# mirror in the middle of a sync, say), it goes on, and says why in
# build/wine32-not-installed.txt, which tools/test.sh reports.
set -euo pipefail
cd "$(dirname "$0")/.."
want=(g++ cmake ninja-build pkg-config googletest libgtest-dev nlohmann-json3-dev qt6-base-dev libblkid-dev)
if [ "${1:-all}" = all ]; then
  want+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 xvfb xauth
         clang libclang-rt-dev libbenchmark-dev hyperfine time tmux iproute2 procps
         file dpkg-dev x11-apps imagemagick xdotool
         libfuse3-dev fuse3 e2fsprogs util-linux dnsmasq isc-dhcp-client dhcpcd-base
         lintian rpm desktop-file-utils appstream zip unzip x11-utils gzip binutils-mingw-w64-x86-64
         python3-jsonschema ansible-core)
fi
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${want[@]}"; do
  installed "$p" || missing+=("$p")
done
note=build/wine32-not-installed.txt
mkdir -p build
wine32=
if [ "${1:-all}" = all ]; then
  if ! why=$(tools/runs-i386.sh); then
    # Installing would take minutes, and its i386 install scripts would fail.
    echo "$why" >"$note"
    echo "tools/deps.sh: $why; 32-bit Wine is left out"
  elif ! installed wine32:i386; then
    wine32=wine32:i386
  else
    rm -f "$note"
  fi
fi
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
if [ ${#missing[@]} -gt 0 ] || [ -n "$wine32" ]; then
  echo "tools/deps.sh: installing ${missing[*]} $wine32"
  if [ -n "$wine32" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync fails the update; the lists it did fetch still serve.
  $SUDO apt-get update -q || echo "tools/deps.sh: apt-get update reported errors; going on with the package lists there are"
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
  fi
fi
if [ -n "$wine32" ]; then
  log=$(mktemp)
  if DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "$wine32" >"$log" 2>&1 && installed "$wine32"; then
    rm -f "$note"
  else
    why=$(grep -E '^E: |: Depends: ' "$log" | head -3 | tr '\n' ' ' | sed 's/ *$//')
    echo "apt-get install wine32:i386 failed: ${why:-$(tail -1 "$log")}" >"$note"
    echo "tools/deps.sh: $(cat "$note"); going on without 32-bit Wine"
  fi
  rm -f "$log"
fi
