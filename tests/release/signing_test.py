#!/usr/bin/env python3
"""The documented way to sign, tried with a throwaway CA.

usage: signing_test.py SOURCE_DIR BUILD_DIR ARCH WORK_DIR WINE...

Makes a CA, a code-signing certificate (as PKCS#12) and a time-stamping
certificate with openssl, serves RFC 3161 time stamps on loopback with
`openssl ts -reply`, and signs BUILD_DIR's kit with scripts/sign. Then: every
signed image verifies against the CA, and one changed byte fails it; removing
the signatures gives back the unsigned bytes but for what the signing tool
rewrites (the PE checksum field, end padding: named and counted); the signed
tarnwick.dll passes the export checks and runs under Wine; a wrong password,
a missing certificate and a missing password are refused and leave nothing;
each option without its value is refused by name. The password also comes
from a descriptor, from a prompt on a terminal and from the environment,
which no osslsigncode started gets.
"""
import hashlib
import http.server
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import threading
import zipfile

import module_test
import pe_image
from kit_images import images

PASSWORD = "correct horse battery"


def run(command, **kwargs):
    # No terminal on standard input: scripts/sign would ask for the password.
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def must(command, **kwargs):
    result = run(command, **kwargs)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{result.stdout}{result.stderr}")
    return result


