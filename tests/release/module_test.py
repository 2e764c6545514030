#!/usr/bin/env python3
"""The shipped DLL's PE headers: image kind, the four exports at ordinals 1-4
in alphabetical order, undecorated and nothing else exported, and imports of
system DLLs only.

usage: module_test.py DLL ARCH [--label HOW] [--imports NAME|NAME...]

--label says how the DLL was built, for the figure; --imports names the DLLs
it must import, in upper case, in the import directory's order.
"""
import argparse
import os
import sys

import pe_image

EXPECTED_EXPORTS = [(1, "compare_usb_device_id_mathing"), (2, "compare_usb_device_id_mathing_multi"),
                    (3, "get_usb_device_matching_result"), (4, "hiddirect_main")]
SHIPPED_IMPORTS = "KERNEL32.DLL|MSVCRT.DLL|SETUPAPI.DLL|WINMM.DLL"


def check(dll, arch, label=None, expected_imports=SHIPPED_IMPORTS):
    """The figure line for dll; exits naming the first header that is wrong."""
    try:
        pe = pe_image.parse(open(dll, "rb").read(), pe_image.EXPORT, pe_image.IMPORT)
    except (OSError, pe_image.FormatError) as e:
        sys.exit(f"{dll}: not a readable PE image ({e})")
    if not pe_image.is_kind(pe, arch):
        sys.exit(f"{dll} is not a {arch} image")
    # Linkers lay the export table out differently (GNU ld starts it at
    # ordinal base 1, lld at 0 with an empty first slot): what counts is each
    # name's ordinal.
    exports = pe_image.exports(pe)
    if not exports:
        sys.exit(f"no export table in {dll}")
    if exports != EXPECTED_EXPORTS:
        sys.exit(f"exports of {dll} are {exports}, not {EXPECTED_EXPORTS}")
    imports = [entry.dll.decode("ascii") for entry in pe_image.imports(pe)]
    if [name.upper() for name in imports] != expected_imports.split("|"):
        sys.exit(f"unexpected imports of {dll}: {', '.join(imports)}")
    return (f"figure: tarnwick.dll ({label or arch}): {os.path.getsize(dll)} bytes, four exports "
            f"at ordinals 1-4, imports {', '.join(imports)}")


def main():
    parser = argparse.ArgumentParser(usage=__doc__.split("\n\n")[1])
    parser.add_argument("dll")
    parser.add_argument("arch", choices=sorted(pe_image.KINDS))
    parser.add_argument("--label")
    parser.add_argument("--imports", default=SHIPPED_IMPORTS)
    args = parser.parse_args()
    print(check(args.dll, args.arch, args.label, args.imports))


if __name__ == "__main__":
    main()
