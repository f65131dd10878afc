#!/usr/bin/env bash
# Times the live `hostprobe --pass 1` against the commands a technician would
# otherwise run for the same facts, and reports peak memory of each.
# Usage: bench/peers.sh [path/to/hostprobe]   (default build/linux/hostprobe)
set -euo pipefail
cd "$(dirname "$0")/.."
exe=$(realpath "${1:-build/linux/hostprobe}")
peers='ip -j address; ip -j -s link; ip -j route; df -B1; systemd-detect-virt'
for tool in hyperfine /usr/bin/time ip df systemd-detect-virt; do
  command -v "$tool" >/dev/null || { echo "bench/peers.sh: $tool is missing" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== time (hyperfine, 5 warm-up runs, 30 runs each)"
hyperfine -N --warmup 5 --runs 30 --export-json times.json \
  "$exe --pass 1" "sh -c '$peers'" --output=null >hyperfine.txt
sed -n '/Summary/,$p' hyperfine.txt
median() { grep -o '"median": [0-9.e-]*' times.json | sed -n "${1}p" | cut -d' ' -f2; }
awk -v a="$(median 1)" -v b="$(median 2)" 'BEGIN {
  printf "median hostprobe %.2f ms, peers %.2f ms, ratio peers/hostprobe %.2f\n", a*1000, b*1000, b/a }'

echo "== peak memory (/usr/bin/time -v, maximum resident set size)"
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}'; }
echo "hostprobe --pass 1: $(peak "$exe" --pass 1) KiB"
echo "peers (one shell): $(peak sh -c "$peers") KiB"

echo "== libraries the command line loads"
if ldd "$exe" | grep -Ei 'qt|gtk|x11|wayland|gl'; then
  echo "hostprobe links a GUI library"
  exit 1
fi
echo "none of Qt, GTK, X11, Wayland or GL"
