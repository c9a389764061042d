#!/usr/bin/env python3
"""Checks a built loader.exe: PE32 or PE32+, GUI subsystem, only KnownDLLs imported (any other
DLL Windows would look for in the program's own folder first, where a planted one would load),
and from kernel32 only functions that Windows 2000 and XP before SP1 already had; the dialog,
string and icon resources, the application manifest (administrator rights, the supported
systems, DPI awareness, no common-controls 6, one namespace on trustInfo for Windows XP) and the
version information present; the exploit mitigations kept (DYNAMIC_BASE and NX_COMPAT with base
relocations), and the shipping PE32 build at or under 38 KB (38,912 bytes).
Each option of the build may take 2 KB more: the publisher check, and OPTIONS, a comma-separated
list of resilient and report. COMPANY and PRODUCT are the names the version information must
carry (CompanyName; ProductName, and FileDescription "PRODUCT Setup"). OBJDUMP is the build's
objdump (i686-w64-mingw32-objdump for the shipping build); PUBLISHER is empty for a build without
the publisher check.
usage: check_pe.py loader.exe OBJDUMP [PUBLISHER [COMPANY [OPTIONS [PRODUCT]]]]"""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
# kernel32 functions that Windows 2000 and every XP already export. A function that is not here
# is looked up at run time, or added once it is known to be that old: an import that the system
# lacks keeps the whole program from starting.
OLD_KERNEL32 = set("""WaitForMultipleObjects CloseHandle ReadFile FindResourceExW LoadResource LockResource SizeofResource CreateEventA GetACP MultiByteToWideChar SetEndOfFile SetEvent SetFilePointer CreateFileA CreateFileW CreateProcessW DeleteFileA DeleteFileW ExitProcess
GetCommandLineA GetCommandLineW GetCurrentDirectoryW GetCurrentProcess GetCurrentProcessId
GetFileInformationByHandle GetLastError GetModuleFileNameW GetModuleHandleA GetProcAddress
GetSystemDefaultLangID GetSystemDirectoryA GetSystemDirectoryW GetTickCount GetVersion GetWindowsDirectoryA
LoadLibraryExW MoveFileExA MulDiv MoveFileW Sleep WaitForSingleObject WriteFile lstrcmpiW lstrcpynW lstrlenW""".split())
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
# The chooser's languages, as the string tables name them.
PLAYER_LANGIDS = (0x0404, 0x0407, 0x0409, 0x0C0A, 0x040C, 0x0410, 0x0411, 0x0412, 0x0413, 0x0416, 0x041D,
                  0x0408, 0x0804, 0x040D, 0x0401, 0x0406)
MAX_PE32_BYTES = 38 * 1024 + 512  # the player's texts in sixteen languages, the meter named and in high contrast
ASM_V1, ASM_V3 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
WINDOWS_SETTINGS = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
VERSION_FIELDS = ("CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion",
                  "LegalCopyright", "OriginalFilename")
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


def manifest_errors(raw):
    """What keeps the embedded manifest from deciding what it should on Windows."""
    errors = []
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as e:
        return ["the manifest does not parse: %s" % e]
    if root.tag != "{%s}assembly" % ASM_V1 or root.get("manifestVersion") != "1.0":
        errors.append("the manifest's root is not an asm.v1 assembly of version 1.0")
    levels = root.findall(".//{%s}requestedExecutionLevel" % ASM_V3)
    if [(e.get("level"), e.get("uiAccess")) for e in levels] != [("requireAdministrator", "false")]:
        errors.append("the manifest must request requireAdministrator without uiAccess, once")
    opening = re.search(rb"<trustInfo[^>]*>", raw)
    if opening is None or opening.group(0).count(b"xmlns") != 1:
        errors.append("trustInfo must carry exactly one namespace declaration (Windows XP SP2)")
    ids = {e.get("Id") for e in root.findall(".//{%s}supportedOS" % COMPATIBILITY)}
    if ids != SUPPORTED_OS:
        errors.append("supportedOS ids %s are not Vista, 7, 8, 8.1 and 10/11" % sorted(ids))
    aware = [e.text for e in root.findall(".//{%s}dpiAware" % WINDOWS_SETTINGS)]
    if aware != ["true"]:
        errors.append("the manifest must declare dpiAware true (system-aware), once: %s" % aware)
    if b"Common-Controls" in raw:
        errors.append("the dialogs are laid out for the classic controls: no common-controls 6")
    return errors


