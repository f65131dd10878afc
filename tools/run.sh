#!/usr/bin/env bash
# Builds hostprobe for Linux and starts it (the window where a display is
# available, otherwise the console). Arguments are passed on to hostprobe.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh build
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)"
exec build/linux/hostprobe "$@"
