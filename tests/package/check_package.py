#!/usr/bin/env python3
"""Builds the release package twice and checks what a user receives.

    check_package.py WINDOWS_BUILD SCRATCH

The first package uses the Windows build the tests use; the second comes from
a Windows build made from nothing in SCRATCH, so that "reproducible" means two
separate builds of the commit, not one exe zipped twice. Checks: exactly
Lumivane.exe, LICENSE and README-ja.txt; the exe's version resource says
1.0.0.0, as app/version.h does; the guide is UTF-8 with a byte-order mark and
CR LF line ends only; and the two zips are byte-identical.
"""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def package(build, out):
    result = subprocess.run(["bash", os.path.join(ROOT, "tools", "package"), "--build", build, "--out", out],
                            capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"tools/package failed:\n{result.stdout}{result.stderr}")
    zips = [name for name in os.listdir(out) if name.endswith(".zip")]
    if len(zips) != 1:
        sys.exit(f"expected one zip in {out}, found {zips}")
    return os.path.join(out, zips[0])


def header_version():
    text = open(os.path.join(ROOT, "app", "version.h"), encoding="utf-8").read()
    return tuple(int(re.search(rf"#define LUMIVANE_VERSION_{part} (\d+)", text).group(1))
                 for part in ("MAJOR", "MINOR", "PATCH", "BUILD"))


def fixed_file_versions(exe):
    """File and product version of the VS_FIXEDFILEINFO in the exe."""
    signature = struct.pack("<I", 0xFEEF04BD)
    at = exe.find(signature)
    if at < 0:
        sys.exit("Lumivane.exe has no version resource")
    _, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", exe, at)
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return split(file_ms, file_ls), split(product_ms, product_ls)


def main():
    windows_build, scratch = sys.argv[1], sys.argv[2]
    shutil.rmtree(scratch, ignore_errors=True)
    first = package(windows_build, os.path.join(scratch, "first"))
    second = package(os.path.join(scratch, "win"), os.path.join(scratch, "second"))

    version = header_version()
    expected_name = "Lumivane-%d.%d.%d-win64.zip" % version[:3]
    failures = []
    if os.path.basename(first) != expected_name:
        failures.append(f"zip named {os.path.basename(first)}, expected {expected_name}")

    with zipfile.ZipFile(first) as archive:
        names = archive.namelist()
        if sorted(names) != ["LICENSE", "Lumivane.exe", "README-ja.txt"]:
            failures.append(f"zip holds {names}")
        else:
            file_version, product_version = fixed_file_versions(archive.read("Lumivane.exe"))
            if file_version != (1, 0, 0, 0) or file_version != version or product_version != version:
                failures.append(f"exe carries file version {file_version}, product version {product_version}")
            guide = archive.read("README-ja.txt")
            if not guide.startswith(b"\xef\xbb\xbf"):
                failures.append("README-ja.txt has no byte-order mark")
            if re.search(rb"(?<!\r)\n", guide):
                failures.append("README-ja.txt has a line end without CR")
            text = guide[3:].decode("utf-8")
            if "監視フォルダー選択" not in text or "shell:startup" not in text:
                failures.append("README-ja.txt does not hold the guide")

    digests = [hashlib.sha256(open(path, "rb").read()).hexdigest() for path in (first, second)]
    if digests[0] != digests[1]:
        failures.append(f"two builds gave different zips: {digests[0]} and {digests[1]}")

    if failures:
        sys.exit("\n".join(failures))
    print(f"{expected_name}: 3 files, version {'.'.join(map(str, version))}, SHA-256 {digests[0]} twice")


if __name__ == "__main__":
    main()
