#!/usr/bin/env bash
# Exit 0 when this kernel executes 32-bit x86 programs (with --wine: and 32-bit Wine is
# installed); otherwise print why in one line and exit 1. The probe is a 92-byte i386 ELF
# program that only calls exit(0).
set -uo pipefail
if [ "${LOADER_32BIT:-}" = no ]; then
  echo "32-bit runs are turned off (LOADER_32BIT=no)"; exit 1
fi
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
python3 - "$probe" <<'PY'
import struct, sys
code = bytes([0x31, 0xDB, 0xB8, 0x01, 0, 0, 0, 0xCD, 0x80])  # xor ebx,ebx; mov eax,1; int 0x80
base, entry = 0x08048000, 0x08048000 + 52 + 32
header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, entry, 52, 0, 0, 52, 32, 1, 0, 0, 0)
program = struct.pack("<IIIIIIII", 1, 0, base, base, 84 + len(code), 84 + len(code), 5, 0x1000)
open(sys.argv[1], "wb").write(header + program + code)
PY
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
