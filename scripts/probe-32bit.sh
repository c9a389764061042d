#!/usr/bin/env bash
# Exit 0 when this kernel executes 32-bit x86 programs (with --wine: and 32-bit Wine is
# installed); otherwise print why in one line and exit 1. The probe is a 93-byte i386 ELF
# program that only calls exit(0): xor ebx,ebx; mov eax,1; int 0x80. It is written by printf,
# not by a script language: the set-up asks this before it has installed anything.
set -uo pipefail
if [ "${LOADER_32BIT:-}" = no ]; then
  echo "32-bit runs are turned off (LOADER_32BIT=no)"; exit 1
fi
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
# The ELF header, one program header (the 93 bytes loaded at 0x08048000), the code.
printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'\
'\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00'\
'\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' > "$probe"
chmod +x "$probe"
if [ "$(uname -m)" != x86_64 ] && [ "$(uname -m)" != i686 ]; then
  echo "this machine is $(uname -m), not x86"; exit 1
fi
if ! "$probe" 2>/dev/null; then
  echo "this kernel cannot execute 32-bit programs (no IA-32 emulation)"; exit 1
fi
if [ "${1:-}" = --wine ] && [ ! -x /usr/lib/wine/wine ]; then
  # The set-up leaves apt's reason where it could not install it.
  why="$(dirname "$0")/../build/wine32-missing.txt"
  if [ -s "$why" ]; then head -n1 "$why"; else echo "32-bit Wine (wine32:i386) is not installed"; fi
  exit 1
fi
exit 0
