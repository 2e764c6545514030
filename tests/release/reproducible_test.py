#!/usr/bin/env python3
"""The same commit gives byte-identical shipped files, built twice.

usage: reproducible_test.py SOURCE_DIR WORK_DIR ARCH TOOLCHAIN_FILE

Builds the library and the tools twice, in two folders of different path
lengths, with different TZ, locale and umask, and (when run as root) as a
different user; then compares every installed file, the ZIP and its .sha256,
and fails with the name of the first that differs.
"""
import os
import pwd
import shutil
import subprocess
import sys


def build(source, folder, arch, toolchain, env, umask, user):
    def as_builder():
        os.umask(umask)
        if user is not None:
            os.setgroups([])
            os.setgid(user.pw_gid)
            os.setuid(user.pw_uid)

    os.makedirs(folder)
    if user is not None:
        os.chown(folder, user.pw_uid, user.pw_gid)
    for command in (["cmake", "-S", source, "-B", folder, "-G", "Ninja",
                     f"-DCMAKE_TOOLCHAIN_FILE={toolchain}", "-DTARNWICK_BUILD_TESTS=OFF",
                     "-DTARNWICK_MSVC_IMPORT_LIBRARY=ON"],
                    ["cmake", "--build", folder],
                    ["cmake", "--build", folder, "--target", "release-zip"],
                    ["cmake", "--install", folder, "--prefix", os.path.join(folder, "kit")]):
        result = subprocess.run(command, env=env, preexec_fn=as_builder,
                                capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"{' '.join(command)} failed:\n{result.stdout[-3000:]}{result.stderr[-3000:]}")


def artifacts(folder):
    """Every shipped file of a build: the installed kit, the ZIP, its checksum."""
    found = {}
    for top in ("kit", "package"):
        base = os.path.join(folder, top)
        for here, _, files in os.walk(base):
            for f in files:
                path = os.path.join(here, f)
                found[os.path.join(top, os.path.relpath(path, base))] = path
    return found


def other_user(source):
    """Someone else who can read the sources, when this test may become them."""
    if os.geteuid() != 0:
        return None
    try:
        user = pwd.getpwnam("nobody")
    except KeyError:
        return None
    probe = subprocess.run(["sh", "-c", f"test -r '{source}/CMakeLists.txt'"],
                           preexec_fn=lambda: (os.setgid(user.pw_gid), os.setuid(user.pw_uid)))
    return user if probe.returncode == 0 else None


def main(argv):
    if len(argv) != 5:
        sys.exit(__doc__)
    source, work, arch, toolchain = argv[1:]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.chmod(work, 0o755)
    user = other_user(source)
    base = {k: v for k, v in os.environ.items() if k not in ("SOURCE_DATE_EPOCH", "LANG")}
    builds = [
        (os.path.join(work, "a"), "UTC", "C", 0o022, None),
        (os.path.join(work, "a-build-folder-with-a-longer-name", "and", "two", "levels"),
         "Pacific/Chatham", "C.UTF-8", 0o077, user),
    ]
    for folder, tz, locale, umask, builder in builds:
        env = dict(base, TZ=tz, LC_ALL=locale)
        if builder is not None:
            env["HOME"] = work
        # The folders above a build are this test's, open to the other user.
        parent = os.path.dirname(folder)
        os.makedirs(parent, exist_ok=True)
        while parent != work:
            os.chmod(parent, 0o755)
            parent = os.path.dirname(parent)
        build(source, folder, arch, toolchain, env, umask, builder)

    first, second = artifacts(builds[0][0]), artifacts(builds[1][0])
    if sorted(first) != sorted(second):
        only = sorted(set(first) ^ set(second))
        sys.exit(f"the two builds ship different files, first {only[0]}")
    if not any(name.endswith(".zip") for name in first):
        sys.exit("no ZIP among the artifacts")
    for name in sorted(first):
        with open(first[name], "rb") as a, open(second[name], "rb") as b:
            if a.read() != b.read():
                sys.exit(f"{name} differs between the two builds")
    who = f"users root and {user.pw_name}" if user else "one user (not run as root)"
    print(f"figure: reproducible ({arch}): {len(first)} artifacts byte-identical across two "
          f"builds (folders of {len(builds[0][0])} and {len(builds[1][0])} characters, TZ UTC "
          f"and Pacific/Chatham, locales C and C.UTF-8, umask 022 and 077, {who})")


if __name__ == "__main__":
    main(sys.argv)
