#!/usr/bin/env python3
"""The redirected copies differ from the shipped files only where they must.

usage: redirected_test.py ARCH SHIPPED COPY [SHIPPED COPY ...]

For each pair: the same size; every differing byte lies in the name of an
imported WinMM or SetupAPI DLL, or in the PE checksum field; the copy's
checksum is right; and its import list is the shipped one with those two
names replaced. The allowed places are read from the shipped file, not from
the tool that made the copy.
"""
import sys

import pefile

RENAMED = {"winmm.dll": "vpwmm.dll", "setupapi.dll": "vpsetapi.dll"}
IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]


def imports(data):
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[IMPORT])
    return pe, getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])


def check(arch, shipped_path, copy_path):
    name = shipped_path.replace("\\", "/").rsplit("/", 1)[-1]
    shipped = open(shipped_path, "rb").read()
    copy = open(copy_path, "rb").read()
    if len(shipped) != len(copy):
        sys.exit(f"{copy_path}: {len(copy)} bytes, the shipped file {len(shipped)}")

    pe, entries = imports(shipped)
    name_bytes, renames = set(), []
    for entry in entries:
        old = entry.dll.decode("ascii")
        if old.lower() in RENAMED:
            at = pe.get_offset_from_rva(entry.struct.Name)
            name_bytes.update(range(at, at + len(old)))
            renames.append(f"{old} -> {RENAMED[old.lower()]}")
    if len(renames) != len(RENAMED):
        sys.exit(f"{shipped_path} does not import both WinMM and SetupAPI: {renames}")
    field = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    checksum_bytes = set(range(field, field + 4))

    differing = [i for i in range(len(copy)) if shipped[i] != copy[i]]
    stray = [i for i in differing if i not in name_bytes | checksum_bytes]
    if stray:
        sys.exit(f"{copy_path} differs from the shipped file at offset {stray[0]:#x}, "
                 "outside the import names and the checksum")

    copy_pe, copy_entries = imports(copy)
    expected = [RENAMED.get(e.dll.decode().lower(), e.dll.decode().lower()) for e in entries]
    found = [e.dll.decode().lower() for e in copy_entries]
    if found != expected:
        sys.exit(f"{copy_path} imports {found}, not {expected}")
    for old, new in zip(entries, copy_entries):
        if [i.name for i in old.imports] != [i.name for i in new.imports]:
            sys.exit(f"{copy_path}: the functions imported from {new.dll.decode()} changed")
    if copy_pe.OPTIONAL_HEADER.CheckSum != 0 and not copy_pe.verify_checksum():
        sys.exit(f"{copy_path}: wrong PE checksum")
    if (pe.OPTIONAL_HEADER.CheckSum == 0) != (copy_pe.OPTIONAL_HEADER.CheckSum == 0):
        sys.exit(f"{copy_path}: a checksum where the shipped file has none, or the reverse")

    in_names = sum(1 for i in differing if i in name_bytes)
    print(f"figure: redirected {name} ({arch}): {len(copy)} bytes, {in_names} differ in the "
          f"import names ({', '.join(renames)}), {len(differing) - in_names} in the PE "
          "checksum, none elsewhere")


def main(argv):
    if len(argv) < 4 or len(argv) % 2 != 0:
        sys.exit(__doc__)
    for i in range(2, len(argv), 2):
        check(argv[1], argv[i], argv[i + 1])


if __name__ == "__main__":
    main(sys.argv)
