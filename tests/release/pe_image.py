"""What the tests read from a PE image's headers, all through pefile: a
disassembler's text layout changes between binutils releases, the format
does not."""
import pefile

EXPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]
IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
RELOCATIONS = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]
FormatError = pefile.PEFormatError
KINDS = {"i686": (0x10B, 0x14C), "x86_64": (0x20B, 0x8664)}  # magic, machine


def parse(data, *directories):
    """The image in data (bytes), with only the given data directories read."""
    pe = pefile.PE(data=data, fast_load=True)
    if directories:
        pe.parse_data_directories(directories=list(directories))
    return pe


def is_kind(pe, arch):
    """Whether the image is one of arch ("i686": PE32 for i386, "x86_64":
    PE32+ for AMD64)."""
    return (pe.OPTIONAL_HEADER.Magic, pe.FILE_HEADER.Machine) == KINDS[arch]


def exports(pe):
    """(ordinal, name) of each export, name None for one by ordinal only; the
    named ones in the order of the name table. Needs EXPORT parsed."""
    table = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    return [(s.ordinal, s.name.decode("ascii") if s.name else None)
            for s in (table.symbols if table else [])]


def imports(pe):
    """The import directory's entries, in its order. Needs IMPORT parsed."""
    return getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
