#!/usr/bin/env python3
"""Checks a built loader.exe: PE32 or PE32+, GUI subsystem, only KnownDLLs imported (any other
DLL Windows would look for in the program's own folder first, where a planted one would load),
the dialog, string and icon resources present, the exploit mitigations kept (DYNAMIC_BASE and
NX_COMPAT with base relocations), and the shipping PE32 build at or under 24 KB.
A build with a publisher check may take 2 KB more; others may not.
usage: check_pe.py loader.exe OBJDUMP [PUBLISHER]"""
import re
import struct
import subprocess
import sys

KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "shell32.dll"}
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON = 3, 5, 6, 14
MAX_PE32_BYTES = 24 * 1024
DYNAMIC_BASE, NX_COMPAT, RELOCS_STRIPPED = 0x40, 0x100, 0x1


def header_fields(data):
    """Entry point, DllCharacteristics, COFF characteristics and the base relocation directory's size."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    coff_flags = struct.unpack_from("<H", data, pe + 22)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    entry = struct.unpack_from("<I", data, opt + 16)[0]
    dll_flags = struct.unpack_from("<H", data, opt + 70)[0]
    ddir = opt + (96 if magic == 0x10B else 112)
    reloc_size = struct.unpack_from("<I", data, ddir + 5 * 8 + 4)[0]
    return entry, dll_flags, coff_flags, reloc_size


def resources(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    machine, nsect, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    ddir = opt + (96 if magic == 0x10B else 112)
    rsrc_rva, _ = struct.unpack_from("<II", data, ddir + 2 * 8)
    sections = []
    for i in range(nsect):
        s = opt + optsize + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rawsize), rawptr))

    def off(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("rva outside sections")

    found = {}
    if rsrc_rva == 0:
        return magic, subsystem, found
    base = off(rsrc_rva)

    def walk(offset, path):
        named, ids = struct.unpack_from("<HH", data, offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, offset + 16 + 8 * i)
            if name & 0x80000000:
                p = base + (name & 0x7FFFFFFF)
                n = struct.unpack_from("<H", data, p)[0]
                key = data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
            else:
                key = name
            if target & 0x80000000:
                walk(base + (target & 0x7FFFFFFF), path + [key])
            else:
                rva, size = struct.unpack_from("<II", data, base + target)
                found[tuple(path + [key])] = data[off(rva):off(rva) + size]

    walk(base, [])
    return magic, subsystem, found


def main():
    exe, objdump = sys.argv[1], sys.argv[2]
    checks_publisher = len(sys.argv) > 3 and bool(sys.argv[3])
    most = MAX_PE32_BYTES + (2048 if checks_publisher else 0)
    data = open(exe, "rb").read()
    magic, subsystem, found = resources(data)
    errors = []
    if subsystem != 2:
        errors.append("subsystem %d is not the Windows GUI" % subsystem)
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    dlls = sorted({d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)})
    extra = [d for d in dlls if d not in KNOWN_DLLS]
    if extra:
        errors.append("imports DLLs that are not KnownDLLs: %s" % ", ".join(extra))
    for name in ("LANGCHOOSER", "MANAGER"):
        entries = [v for k, v in found.items() if k[0] == RT_DIALOG and k[1] == name]
        if not entries:
            errors.append("dialog %s missing" % name)
        elif struct.unpack_from("<HH", entries[0], 0) != (1, 0xFFFF):
            errors.append("dialog %s is not an extended template" % name)
    strings = [k for k in found if k[0] == RT_STRING and k[1] == 1 and k[2] == 1033]
    if not strings:
        errors.append("string table block 1 (ids 0-15) in English (United States) missing")
    icons = [k for k in found if k[0] == RT_GROUP_ICON and k[1] == 105 and k[2] == 1033]
    if not icons:
        errors.append("icon group 105 missing")
    else:
        images = [v for k, v in found.items() if k[0] == RT_ICON]
        if len(images) != 1 or len(images[0]) != 744:
            errors.append("icon must be one 32x32 16-colour image of 744 bytes")
    entry, dll_flags, coff_flags, reloc_size = header_fields(data)
    if entry == 0:
        errors.append("no entry point")
    if dll_flags & (DYNAMIC_BASE | NX_COMPAT) != DYNAMIC_BASE | NX_COMPAT:
        errors.append("DllCharacteristics 0x%x lacks DYNAMIC_BASE or NX_COMPAT (0x140)" % dll_flags)
    if coff_flags & RELOCS_STRIPPED or reloc_size == 0:
        errors.append("base relocations are missing, so the image cannot move")
    if magic == 0x10B and len(data) > most:
        errors.append("%d bytes: the shipping PE32 build must stay at or under %d" % (len(data), most))
    kind = "PE32" if magic == 0x10B else "PE32+"
    print("%s: %s, %d bytes, GUI subsystem, imports %s" % (exe, kind, len(data), ", ".join(dlls)))
    for e in errors:
        print("FAIL: " + e)
    sys.exit(1 if errors else 0)


main()
