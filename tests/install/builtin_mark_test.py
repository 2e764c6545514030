#!/usr/bin/env python3
"""mark_builtin.py marks an image as a Wine builtin and changes nothing else.

usage: builtin_mark_test.py IMAGE

IMAGE is an unmarked image of the build. Its marked copy differs only in the
17 bytes at 0x40 and in the PE checksum, which is right; marking again
changes nothing. What cannot be marked soundly (no image, a signed one, one
whose PE header starts where the mark goes) is refused in one line naming
the file, and left as it was.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import pefile

TOOL = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "virtual_peripheral",
                    "mark_builtin.py")
MARK = b"Wine builtin DLL\0"
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


def mark(path):
    return subprocess.run([sys.executable, TOOL, path], capture_output=True, text=True)


def signed(data):
    pe = pefile.PE(data=data, fast_load=True)
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
    entry.VirtualAddress, entry.Size = len(data), 16
    return pe.write() + (16).to_bytes(4, "little") + b"\x00\x02\x02\x00" + bytes(8)


def header_at_mark(data):
    """The same image with its PE headers moved up to 0x40, over the stub."""
    pe = pefile.PE(data=data, fast_load=True)
    start = pe.DOS_HEADER.e_lfanew
    end = pe.sections[-1].get_file_offset() + 40
    out = bytearray(data)
    out[0x40:0x40 + end - start] = data[start:end]
    out[0x3C:0x40] = (0x40).to_bytes(4, "little")
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    original = open(argv[1], "rb").read()
    if original[0x40:0x40 + len(MARK)] == MARK:
        sys.exit(f"{argv[1]} is marked already")
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, "image.dll")
        shutil.copy(argv[1], copy)
        result = mark(copy)
        marked = open(copy, "rb").read()
        pe = pefile.PE(data=marked, fast_load=True)
        field = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        allowed = set(range(0x40, 0x40 + len(MARK))) | set(range(field, field + 4))
        changed = {i for i in range(len(original)) if original[i] != marked[i]}
        if (result.returncode != 0 or len(marked) != len(original) or changed - allowed or
                marked[0x40:0x40 + len(MARK)] != MARK or
                pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum()):
            sys.exit(f"marking {argv[1]}: exit {result.returncode}, bytes changed outside the "
                     f"mark and checksum: {sorted(changed - allowed)[:8]}\n{result.stderr}")
        if mark(copy).returncode != 0 or open(copy, "rb").read() != marked:
            sys.exit("marking a marked image again changed it")

        cases = [("empty", b"", "not a PE image"), ("missing", None, "cannot be read"),
                 ("signed", signed(original), "signed (Authenticode)"),
                 ("header at the mark", header_at_mark(original), "inside the place of the mark")]
        for name, data, reason in cases:
            path = os.path.join(work, name + ".dll")
            if data is not None:
                with open(path, "wb") as f:
                    f.write(data)
            result = mark(path)
            lines = result.stderr.splitlines()
            left = open(path, "rb").read() if data is not None else None
            if (result.returncode != 1 or len(lines) != 1 or reason not in lines[0] or
                    not lines[0].startswith(f"mark_builtin: {path}: ") or left != data):
                sys.exit(f"mark_builtin on {name}: exit {result.returncode}\n{result.stderr}")
    print(f"figure: mark_builtin changes only the mark and the PE checksum, and refuses "
          f"{len(cases)} kinds of bad input in one line each, leaving the file as it was")


if __name__ == "__main__":
    main(sys.argv)
