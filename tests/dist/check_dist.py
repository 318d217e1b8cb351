#!/usr/bin/env python3
"""Checks the distribution zip made by the `dist` target.

It must hold exactly the four programs, the example package's INF and driver
files and the README for device makers, all at the top level (the zip unpacks
into the package folder). The package files and the README must be the
repository's bytes, the 32-bit programs those of this build tree, and each
program the right PE kind: the two stagers pass every check of
tests/pe/check_pe.py for their architecture, the two companion tools are
console programs of their architecture.

Usage: check_dist.py --zip ZIP --package DIR --readme FILE --stager32 EXE --devctl32 EXE
Exits 0 when every check holds; prints each failure otherwise.
"""
import argparse
import os
import struct
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pe"))
import check_pe  # noqa: E402

SUBSYSTEM_WINDOWS_CUI = 3

# Name in the zip -> (architecture, kind).
PROGRAMS = {
    "MERVODriverStager.exe": ("i386", "stager"),
    "MERVODriverStager64.exe": ("x86_64", "stager"),
    "MERVODevCtl.exe": ("i386", "tool"),
    "MERVODevCtl64.exe": ("x86_64", "tool"),
}
PACKAGE_FILES = ["MERVOUSB.inf", "mervousb.sys", "mervoser.sys"]
README = "README-DEVICE-MAKERS.txt"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_program(name, data, folder):
    """Failures of one program of the zip, written to `folder` for check_pe."""
    arch, kind = PROGRAMS[name]
    print("== %s: %s %s" % (name, arch, "stager (GUI)" if kind == "stager" else "tool (console)"))
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    try:
        pe = check_pe.PeFile(data)
    except (ValueError, struct.error) as error:
        return ["%s: not a PE file (%s)" % (name, error)]
    if kind == "stager":
        return ["%s: %s" % (name, failure)
                for failure in check_pe.check(path, arch, "x86_64-w64-mingw32-objdump")]
    failures = []
    machine, magic = check_pe.MACHINES[arch]
    if (pe.machine, pe.magic) != (machine, magic):
        failures.append("%s: machine 0x%x / optional header 0x%x, expected %s"
                        % (name, pe.machine, pe.magic, arch))
    if pe.subsystem != SUBSYSTEM_WINDOWS_CUI:
        failures.append("%s: subsystem %d, expected %d (console)"
                        % (name, pe.subsystem, SUBSYSTEM_WINDOWS_CUI))
    if "setupapi.dll" not in (dll.lower() for dll in pe.imports()):
        failures.append("%s: does not import setupapi.dll" % name)
    return failures


def check(arguments):
    if not os.path.isfile(arguments.zip):
        return ["%s does not exist (build the dist target)" % arguments.zip]
    with zipfile.ZipFile(arguments.zip) as archive:
        bad = archive.testzip()
        if bad is not None:
            return ["%s: damaged entry %s" % (arguments.zip, bad)]
        entries = {info.filename: archive.read(info) for info in archive.infolist()}
    print("zip entries: " + ", ".join(sorted(entries)))
    failures = []
    expected = set(PROGRAMS) | set(PACKAGE_FILES) | {README}
    for name in sorted(set(entries) - expected):
        failures.append("unexpected entry %s" % name)
    for name in sorted(expected - set(entries)):
        failures.append("missing entry %s" % name)

    same = {name: os.path.join(arguments.package, name) for name in PACKAGE_FILES}
    same[README] = arguments.readme
    same["MERVODriverStager.exe"] = arguments.stager32
    same["MERVODevCtl.exe"] = arguments.devctl32
    for name, source in sorted(same.items()):
        if name in entries and entries[name] != read(source):
            failures.append("%s differs from %s" % (name, source))

    with tempfile.TemporaryDirectory() as folder:
        for name in sorted(PROGRAMS):
            if name in entries:
                failures.extend(check_program(name, entries[name], folder))
    return failures


def main():
    parser = argparse.ArgumentParser()
    for option in ("--zip", "--package", "--readme", "--stager32", "--devctl32"):
        parser.add_argument(option, required=True)
    arguments = parser.parse_args()
    failures = check(arguments)
    for failure in failures:
        print("FAIL: " + failure)
    print("%s: %s" % (arguments.zip, "OK" if not failures else "%d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
