"""Moves the PE headers of a linked program up against its DOS header, in place.

The linker always writes a 64-byte DOS program ("cannot be run in DOS mode") and starts the PE
headers at 0x80. With four section headers the headers then end 24 bytes past the first
512-byte file block, and the file pays a whole second block for them. Without the DOS program
(which no Windows runs) they fit in one: the program file is 512 bytes shorter, and nothing the
loader maps, imports or verifies changes. The headers are copied unchanged except for e_lfanew,
SizeOfHeaders, the sections' file offsets and the checksum.

Refuses (and leaves the file as it is) anything it does not expect: no MZ/PE signature, a
symbol table, a certificate or debug directory (each holds file offsets), or bytes other than
zeros between the headers' end and the first section."""
import struct
import sys

DOS_HEADER_SIZE = 0x40


def u16(b, at):
    return struct.unpack_from("<H", b, at)[0]


def u32(b, at):
    return struct.unpack_from("<I", b, at)[0]


def checksum(b, at):
    """The PE image checksum, with its own field counted as zero."""
    total = 0
    padded = bytes(b) + b"\0" * (len(b) % 2)
    for i in range(0, len(padded), 2):
        if i in (at, at + 2):
            continue
        total += u16(padded, i)
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(b)) & 0xFFFFFFFF


def compact(data):
    """The compacted file, or a reason why not."""
    if data[:2] != b"MZ":
        return None, "no MZ signature"
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        return None, "no PE signature"
    sections, symbols = u16(data, pe + 6), u32(data, pe + 12)
    optional_size = u16(data, pe + 20)
    optional = pe + 24
    magic = u16(data, optional)
    if magic not in (0x10B, 0x20B) or symbols != 0:
        return None, "an unexpected optional header or a symbol table"
    file_alignment, headers_size = u32(data, optional + 36), u32(data, optional + 60)
    directories = optional + (96 if magic == 0x10B else 112)
    directory_count = u32(data, directories - 4)
    for index in (4, 6):  # certificate table, debug directory
        if index < directory_count and u32(data, directories + 8 * index + 4) != 0:
            return None, "a directory that holds file offsets"
    table = optional + optional_size
    end = table + 40 * sections
    if pe < DOS_HEADER_SIZE or any(data[end:headers_size]):
        return None, "unexpected bytes after the headers"
    # Relocation and line-number pointers of object-file sections are file offsets too, which
    # the move would leave pointing at the wrong bytes.
    for k in range(sections):
        if u32(data, table + 40 * k + 24) or u32(data, table + 40 * k + 28):
            return None, "a section with relocation or line-number pointers"
    new_pe = DOS_HEADER_SIZE
    new_size = -(-(new_pe + end - pe) // file_alignment) * file_alignment
    saved = headers_size - new_size
    if saved <= 0:
        return None, "nothing to gain"
    out = bytearray(data[:DOS_HEADER_SIZE]) + data[pe:end]
    out += b"\0" * (new_size - len(out)) + data[headers_size:]
    struct.pack_into("<I", out, 0x3C, new_pe)
    shift = new_pe - pe
    struct.pack_into("<I", out, optional + shift + 60, new_size)
    for k in range(sections):
        raw = table + shift + 40 * k + 20
        if u32(out, raw) != 0:
            struct.pack_into("<I", out, raw, u32(out, raw) - saved)
    at = optional + shift + 64
    if u32(out, at) != 0:
        struct.pack_into("<I", out, at, checksum(out, at))
    return out, None


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        data = f.read()
    out, why = compact(data)
    if out is None:
        print("compact_pe_headers: %s left as it is: %s" % (path, why))
        return 0
    with open(path, "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
