#!/usr/bin/env bash
# Builds hostprobe for Linux (the command line and the window program only)
# and starts it (the window where a display is available, otherwise the
# console). Arguments are passed on to hostprobe.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh build
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target hostprobe hostprobe-window
exec build/linux/hostprobe "$@"
