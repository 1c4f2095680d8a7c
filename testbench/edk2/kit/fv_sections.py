#!/usr/bin/env python3
"""Lists the files of a firmware volume and writes out their sections.

Reads the PI firmware volume layout (volume header, FFS files, leaf
sections; no compressed or GUIDed sections: the kit's volume has none) and
writes each file's DEPEX, PE32 and UI section payloads as
OUT_DIR/<file GUID>.<depex|pe32|ui>.

usage: fv_sections.py VOLUME.Fv OUT_DIR
Prints one line per file and section; exit 0, 1 when the volume does not
read as one, 2 on bad use.
"""
import os
import struct
import sys
import uuid

SECTION_NAMES = {0x10: "pe32", 0x13: "depex", 0x15: "ui"}
FV_SIGNATURE = b"_FVH"


def fail(message):
    print(f"fv_sections.py: {message}")
    sys.exit(1)


def sections(data, name):
    at = 0
    while at + 4 <= len(data):
        size = int.from_bytes(data[at:at + 3], "little")
        kind = data[at + 3]
        header = 4
        if size == 0xFFFFFF:  # a large section: the size follows the header
            size = struct.unpack_from("<I", data, at + 4)[0]
            header = 8
        if size < header or at + size > len(data):
            fail(f"file {name}: a section of size {size} at offset {at} does not fit")
        yield kind, data[at + header:at + size]
        at = (at + size + 3) & ~3


def main(argv):
    if len(argv) != 3:
        print("usage: fv_sections.py VOLUME.Fv OUT_DIR", file=sys.stderr)
        return 2
    volume = open(argv[1], "rb").read()
    if len(volume) < 0x40 or volume[0x28:0x2C] != FV_SIGNATURE:
        fail(f"{argv[1]} has no firmware volume signature")
    header_length = struct.unpack_from("<H", volume, 0x30)[0]
    ext_offset = struct.unpack_from("<H", volume, 0x34)[0]
    at = header_length
    if ext_offset != 0:
        ext_size = struct.unpack_from("<I", volume, ext_offset + 16)[0]
        at = ext_offset + ext_size
    at = (at + 7) & ~7
    os.makedirs(argv[2], exist_ok=True)
    files = 0
    while at + 24 <= len(volume):
        if volume[at:at + 24] == b"\xff" * 24:
            break
        name = str(uuid.UUID(bytes_le=volume[at:at + 16])).upper()
        kind = volume[at + 18]
        size = int.from_bytes(volume[at + 20:at + 23], "little")
        if size < 24 or at + size > len(volume):
            fail(f"file {name}: size {size} at offset {at} does not fit the volume")
        if kind != 0xF0:  # not the padding file
            files += 1
            print(f"file {name} type 0x{kind:02X}, {size} bytes")
            for section_kind, payload in sections(volume[at + 24:at + size], name):
                label = SECTION_NAMES.get(section_kind)
                print(f"  section 0x{section_kind:02X} {label or ''} {len(payload)} bytes")
                if label:
                    with open(os.path.join(argv[2], f"{name}.{label}"), "wb") as f:
                        f.write(payload)
        at = (at + size + 7) & ~7
    if files == 0:
        fail(f"{argv[1]} holds no file")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
