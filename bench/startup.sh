#!/usr/bin/env bash
# Start-up cost of the command line: `hostprobe --pass 1` (the C++ runtime
# linked in) against the same program linked against the shared libstdc++
# (hostprobe_dynamic) and against /bin/true, in one hyperfine run, side by
# side. Prints the medians and the ratios.
# Usage: bench/startup.sh [BUILD_DIR]   (default build/linux; builds both programs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/linux}" && pwd)
command -v hyperfine >/dev/null || { echo "bench/startup.sh: hyperfine is missing" >&2; exit 2; }
cmake --build "$build" --target hostprobe hostprobe_dynamic >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"   # the passes append to ./TEST_OUT.TXT here
hyperfine -N --warmup 10 --runs 200 --export-json times.json --output=null \
  -n true /bin/true -n static "$build/hostprobe --pass 1" -n dynamic "$build/hostprobe_dynamic --pass 1" \
  >hyperfine.txt
python3 - times.json <<'PY'
import json, sys
r = {x["command"]: x["median"] * 1000 for x in json.load(open(sys.argv[1]))["results"]}
print(f"median: /bin/true {r['true']:.2f} ms, hostprobe --pass 1 {r['static']:.2f} ms, "
      f"dynamic libstdc++ {r['dynamic']:.2f} ms")
print(f"hostprobe / true: {r['static'] / r['true']:.2f}   dynamic / true: {r['dynamic'] / r['true']:.2f}   "
      f"hostprobe / dynamic: {r['static'] / r['dynamic']:.2f}")
PY
