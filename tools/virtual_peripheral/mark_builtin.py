#!/usr/bin/env python3
"""Marks a PE image, in place, as a Wine builtin.

Wine's loader takes a DLL for one of its own builtins when the 17 bytes
"Wine builtin DLL" and a NUL stand at file offset 0x40, in the DOS stub
(which nothing runs); only then does Wine 10.0 register the Unix part beside
a copy found through WINEDLLPATH. Marking again gives the same bytes. Where
the image has a PE checksum it is made anew.

usage: mark_builtin.py IMAGE

A signed image is refused (its signature covers the stub: sign after
marking), and so is one whose PE header starts inside the mark. Every refusal
is one line naming the file and the reason, with exit status 1.
"""
import os
import struct
import sys

import pefile

MARK = b"Wine builtin DLL\0"
AT = 0x40
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


class Refused(Exception):
    """A reason to leave the image as it is, said in one line."""


def marked(data, path):
    try:
        pe = pefile.PE(data=data, fast_load=True)
    except (pefile.PEFormatError, IndexError, ValueError, struct.error) as e:
        raise Refused(f"{path}: not a PE image ({e})")
    if pe.DOS_HEADER.e_lfanew < AT + len(MARK):
        raise Refused(f"{path}: its PE header starts at {pe.DOS_HEADER.e_lfanew:#x}, inside "
                      "the place of the mark")
    directories = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    if len(directories) > SECURITY and directories[SECURITY].Size != 0:
        raise Refused(f"{path}: signed (Authenticode): mark the unsigned image, then sign it")
    out = bytearray(data)
    out[AT:AT + len(MARK)] = MARK
    if pe.OPTIONAL_HEADER.CheckSum != 0:
        field = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        checksum = pefile.PE(data=bytes(out), fast_load=True).generate_checksum()
        out[field:field + 4] = checksum.to_bytes(4, "little")
    return bytes(out)


def mark(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise Refused(f"{path}: cannot be read ({e.strerror})")
    result = marked(data, path)
    if result == data:
        return
    temporary = path + ".part"
    try:
        with open(temporary, "wb") as f:
            f.write(result)
        os.replace(temporary, path)
    except OSError as e:
        if os.path.isfile(temporary):
            os.remove(temporary)
        raise Refused(f"{path}: cannot be written ({e.strerror})")


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        mark(argv[1])
    except Refused as e:
        print(f"mark_builtin: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
