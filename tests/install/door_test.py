#!/usr/bin/env python3
"""A host's own program through the redirected door (vpwmm.dll as its winmm).

usage: door_test.py exports ARCH SYSTEM_WINMM VPWMM VPERIPH SOURCE_DIR
       door_test.py host ARCH BUILD_DIR HOST_EXE WORK_DIR WINE...

exports: the system's winmm.dll (the Wine prefix's own) exports exactly what
winmm_exports.txt lists, and vpwmm.dll exports exactly that, at the same
ordinals: each function vperiph.dll exports forwarded there, every other to
winmm (by ordinal where it has no name). The guide's table of MIDI functions
says of each where it goes, as vpwmm.dll does. All read from the images.

host: the installed kit's redirect_imports.py, run as the guide says, makes
a copy of a host that imports WinMM functions of several kinds (one by
ordinal only); beside the kit's virtual_peripheral/ files and with no DLL
override, its MIDI output calls reach the peripheral (the report shows the
bytes) and every other call the system's winmm. The tool refuses a provider
that lacks a function the host imports, by name or by ordinal.
"""
import os
import re
import shlex
import shutil
import struct
import tempfile
import subprocess
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "release"))
import pe_image  # noqa: E402 (the release tests' PE reader)

DELAY_IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]


def forwarders(path):
    """{(ordinal, name): forwarder string or None} of a DLL's exports."""
    pe = pe_image.parse(open(path, "rb").read(), pe_image.EXPORT)
    table = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    return {(s.ordinal, s.name.decode() if s.name else None):
            s.forwarder.decode() if s.forwarder else None for s in (table.symbols if table else [])}


def listed(source):
    result = set()
    with open(os.path.join(source, "tools", "virtual_peripheral", "winmm_exports.txt")) as f:
        for line in f:
            words = line.split("#", 1)[0].split()
            if words:
                result.add((int(words[0]), words[1] if len(words) > 1 else None))
    return result


def guide_table(source):
    """{MIDI function: whether the guide says it reaches the peripheral}."""
    said = {}
    with open(os.path.join(source, "tools", "virtual_peripheral", "README.md")) as f:
        for line in f:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) < 2 or not line.startswith("| `midi"):
                continue
            for name in re.findall(r"`(midi[A-Za-z]+)`", cells[0]):
                if name in said:
                    sys.exit(f"the guide's table names {name} twice")
                said[name] = not cells[1].startswith("the system's winmm")
    return said


GENERATOR_CASES = [
    # list, vperiph.def's exports, what the refusal says (None: accepted)
    ("5 CloseDriver\n87 midiOutOpen\n", "midiOutOpen", None),
    ("5 CloseDriver\n87 midiOutOpen\n93 midiStreamClose\n", "midiOutOpen",
     "lacks midiStreamClose: through the redirected door"),
    ("64 midiInGetErrorTextA\n", "", None),
    ("5 CloseDriver\n5 DefDriverProc\n", "", "given twice"),
    ("5 CloseDriver extra\n", "", "not ORDINAL [NAME]"),
    ("0 CloseDriver\n", "", "out of range"),
]


def generator(source):
    """forwarder_def.py refuses a MIDI function that would reach the system's
    ports, and a list it cannot read soundly, writing nothing."""
    script = os.path.join(source, "tools", "virtual_peripheral", "forwarder_def.py")
    with tempfile.TemporaryDirectory() as work:
        names, peripheral = os.path.join(work, "list.txt"), os.path.join(work, "vperiph.def")
        out = os.path.join(work, "out.def")
        for text, exported, reason in GENERATOR_CASES:
            with open(names, "w") as f:
                f.write("# a comment\n" + text)
            with open(peripheral, "w") as f:
                f.write("LIBRARY vperiph.dll\nEXPORTS\n    " + exported + "\n")
            result = subprocess.run([sys.executable, script, "def", names, peripheral, out],
                                    capture_output=True, text=True)
            made = os.path.exists(out)
            if reason is None and (result.returncode != 0 or not made):
                sys.exit(f"forwarder_def refused {text!r}: {result.stderr}")
            if reason is not None and (result.returncode != 1 or reason not in result.stderr or
                                       made):
                sys.exit(f"forwarder_def on {text!r}: exit {result.returncode}, wanted "
                         f"'{reason}':\n{result.stderr}")
            if made:
                os.remove(out)
    return sum(1 for case in GENERATOR_CASES if case[2]), len(GENERATOR_CASES)


