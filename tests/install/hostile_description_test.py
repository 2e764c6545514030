#!/usr/bin/env python3
"""Descriptions a hostile or careless user writes, beside the installed kit.

usage: hostile_description_test.py BUILD_DIR ARCH FEW_RUNS WORK_DIR WINE...

Each description goes into vperiph.vp beside the kit's virtual_peripheral/
files, and the redirected tarnwick-cli runs there with no setting: `count`
must exit normally, its memory well under a quarter of a gigabyte, and its
report must name the refused line, or show what an accepted file describes
as valid UTF-8. `--help` uses no port or entry, so it reads no description
and leaves no report. vperiph-registry refuses what vperiph.dll refuses, with
the same words.

Then TARNWICK_VP_FILE names what is not a regular file: a file whose size
reads 0 but which holds text is read to its end; a folder, a FIFO (with a
writer, or none) and a device are refused with the reason, in the report's
description line and on standard error, and never hang the host.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

LIMIT_MB = 256

PERIPHERAL = 'port "PERIPHRL MIDI 1"\nusb "USB\\VID_1A2B&PID_3C4D"\n'

# name, bytes, what the report must say, whether an emulated run makes it too
CASES = [
    ("60 bytes asking for 6.5 GB",
     b'port "PERIPHRL MIDI 1"\nusb-hex 00 bytes=65536 repeat=100000\n',
     r"line 2: more than 8 MiB of hardware-ID data in all .*; no ports and no USB entries", True),
    ("16 MB of ports", b'port "P"\n' * (16 * 1024 * 1024 // 9),
     r"line 257: more than 256 ports; no ports", True),
    ("a 16 MB word", b"\xff" * (16 * 1024 * 1024 - 1),
     r"line 1: a line longer than 1 MiB; no ports", False),
    ("UTF-8 with a byte order mark", b"\xef\xbb\xbf" + PERIPHERAL.encode(),
     r'\n  port 0 "PERIPHRL MIDI 1": nothing received\n', False),
    ("UTF-16 from a text editor", ("\ufeff" + PERIPHERAL.replace("\n", "\r\n")).encode("utf-16-le"),
     r'\n  port 0 "PERIPHRL MIDI 1": nothing received\n', False),
    ("four-byte UTF-8 and a surrogate pair",
     'port "Keys \U0001F3B9"\nport "\\uD83C\\uDFB9 \\u0001"\n'.encode(),
     '\n  port 0 "Keys \U0001F3B9": nothing received\n  port 1 "\U0001F3B9 \\\\u0001": ', False),
    ("a lone surrogate", b'port "\\uD83C"\n', r'\n  port 0 "\\uD83C": nothing received\n', False),
    ("an entry without a string", b'usb repeat=2\n',
     r"line 1: usb needs at least one quoted string", False),
    ("an option given twice", b'port "A" open=4 open=5\n', r"line 1: open= given twice", False),
    ("an error that means success", b'classdevs fail error=0\n',
     r"line 1: error=0 would mean success", False),
    ("a NUL byte", b'port "A"\n# \x00\n', r"line 2: a NUL byte", False),
]

SPECIAL = "is a pipe or a device, not a file"
# name, what TARNWICK_VP_FILE names (a FIFO is made in the work folder), the
# reason it is refused with, or None when it is read: /proc/version's first
# word is then the unknown keyword.
KINDS = [
    ("a /proc file, size 0", "/proc/version", None),
    ("a folder", "/tmp", "is a folder, not a file"),
    ("/dev/zero", "/dev/zero", SPECIAL),
    ("a FIFO with a writer", "fifo-writer", SPECIAL),
    ("a FIFO with no writer", "fifo-alone", SPECIAL),
]


def main(argv):
    build, arch, few, work = argv[1], argv[2], argv[3] in ("ON", "1", "TRUE"), argv[4]
    wine = argv[5:]
    shutil.rmtree(work, ignore_errors=True)
    subprocess.run(["cmake", "--install", build, "--prefix", os.path.join(work, "kit")],
                   check=True, capture_output=True)
    host = os.path.join(work, "host")
    os.makedirs(host)
    folder = os.path.join(work, "kit", "virtual_peripheral")
    for name in os.listdir(folder):
        if os.path.isfile(os.path.join(folder, name)):
            shutil.copy(os.path.join(folder, name), host)
    env = {k: v for k, v in os.environ.items()
           if k not in ("WINEDLLOVERRIDES", "TARNWICK_VP_FILE", "TARNWICK_VP_REPORT")}
    failures, peak_mb, longest, runs = [], 0.0, 0.0, 0

    def wine_run(*args, extra_env=None):
        nonlocal peak_mb, longest, runs
        started = time.monotonic()
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.Popen(wine + list(args), cwd=host, env={**env, **(extra_env or {})},
                                       stdout=out, stderr=err)
            # A host that hangs is a failure, not a test that never ends.
            timer = threading.Timer(300, process.kill)
            timer.start()
            # Reaped here, for the child's own peak: the loader becomes the
            # Windows process.
            _, status, usage = os.wait4(process.pid, 0)
            timer.cancel()
            process.returncode = os.waitstatus_to_exitcode(status)
            out.seek(0)
            err.seek(0)
            text = out.read().decode(errors="replace"), err.read().decode(errors="replace")
        seconds = time.monotonic() - started
        mb = usage.ru_maxrss / 1024
        peak_mb, longest, runs = max(peak_mb, mb), max(longest, seconds), runs + 1
        return process.returncode, text[0], text[1], mb

    def reports():
        return set(glob.glob(os.path.join(host, "vperiph-report-*")))

    for name, data, expected, emulated_too in CASES:
        if few and not emulated_too:
            continue
        with open(os.path.join(host, "vperiph.vp"), "wb") as f:
            f.write(data)
        before = reports()
        code, out, err, mb = wine_run(os.path.join(host, "tarnwick-cli.exe"), "count", "1A2B", "3C4D")
        new = sorted(reports() - before)
        if code != 0 or "VID 1A2B PID 3C4D:" not in out:
            failures.append(f"{name}: count exited {code}\n{out}{err}")
            continue
        if mb > LIMIT_MB:
            failures.append(f"{name}: count took {mb:.0f} MB")
        if len(new) != 1:
            failures.append(f"{name}: {len(new)} new reports")
            continue
        with open(new[0], "rb") as f:
            raw = f.read()
        try:
            report = raw.decode("utf-8", errors="strict")
        except UnicodeDecodeError as e:
            failures.append(f"{name}: the report is not UTF-8 ({e})")
            continue
        if not re.search(expected, report):
            failures.append(f"{name}: expected /{expected}/ in\n{report}")

    # The description that once took the host down, with a command that uses
    # nothing of the peripheral.
    with open(os.path.join(host, "vperiph.vp"), "wb") as f:
        f.write(CASES[0][1])
    before = reports()
    code, out, err, mb = wine_run(os.path.join(host, "tarnwick-cli.exe"), "--help")
    if code != 0 or not out.startswith("usage:") or reports() != before or mb > LIMIT_MB:
        failures.append(f"--help: exit {code}, {mb:.0f} MB, reports {sorted(reports() - before)}")

    # One reader, one verdict.
    if not few:
        for name, data, expected, _ in CASES[-2:]:
            with open(os.path.join(host, "vperiph.vp"), "wb") as f:
                f.write(data)
            code, out, err, _ = wine_run(os.path.join(host, "vperiph-registry.exe"), "add",
                                         "vperiph.vp")
            if code != 1 or not re.search(expected, err):
                failures.append(f"vperiph-registry add ({name}): exit {code}\n{out}{err}")

    # What is not a regular file, named by TARNWICK_VP_FILE. The writer holds
    # its FIFO open, a description waiting in it.
    os.mkfifo(os.path.join(work, "fifo-writer"))
    os.mkfifo(os.path.join(work, "fifo-alone"))
    writer = os.open(os.path.join(work, "fifo-writer"), os.O_RDWR)
    os.write(writer, PERIPHERAL.encode())
    try:
        for name, target, reason in KINDS:
            if few and target != "fifo-writer":
                continue
            path = target if target.startswith("/") else os.path.join(work, target)
            windows_path = "Z:" + path.replace("/", "\\")
            before = reports()
            code, out, err, _ = wine_run(os.path.join(host, "tarnwick-cli.exe"), "count", "1A2B",
                                         "3C4D", extra_env={"TARNWICK_VP_FILE": windows_path})
            new = sorted(reports() - before)
            why = reason or "line 1: unknown keyword 'Linux'"
            report = open(new[0], encoding="utf-8").read() if len(new) == 1 else ""
            line = report.split("\n")[2] if report.count("\n") > 2 else ""
            if (code != 0 or line != f"  description: {windows_path} (TARNWICK_VP_FILE): {why}; "
                    "no ports and no USB entries are presented"
                    or f"virtual peripheral: {windows_path}: {why}" not in err.splitlines()):
                failures.append(f"{name}: exit {code}, description line '{line}'\n{err}")
    finally:
        os.close(writer)

    if failures:
        sys.exit("\n".join(failures))
    print(f"figure: hostile descriptions ({arch}): {runs} runs of the redirected tools, each "
          f"ended normally; largest peak {peak_mb:.0f} MB (limit {LIMIT_MB}), longest "
          f"{longest:.1f} s; refused lines named, accepted text read and reported as UTF-8; "
          f"what is not a regular file read to its end or refused with the reason")


if __name__ == "__main__":
    main(sys.argv)
