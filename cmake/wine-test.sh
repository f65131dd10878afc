#!/usr/bin/env bash
# Runs a Windows test program under Wine: wine-test.sh [--display] WINE EXE ARGS...
# The GoogleTest listing (--gtest_list_tests) loses the CRs of the Windows
# console so that CMake reads the case names. --display runs every case in an
# X server of its own (xvfb-run); the listing needs none.
set -eo pipefail
display=
if [ "${1:-}" = --display ]; then display=1; shift; fi
export WINEDEBUG=${WINEDEBUG:--all}
# A Wine server that outlives each test by 30 s: Debian's wineserver ends with
# the last program (-p0), and starting it again costs seconds per test.
case "$1" in */*) "${1%/*}/wineserver" -p30 >/dev/null 2>&1 || true ;; esac
for arg in "$@"; do
  if [ "$arg" = --gtest_list_tests ]; then
    "$@" | tr -d '\r'
    exit
  fi
done
if [ -n "$display" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
fi
exec "$@"
