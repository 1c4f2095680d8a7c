#!/usr/bin/env python3
"""Appends an EFI_SIGNATURE_LIST to db in an EDK2 variable-store file
(the VARS image of QEMU's AArch64 and x86 firmware), offline: no firmware
runs, so nothing checks a signature. scripts/enroll-db.sh --offline uses it.

    varstore-append-db.py STORE ESL [TIMESTAMP_FROM]

STORE is changed in place: the live db variable is marked deleted and a
new one (its data followed by ESL) is written after the last variable, as
the firmware itself does on an append. TIMESTAMP_FROM, when given, is an
authenticated update (.auth) whose EFI_TIME becomes the variable's time
stamp (a later time-based update must be newer); otherwise the old one is
kept. Only the authenticated variable-store format (the one Secure Boot
needs) is handled; anything else is refused with exit status 1.
"""
import struct
import sys
import uuid

FV_SIGNATURE = b"_FVH"
# gEfiAuthenticatedVariableGuid: a store whose variables carry time stamps.
AUTH_STORE_GUID = uuid.UUID("aaf32c78-947b-439a-a180-2e144ec37792").bytes_le
# EFI_IMAGE_SECURITY_DATABASE_GUID: db and dbx.
IMAGE_SECURITY_DATABASE_GUID = uuid.UUID("d719b2cb-3d3a-4596-a3bc-dad00e67656f").bytes_le
STORE_FORMATTED = 0x5A
STORE_HEALTHY = 0xFE
START_ID = 0x55AA
VAR_ADDED = 0x3F
VAR_DELETED = 0xFD  # cleared bit: the variable is gone
HEADER = struct.Struct("<HBBIQ16sIII16s")  # AUTHENTICATED_VARIABLE_HEADER, 60 bytes


def fail(why):
    print(f"varstore-append-db: {why}", file=sys.stderr)
    sys.exit(1)


def main():
    if len(sys.argv) not in (3, 4):
        print("usage: varstore-append-db.py STORE ESL [TIMESTAMP_FROM]", file=sys.stderr)
        sys.exit(2)
    path, esl_path = sys.argv[1], sys.argv[2]
    store = bytearray(open(path, "rb").read())
    esl = open(esl_path, "rb").read()
    if len(esl) < 28:
        fail(f"{esl_path} is too short to be a signature list")
    if store[40:44] != FV_SIGNATURE:
        fail(f"{path} does not start with a firmware volume")
    begin = struct.unpack_from("<H", store, 48)[0]
    guid, size, fmt, state = struct.unpack_from("<16sIBB", store, begin)
    if guid != AUTH_STORE_GUID or fmt != STORE_FORMATTED or state != STORE_HEALTHY:
        fail(f"{path} has no healthy authenticated variable store")
    end_of_store = begin + size
    at = begin + 28
    live_db = None
    while at + HEADER.size <= end_of_store:
        fields = HEADER.unpack_from(store, at)
        if fields[0] != START_ID:
            break
        name_size, data_size, vendor = fields[7], fields[8], fields[9]
        name = bytes(store[at + HEADER.size:at + HEADER.size + name_size])
        if fields[1] == VAR_ADDED and vendor == IMAGE_SECURITY_DATABASE_GUID and name == "db\0".encode("utf-16le"):
            live_db = (at, fields)
        at = (at + HEADER.size + name_size + data_size + 3) & ~3
    if live_db is None:
        fail(f"{path} has no db to append to")
    db_at, fields = live_db
    name_size, data_size = fields[7], fields[8]
    old = bytes(store[db_at + HEADER.size + name_size:db_at + HEADER.size + name_size + data_size])
    stamp = fields[5]
    if len(sys.argv) == 4:
        stamp = open(sys.argv[3], "rb").read()[:16]
    name = "db\0".encode("utf-16le")
    data = old + esl
    record = HEADER.pack(START_ID, VAR_ADDED, 0, fields[3], 0, stamp, 0, len(name), len(data),
                         IMAGE_SECURITY_DATABASE_GUID) + name + data
    if at + len(record) > end_of_store or any(b != 0xFF for b in store[at:at + len(record)]):
        fail(f"no room after the last variable of {path}")
    store[at:at + len(record)] = record
    store[db_at + 2] &= VAR_DELETED  # State follows the 16-bit StartId
    open(path, "wb").write(store)
    print(f"varstore-append-db: db {len(old)} -> {len(data)} bytes in {path}")


if __name__ == "__main__":
    main()
