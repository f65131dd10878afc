#!/usr/bin/env bash
# Runs a Windows test program under Wine: wine-test.sh [--display] WINE EXE ARGS...
# The GoogleTest listing (--gtest_list_tests) loses the CRs of the Windows
# console so that CMake reads the case names. --display runs the program in
# an X server of its own (xvfb-run); the listing needs none.
# wine-test.sh --server-only WINE / --fresh-server WINE: only start the server
# as below / end the running one, so that the next program starts a new one.
set -eo pipefail
export WINEDEBUG=${WINEDEBUG:--all}

# A Wine server that outlives each test by 30 s: Debian's wineserver ends with
# the last program (-p0), and starting it again costs seconds per test. It and
# the Wine services a first program starts live on after the test, so they
# are started here with no descriptor of ours: ctest waits until every holder
# of a test's output has closed it.
start_server() {
  local fd
  for fd in /proc/$BASHPID/fd/*; do
    fd=${fd##*/}
    if [ "$fd" -gt 2 ]; then eval "exec $fd>&-"; fi
  done
  exec </dev/null >/dev/null 2>&1
  if "${1%/*}/wineserver" -p30; then "$1" cmd /c exit; fi
}
# Windows are bound to the X display of the server's first window, and each
# program with windows has an X server of its own that ends with it: such a
# program gets a Wine server of its own too (ending with it, -p0).
fresh_server() {
  "${1%/*}/wineserver" -k >/dev/null 2>&1 || true
  "${1%/*}/wineserver" -w >/dev/null 2>&1 || true
}

case "${1:-}" in
  --server-only) case "$2" in */*) (start_server "$2") || true ;; esac; exit 0 ;;
  --fresh-server) case "$2" in */*) fresh_server "$2" ;; esac; exit 0 ;;
esac
display=
if [ "${1:-}" = --display ]; then display=1; shift; fi
for arg in "$@"; do
  if [ "$arg" = --gtest_list_tests ]; then
    case "$1" in */*) (start_server "$1") || true ;; esac
    "$@" | tr -d '\r'
    exit
  fi
done
if [ -n "$display" ]; then
  case "$1" in */*) fresh_server "$1" ;; esac
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
fi
case "$1" in */*) (start_server "$1") || true ;; esac
exec "$@"
