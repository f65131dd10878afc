#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) and
# runs each for SECONDS (default 30): first the kept regression inputs under
# fuzz/regressions/, then new inputs grown from the seeds under fuzz/corpus/.
# A crash leaves its input as build/fuzz/crash-<target>-*; keep it under
# fuzz/regressions/<target>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHOSTPROBE_FUZZ=ON -DHOSTPROBE_BUILD_TESTS=OFF -DHOSTPROBE_BUILD_QT=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target fuzz_snapshot fuzz_adapters fuzz_interfaces fuzz_netlink
for target in snapshot adapters interfaces netlink; do
  exe=build/fuzz/fuzz_$target
  if compgen -G "fuzz/regressions/$target/*" >/dev/null; then
    echo "fuzz_$target: regression inputs"
    "$exe" -rss_limit_mb=4096 fuzz/regressions/$target/* >build/fuzz/regressions-$target.log 2>&1 ||
      { tail -n 30 build/fuzz/regressions-$target.log; exit 1; }
  fi
  work=build/fuzz/corpus-$target
  mkdir -p "$work"
  seeds=(fuzz/corpus/$target)
  [ "$target" = snapshot ] && seeds+=(tests/fixtures)
  echo "fuzz_$target: ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/crash-$target-" "$work" "${seeds[@]}" >build/fuzz/run-$target.log 2>&1; then
    tail -n 40 build/fuzz/run-$target.log
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' build/fuzz/run-$target.log || true
done