def version_strings(block):
    """The fixed file version and flags and the StringFileInfo values of a VS_VERSIONINFO resource."""
    def node(offset):
        length, value_length, kind = struct.unpack_from("<HHH", block, offset)
        end = block.index(b"\0\0", offset + 6)
        while (end - offset) % 2:
            end = block.index(b"\0\0", end + 1)
        key = block[offset + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        return length, value_length, kind, key, value_at

    length, value_length, _, key, value_at = node(0)
    if key != "VS_VERSION_INFO":
        raise ValueError("not a VS_VERSION_INFO block")
    fixed = struct.unpack_from("<13I", block, value_at)
    numbers = (fixed[2] >> 16, fixed[2] & 0xFFFF, fixed[3] >> 16, fixed[3] & 0xFFFF)
    flags = fixed[7] & fixed[6]  # the file flags that the mask declares valid
    strings = {}

    def walk(offset, end, depth):
        while offset + 6 <= end:
            length, value_length, kind, key, value_at = node(offset)
            if length == 0:
                break
            if depth == 2:
                strings[key] = block[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
            else:
                children = value_at + (value_length * (2 if kind == 1 else 1) + 3 & ~3)
                if key == "StringFileInfo" or depth == 1:
                    walk(children, offset + length, depth + 1)
            offset = (offset + length + 3) & ~3

    walk((value_at + value_length + 3) & ~3, length, 0)
    return numbers, flags, strings


def version_errors(block, company, resilient=False, product=None):
    try:
        numbers, flags, strings = version_strings(block)
    except (ValueError, struct.error) as e:
        return ["the version information does not parse: %s" % e]
    errors = ["version information lacks %s" % f for f in VERSION_FIELDS if not strings.get(f)]
    if strings.get("OriginalFilename", "loader.exe") != "loader.exe":
        errors.append("OriginalFilename is %r, not loader.exe" % strings["OriginalFilename"])
    if company and strings.get("CompanyName") != company:
        errors.append("CompanyName is %r, not %r" % (strings.get("CompanyName"), company))
    # What Task Manager and the file's properties show: the operator's product, not the built-in one.
    named = {"ProductName": product, "FileDescription": product and product + " Setup"}
    errors += ["%s is %r, not %r" % (key, strings.get(key), want) for key, want in named.items()
               if want and strings.get(key) != want]
    # A build with the resilient download says so, and only such a build.
    if (strings.get("SpecialBuild") == "resilient download") != resilient:
        errors.append("SpecialBuild must name the resilient download exactly when the build has it")
    # Readers of the version information believe SpecialBuild only with VS_FF_SPECIALBUILD.
    if bool(flags & 0x20) != ("SpecialBuild" in strings):
        errors.append("FILEFLAGS must carry VS_FF_SPECIALBUILD exactly when SpecialBuild is set")
    if strings.get("FileVersion") != "%d.%d.%d.%d" % numbers:
        errors.append("FileVersion %r differs from the fixed version %s" % (strings.get("FileVersion"), numbers))
    return errors


def imports(dump):
    """The imported functions of objdump -p's dump, by lower-case DLL name."""
    found, dll = {}, None
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = found.setdefault(m.group(1).lower(), [])
            continue
        m = re.match(r"\s*[0-9a-f]+\s+[0-9]+\s+([A-Za-z_]\w*)\s*$", line)
        if m and dll is not None:
            dll.append(m.group(1))
    return found


def main():
    exe, objdump = sys.argv[1], sys.argv[2]
    checks_publisher = len(sys.argv) > 3 and bool(sys.argv[3])
    company = sys.argv[4] if len(sys.argv) > 4 else None
    # A build with the resilient download, or with reports, may be 2 KB larger.
    options = sys.argv[5].split(",") if len(sys.argv) > 5 else []
    resilient = "resilient" in options
    product = sys.argv[6] if len(sys.argv) > 6 else None
    most = MAX_PE32_BYTES + 2048 * (bool(checks_publisher) + resilient + ("report" in options))
    data = open(exe, "rb").read()
    magic, subsystem, found = resources(data)
    errors = []
    if subsystem != 2:
        errors.append("subsystem %d is not the Windows GUI" % subsystem)
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    imported = imports(dump)
    dlls = sorted(imported)
    extra = [d for d in dlls if d not in KNOWN_DLLS]
    if extra:
        errors.append("imports DLLs that are not KnownDLLs: %s" % ", ".join(extra))
    kernel32 = imported.get("kernel32.dll", [])
    if not kernel32:
        errors.append("no kernel32 imports found in the dump")
    newer = sorted(set(kernel32) - OLD_KERNEL32)
    if newer:
        errors.append("imports kernel32 functions not known on Windows 2000 and XP before SP1: %s" % ", ".join(newer))
    # The held installer's digest is the program's own: CryptoAPI has no SHA-256 on Windows 2000
    # and XP before SP3, where a check through it would refuse every download.
    crypto = [f for f in imported.get("advapi32.dll", []) if f.startswith("Crypt")]
    if crypto:
        errors.append("imports CryptoAPI, which older Windows lacks for the digest: %s" % ", ".join(crypto))
    # The dialogs are made by the Unicode call, so that Windows' edit control keeps wide notice text.
    user32 = imported.get("user32.dll", [])
    if "DialogBoxParamW" not in user32 or "DialogBoxParamA" in user32:
        errors.append("the dialogs must be made by DialogBoxParamW alone")
    manifests = [v for k, v in found.items() if k[0] == RT_MANIFEST and k[1] == 1]
    errors += manifest_errors(manifests[0]) if len(manifests) == 1 else ["manifest resource 1 missing"]
    versions = [v for k, v in found.items() if k[0] == RT_VERSION]
    errors += version_errors(versions[0], company, resilient, product) if len(versions) == 1 else ["version information missing"]
    for name in ("LANGCHOOSER", "MANAGER"):
        entries = [v for k, v in found.items() if k[0] == RT_DIALOG and k[1] == name]
        if not entries:
            errors.append("dialog %s missing" % name)
        elif struct.unpack_from("<HH", entries[0], 0) != (1, 0xFFFF):
            errors.append("dialog %s is not an extended template" % name)
    strings = [k for k in found if k[0] == RT_STRING and k[1] == 1 and k[2] == 1033]
    if not strings:
        errors.append("string table block 1 (ids 0-15) in English (United States) missing")
    # The player's statuses and final messages (ids 2 to 7) in each language of the chooser.
    for lang in PLAYER_LANGIDS:
        block = found.get((RT_STRING, 1, lang), b"")
        texts, at = [], 0
        while at + 2 <= len(block) and len(texts) < 8:
            n = struct.unpack_from("<H", block, at)[0]
            texts.append(block[at + 2:at + 2 + 2 * n])
            at += 2 + 2 * n
        if len(texts) < 8 or not all(texts[2:8]):
            errors.append("string table of language 0x%04x lacks one of the texts 2 to 7" % lang)
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
