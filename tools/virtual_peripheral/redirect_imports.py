#!/usr/bin/env python3
"""Copies a PE image, renaming DLLs in its import directory.

A host's own WinMM and SetupAPI must stay the system's, and on Windows
SetupAPI is a KnownDLL that no copy beside the program replaces: so only the
library (and the command-line tool) is pointed at the virtual peripheral, by
the DLL names it imports. Each new name has the length of the old one, so
only those name bytes change (and the PE checksum, when the image has one);
the code is the shipped code.

usage: redirect_imports.py IN OUT OLD=NEW[:PROVIDER] ...
  PROVIDER, when given, is the DLL that will answer to NEW: every function the
  image imports from OLD must be among its exports.

A signed image is refused: its signature covers the import names, and a copy
with other names would carry a signature that no longer verifies. Redirect
the unsigned build, then sign the copy. Every refusal is one line naming the
file and the reason, with exit status 1.
"""
import os
import struct
import sys

import pefile

IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]
EXPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


class Refused(Exception):
    """A reason to make no copy, said in one line."""


def fail(message):
    raise Refused(message)


def parse(data, path):
    try:
        return pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError as e:
        fail(f"{path}: not a PE image ({e.value})")
    except (IndexError, ValueError, struct.error) as e:
        fail(f"{path}: a damaged PE image ({e})")


def exported_names(path):
    try:
        with open(path, "rb") as f:
            pe = parse(f.read(), path)
    except OSError as e:
        fail(f"{path}: cannot be read ({e.strerror})")
    pe.parse_data_directories(directories=[EXPORT])
    symbols = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    return {s.name.decode("ascii") for s in symbols.symbols if s.name} if symbols else set()


def redirect(data, renames, providers, source):
    pe = parse(data, source)
    directories = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    # An image with fewer directories has no certificate table to carry.
    if len(directories) > SECURITY and (directories[SECURITY].VirtualAddress != 0 or
                                        directories[SECURITY].Size != 0):
        fail(f"{source}: signed (Authenticode): its signature would no longer verify; "
             "redirect the unsigned image, then sign the copy")
    try:
        pe.parse_data_directories(directories=[IMPORT])
    except (pefile.PEFormatError, IndexError, ValueError, struct.error) as e:
        fail(f"{source}: a damaged import directory ({e})")
    out = bytearray(data)
    done = set()
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        old = entry.dll.decode("ascii")
        new = renames.get(old.lower())
        if new is None:
            continue
        if len(new) != len(old):
            fail(f"{source}: {new} is not as long as {old}: only same-length names keep "
                 "the layout")
        at = pe.get_offset_from_rva(entry.struct.Name)
        if bytes(out[at:at + len(old) + 1]) != entry.dll + b"\0":
            fail(f"{source}: the name {old} is not where the import directory says")
        out[at:at + len(old)] = new.encode("ascii")
        done.add(old.lower())
        provider = providers.get(old.lower())
        if provider:
            wanted = {i.name.decode("ascii") for i in entry.imports if i.name}
            missing = sorted(wanted - exported_names(provider))
            if missing:
                fail(f"{provider} lacks {', '.join(missing)}, imported from {old}")
    if done != set(renames):
        fail(f"{source}: does not import " + ", ".join(sorted(set(renames) - done)))
    if pe.OPTIONAL_HEADER.CheckSum != 0:
        field = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        checksum = pefile.PE(data=bytes(out), fast_load=True).generate_checksum()
        out[field:field + 4] = checksum.to_bytes(4, "little")
    return bytes(out)


def copy(source, target, rules):
    renames, providers = {}, {}
    for rule in rules:
        old, _, rest = rule.partition("=")
        new, _, provider = rest.partition(":")
        if not old or not new:
            fail(f"{source}: not OLD=NEW[:PROVIDER]: {rule}")
        if not new.isascii():
            fail(f"{source}: {new}: a DLL name in an import directory is ASCII")
        renames[old.lower()] = new
        providers[old.lower()] = provider
    try:
        with open(source, "rb") as f:
            data = f.read()
    except OSError as e:
        fail(f"{source}: cannot be read ({e.strerror})")
    result = redirect(data, renames, providers, source)
    temporary = target + ".part"
    try:
        with open(temporary, "wb") as f:
            f.write(result)
        os.replace(temporary, target)
    except OSError as e:
        if os.path.isfile(temporary):
            os.remove(temporary)
        fail(f"{target}: cannot be written ({e.strerror})")


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        copy(argv[1], argv[2], argv[3:])
    except Refused as e:
        print(f"redirect_imports: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
