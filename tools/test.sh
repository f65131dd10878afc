#!/usr/bin/env bash
# Builds every target and runs every test: Linux, Linux under the sanitizers,
# the Windows x64 build under Wine, the Windows i686 build (its tests where
# 32-bit Wine is installed), and short fuzz runs. Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh all
jobs=$(nproc)

stage() { echo; echo "=== $* ==="; }

stage "Linux"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$jobs"
ctest --preset linux -j"$jobs"

stage "Linux packages (.deb)"
(cd build/linux && rm -f ./*.deb && cpack -G DEB >/dev/null &&
 dpkg-deb -c hostprobe_*_amd64.deb | grep ' ./usr/bin/hostprobe$' >/dev/null &&
 dpkg-deb -c hostprobe-window_*_amd64.deb | grep '/usr/libexec/hostprobe/hostprobe-window$' >/dev/null &&
 ls -1 ./*.deb)

if [ -f cmake/mingw-x86_64.cmake ]; then
  stage "Windows x64 (Wine)"
  export WINEDEBUG=-all WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix-x64}"
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64 -j"$jobs"
  ctest --preset windows-x64
  tools/compare-windows-replay.sh build/linux/hostprobe build/windows-x64/hostprobe.exe
fi

if [ -f cmake/mingw-i686.cmake ]; then
  stage "Windows i686"
  cmake --preset windows-x86 >/dev/null
  cmake --build --preset windows-x86 -j"$jobs"
  if tools/have-wine32.sh; then
    WINEPREFIX="$PWD/build/wineprefix-x86" WINEARCH=win32 ctest --preset windows-x86
  else
    echo "32-bit Wine is not installed here: the i686 build is checked, its tests are not run"
  fi
fi

stage "Linux with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs" --target hostprobe_tests hostprobe
ctest --preset asan -j"$jobs"

if [ -x tools/fuzz.sh ]; then
  stage "Fuzzing (short runs)"
  tools/fuzz.sh 30
fi
