#!/usr/bin/env python3
"""The redirected copies differ from the shipped files only where they must.

usage: redirected_test.py ARCH SHIPPED COPY [SHIPPED COPY ...]

For each pair: the same size; every differing byte lies in the name of an
imported WinMM or SetupAPI DLL, or in the PE checksum field; the copy's
checksum is right; and its import list is the shipped one with those two
names replaced. The allowed places are read from the shipped file, not from
the tool that made the copy. And the tool refuses what it cannot copy
soundly (no image, a name of another length, a signed image, which would
carry a signature that no longer verifies) in one line naming the file,
leaving no copy.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "release"))
import pe_image  # noqa: E402 (the release tests' PE reader)

RENAMED = {"winmm.dll": "vpwmm.dll", "setupapi.dll": "vpsetapi.dll"}


def imports(data):
    pe = pe_image.parse(data, pe_image.IMPORT)
    return pe, pe_image.imports(pe)


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


TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                    "virtual_peripheral", "redirect_imports.py")


def signed(data):
    """The image with a certificate table, as signing leaves it."""
    pe = pe_image.parse(data)
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pe_image.SECURITY]
    entry.VirtualAddress, entry.Size = len(data), 16
    # WIN_CERTIFICATE: length, revision 2.0, type PKCS#7 signed data.
    return pe.write() + (16).to_bytes(4, "little") + b"\x00\x02\x02\x00" + bytes(8)


def few_directories(data):
    """The image with only its export and import directories, as old linkers wrote."""
    pe = pe_image.parse(data)
    pe.OPTIONAL_HEADER.NumberOfRvaAndSizes = 2
    return pe.write()


def refusals(shipped_path):
    shipped = open(shipped_path, "rb").read()
    with tempfile.TemporaryDirectory() as work:
        cases = [("empty", b"", "winmm.dll=vpwmm.dll", "not a PE image"),
                 ("text", b"MZ but not an image\n", "winmm.dll=vpwmm.dll", "not a PE image"),
                 ("missing", None, "winmm.dll=vpwmm.dll", "cannot be read"),
                 ("signed", signed(shipped), "winmm.dll=vpwmm.dll", "signed (Authenticode)"),
                 ("shorter", shipped, "winmm.dll=vpwm.dll", "is not as long as"),
                 ("not imported", shipped, "user32.dll=vpuser.dll", "does not import"),
                 ("not ASCII", shipped, "winmm.dll=vpwm\u00e9.dll", "is ASCII")]
        for name, data, rule, reason in cases:
            source, target = os.path.join(work, name + ".dll"), os.path.join(work, "out.dll")
            if data is not None:
                with open(source, "wb") as f:
                    f.write(data)
            result = subprocess.run([sys.executable, TOOL, source, target, rule],
                                    capture_output=True, text=True)
            lines = result.stderr.splitlines()
            if (result.returncode != 1 or len(lines) != 1 or
                    not lines[0].startswith(f"redirect_imports: {source}: ") or
                    reason not in lines[0] or os.path.exists(target)):
                sys.exit(f"redirect_imports on {name}: exit {result.returncode}\n{result.stderr}")
        # An image with fewer data directories than usual has no certificate
        # table, and is copied as any other.
        source, target = os.path.join(work, "few.dll"), os.path.join(work, "few-out.dll")
        with open(source, "wb") as f:
            f.write(few_directories(shipped))
        result = subprocess.run([sys.executable, TOOL, source, target, "winmm.dll=vpwmm.dll"],
                                capture_output=True, text=True)
        if result.returncode != 0 or not os.path.exists(target):
            sys.exit(f"redirect_imports on an image with two directories:\n{result.stderr}")
    print(f"figure: redirect_imports refuses {len(cases)} kinds of bad input (a signed image "
          "among them) in one line each, leaving no copy")


def main(argv):
    if len(argv) < 4 or len(argv) % 2 != 0:
        sys.exit(__doc__)
    for i in range(2, len(argv), 2):
        check(argv[1], argv[i], argv[i + 1])
    refusals(argv[2])


if __name__ == "__main__":
    main(sys.argv)
