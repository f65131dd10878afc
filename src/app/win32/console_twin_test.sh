#!/usr/bin/env bash
# hostprobe.com, the console twin, as cmd.exe runs it: in a fresh folder
# holding hostprobe.com, hostprobe.exe and vmware.dll, "hostprobe" typed at
# the prompt picks the twin, which runs the command line and gives cmd its
# exit code, or, without options, starts the window and returns.
# Usage: console_twin_test.sh WINE BUILD_DIR FIXTURES command|window
# (window: needs an X display, e.g. under xvfb-run, and xdotool)
set -euo pipefail
wine=$1 build=$2 fixtures=$3 mode=$4
export WINEDEBUG=-all
# The Wine server: started so that it does not hold this test's output open,
# or, for the window, a new one bound to this test's X display. Either way
# the services a server's first program starts (the desktop, the device
# host) come up here, with their output thrown away: a service that fails
# while it starts (seen under load with 32-bit Wine) must not write into the
# twin's transcript.
launcher="$(dirname "$0")/../../../cmake/wine-test.sh"
[ "$mode" != window ] || "$launcher" --fresh-server "$wine"
"$launcher" --server-only "$wine"
work=$(mktemp -d "$build/console-twin-$mode.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$build/hostprobe.com" "$build/hostprobe.exe" "$build/vmware.dll" "$work/"
cp "$fixtures/window_plain.json" "$work/ok.json"
cp "$fixtures/probes_no_library.json" "$work/noprobes.json"
cd "$work"
failed=0

# Runs a command line in cmd.exe in the folder; its output without CRs. (A
# file, not a pipe: a window started from it keeps the pipe open.)
in_cmd() {
  local rc=0
  timeout 120 "$wine" cmd /c "$1" </dev/null >cmd.out 2>&1 || rc=$?
  [ $rc != 124 ] || echo "(cmd.exe did not end within 120 s)" >>cmd.out
  tr -d '\r' <cmd.out
  rm -f cmd.out
}

# Runs COMMAND in cmd.exe as a batch file does, then "echo rc=%errorlevel%" on
# a line of its own: cmd.exe expands %...% when it reads a line, so on the
# command's own line it would give the errorlevel from before the command.
with_rc() {
  printf '@echo off\r\n%s\r\necho rc=%%errorlevel%%\r\n' "$1" >with-rc.bat
  in_cmd with-rc.bat
  rm -f with-rc.bat
}

log_of() { if [ -e "$1" ]; then od -An -c "$1"; else echo "(no log)"; fi; }

expect_same() {  # NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL $1"; echo "--- expected:"; printf '%s\n' "$2"; echo "--- got:"; printf '%s\n' "$3"
    failed=1
  else
    echo "ok   $1"
  fi
}

if [ "$mode" = command ]; then
  # What hostprobe.exe, named in full, prints and writes: the reference.
  mkdir exe && cp ok.json noprobes.json exe/
  ok_exe=$(cd exe && "$wine" ../hostprobe.exe --replay ok.json --pass 1 </dev/null 2>&1 | tr -d '\r')
  ok_log=$(log_of exe/TEST_OUT.TXT)
  rm -f exe/TEST_OUT.TXT
  bad_exe=$(cd exe && { "$wine" ../hostprobe.exe --replay noprobes.json --pass 1 </dev/null 2>&1 || true; } | tr -d '\r')
  bad_log=$(log_of exe/TEST_OUT.TXT)

  transcript=$(with_rc 'hostprobe --replay ok.json --pass 1')
  printf '%s\n' "$transcript"
  expect_same "progress lines, then rc=0" "$ok_exe"$'\n'"rc=0" "$transcript"
  expect_same "the log of the run" "$ok_log" "$(log_of TEST_OUT.TXT)"
  rm -f TEST_OUT.TXT

  # The twin runs the options itself: alone in a folder it does the same.
  mkdir alone && cp hostprobe.com vmware.dll ok.json alone/
  transcript=$(cd alone && with_rc 'hostprobe --replay ok.json --pass 1')
  expect_same "hostprobe.com alone: progress lines, then rc=0" "$ok_exe"$'\n'"rc=0" "$transcript"
  expect_same "hostprobe.com alone: the log of the run" "$ok_log" "$(log_of alone/TEST_OUT.TXT)"

  transcript=$(with_rc 'hostprobe --replay noprobes.json --pass 1')
  printf '%s\n' "$transcript"
  expect_same "the error line, then rc=1" "$bad_exe"$'\n'"rc=1" "$transcript"
  expect_same "the log up to the error" "$bad_log" "$(log_of TEST_OUT.TXT)"
  case "$bad_exe" in *error*) ;; *) echo "FAIL no error line from hostprobe.exe"; failed=1 ;; esac

  transcript=$(with_rc 'hostprobe --version')
  expect_same "--version, then rc=0" "$("$wine" hostprobe.exe --version </dev/null 2>&1 | tr -d '\r')"$'\n'"rc=0" \
              "$transcript"
  transcript=$(with_rc 'hostprobe --pass 9')
  case "$transcript" in *$'\n'rc=2) echo "ok   bad usage, then rc=2" ;;
                        *) echo "FAIL bad usage: $transcript"; failed=1 ;; esac
  exit $failed
fi

# window: the twin starts hostprobe.exe and returns while the window is open.
# (No window found is an empty answer, not a failure: under `set -e` a
# failing `win=$(window)` would end the test without a word.)
window() { xdotool search --name '^hostprobe$' 2>/dev/null | head -1 || true; }
if [ -n "$(window)" ]; then echo "FAIL a hostprobe window is open before the test"; exit 1; fi
transcript=$(with_rc 'hostprobe --replay ok.json')
printf '%s\n' "$transcript"
expect_same "the twin returns at once with rc=0" "rc=0" "$transcript"
win=
for _ in $(seq 120); do
  win=$(window) && [ -n "$win" ] && break
  sleep 0.5
done
if [ -z "$win" ]; then
  echo "FAIL no window appeared; Windows programs running:"
  ps -eo pid,args | grep -i '[.]exe' || true
  exit 1
fi
echo "ok   the window appeared (X window $win)"
sleep 1
# Esc = Konec. Wine may give the window a new X window while it settles
# (seen with Wine 10): the key goes to the one found now, asked again if
# that one is already gone.
for _ in $(seq 10); do
  win=$(window)
  [ -n "$win" ] && xdotool key --window "$win" Escape 2>/dev/null && break
  sleep 0.5
done
for _ in $(seq 60); do
  [ -z "$(window)" ] && break
  sleep 0.5
done
if [ -n "$(window)" ]; then
  echo "FAIL the window did not close on Esc"
  xdotool windowkill "$win" 2>/dev/null || true
  failed=1
else
  echo "ok   Esc closed the window"
fi
[ ! -e TEST_OUT.TXT ] || { echo "FAIL the window wrote a log without a run"; failed=1; }
exit $failed
