#!/usr/bin/env bash
# Installs, with apt, the Debian packages hostprobe needs that are missing.
# Usage: tools/deps.sh [build|all]   (build: the Linux build only; all: every
# target and test, the default)
set -euo pipefail
want=(g++ cmake ninja-build pkg-config googletest libgtest-dev nlohmann-json3-dev qt6-base-dev)
if [ "${1:-all}" = all ]; then
  want+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 xvfb xauth
         clang libclang-rt-14-dev libbenchmark-dev hyperfine time tmux iproute2 procps
         file dpkg-dev x11-apps imagemagick xdotool
         libfuse3-dev fuse3)
fi
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "tools/deps.sh: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  # A mirror in the middle of a sync fails the update; the lists it did fetch still serve.
  $SUDO apt-get update -q || echo "tools/deps.sh: apt-get update reported errors; going on with the package lists there are"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
fi
