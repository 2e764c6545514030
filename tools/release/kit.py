#!/usr/bin/env python3
"""The release package of one build tree: its ZIP and checksum, unsigned or
with every DLL and EXE signed.

  kit.py zip  BUILD_DIR [--out-dir DIR]
  kit.py sign BUILD_DIR --pkcs12 FILE [--password-file FILE | --password-fd N]
                        [--timestamp URL] [--ca FILE] [--out-dir DIR]

Both install the tree into a scratch folder and make NAME.zip and
NAME.zip.sha256 from it, NAME and the time coming from BUILD_DIR/kit-release.txt
(written when the tree is configured). The ZIP is the same bytes for the same
files: entries sorted, every time the source's time, no extra fields, fixed
modes and no owner.

sign signs every .dll, .drv and .exe with Authenticode (SHA-256) through
osslsigncode, with the key and certificate of a PKCS#12 file. Its password
comes from --password-file, from file descriptor N (all it holds, less a
final newline) or from the environment variable TARNWICK_SIGN_PASSWORD,
never from the command line, and reaches osslsigncode through a file or a
pipe; no program started here gets the variable. --timestamp names an
RFC 3161 time-stamping server; --ca, a CA file every signature is verified
against before packaging. Output goes to BUILD_DIR/signed unless --out-dir
says otherwise, and only once every file is signed: a failure leaves no
half-signed file behind.
"""
import argparse
import hashlib
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import zipfile

PASSWORD_VARIABLE = "TARNWICK_SIGN_PASSWORD"
ZIP_EARLIEST = 315532800  # 1980-01-01, the first time a ZIP entry can hold


class Failure(Exception):
    pass


def release_info(build_dir):
    path = os.path.join(build_dir, "kit-release.txt")
    try:
        with open(path, encoding="utf-8") as f:
            pairs = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    except OSError:
        raise Failure(f"{path} is missing: configure and build {build_dir} first")
    return pairs["name"], int(pairs["epoch"]), pairs["cmake"]


