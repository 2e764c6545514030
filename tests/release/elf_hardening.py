"""The hardening of an ELF shared object the kit ships (the Wine driver's
Unix part), read with pyelftools: for the architecture's Wine loader, no
executable stack, full RELRO (read-only after relocation, every symbol bound
at load), and no text relocations."""
from elftools.elf.constants import P_FLAGS
from elftools.elf.elffile import ELFFile

MACHINES = {"x86_64": (64, "EM_X86_64", "x86-64"), "i686": (32, "EM_386", "i386")}
DF_TEXTREL, DF_BIND_NOW, DF_1_NOW = 0x4, 0x8, 0x1


def check(arch, path):
    """(problems, traits) of one file."""
    problems, traits = [], []
    with open(path, "rb") as f:
        elf = ELFFile(f)
        bits, machine, name = MACHINES[arch]
        if elf.elfclass != bits or elf["e_machine"] != machine or elf["e_type"] != "ET_DYN":
            problems.append(f"not a {bits}-bit {name} shared object")
        traits.append(f"{bits}-bit {name} shared object")
        segments = {s["p_type"]: s for s in elf.iter_segments()}
        stack = segments.get("PT_GNU_STACK")
        if stack is None or stack["p_flags"] & P_FLAGS.PF_X:
            problems.append("executable stack")
        traits.append("non-executable stack")
        tags = {}
        dynamic = elf.get_section_by_name(".dynamic")
        for tag in dynamic.iter_tags() if dynamic else []:
            tags.setdefault(tag.entry.d_tag, []).append(tag.entry.d_val)
        flags = sum(tags.get("DT_FLAGS", []))
        flags_1 = sum(tags.get("DT_FLAGS_1", []))
        bind_now = "DT_BIND_NOW" in tags or flags & DF_BIND_NOW or flags_1 & DF_1_NOW
        if "PT_GNU_RELRO" not in segments or not bind_now:
            problems.append("not full RELRO")
        traits.append("full RELRO")
        if "DT_TEXTREL" in tags or flags & DF_TEXTREL:
            problems.append("text relocations")
        traits.append("no text relocations")
        needed = tags.get("DT_NEEDED", [])
        traits.append(f"{len(needed)} libraries needed" if needed else "no library needed")
    return problems, traits
