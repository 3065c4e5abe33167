#!/usr/bin/env python3
"""Damaged copies of a built updater, for the damaged-updater run under Wine.

Usage: damage_pe.py UPDATER.exe OUT_FOLDER [RANDOM_COUNT]

Writes OUT_FOLDER/<name>.exe, one file per kind of damage, to the places a
damaged download or a careless tool hits: the resource data entry of
"UPDATE" 102 (its size and address), the resource directory above it, the
section table (the resource section's sizes and file offset, the count), the
PE headers (image size, header offset, magic), cuts inside the headers and
inside the resource section, and RANDOM_COUNT (default 12) single bytes
flipped at random, but reproducibly, in the headers and the resource
directory. Prints one line per file: its name, what was damaged, and "pe"
when the file still has a PE header where its DOS header points (else
"not-pe": the system does not start it as a Windows program at all).
"""
import os
import random
import struct
import sys


def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


class Image:
    def __init__(self, data):
        self.data = data
        self.pe = u32(data, 0x3C)
        self.sections = u16(data, self.pe + 6)
        optional_size = u16(data, self.pe + 20)
        self.optional = self.pe + 24
        self.table = self.optional + optional_size
        directories = self.optional + (96 if u16(data, self.optional) == 0x10B else 112)
        self.rsrc_rva = u32(data, directories + 8 * 2)
        self.rsrc_section = None
        for i in range(self.sections):
            at = self.table + 40 * i
            va, vsize, raw_size, raw_at = u32(data, at + 12), u32(data, at + 8), u32(data, at + 16), u32(data, at + 20)
            if va <= self.rsrc_rva < va + max(vsize, raw_size):
                self.rsrc_section = at
                self.rsrc_file = raw_at + (self.rsrc_rva - va)
        if self.rsrc_section is None:
            raise SystemExit("no resource section")

    def places_code_or_data(self, at):
        """True for a byte that says where another section's code or data lies (its sizes,
        address and file offset): damage there makes the loader run or bind garbage, which no
        program can survive, so it is no test of the updater's own reading."""
        i, field = divmod(at - self.table, 40)
        return 0 <= i < self.sections and self.table + 40 * i != self.rsrc_section and 8 <= field < 24

    def places_manifest(self, at):
        """True for a byte of the manifest's resource (type 24): its root entry, the directories
        below it and its data entry. The loader reads it before the program starts, and a wrong
        place there makes the loader read garbage, which no program can survive either."""
        base = self.rsrc_file
        spans = []

        def below(directory):
            spans.append((directory, directory + 16 + 8 * len(self.entries(directory))))
            for _, _, target in self.entries(directory):
                if target & 0x80000000:
                    below(base + (target & 0x7FFFFFFF))
                else:
                    spans.append((base + target, base + target + 16))

        for entry, ident, target in self.entries(base):
            if ident == 24 and target & 0x80000000:
                spans.append((entry, entry + 8))
                below(base + (target & 0x7FFFFFFF))
        return any(start <= at < end for start, end in spans)

    def entries(self, directory):
        """(entry offset in the file, id or name offset, target) of one directory."""
        base = self.rsrc_file
        named, ids = u16(self.data, directory + 12), u16(self.data, directory + 14)
        return [(directory + 16 + 8 * i, u32(self.data, directory + 16 + 8 * i), u32(self.data, directory + 20 + 8 * i))
                for i in range(named + ids)]

    def name_of(self, value):
        at = self.rsrc_file + (value & 0x7FFFFFFF)
        n = u16(self.data, at)
        return self.data[at + 2:at + 2 + 2 * n].decode("utf-16-le")

    def update_entry(self):
        """File offsets of the root entry for "UPDATE", its 102 entry, and the data entry."""
        base = self.rsrc_file
        for root_entry, name, target in self.entries(base):
            if name & 0x80000000 and self.name_of(name) == "UPDATE":
                for id_entry, ident, sub in self.entries(base + (target & 0x7FFFFFFF)):
                    if ident == 102:
                        lang_dir = base + (sub & 0x7FFFFFFF)
                        _, _, data_entry = self.entries(lang_dir)[0]
                        return root_entry, id_entry, base + data_entry
        raise SystemExit("no UPDATE 102 resource")


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    source, out = argv[0], argv[1]
    random_count = int(argv[2]) if len(argv) > 2 else 12
    data = open(source, "rb").read()
    image = Image(data)
    root_entry, id_entry, data_entry = image.update_entry()
    size_at, rva_at = data_entry + 4, data_entry
    size = u32(data, size_at)
    section = image.rsrc_section
    os.makedirs(out, exist_ok=True)

    def put32(b, at, value):
        struct.pack_into("<I", b, at, value & 0xFFFFFFFF)

    variants = []

    def variant(name, what, change):
        b = bytearray(data)
        b = change(b) or b
        variants.append((name, what, bytes(b)))

    variant("size-plus-1", "UPDATE 102 states 1 byte more", lambda b: put32(b, size_at, size + 1))
    variant("size-plus-1m", "UPDATE 102 states 1 MB more", lambda b: put32(b, size_at, size + (1 << 20)))
    variant("size-plus-256m", "UPDATE 102 states 256 MB more", lambda b: put32(b, size_at, size + (256 << 20)))
    variant("size-max", "UPDATE 102 states 4 GB", lambda b: put32(b, size_at, 0xFFFFFFFF))
    variant("size-zero", "UPDATE 102 states 0 bytes", lambda b: put32(b, size_at, 0))
    variant("rva-far", "UPDATE 102's address 16 MB further", lambda b: put32(b, rva_at, u32(data, rva_at) + (16 << 20)))
    variant("rva-zero", "UPDATE 102's address 0 (the headers)", lambda b: put32(b, rva_at, 0))
    variant("rva-end", "UPDATE 102 starts at the end of the image",
            lambda b: put32(b, rva_at, u32(data, image.optional + 56) - 16))
    variant("root-count", "the root directory counts 0x7FFF entries",
            lambda b: struct.pack_into("<H", b, image.rsrc_file + 14, 0x7FFF))
    variant("root-target", "the UPDATE entry points outside the section",
            lambda b: put32(b, root_entry + 4, 0x80000000 | 0x7FFFFFF0))
    variant("id-target", "the 102 entry points at the root",
            lambda b: put32(b, id_entry + 4, 0x80000000))
    variant("rsrc-vsize", "the resource section's virtual size 0x100", lambda b: put32(b, section + 8, 0x100))
    variant("rsrc-rawsize", "the resource section's raw size 0", lambda b: put32(b, section + 16, 0))
    variant("rsrc-rawat", "the resource section's file offset past the end",
            lambda b: put32(b, section + 20, len(data) + 0x10000))
    variant("sections-less", "one section fewer", lambda b: struct.pack_into("<H", b, image.pe + 6, image.sections - 1))
    variant("image-size", "SizeOfImage cut to the headers", lambda b: put32(b, image.optional + 56, 0x1000))
    variant("lfanew", "the PE header's offset past the headers", lambda b: put32(b, 0x3C, 0x8000))
    variant("magic", "optional header magic 0x0000", lambda b: struct.pack_into("<H", b, image.optional, 0))
    variant("cut-headers", "the file cut inside the section table", lambda b: b[:image.table + 20])
    variant("cut-rsrc", "the file cut inside the archive",
            lambda b: b[:image.rsrc_file + (u32(data, rva_at) - image.rsrc_rva) + size // 2])

    rng = random.Random(20261209)
    directory_end = image.rsrc_file + 0x200
    for n in range(random_count):
        at = rng.randrange(0, image.table + 40 * image.sections) if n % 2 == 0 else \
            rng.randrange(image.rsrc_file, min(directory_end, len(data)))
        while image.places_code_or_data(at) or image.places_manifest(at):
            at = rng.randrange(0, image.table + 40 * image.sections)
        bit = 1 << rng.randrange(8)
        variant(f"flip-{n:02d}", f"byte {at:#x} bit {bit:#04x} flipped",
                lambda b, at=at, bit=bit: b.__setitem__(at, b[at] ^ bit))

    for name, what, content in variants:
        with open(os.path.join(out, name + ".exe"), "wb") as f:
            f.write(content)
        at = u32(content, 0x3C) if len(content) >= 0x40 else len(content)
        kind = "pe" if content[at:at + 4] == b"PE\0\0" else "not-pe"
        print(f"{name}\t{what}\t{kind}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
