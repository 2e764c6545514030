#!/usr/bin/env python3
"""Copies a PE image, renaming DLLs in its import directories.

Points a program or DLL at the virtual peripheral by the names of the DLLs
it imports: the shipped library and tool (WINMM.dll to vpwmm.dll,
SETUPAPI.dll to vpsetapi.dll), or a host's own program (WINMM.dll to
vpwmm.dll, whose other functions reach the system's winmm; SetupAPI is a
KnownDLL on Windows, so a host's own device list stays the system's). Each
new name has the length of the old one, so only those name bytes change (and
the PE checksum, when the image has one); the code is the shipped code.
Delay-loaded imports are renamed as the others are.

usage: redirect_imports.py IN OUT OLD=NEW[:PROVIDER] ...
  PROVIDER, when given, is the DLL that will answer to NEW: every function the
  image imports from OLD, by name or by ordinal, must be among its exports.
  A host's own program: redirect_imports.py host.exe out.exe winmm.dll=vpwmm.dll:vpwmm.dll
  A PROVIDER named without a folder is taken from the current folder, else
  from this tool's own (the kit's virtual_peripheral/).

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
DELAY_IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]
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


def exported(path):
    """{ordinal: name or None} of what a DLL exports."""
    try:
        with open(path, "rb") as f:
            pe = parse(f.read(), path)
    except OSError as e:
        fail(f"{path}: cannot be read ({e.strerror})")
    try:
        pe.parse_data_directories(directories=[EXPORT])
    except (pefile.PEFormatError, IndexError, ValueError, struct.error) as e:
        fail(f"{path}: a damaged export directory ({e})")
    table = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    return {s.ordinal: s.name.decode("ascii", "replace") if s.name else None
            for s in (table.symbols if table else [])}


def provides(provider, entry, old, source):
    """Refuses a provider that lacks a function the entry imports. A function
    the provider names, imported by its ordinal, is refused too: the ordinals
    of named functions are one build's numbering (Windows' winmm numbers its
    own otherwise), so only an export by ordinal alone keeps its meaning."""
    exports = exported(provider)
    names = {n for n in exports.values() if n}
    missing = sorted({i.name.decode("ascii", "replace") for i in entry.imports if i.name} - names)
    by_ordinal = sorted({i.ordinal for i in entry.imports if i.name is None})
    missing += [f"ordinal {o}" for o in by_ordinal if o not in exports]
    if missing:
        fail(f"{provider} lacks {', '.join(missing)}, imported from {old}")
    named = [f"{o} ({exports[o]})" for o in by_ordinal if exports[o]]
    if named:
        fail(f"{source}: imports {', '.join(named)} of {old} by ordinal, a number only one "
             f"build of {old} gives that function: import it by name")


def name_offset(pe, entry, delayed):
    """Where the entry's DLL name lies in the file."""
    rva = entry.struct.szName if delayed else entry.struct.Name
    # A delay-load descriptor of the first format holds addresses, not RVAs.
    if delayed and not entry.struct.grAttrs & 1:
        rva -= pe.OPTIONAL_HEADER.ImageBase
    return pe.get_offset_from_rva(rva)


def redirect(data, renames, providers, source):
    pe = parse(data, source)
    directories = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    # An image with fewer directories has no certificate table to carry.
    if len(directories) > SECURITY and (directories[SECURITY].VirtualAddress != 0 or
                                        directories[SECURITY].Size != 0):
        fail(f"{source}: signed (Authenticode): its signature would no longer verify; "
             "redirect the unsigned image, then sign the copy")
    try:
        pe.parse_data_directories(directories=[IMPORT, DELAY_IMPORT])
    except (pefile.PEFormatError, IndexError, ValueError, struct.error) as e:
        fail(f"{source}: a damaged import directory ({e})")
    out = bytearray(data)
    done, renamed = set(), set()
    entries = [(e, False) for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    entries += [(e, True) for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    for entry, delayed in entries:
        old = entry.dll.decode("ascii", "replace")
        new = renames.get(old.lower())
        if new is None:
            continue
        if len(new) != len(old):
            fail(f"{source}: {new} is not as long as {old}: only same-length names keep "
                 "the layout")
        at = name_offset(pe, entry, delayed)
        # Two descriptors may share one name string.
        if at not in renamed:
            if at is None or bytes(out[at:at + len(old) + 1]) != entry.dll + b"\0":
                fail(f"{source}: the name {old} is not where the import directory says")
            out[at:at + len(old)] = new.encode("ascii")
            renamed.add(at)
        done.add(old.lower())
        if providers.get(old.lower()):
            provides(providers[old.lower()], entry, old, source)
    if done != set(renames):
        fail(f"{source}: does not import " + ", ".join(sorted(set(renames) - done)))
    if pe.OPTIONAL_HEADER.CheckSum != 0:
        field = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        checksum = pefile.PE(data=bytes(out), fast_load=True).generate_checksum()
        out[field:field + 4] = checksum.to_bytes(4, "little")
    return bytes(out)


def beside_tool(provider):
    """A bare provider name missing here is the kit's, beside this tool."""
    if not provider or os.path.dirname(provider) or os.path.exists(provider):
        return provider
    kit = os.path.join(os.path.dirname(os.path.abspath(__file__)), provider)
    return kit if os.path.exists(kit) else provider


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
        providers[old.lower()] = beside_tool(provider)
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
