#!/usr/bin/env bash
# Builds the Linux packages of a build tree and checks them as a distribution
# would: lintian on both .debs (any error or warning fails), the desktop entry
# (desktop-file-validate), the AppStream metadata (appstreamcli), both RPMs
# (rpm -qlp, rpm -qp --requires), the command line's runtime (glibc only),
# and the window's icon and class under Xvfb (xprop).
#   tools/check-packages.sh [BUILD_DIR]            default build/linux
# With a Windows build tree it checks the release zip instead: one top folder,
# the licence and the user README in it, and hostprobe.com /? under Wine.
#   tools/check-packages.sh --windows BUILD_DIR WINE
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
failures=0
fail() { echo "check-packages: FAIL: $*" >&2; failures=$((failures + 1)); }
ok() { echo "check-packages: ok: $*"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "${1:-}" = --windows ]; then
  build=$(cd "$2" && pwd)
  wine=$3
  (cd "$build" && rm -f ./hostprobe-*.zip && cpack -G ZIP >/dev/null)
  zip=$(ls "$build"/hostprobe-*-win*.zip)
  top=$(basename "$zip" .zip)
  unzip -l "$zip"
  listed=$(unzip -Z1 "$zip")
  for f in hostprobe.exe hostprobe.com vmware.dll LICENSE.txt README.txt; do
    grep -qx "$top/$f" <<<"$listed" && ok "$top/$f in the zip" || fail "$top/$f not in $zip"
  done
  others=$(grep -v "^$top/" <<<"$listed" || true)
  [ -z "$others" ] && ok "one top folder $top/" || fail "outside $top/: $others"
  unzip -q "$zip" -d "$work"
  # The help from the console twin, as cmd.exe runs it.
  for arg in '/?' '-?' '-h'; do
    out=$(cd "$work/$top" && WINEDEBUG=-all "$wine" hostprobe.com "$arg" 2>&1) && code=0 || code=$?
    if [ "$code" = 0 ] && grep -q '^Usage: hostprobe' <<<"$out"; then ok "hostprobe.com $arg prints the help"
    else fail "hostprobe.com $arg: exit $code: $out"; fi
  done
  # A version resource and an icon in every program (windres reads them back).
  for f in hostprobe.exe hostprobe.com vmware.dll; do
    res=$(x86_64-w64-mingw32-windres -J coff -O rc -i "$work/$top/$f" 2>&1 || true)
    grep -q "VALUE \"OriginalFilename\", \"$f\"" <<<"$res" && grep -q '^1 14 /\* RT_GROUP_ICON' <<<"$res" \
      && ok "$f has a version resource and an icon" || fail "$f resources: $(head -c 300 <<<"$res")"
  done
  [ "$failures" = 0 ] || { echo "check-packages: $failures check(s) failed" >&2; exit 1; }
  exit 0
fi

