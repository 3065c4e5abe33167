#!/usr/bin/env python3
"""What a shipped Windows executable must be, read from its PE headers:

  - stripped: no COFF symbol table, no debug directory, no debug sections;
  - large-address-aware (32-bit images) or high-entropy ASLR (64-bit
    images), ASLR (dynamic base, with a
    relocation table) and DEP (NX compatible) marked;
  - no section both writable and executable;
  - with --max-size, no larger than that many bytes;
  - with --absent NAME,NAME..., none of those names stored whole in the file
    (the operations the updater binds at run time by name).

Usage: check_shipped.py [--max-size BYTES] [--absent NAME,NAME...] EXE
Prints one line per check; exit 1 when any fails.
"""
import struct
import sys

IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA = 0x0020
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
DIRECTORY_BASERELOC = 5
DIRECTORY_DEBUG = 6


def main(argv):
    max_size = None
    absent = []
    exe = None
    i = 0
    while i < len(argv):
        if argv[i] == "--max-size":
            max_size = int(argv[i + 1])
            i += 2
        elif argv[i] == "--absent":
            absent = [name for name in argv[i + 1].split(",") if name]
            i += 2
        else:
            exe = argv[i]
            i += 1
    if not exe:
        print(__doc__, file=sys.stderr)
        return 2
    data = open(exe, "rb").read()
    failures = []

    def check(ok, text):
        print(("ok: " if ok else "FAIL: ") + text)
        if not ok:
            failures.append(text)

    if len(data) < 0x40 or data[:2] != b"MZ":
        print(f"FAIL: {exe} is not an MZ executable")
        return 1
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        print(f"FAIL: {exe} has no PE header")
        return 1
    (machine, sections, _, symbols_at, symbol_count, optional_size,
     characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    is32 = magic == 0x10B
    dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    directories_at = optional + (96 if is32 else 112)
    directory_count = struct.unpack_from("<I", data, directories_at - 4)[0]

    def directory(index):
        if index >= directory_count:
            return 0, 0
        return struct.unpack_from("<II", data, directories_at + 8 * index)

    if max_size is not None:
        check(len(data) <= max_size, f"size {len(data)} bytes ({len(data) / 1024:.1f} KiB), at most {max_size}")
    check(symbols_at == 0 and symbol_count == 0, "no COFF symbol table")
    check(directory(DIRECTORY_DEBUG)[1] == 0, "no debug directory")
    if is32:
        check(characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, "large-address-aware")
    else:
        check(dll_characteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, "high-entropy ASLR")
    check(dll_characteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "ASLR (dynamic base)")
    check(directory(DIRECTORY_BASERELOC)[1] != 0, "relocation table present (ASLR can move the image)")
    check(dll_characteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "DEP (NX compatible)")

    table = optional + optional_size
    debug_sections = []
    wx_sections = []
    for n in range(sections):
        raw_name = data[table + 40 * n:table + 40 * n + 8].rstrip(b"\0").decode("latin-1")
        flags = struct.unpack_from("<I", data, table + 40 * n + 36)[0]
        # Long names ("/4") are offsets into the symbol string table: only
        # debug sections get them in a MinGW image.
        if raw_name.startswith(".debug") or raw_name.startswith("/"):
            debug_sections.append(raw_name)
        if flags & IMAGE_SCN_MEM_WRITE and flags & IMAGE_SCN_MEM_EXECUTE:
            wx_sections.append(raw_name)
    check(not debug_sections, "no debug sections" + (f" (found {' '.join(debug_sections)})" if debug_sections else ""))
    check(not wx_sections, "no section both writable and executable" +
          (f" (found {' '.join(wx_sections)})" if wx_sections else ""))
    for name in absent:
        found = data.find(name.encode("ascii"))
        check(found < 0, f"the name {name} is not stored whole" + (f" (at offset {found:#x})" if found >= 0 else ""))

    if failures:
        print(f"{len(failures)} check(s) failed for {exe}")
        return 1
    print(f"all checks passed for {exe}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
