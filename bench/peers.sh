#!/usr/bin/env bash
# Times the live `hostprobe --pass 1` against the commands a technician would
# otherwise run for the same facts, and reports peak memory of each.
# Usage: bench/peers.sh [--scale] [path/to/hostprobe]   (default build/linux/hostprobe)
#   --scale (root only): also at scale, in a private mount and network
#   namespace with 300 tmpfs mounts and 300 links (bridges) with an IPv4
#   address each, side by side with the plain machine; the drive part alone
#   against df -B1; and how soon hostprobe ends with a hung FUSE mount.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
scale=0
if [ "${1:-}" = --scale ]; then
  scale=1
  shift
fi
if [ "${1:-}" = --scale-inside ]; then
  # The namespace part of --scale (bench/peers.sh calls itself): see scale_inside.
  scale=2
  shift
fi
exe=$(realpath "${1:-build/linux/hostprobe}")
peers='ip -j address; ip -j -s link; ip -j route; df -B1; systemd-detect-virt'
count=300
for tool in hyperfine /usr/bin/time ip df systemd-detect-virt; do
  command -v "$tool" >/dev/null || { echo "bench/peers.sh: $tool is missing" >&2; exit 2; }
done
if [ "$scale" = 1 ] && [ "$(id -u)" -ne 0 ]; then
  echo "bench/peers.sh --scale: needs root (it mounts $count file systems and adds $count links in a private namespace); run it as root, or without --scale" >&2
  exit 2
fi

# hyperfine over the given commands; the medians in ms, one per line, in $1.
medians() {
  local out=$1
  shift
  hyperfine -N --warmup 5 --runs 30 --export-json "$out.json" --output=null "$@" >"$out.txt"
  grep -o '"median": [0-9.e-]*' "$out.json" | awk '{ printf "%.2f\n", $2 * 1000 }' >"$out"
}
nth() { sed -n "${2}p" "$1"; }
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Inside `unshare -mn`: the plain namespace (lo only), then 300 tmpfs mounts,
# then 300 bridges; figures as name=value lines into $1/scale.txt.
scale_inside() {
  local work=$1 base i
  cd "$work"
  ip link set lo up
  medians bare "$exe --pass 1"
  base=$work/mount-points
  mkdir -p "$base"
  mount -t tmpfs -o size=1m tmpfs "$base"
  for i in $(seq "$count"); do
    mkdir "$base/m$i"
    mount -t tmpfs -o size=4m "m$i" "$base/m$i"
  done
  medians mounts "$exe --pass 1" "df -B1"
  for i in $(seq "$count"); do
    echo "link add br$i type bridge"
    echo "address add 10.$((i / 250)).$((i % 250)).1/24 dev br$i"
    echo "link set br$i up"
  done | ip -batch -
  medians links "$exe --pass 1" "sh -c '$peers'"
  {
    echo "mounts_listed=$(df -B1 | tail -n +2 | wc -l)"
    echo "links_listed=$(ip -o link | wc -l)"
    echo "bare=$(nth bare 1)"
    echo "mounts_hostprobe=$(nth mounts 1)"
    echo "mounts_df=$(nth mounts 2)"
    echo "scale_hostprobe=$(nth links 1)"
    echo "scale_peers=$(nth links 2)"
    echo "scale_hostprobe_kb=$(peak "$exe" --pass 1)"
    echo "scale_peers_kb=$(peak sh -c "$peers")"
  } >scale.txt
  # Deleted here rather than by the namespace's end, which holds the kernel's
  # network lock for a while after this script has ended.
  for i in $(seq "$count"); do echo "link delete br$i"; done | ip -batch -
}
if [ "$scale" = 2 ]; then
  scale_inside "$2"
  exit 0
fi

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
plain_hostprobe_kb=$(peak "$exe" --pass 1)
plain_peers_kb=$(peak sh -c "$peers")
echo "hostprobe --pass 1: $plain_hostprobe_kb KiB"
echo "peers (one shell): $plain_peers_kb KiB"

echo "== libraries the command line loads"
if ldd "$exe" | grep -Ei 'qt|gtk|x11|wayland|gl'; then
  echo "hostprobe links a GUI library"
  exit 1
fi
echo "none of Qt, GTK, X11, Wayland or GL"
[ "$scale" = 1 ] || exit 0

echo "== a hung FUSE mount (tests/hung_mount_test.sh, 3 runs)"
fuse_fs=$(dirname "$exe")/hung_fuse_fs
worst=0
for _ in 1 2 3; do
  line=$("$repo/tests/hung_mount_test.sh" "$exe" "$fuse_fs" 2>&1 | grep -E 'ended in|SKIPPED|FAILED' || true)
  case $line in
    *"ended in"*)
      ms=$(echo "$line" | sed -E 's/.*ended in ([0-9]+) ms.*/\1/')
      if [ "$ms" -gt "$worst" ]; then worst=$ms; fi
      ;;
    *) echo "$line"; worst=''; break ;;
  esac
done
if [ -n "$worst" ]; then
  echo "hostprobe --pass 1 ended at most $worst ms after its start (goal: within 3000 ms)"
fi

echo "== at scale: $count tmpfs mounts and $count bridges with an IPv4 address each (unshare -mn)"
plain_hostprobe=$(awk -v a="$(median 1)" 'BEGIN { printf "%.2f", a * 1000 }')
plain_peers=$(awk -v a="$(median 2)" 'BEGIN { printf "%.2f", a * 1000 }')
unshare -mn --propagation private "$repo/bench/peers.sh" --scale-inside "$exe" "$work"
# shellcheck disable=SC1091
. "$work/scale.txt"
printf '%-40s %14s %14s\n' "" "plain" "at scale" \
  "hostprobe --pass 1 (median)" "$plain_hostprobe ms" "$scale_hostprobe ms" \
  "peers (median)" "$plain_peers ms" "$scale_peers ms" \
  "hostprobe / peers" "$(ratio "$plain_hostprobe" "$plain_peers")" "$(ratio "$scale_hostprobe" "$scale_peers")" \
  "hostprobe peak memory" "$(mb "$plain_hostprobe_kb")" "$(mb "$scale_hostprobe_kb")" \
  "peers peak memory" "$(mb "$plain_peers_kb")" "$(mb "$scale_peers_kb")"
echo "(at scale: df lists $mounts_listed file systems, ip $links_listed links)"

echo "== the drive part: $count tmpfs mounts, no links but lo"
drive_part=$(awk -v a="$mounts_hostprobe" -v b="$bare" 'BEGIN { printf "%.2f", a - b }')
echo "hostprobe --pass 1: $mounts_hostprobe ms with the mounts, $bare ms without: the mounts cost $drive_part ms"
echo "df -B1 with the mounts: $mounts_df ms"
echo "drive part / df -B1: $(ratio "$drive_part" "$mounts_df") (goal: at most 2); whole run / df -B1: $(ratio "$mounts_hostprobe" "$mounts_df")"

echo "== goals"
awk -v h="$scale_hostprobe_kb" -v p="$plain_hostprobe_kb" 'BEGIN {
  m = h > p ? h : p; printf "peak memory of hostprobe: %.1f MB (goal: under 10 MB)\n", m / 1024 }'
echo "hostprobe / peers on the plain machine: $(ratio "$plain_hostprobe" "$plain_peers") (goal: at most 0.5)"