build=$(cd "${1:-build/linux}" && pwd)
(cd "$build" && rm -f ./*.deb ./*.rpm && cpack -G DEB >/dev/null && cpack -G RPM >/dev/null)
debs=("$build"/hostprobe_*_amd64.deb "$build"/hostprobe-window_*_amd64.deb)
rpms=("$build"/hostprobe-[0-9]*.rpm "$build"/hostprobe-window-[0-9]*.rpm)

# lintian: errors and warnings fail, the informational tags are shown.
# (--allow-root: CI runs as root.)
if lintian --allow-root --fail-on error,warning --display-info "${debs[@]}"; then ok "lintian"; else fail "lintian"; fi
for deb in "${debs[@]}"; do
  pkg=$(dpkg-deb -f "$deb" Package)
  contents=$(dpkg-deb -c "$deb")
  for f in copyright changelog.Debian.gz; do
    grep -q " ./usr/share/doc/$pkg/$f$" <<<"$contents" && ok "$pkg: /usr/share/doc/$pkg/$f" \
      || fail "$pkg has no /usr/share/doc/$pkg/$f"
  done
  dpkg-deb -x "$deb" "$work/deb"
done
[ "$(dpkg-deb -f "${debs[0]}" Suggests)" = hostprobe-window ] && ok "hostprobe suggests hostprobe-window" \
  || fail "hostprobe: Suggests: $(dpkg-deb -f "${debs[0]}" Suggests)"

desktop=$work/deb/usr/share/applications/hostprobe.desktop
if desktop-file-validate "$desktop"; then ok "desktop-file-validate"; else fail "desktop-file-validate"; fi
if appstreamcli validate --no-net --pedantic "$work"/deb/usr/share/metainfo/*.metainfo.xml &&
   appstreamcli validate-tree --no-net "$work/deb"; then ok "appstreamcli"; else fail "appstreamcli"; fi

# The command line: nothing but glibc.
needed=$(objdump -p "$work/deb/usr/bin/hostprobe" | awk '$1 == "NEEDED" { print $2 }' | sort | tr '\n' ' ')
# glibc's own libraries, and libblkid (util-linux, on every base system).
extra=$(tr ' ' '\n' <<<"$needed" | grep -v -x -E 'ld-linux-x86-64\.so\.2|libc\.so\.6|libm\.so\.6|libmvec\.so\.1|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|libblkid\.so\.1|' || true)
[ -z "$extra" ] && grep -qw 'libc\.so\.6' <<<"$needed" \
  && ok "hostprobe needs $needed" || fail "hostprobe needs $needed"
glibc=$(objdump -T "$work/deb/usr/bin/hostprobe" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -1)
echo "check-packages: hostprobe runs on glibc ${glibc#GLIBC_} and later"
for deb_file in "$work/deb/usr/bin/hostprobe" "$work/deb/usr/libexec/hostprobe/hostprobe-window"; do
  if readelf -S "$deb_file" | grep -q '\.comment'; then fail "$deb_file keeps .comment"; fi
done

for rpm in "${rpms[@]}"; do
  echo "--- rpm -qlp $(basename "$rpm")"
  rpm -qlp "$rpm" 2>/dev/null
  echo "--- rpm -qp --requires $(basename "$rpm")"
  rpm -qp --requires "$rpm" 2>/dev/null
done
list0=$(rpm -qlp "${rpms[0]}" 2>/dev/null); req0=$(rpm -qp --requires "${rpms[0]}" 2>/dev/null)
list1=$(rpm -qlp "${rpms[1]}" 2>/dev/null); req1=$(rpm -qp --requires "${rpms[1]}" 2>/dev/null)
grep -qx /usr/bin/hostprobe <<<"$list0" && grep -qx /usr/share/doc/hostprobe/copyright <<<"$list0" \
  && ok "hostprobe rpm: the program and its copyright" || fail "hostprobe rpm lacks the program or copyright"
grep -qx /usr/libexec/hostprobe/hostprobe-window <<<"$list1" \
  && grep -qx /usr/share/doc/hostprobe-window/copyright <<<"$list1" \
  && ok "hostprobe-window rpm: the program and its copyright" || fail "hostprobe-window rpm lacks the program or copyright"
grep -q 'lintian' <<<"$list0$list1" && fail "lintian overrides in an rpm"
grep -Eq 'libstdc\+\+|libgcc_s|Qt' <<<"$req0" && fail "hostprobe rpm requires more than glibc: $req0"
grep -q "^hostprobe = $(rpm -qp --qf '%{VERSION}-%{RELEASE}' "${rpms[0]}" 2>/dev/null)\$" <<<"$req1" \
  && ok "hostprobe-window rpm requires its hostprobe" || fail "hostprobe-window rpm: $req1"

# The window under Xvfb: its icon (_NET_WM_ICON) and the class the desktop
# entry names.
if command -v xvfb-run >/dev/null && [ -x "$build/hostprobe-window" ]; then
  class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
  props=$(cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" --replay "$2" & pid=$!
    for _ in $(seq 100); do
      wid=$(xdotool search --name "^hostprobe$" 2>/dev/null | head -1 || true)
      [ -n "$wid" ] && break
      sleep 0.1
    done
    sleep 0.3
    [ -n "$wid" ] && xprop -id "$wid" WM_CLASS _NET_WM_ICON | cut -c1-200
    kill $pid' _ "$build/hostprobe-window" "$root/tests/fixtures/window_plain.json" 2>/dev/null || true)
  grep -q '^_NET_WM_ICON(CARDINAL) = ' <<<"$props" && ok "the window sets _NET_WM_ICON" \
    || fail "no _NET_WM_ICON: $props"
  grep -q "^WM_CLASS(STRING) = .*\"$class\"\$" <<<"$props" && ok "window class $class" \
    || fail "WM_CLASS is not \"$class\": $props"
fi

[ "$failures" = 0 ] || { echo "check-packages: $failures check(s) failed" >&2; exit 1; }
echo "check-packages: all checks passed"
