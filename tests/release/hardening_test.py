#!/usr/bin/env python3
"""Every PE image and ELF object the kit ships keeps its hardening.

usage: hardening_test.py ARCH OBJDUMP KIT_DIR [BUILD_DIR]

With BUILD_DIR, that tree is installed into KIT_DIR first.

For each .dll, .drv and .exe under KIT_DIR: ASLR with relocations, NX, no section
both writable and executable; 64-bit images high-entropy ASLR above 4 GB;
EXEs large-address aware; 32-bit images marked NO_SEH, and no instruction of
theirs stores to %fs:0 (where a frame-based handler would be installed); the
stack protector where it is built in; a .drv marked as a Wine builtin, its PE
checksum right. For each .so (elf_hardening.py): no executable stack, full
RELRO, no text relocations. Prints a line per file.
"""
import os
import re
import shutil
import subprocess
import sys

import elf_hardening
import kit_images
import pe_image

DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT, NO_SEH = 0x40, 0x20, 0x100, 0x400
RELOCS_STRIPPED, LARGE_ADDRESS_AWARE = 0x1, 0x20
WRITE_AND_EXECUTE = 0x80000000 | 0x20000000
# The images that carry the stack protector; the others would import
# ADVAPI32 for its guard.
STACK_PROTECTED = {"virtual_peripheral/vperiph.dll"}
# The ELF objects the kit must ship.
UNIX_PARTS = {"virtual_peripheral/wine/winevp.so"}
STACK_SMASHING = b"*** stack smashing detected ***"
# Wine's loader takes a driver for a builtin by these bytes at 0x40; a PE
# checksum, where set, must still be right after they were written.
WINE_BUILTIN = b"Wine builtin DLL\0"
SEH_STORE = re.compile(r",\s*%fs:0x0\s*$", re.MULTILINE)


def check(arch, objdump, kit, name):
    path = os.path.join(kit, name)
    data = open(path, "rb").read()
    pe = pe_image.parse(data)
    dll = pe.OPTIONAL_HEADER.DllCharacteristics
    problems, traits = [], []

    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pe_image.RELOCATIONS].Size
    if not dll & DYNAMIC_BASE or pe.FILE_HEADER.Characteristics & RELOCS_STRIPPED or not relocations:
        problems.append("no ASLR with relocations")
    traits.append("ASLR with relocations")
    if not dll & NX_COMPAT:
        problems.append("not NX")
    traits.append("NX")
    both = [s.Name.rstrip(b"\0").decode() for s in pe.sections
            if s.Characteristics & WRITE_AND_EXECUTE == WRITE_AND_EXECUTE]
    if both:
        problems.append("writable and executable: " + ", ".join(both))
    traits.append("no W+X section")
    if arch == "x86_64":
        if not dll & HIGH_ENTROPY_VA:
            problems.append("no high-entropy ASLR")
        if pe.OPTIONAL_HEADER.ImageBase <= 0xFFFFFFFF:
            problems.append(f"image base {pe.OPTIONAL_HEADER.ImageBase:#x} below 4 GB")
        traits.append(f"high-entropy ASLR, base {pe.OPTIONAL_HEADER.ImageBase:#x}")
    if name.lower().endswith(".exe"):
        if not pe.FILE_HEADER.Characteristics & LARGE_ADDRESS_AWARE:
            problems.append("not large-address aware")
        traits.append("large-address aware")
    if arch == "i686":
        if not dll & NO_SEH:
            problems.append("not marked NO_SEH")
        code = subprocess.run([objdump, "-d", path], capture_output=True, text=True, check=True)
        stores = SEH_STORE.findall(code.stdout)
        if stores:
            problems.append(f"{len(stores)} stores to %fs:0: it installs SEH handlers")
        traits.append("NO_SEH (no %fs:0 store)")
    if name.lower().endswith(".drv"):
        if data[0x40:0x40 + len(WINE_BUILTIN)] != WINE_BUILTIN:
            problems.append("no Wine builtin mark")
        if pe.OPTIONAL_HEADER.CheckSum not in (0, pe.generate_checksum()):
            problems.append("a wrong PE checksum")
        traits.append("Wine builtin mark, PE checksum right")
    protected = STACK_SMASHING in data
    if name in STACK_PROTECTED and not protected:
        problems.append("the stack protector is gone")
    traits.append("stack protector" if protected else "no stack protector")
    return problems, traits


def main(argv):
    if len(argv) not in (4, 5):
        sys.exit(__doc__)
    arch, objdump, kit = argv[1:4]
    if len(argv) == 5:
        shutil.rmtree(kit, ignore_errors=True)
        subprocess.run(["cmake", "--install", argv[4], "--prefix", kit], check=True,
                       stdout=subprocess.DEVNULL)
    images = kit_images.images(kit)
    if len(images) < 9:
        sys.exit(f"only {len(images)} images under {kit}")
    failed = False
    for name in sorted(images):
        problems, traits = check(arch, objdump, kit, name)
        if problems:
            failed = True
            print(f"{name} ({arch}): " + "; ".join(problems), file=sys.stderr)
        else:
            print(f"figure: hardening {arch} {name}: " + ", ".join(traits))
    libraries = kit_images.unix_libraries(kit)
    for name in libraries:
        problems, traits = elf_hardening.check(arch, os.path.join(kit, name))
        if problems:
            failed = True
            print(f"{name} ({arch}): " + "; ".join(problems), file=sys.stderr)
        else:
            print(f"figure: hardening {arch} {name}: " + ", ".join(traits))
    for name in (STACK_PROTECTED | UNIX_PARTS) - set(images) - set(libraries):
        failed = True
        print(f"{name} is not in the kit", file=sys.stderr)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main(sys.argv)