def install(build_dir, cmake, prefix):
    result = subprocess.run([cmake, "--install", build_dir, "--prefix", prefix],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise Failure(f"cmake --install {build_dir} failed:\n{result.stdout}{result.stderr}")


def write_zip(root, name, epoch, target):
    """Zips root/name as name/... into target, atomically."""
    entries = []
    for folder, folders, files in os.walk(os.path.join(root, name)):
        relative = os.path.relpath(folder, root).replace(os.sep, "/")
        entries.append((relative + "/", None))
        entries += [(f"{relative}/{f}", os.path.join(folder, f)) for f in files]
    stamp = time.gmtime(max(epoch, ZIP_EARLIEST))[:6]
    partial = target + ".part"
    with zipfile.ZipFile(partial, "w") as z:
        for entry, path in sorted(entries):
            # Fixed modes, never the builder's: a folder 0755, a file 0644.
            info = zipfile.ZipInfo(entry, date_time=stamp)
            info.create_system = 3
            if path is None:
                info.external_attr = (0o040755 << 16) | 0x10
                z.writestr(info, b"")
            else:
                info.external_attr = 0o100644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    z.writestr(info, f.read(), compresslevel=9)
    os.replace(partial, target)
    with open(target, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(target + ".sha256", "w", encoding="ascii", newline="\n") as f:
        f.write(f"{digest}  {os.path.basename(target)}\n")


def images(tree):
    found = []
    for folder, _, files in os.walk(tree):
        found += [os.path.join(folder, f) for f in files
                  if f.lower().endswith((".dll", ".drv", ".exe"))]
    return sorted(found)


def osslsigncode(arguments, what, pass_fds=()):
    try:
        result = subprocess.run(["osslsigncode"] + arguments, capture_output=True, text=True,
                                pass_fds=pass_fds)
    except FileNotFoundError:
        raise Failure("osslsigncode is not installed (Debian: osslsigncode)")
    if result.returncode != 0:
        # Its first lines say what went wrong; OpenSSL's detail follows.
        said = [line for line in (result.stderr + result.stdout).splitlines()
                if line.strip() and line.strip() not in ("Failed", "Succeeded")]
        raise Failure(f"{what}: osslsigncode: {'; '.join(said[:2]) if said else 'failed'}")


def sign(image, signed, name, options):
    """Signs one image; the password reaches osslsigncode through a file or a
    pipe, never its command line or its environment."""
    arguments = ["sign", "-pkcs12", options.pkcs12, "-h", "sha256", "-n", "tarnwick",
                 "-in", image, "-out", signed]
    if options.timestamp:
        arguments += ["-ts", options.timestamp]
    what = f"signing {name} with {options.pkcs12} (is the password right?)"
    if options.password_file is not None:
        osslsigncode(arguments + ["-readpass", options.password_file], what)
        return
    read_end, write_end = os.pipe()
    try:
        with os.fdopen(write_end, "wb") as password:
            password.write(options.password)
        osslsigncode(arguments + ["-readpass", f"/dev/fd/{read_end}"], what, (read_end,))
    finally:
        os.close(read_end)


def sign_tree(tree, options):
    for image in images(tree):
        name = os.path.relpath(image, tree)
        signed = image + ".signed"
        sign(image, signed, name, options)
        os.replace(signed, image)
        if options.ca:
            osslsigncode(["verify", "-CAfile", options.ca, "-in", image],
                         f"verifying {name} against {options.ca}")


def read_password(options):
    """The password given other than by a file, kept in memory: from the
    descriptor, else from the environment, which then loses it, so that no
    child (cmake --install, osslsigncode) inherits it."""
    options.password = os.environ.pop(PASSWORD_VARIABLE, None)
    if options.password is not None:
        options.password = options.password.encode()
    if options.password_fd is None:
        return
    try:
        with os.fdopen(options.password_fd, "rb") as f:
            options.password = f.read()
    except OSError as error:
        raise Failure(f"cannot read the password from file descriptor {options.password_fd}: "
                      f"{error.strerror}")
    for ending in (b"\r\n", b"\n"):
        if options.password.endswith(ending):
            options.password = options.password[:-len(ending)]
            break


def check_signing_options(options):
    if not os.path.isfile(options.pkcs12):
        raise Failure(f"no certificate file at {options.pkcs12}")
    if options.password_file is not None and options.password_fd is not None:
        raise Failure("give the password once: --password-file or --password-fd")
    if options.password_file is not None:
        if not os.path.isfile(options.password_file):
            raise Failure(f"no password file at {options.password_file}")
        if os.stat(options.password_file).st_mode & (stat.S_IRWXG | stat.S_IRWXO):
            print(f"note: others than its owner may read {options.password_file} "
                  "(chmod 600 it)", file=sys.stderr)
    elif options.password is None:
        raise Failure("no password: give --password-file FILE or --password-fd N, set "
                      f"{PASSWORD_VARIABLE}, or run scripts/sign on a terminal to be asked")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("action", choices=["zip", "sign"])
    parser.add_argument("build_dir")
    parser.add_argument("--out-dir")
    parser.add_argument("--pkcs12")
    parser.add_argument("--password-file")
    parser.add_argument("--password-fd", type=int)
    parser.add_argument("--timestamp")
    parser.add_argument("--ca")
    options = parser.parse_args(argv[1:])
    build_dir = os.path.abspath(options.build_dir)
    out_dir = options.out_dir or os.path.join(
        build_dir, "package" if options.action == "zip" else "signed")
    try:
        read_password(options)
        name, epoch, cmake = release_info(build_dir)
        if options.action == "sign":
            if not options.pkcs12:
                raise Failure("sign needs --pkcs12 FILE")
            check_signing_options(options)
        scratch = tempfile.mkdtemp(prefix="kit-scratch-", dir=build_dir)
        try:
            install(build_dir, cmake, os.path.join(scratch, name))
            if options.action == "sign":
                sign_tree(os.path.join(scratch, name), options)
            os.makedirs(out_dir, exist_ok=True)
            write_zip(scratch, name, epoch, os.path.join(out_dir, name + ".zip"))
        finally:
            shutil.rmtree(scratch)
    except Failure as failure:
        sys.exit(f"kit {options.action}: {failure}")
    print(f"{os.path.join(out_dir, name + '.zip')} and its .sha256"
          + (", every DLL and EXE signed" if options.action == "sign" else ""))


if __name__ == "__main__":
    main(sys.argv)
