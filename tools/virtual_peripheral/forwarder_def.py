#!/usr/bin/env python3
"""The export list of vpwmm.dll, the redirected program's whole winmm.

usage: forwarder_def.py list WINMM.DLL
         prints the exports of a winmm.dll as winmm_exports.txt holds them
       forwarder_def.py def EXPORTS.TXT VPERIPH.DEF OUT.DEF
         writes vpwmm.dll's .def: each export of EXPORTS.TXT at its ordinal,
         forwarded to vperiph.dll when vperiph.def names it, else to winmm

A forwarder `winmm.NAME` is resolved by the loader as an import of
winmm.dll would be: the module of that name already in the process, else
the usual search. So the redirected program's other calls reach the very
winmm that the rest of its process (its other DLLs, the system's own) uses,
which is what "nothing else of the host changes" asks. Exports by ordinal
only are forwarded by ordinal (`winmm.#N`). Every refusal is one line on
standard error with exit status 1.
"""
import os
import re
import sys

# The MIDI functions the system's winmm may answer through this door: they
# take an error code, never a port's id or handle, so the system's answer is
# the right one. Any other MIDI function vperiph.dll does not export would
# hand the peripheral's ids and handles to the system's ports.
MIDI_FOR_THE_SYSTEM = {"midiInGetErrorTextA", "midiInGetErrorTextW",
                       "midiOutGetErrorTextA", "midiOutGetErrorTextW"}


class Refused(Exception):
    """A reason to write nothing, said in one line."""


def read_exports_of_dll(path):
    """(ordinal, name or None) of each export of a PE image, by ordinal, as
    redirect_imports.py reads them (imported here only: the build's own use
    of this script reads no PE image)."""
    import redirect_imports
    try:
        table = redirect_imports.exported(path)
    except redirect_imports.Refused as e:
        raise Refused(str(e)) from e
    if not table:
        raise Refused(f"{path}: exports nothing")
    return sorted(table.items())


def read_list(path):
    """The lines of winmm_exports.txt: "ORDINAL NAME", or "ORDINAL" alone for
    an export by ordinal only; # starts a comment."""
    exports, ordinals, names = [], set(), set()
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            if (len(words) > 2 or not words[0].isdigit() or
                    (len(words) == 2 and not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", words[1]))):
                raise Refused(f"{path}:{number}: not ORDINAL [NAME]: {line.strip()}")
            ordinal, name = int(words[0]), words[1] if len(words) == 2 else None
            if not 1 <= ordinal <= 65535 or ordinal in ordinals or name in names:
                raise Refused(f"{path}:{number}: ordinal {ordinal} or its name given twice, "
                              "or out of range")
            ordinals.add(ordinal)
            if name:
                names.add(name)
            exports.append((ordinal, name))
    return exports


def read_def_names(path):
    """The names a .def's EXPORTS section lists (the first word of each line)."""
    names, exporting = set(), False
    with open(path, encoding="ascii") as f:
        for line in f:
            words = line.split(";", 1)[0].split()
            if not words:
                continue
            if words[0] in ("LIBRARY", "NAME"):
                continue
            if words[0] == "EXPORTS":
                exporting = True
                continue
            if exporting:
                names.add(words[0].split("=", 1)[0])
    return names


def forwarder_def(exports, peripheral):
    lines = ["; vpwmm.dll: every export of the system's winmm (winmm_exports.txt) at its",
             "; ordinal; what vperiph.dll exports goes there, the rest to winmm.",
             "; Made by forwarder_def.py at build time.",
             "LIBRARY vpwmm.dll", "EXPORTS"]
    leaking = []
    for ordinal, name in exports:
        if name is None:
            lines.append(f'    ordinal{ordinal} = "winmm.#{ordinal}" @{ordinal} NONAME')
        elif name in peripheral:
            lines.append(f"    {name} = vperiph.{name} @{ordinal}")
        else:
            if name.startswith("midi") and name not in MIDI_FOR_THE_SYSTEM:
                leaking.append(name)
            lines.append(f"    {name} = winmm.{name} @{ordinal}")
    if leaking:
        raise Refused("vperiph.def lacks " + ", ".join(leaking) + ": through the redirected "
                      "door they would reach the system's ports with the peripheral's ids "
                      "and handles (export them from vperiph.dll, refused if need be)")
    return "\n".join(lines) + "\n"


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "list":
            for ordinal, name in read_exports_of_dll(argv[2]):
                print(f"{ordinal} {name}" if name else f"{ordinal}")
            return 0
        if len(argv) == 5 and argv[1] == "def":
            text = forwarder_def(read_list(argv[2]), read_def_names(argv[3]))
            temporary = argv[4] + ".part"
            with open(temporary, "w", encoding="ascii", newline="\n") as f:
                f.write(text)
            os.replace(temporary, argv[4])
            return 0
    except (Refused, OSError, UnicodeDecodeError) as e:
        print(f"forwarder_def: {e}", file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