def exports(arch, system_path, vpwmm_path, vperiph_path, source):
    system = set(forwarders(system_path))
    named = {n for _, n in system if n}

    def differ(a, b):
        return ", ".join(f"{o} {n or '(by ordinal)'}" for o, n in sorted(a - b, key=str)) or "none"
    if system != listed(source):
        sys.exit(f"{system_path} (the Wine in use) and winmm_exports.txt differ: only in the "
                 f"system's: {differ(system, listed(source))}; only in the list: "
                 f"{differ(listed(source), system)}")
    vpwmm = forwarders(vpwmm_path)
    if set(vpwmm) != system:
        sys.exit(f"vpwmm.dll's exports differ from {system_path}: missing "
                 f"{differ(system, set(vpwmm))}; extra {differ(set(vpwmm), system)}")
    peripheral = {n for _, n in forwarders(vperiph_path) if n}
    to_peripheral = 0
    for (ordinal, name), target in sorted(vpwmm.items(), key=str):
        wanted = (f"vperiph.{name}" if name in peripheral else
                  f"winmm.{name}" if name else f"winmm.#{ordinal}")
        if target != wanted:
            sys.exit(f"vpwmm.dll's export {name or ordinal} goes to {target}, not {wanted}")
        to_peripheral += name in peripheral
    said = guide_table(source)
    midi = {n for n in named if n.startswith("midi")}
    if set(said) != midi:
        sys.exit(f"the guide's table of MIDI functions lacks {sorted(midi - set(said))} and "
                 f"names {sorted(set(said) - midi)}, which winmm does not export")
    wrong = sorted(n for n in midi if said[n] != (n in peripheral))
    if wrong:
        sys.exit(f"the guide says the wrong door for {wrong}")
    refused, cases = generator(source)
    ordinals = sorted(o for o, _ in system)
    print(f"figure: redirected door ({arch}): vpwmm.dll exports the {len(system)} exports of "
          f"the prefix's winmm.dll (ordinals {ordinals[0]}-{ordinals[-1]}, "
          f"{len(system) - len(named)} by ordinal only): {to_peripheral} to vperiph.dll, "
          f"{len(system) - to_peripheral} to the system's winmm; "
          f"{sum(said.values())} of {len(midi)} MIDI functions answered by the peripheral; "
          f"forwarder_def.py refuses {refused} of {cases} lists")


def guide_step(readme):
    """The guide's two lines: the tool's, then the run's (each as words)."""
    text = open(readme, encoding="utf-8").read()
    block = re.search(r"<!-- door step:[^\n]*-->\n```\n([^`]*)```", text)
    lines = [shlex.split(line, comments=True) for line in block.group(1).splitlines()] \
        if block else []
    if len(lines) != 2 or lines[0][:2] != ["python3", "redirect_imports.py"] or \
            lines[0][2:] != ["editor.exe", "editor-vp.exe", "winmm.dll=vpwmm.dll:vpwmm.dll"] or \
            lines[1] != ["wine", "editor-vp.exe"]:
        sys.exit(f"{readme}: the door step is not the two lines this test runs: {lines}")
    return lines


def mark_delay_table(path):
    """Points the image's delay-load directory at its descriptor for winmm.dll,
    as MSVC's linker and lld do and GNU ld does not: a descriptor of the
    RVA format (attributes 1) whose name is winmm.dll. The helper writes the
    bound address into the descriptor's address table, which dlltool puts in
    .idata: binutils 2.44 makes that section read-only (2.40 did not), so
    its section is made writable, as those linkers' data is."""
    pe = pefile.PE(path)
    data = pe.__data__
    for section in pe.sections:
        start = section.PointerToRawData
        for at in range(start, start + section.SizeOfRawData - 32, 4):
            attributes, name = struct.unpack_from("<II", data, at)
            if attributes == 1 and pe.get_section_by_rva(name) is not None and \
                    pe.get_string_at_rva(name, 16).lower() == b"winmm.dll":
                entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[DELAY_IMPORT]
                entry.VirtualAddress, entry.Size = pe.get_rva_from_offset(at), 32
                table = pe.get_section_by_rva(struct.unpack_from("<I", data, at + 12)[0])
                table.Characteristics |= pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_WRITE"]
                pe.write(path)
                return
    sys.exit(f"{path}: no delay-load descriptor for winmm.dll")


def named_by_ordinal(path, target):
    """A copy that imports ordinal 19 (PlaySoundA, named) where it imported 2."""
    pe = pefile.PE(path)
    data = bytearray(pe.__data__)
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        for function in entry.imports:
            if function.import_by_ordinal and function.ordinal == 2:
                data[function.ordinal_offset:function.ordinal_offset + 2] = (19).to_bytes(2, "little")
    with open(target, "wb") as f:
        f.write(data)


def without_ordinal_2(vpwmm, target):
    """A copy of vpwmm.dll whose ordinals start at 100: every name, no ordinal 2."""
    pe = pefile.PE(vpwmm)
    pe.DIRECTORY_ENTRY_EXPORT.struct.Base = 100
    pe.write(target)


