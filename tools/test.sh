#!/usr/bin/env bash
# Builds every target and runs every test, stage by stage: Linux, the .deb
# packages, the Windows x64 build under Wine, the Windows i686 build under
# 32-bit Wine, Linux under the sanitizers, and short fuzz runs. Installs what
# is missing. A failing stage does not end the run: its output is shown with
# its name, the later stages still run, and the last lines list every stage
# as passed, skipped (and why) or failed. Exit 0 when none failed.
# Where this kernel runs no 32-bit programs or 32-bit Wine could not be
# installed, the i686 build is still made and the last line of the output
# says that its tests were NOT run, and why.
#
# A stage is one line: run_stage "NAME" COMMAND [ARGS...], where COMMAND
# (often a function below) runs with `set -euo pipefail`; it may call
# `skip_stage WHY` to be listed as skipped.
# The whole script is one block, read before any of it runs: bash reads a
# script as it goes, and an edit made to this file while it runs (it runs
# for long) would otherwise change what the running copy does next.
{
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
mkdir -p build/test-logs
results=()
failed=0

# Ends the running stage as skipped, for WHY.
skip_stage() { echo "$*" >"$stage_skip"; exit 0; }

run_stage() {
  local name=$1
  shift
  local log
  log=build/test-logs/$(printf '%s' "$name" | tr -c 'A-Za-z0-9' '-').log
  stage_skip=$log.skipped
  rm -f "$stage_skip"
  echo
  echo "=== $name ==="
  ( set -euo pipefail; "$@" ) 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  if [ "$rc" -ne 0 ]; then
    failed=1
    results+=("FAILED   $name (exit $rc; output in $log)")
    echo
    echo "=== $name: FAILED (exit $rc). The end of what it printed: ==="
    tail -n 40 "$log"
  elif [ -f "$stage_skip" ]; then
    results+=("skipped  $name: $(cat "$stage_skip")")
  else
    results+=("passed   $name")
  fi
}

linux() {
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j"$jobs"
  ctest --preset linux -j"$jobs"
}

debs() {
  [ -x build/linux/hostprobe ] || { echo "no Linux build to package"; exit 1; }
  cd build/linux
  rm -f ./*.deb
  cpack -G DEB >/dev/null
  dpkg-deb -c hostprobe_*_amd64.deb | grep ' ./usr/bin/hostprobe$' >/dev/null
  dpkg-deb -c hostprobe-window_*_amd64.deb | grep '/usr/libexec/hostprobe/hostprobe-window$' >/dev/null
  ls -1 ./*.deb
}

# The drive that never answers, under Wine (exit 77: skipped, and it said why).
hung_drive_wine() {  # WINE EXE
  local rc=0
  tests/hung_drive_wine_test.sh "$1" "$2" build/linux/hung_fuse_fs || rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ]
}

# Wine prefixes are made under build/ once the packages are in (a prefix made
# before 32-bit Wine was installed would fail the i686 programs).
windows_x64() {
  export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix-x64}"
  tools/wine-prefix.sh "$WINEPREFIX" win64
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64 -j"$jobs"
  ctest --preset windows-x64
  tools/compare-windows-replay.sh build/linux/hostprobe build/windows-x64/hostprobe.exe /usr/lib/wine/wine64
  hung_drive_wine /usr/lib/wine/wine64 build/windows-x64/hostprobe.exe
  tools/check-packages.sh --windows build/windows-x64 /usr/lib/wine/wine64   # the release zip
}

windows_i686_build() {
  cmake --preset windows-x86 >/dev/null
  cmake --build --preset windows-x86 -j"$jobs"
}

windows_i686_tests() {
  [ -z "$i686_not_run" ] || skip_stage "$i686_not_run"
  local prefix=$PWD/build/wineprefix-x86
  tools/wine-prefix.sh "$prefix" win32
  WINEPREFIX=$prefix WINEARCH=win32 ctest --preset windows-x86
  WINEPREFIX=$prefix WINEARCH=win32 \
    tools/compare-windows-replay.sh build/linux/hostprobe build/windows-x86/hostprobe.exe /usr/lib/wine/wine
  WINEPREFIX=$prefix WINEARCH=win32 hung_drive_wine /usr/lib/wine/wine build/windows-x86/hostprobe.exe
}

asan() {
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j"$jobs" --target hostprobe_tests hostprobe
  ctest --preset asan -j"$jobs"
}

export WINEDEBUG=-all
run_stage "Install what is missing (tools/deps.sh)" tools/deps.sh all
i686_not_run=
why=$(tools/have-wine32.sh) || i686_not_run=${why:-32-bit Wine cannot run programs here}

run_stage "Linux" linux
run_stage "Linux packages (.deb)" debs
run_stage "Linux package checks (lintian, desktop entry, AppStream, RPMs, icon)" tools/check-packages.sh build/linux
run_stage "Windows x64 (Wine)" windows_x64
run_stage "Windows i686 build" windows_i686_build
run_stage "Windows i686 tests (32-bit Wine)" windows_i686_tests
run_stage "Linux with AddressSanitizer and UndefinedBehaviorSanitizer" asan
run_stage "Fuzzing (short runs)" tools/fuzz.sh 30

echo
echo "=== Summary ==="
printf '%s\n' "${results[@]}"
if [ -n "$i686_not_run" ]; then
  echo
  echo "The i686 tests were NOT run: $i686_not_run"
fi
exit "$failed"
}
