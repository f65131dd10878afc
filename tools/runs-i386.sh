#!/usr/bin/env bash
# Exit 0 when this kernel runs 32-bit x86 programs; otherwise prints why and
# exits 1. Found out by running one: a 93-byte static i386 program, written
# here, that only calls exit(0) through int 0x80. (Some kernels, those of a
# few hypervisors among them, run no i386 programs at all: execve says "Exec
# format error", whatever packages are installed.)
# HOSTPROBE_I386_PROBE=FILE runs FILE instead, for trying a refusing kernel's
# answer on one that runs them.
set -uo pipefail
cd "$(dirname "$0")/.."
probe=${HOSTPROBE_I386_PROBE:-}
if [ -z "$probe" ]; then
  mkdir -p build
  probe=build/i386-probe
  # ELF header: 32-bit, little-endian, an executable for the 80386, entry at
  # 0x08048054; one program header loading the file's 93 bytes at 0x08048000
  # (read, execute); then the code: mov eax, 1; xor ebx, ebx; int 0x80.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe.tmp" && chmod 755 "$probe.tmp" && mv -f "$probe.tmp" "$probe" || {
    echo "cannot write the i386 test program $probe"; exit 1; }
fi
[ "${probe#/}" != "$probe" ] || probe=./$probe
out=$("$probe" 2>&1)
rc=$?
[ "$rc" -eq 0 ] && exit 0
# Bash words a refused program "...: cannot execute binary file: Exec format error".
why=$(printf '%s\n' "$out" | tail -1 | sed 's/^.*: cannot execute binary file: /execve: /')
echo "this kernel does not run 32-bit x86 programs (a static i386 test program: ${why:-exit status $rc})"
exit 1
