#!/usr/bin/env bash
# Builds every target and runs every test: Linux, Linux under the sanitizers,
# the Windows x64 build under Wine, the Windows i686 build under 32-bit Wine,
# and short fuzz runs. Installs what is missing. Where 32-bit Wine could not be
# installed the i686 build is still made, and the last line of the
# output says that its tests were NOT run, and why.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh all
jobs=$(nproc)

i686_not_run=
say_i686_not_run() {
  if [ -n "$i686_not_run" ]; then echo; echo "The i686 tests were NOT run: $i686_not_run"; fi
}
trap say_i686_not_run EXIT

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
tools/check-packages.sh build/linux   # lintian, desktop entry, AppStream, RPMs, the window's icon

# Wine prefixes are made under build/ once the packages are in (a prefix made
# before 32-bit Wine was installed would fail the i686 programs).
export WINEDEBUG=-all
if [ -f cmake/mingw-x86_64.cmake ]; then
  stage "Windows x64 (Wine)"
  export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix-x64}"
  tools/wine-prefix.sh "$WINEPREFIX" win64
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64 -j"$jobs"
  ctest --preset windows-x64
  tools/compare-windows-replay.sh build/linux/hostprobe build/windows-x64/hostprobe.exe /usr/lib/wine/wine64
  tools/check-packages.sh --windows build/windows-x64 /usr/lib/wine/wine64   # the release zip
fi

if [ -f cmake/mingw-i686.cmake ]; then
  stage "Windows i686 (32-bit Wine)"
  cmake --preset windows-x86 >/dev/null
  cmake --build --preset windows-x86 -j"$jobs"
  if tools/have-wine32.sh; then
    x86_prefix=$PWD/build/wineprefix-x86
    tools/wine-prefix.sh "$x86_prefix" win32
    WINEPREFIX=$x86_prefix WINEARCH=win32 ctest --preset windows-x86
    WINEPREFIX=$x86_prefix WINEARCH=win32 \
      tools/compare-windows-replay.sh build/linux/hostprobe build/windows-x86/hostprobe.exe /usr/lib/wine/wine
  else
    i686_not_run=$(cat build/wine32-not-installed.txt 2>/dev/null || echo "wine32:i386 is not installed")
    echo "32-bit Wine is not installed here: the i686 build is made, its tests are not run"
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