def certificates(work):
    """A CA, and below it a code signer (in a PKCS#12 file) and a TSA."""
    ca = os.path.join(work, "ca")
    must(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key",
          "-out", ca + ".pem", "-days", "2", "-subj", "/CN=tarnwick test CA",
          "-addext", "basicConstraints=critical,CA:TRUE",
          "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    for name, usage in (("signer", "codeSigning"), ("tsa", "critical,timeStamping")):
        base = os.path.join(work, name)
        with open(base + ".ext", "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                    f"extendedKeyUsage={usage}\n")
        must(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key",
              "-out", base + ".csr", "-subj", f"/CN=tarnwick test {name}"])
        must(["openssl", "x509", "-req", "-in", base + ".csr", "-CA", ca + ".pem",
              "-CAkey", ca + ".key", "-CAcreateserial", "-out", base + ".pem", "-days", "2",
              "-extfile", base + ".ext"])
    must(["openssl", "pkcs12", "-export", "-out", os.path.join(work, "signer.p12"),
          "-inkey", os.path.join(work, "signer.key"), "-in", os.path.join(work, "signer.pem"),
          "-certfile", ca + ".pem", "-passout", "env:TEST_P12_PASSWORD"],
         env=dict(os.environ, TEST_P12_PASSWORD=PASSWORD))
    with open(os.path.join(work, "tsa.cnf"), "w") as f:
        f.write(f"[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\n"
                f"serial = {work}/tsa.serial\nsigner_digest = sha256\n"
                "default_policy = 1.2.3.4.1\ndigests = sha256, sha384, sha512, sha1\n"
                "accuracy = secs:1\nordering = yes\ntsa_name = yes\n"
                "ess_cert_id_chain = no\ness_cert_id_alg = sha256\n")
    with open(os.path.join(work, "tsa.serial"), "w") as f:
        f.write("01\n")
    return ca + ".pem"


def time_stamp_server(work):
    """An RFC 3161 server on loopback answering with openssl ts -reply."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            with tempfile.TemporaryDirectory(dir=work) as here:
                with open(os.path.join(here, "q.tsq"), "wb") as f:
                    f.write(query)
                run(["openssl", "ts", "-reply", "-config", os.path.join(work, "tsa.cnf"),
                     "-queryfile", os.path.join(here, "q.tsq"),
                     "-inkey", os.path.join(work, "tsa.key"),
                     "-signer", os.path.join(work, "tsa.pem"),
                     "-chain", os.path.join(work, "ca.pem"), "-out", os.path.join(here, "r.tsr")])
                with open(os.path.join(here, "r.tsr"), "rb") as f:
                    reply = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *_):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_address[1]}", server


def unpack(zip_path, into):
    with zipfile.ZipFile(zip_path) as z:
        z.extractall(into)
    (top,) = os.listdir(into)
    return os.path.join(into, top)


def signature_removed_bytes(unsigned, signed, work):
    """The bytes that differ once the signature is removed, all of which must
    be the PE checksum field or padding past the unsigned image's end."""
    removed = os.path.join(work, "removed.bin")
    if os.path.exists(removed):
        os.remove(removed)
    must(["osslsigncode", "remove-signature", "-in", signed, "-out", removed])
    original, back = open(unsigned, "rb").read(), open(removed, "rb").read()
    field = pe_image.parse(original).OPTIONAL_HEADER.get_field_absolute_offset(
        "CheckSum")
    checksum = [i for i in range(field, field + 4) if original[i] != back[i]]
    padding = back[len(original):]
    if any(padding) or len(back) < len(original):
        sys.exit(f"{signed}: removing the signature left {len(back)} bytes for {len(original)}")
    other = [i for i in range(len(original)) if original[i] != back[i] and i not in checksum]
    if other:
        sys.exit(f"{signed}: without its signature it differs from the unsigned file at "
                 f"{other[0]:#x}, outside the checksum field")
    return len(checksum), len(padding)


def main(argv):
    if len(argv) < 6:
        sys.exit(__doc__)
    source, build, arch, work = argv[1:5]
    wine = argv[5:]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    ca = certificates(work)
    url, server = time_stamp_server(work)
    sign = [os.path.join(source, "scripts", "sign"), "--build-dir", build,
            "--pkcs12", os.path.join(work, "signer.p12")]
    password_file = os.path.join(work, "password")
    with open(password_file, "w") as f:
        f.write(PASSWORD + "\n")
    # Every osslsigncode scripts/sign starts is this one, which refuses to
    # sign when it finds the password variable in its environment.
    tools = os.path.join(work, "tools")
    os.makedirs(tools)
    with open(os.path.join(tools, "osslsigncode"), "w") as f:
        f.write('#!/bin/sh\n[ -z "${TARNWICK_SIGN_PASSWORD+set}" ] || '
                '{ echo "osslsigncode was given TARNWICK_SIGN_PASSWORD" >&2; exit 99; }\n'
                f'exec {shutil.which("osslsigncode")} "$@"\n')
    os.chmod(os.path.join(tools, "osslsigncode"), 0o755)
    quiet = {k: v for k, v in os.environ.items() if k != "TARNWICK_SIGN_PASSWORD"}
    quiet["PATH"] = tools + os.pathsep + quiet["PATH"]

    # An option without its value is refused by name, before anything runs.
    for option in ("--build-dir", "--pkcs12", "--password-file", "--password-fd", "--timestamp",
                   "--ca", "--out-dir"):
        for command in ([sign[0], option], sign + [option, "--out-dir", "x"]):
            result = run(command, env=quiet)
            if result.returncode != 2 or f"{option} needs a value: " not in result.stderr:
                sys.exit(f"{' '.join(command)}: expected '{option} needs a value', got "
                         f"{result.returncode}:\n{result.stderr}")

    # Refusals first: each names its cause and leaves no output at all.
    with open(os.path.join(work, "wrong"), "w") as f:
        f.write("not the password\n")
    refusals = [
        (sign + ["--password-file", os.path.join(work, "wrong")], "Wrong password"),
        ([sign[0], "--build-dir", build, "--pkcs12", os.path.join(work, "none.p12"),
          "--password-file", password_file], "no certificate file at"),
        (sign, "no password: give --password-file FILE or --password-fd N"),
    ]
    for n, (command, said) in enumerate(refusals):
        out = os.path.join(work, f"refused-{n}")
        result = run(command + ["--out-dir", out], env=quiet)
        if result.returncode == 0 or said not in result.stderr:
            sys.exit(f"{' '.join(command)}: expected a refusal saying '{said}', got "
                     f"{result.returncode}:\n{result.stderr}")
        if os.path.exists(out):
            sys.exit(f"a refused signing left {os.listdir(out)} in {out}")
    leftovers = [d for d in os.listdir(build) if d.startswith("kit-scratch-")]
    if leftovers:
        sys.exit(f"a refused signing left {leftovers} in {build}")

    # With a password file and a time stamp; and with the password from the
    # environment.
    signed_dir, env_dir = os.path.join(work, "signed"), os.path.join(work, "signed-env")
    must(sign + ["--password-file", password_file, "--timestamp", url, "--ca", ca,
                 "--out-dir", signed_dir], env=quiet)
    must(sign + ["--out-dir", env_dir], env=dict(quiet, TARNWICK_SIGN_PASSWORD=PASSWORD))
    server.shutdown()
    # From a descriptor, and asked for on a terminal: each signs only with
    # the right password.
    read_end, write_end = os.pipe()
    os.write(write_end, (PASSWORD + "\n").encode())
    os.close(write_end)
    must(sign + ["--password-fd", str(read_end), "--out-dir", os.path.join(work, "signed-fd")],
         env=quiet, pass_fds=(read_end,))
    os.close(read_end)
    terminal, other_end = pty.openpty()
    asked = subprocess.Popen(sign + ["--out-dir", os.path.join(work, "signed-asked")],
                             stdin=other_end, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             env=quiet)
    os.close(other_end)
    said = b""
    while b"password" not in said:
        chunk = os.read(asked.stderr.fileno(), 256)
        if not chunk:
            break
        said += chunk
    os.write(terminal, (PASSWORD + "\n").encode())
    out, err = asked.communicate()
    os.close(terminal)
    if asked.returncode != 0 or b"password of the PKCS#12 file" not in said:
        sys.exit(f"scripts/sign on a terminal: {asked.returncode}\n{(said + err).decode()}")
    (zip_name,) = [f for f in os.listdir(signed_dir) if f.endswith(".zip")]
    zip_path = os.path.join(signed_dir, zip_name)
    with open(zip_path + ".sha256") as f:
        if f.read() != f"{hashlib.sha256(open(zip_path, 'rb').read()).hexdigest()}  {zip_name}\n":
            sys.exit(f"{zip_path}.sha256 does not hold the ZIP's SHA-256")

    signed = unpack(zip_path, os.path.join(work, "unpacked"))
    unsigned = os.path.join(work, "unsigned")
    must(["cmake", "--install", build, "--prefix", unsigned])
    signed_images = images(signed)
    if len(signed_images) != len(images(unsigned)) or len(signed_images) < 9:
        sys.exit(f"{len(signed_images)} images in the signed ZIP, {len(images(unsigned))} unsigned")
    checksum_bytes = padding_bytes = 0
    for name in signed_images:
        image = os.path.join(signed, name)
        verified = run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca, "-in", image])
        if verified.returncode != 0 or "Timestamp Server Signature verification: ok" not in verified.stdout:
            sys.exit(f"{name} does not verify, with its time stamp, against the test CA:\n"
                     f"{verified.stdout}{verified.stderr}")
        c, p = signature_removed_bytes(os.path.join(unsigned, name), image, work)
        checksum_bytes, padding_bytes = checksum_bytes + c, padding_bytes + p
    env_signed = unpack(os.path.join(env_dir, zip_name), os.path.join(work, "env"))
    for name in images(env_signed):
        must(["osslsigncode", "verify", "-CAfile", ca, "-in", os.path.join(env_signed, name)])

    dll = os.path.join(signed, "bin", "tarnwick.dll")
    changed = os.path.join(work, "changed.dll")
    data = bytearray(open(dll, "rb").read())
    text = pe_image.parse(bytes(data)).sections[0]
    data[text.PointerToRawData + 64] ^= 0x01
    open(changed, "wb").write(data)
    if run(["osslsigncode", "verify", "-CAfile", ca, "-in", changed]).returncode == 0:
        sys.exit("a signed tarnwick.dll with one byte changed still verifies")

    print(module_test.check(dll, arch, f"{arch}, signed"))
    wine_env = {k: v for k, v in os.environ.items()
                if k not in ("WINEDLLOVERRIDES", "TARNWICK_VP_FILE", "TARNWICK_VP_REPORT")}
    ran = run(wine + [os.path.join(signed, "bin", "tarnwick-cli.exe"), "send", "PERIPHRL",
                      "3C", "40", "B2"], env=wine_env)
    if ran.returncode != 0 or ") = 0: " not in ran.stdout:
        sys.exit(f"the signed tarnwick-cli.exe and tarnwick.dll under Wine: {ran.returncode}\n"
                 f"{ran.stdout}{ran.stderr}")
    print(f"figure: signing ({arch}): {len(signed_images)} DLLs and EXEs signed by scripts/sign "
          "(SHA-256, RFC 3161 time stamp), each verifies against the test CA, one changed byte "
          "fails; with the signatures removed the unsigned bytes come back, the signing tool's "
          f"own rewrites apart ({checksum_bytes} checksum and {padding_bytes} padding bytes "
          "differ, nothing else); the signed DLL runs "
          "under Wine; wrong password, missing certificate and missing password refused, "
          "leaving nothing, and each option without its value refused by name; signed with the "
          "password from a file, a descriptor, a terminal prompt and the environment, which no "
          "osslsigncode saw")


if __name__ == "__main__":
    main(sys.argv)