def host(arch, build, host_exe, work, wine):
    shutil.rmtree(work, ignore_errors=True)
    kit = os.path.join(work, "kit")
    subprocess.run(["cmake", "--install", build, "--prefix", kit], check=True,
                   capture_output=True)
    folder, beside = os.path.join(kit, "virtual_peripheral"), os.path.join(work, "host")
    os.makedirs(beside)
    for name in os.listdir(folder):
        if os.path.isfile(os.path.join(folder, name)):
            shutil.copy(os.path.join(folder, name), beside)
    editor = os.path.join(beside, "editor.exe")
    shutil.copy(host_exe, editor)
    late = arch == "x86_64"  # see door_host.c
    if late:
        mark_delay_table(editor)
    tool = [sys.executable, os.path.join(folder, "redirect_imports.py")]

    # The provider check: names, an ordinal, a named function by ordinal.
    without_ordinal_2(os.path.join(folder, "vpwmm.dll"), os.path.join(work, "no-ordinal-2.dll"))
    named_by_ordinal(editor, os.path.join(work, "by-ordinal-19.exe"))
    vpwmm = os.path.join(folder, "vpwmm.dll")
    for image, provider, reason in [
            (editor, os.path.join(folder, "override", "winmm.dll"),
             "lacks mciGetErrorStringA, midiOutGetErrorTextA, "
             "timeGetTime, waveOutGetNumDevs, imported from WINMM.dll"),
            (editor, os.path.join(work, "no-ordinal-2.dll"), "lacks ordinal 2, imported"),
            (os.path.join(work, "by-ordinal-19.exe"), vpwmm,
             "imports 19 (PlaySoundA) of winmm.dll by ordinal")]:
        result = subprocess.run(tool + [image, "refused.exe", f"winmm.dll=vpwmm.dll:{provider}"],
                                cwd=beside, capture_output=True, text=True)
        if result.returncode != 1 or reason.lower() not in result.stderr.lower() or \
                os.path.exists(os.path.join(beside, "refused.exe")):
            sys.exit(f"redirect_imports on {image} with {provider}: exit {result.returncode}, "
                     f"wanted '{reason}':\n{result.stderr}")

    # Run from another folder, the tool finds the kit's vpwmm.dll beside itself.
    elsewhere = os.path.join(work, "elsewhere.exe")
    result = subprocess.run(tool + [editor, elsewhere, "winmm.dll=vpwmm.dll:vpwmm.dll"],
                            cwd=work, capture_output=True, text=True)
    if result.returncode != 0 or not os.path.exists(elsewhere):
        sys.exit(f"redirect_imports run outside the kit: exit {result.returncode}\n{result.stderr}")

    # The guide's two lines, as printed, in the folder of the host.
    redirect, run = guide_step(os.path.join(folder, "README.md"))
    subprocess.run([sys.executable] + redirect[1:], cwd=beside, check=True)
    report = os.path.join(work, "report.txt")
    env = {k: v for k, v in os.environ.items() if k not in ("WINEDLLOVERRIDES", "TARNWICK_VP_FILE")}
    env["TARNWICK_VP_REPORT"] = report
    result = subprocess.run(wine + run[1:], cwd=beside, env=env, capture_output=True, text=True)
    out = result.stdout.replace("\r\n", "\n")
    ports = sum(1 for line in open(os.path.join(beside, "vperiph.vp"))
                if line.startswith("port "))
    expected = ("modules: winmm loaded, vperiph loaded\n"
                "timeGetTime: system, advances\n"
                "waveOutGetNumDevs: system, the system's count\n"
                "mciGetErrorStringA: system, the system's text\n"
                "PlaySoundA by ordinal 2: system, TRUE\n"
                f"midiOutGetNumDevs{', loaded late' if late else ''}: peripheral, {ports}\n"
                "midiOutOpen: peripheral, 0\n"
                "midiOutShortMsg: peripheral, 0 0\n"
                "midiOutClose: peripheral, 0\n"
                "midiOutGetErrorTextA: system, a text\n")
    if result.returncode != 0 or out != expected:
        sys.exit(f"the redirected host (exit {result.returncode}) printed:\n{out}\n"
                 f"instead of:\n{expected}\n{result.stderr}")
    text = open(report, encoding="utf-8").read()
    for line in ['port 0 "PERIPHRL MIDI 1": 90 3C 40 / 80 3C 00\n', "handle faults: none\n"]:
        if line not in text:
            sys.exit(f"the report lacks {line!r}:\n{text}")
    print(f"figure: redirected door ({arch}): a host's own program through vpwmm.dll with no DLL "
          "override: timer, wave, MCI, error texts and an import by ordinal from the system's "
          f"winmm, MIDI output{' (one function loaded late)' if late else ''} to the "
          "peripheral (port 0 received 90 3C 40 / 80 3C 00)")


def main(argv):
    if len(argv) == 7 and argv[1] == "exports":
        exports(*argv[2:])
    elif len(argv) >= 7 and argv[1] == "host":
        host(argv[2], argv[3], argv[4], argv[5], argv[6:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
