#!/usr/bin/env python3
"""Shows that check_dist.py refuses a damaged distribution.

Starts from the zip that the dist target made (which must pass), and makes
one faulty copy per case: a file missing, a file too many, a file in a
folder, a changed package file, the 32-bit and 64-bit builds swapped, a
stager in the place of a tool or of a checker, a program with a build time,
an entry record with another time, mode or an owner. Each copy must fail with
the expected text.

Usage: test_check_dist.py <the arguments of check_dist.py>
"""
import argparse
import os
import struct
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_dist  # noqa: E402


def stamp_build_time(entries, name):
    data = bytearray(entries[name])
    header = struct.unpack_from("<I", data, 0x3C)[0]
    struct.pack_into("<I", data, header + 8, 0x6937A000)
    entries[name] = bytes(data)


def rename(entries, old, new):
    entries[new] = entries.pop(old)


def swap(entries, a, b):
    entries[a], entries[b] = entries[b], entries[a]


# (case, change of the {name: bytes} entries, text that a failure must hold)
CASES = [
    ("file missing", lambda e: e.pop("mervoser.sys"), "missing entry mervoser.sys"),
    ("file too many", lambda e: e.update({"MERVOUSB.pnf": b"x"}), "unexpected entry MERVOUSB.pnf"),
    ("file in a folder", lambda e: rename(e, "MERVOUSB.inf", "package/MERVOUSB.inf"),
     "missing entry MERVOUSB.inf"),
    ("package file changed", lambda e: e.update({"mervousb.sys": e["mervousb.sys"] + b"!"}),
     "mervousb.sys differs"),
    ("README changed", lambda e: e.update({check_dist.README: b"old text"}),
     "README-DEVICE-MAKERS.txt differs"),
    ("stager builds swapped", lambda e: swap(e, "MERVODriverStager.exe", "MERVODriverStager64.exe"),
     "MERVODriverStager64.exe: machine"),
    ("tool builds swapped", lambda e: swap(e, "MERVODevCtl.exe", "MERVODevCtl64.exe"),
     "MERVODevCtl64.exe: machine"),
    ("stager as the tool", lambda e: e.update({"MERVODevCtl64.exe": e["MERVODriverStager64.exe"]}),
     "MERVODevCtl64.exe: subsystem 2, expected 3"),
    ("tool as the stager", lambda e: e.update({"MERVODriverStager64.exe": e["MERVODevCtl64.exe"]}),
     "MERVODriverStager64.exe: subsystem 3, expected 2"),
    ("not a program", lambda e: e.update({"MERVODevCtl.exe": b"MZ but nothing more"}),
     "MERVODevCtl.exe: not a PE file"),
    ("checker builds swapped", lambda e: swap(e, "MERVOPackageCheck.exe", "MERVOPackageCheck64.exe"),
     "MERVOPackageCheck64.exe: machine"),
    ("checker missing", lambda e: e.pop("MERVOPackageCheck64.exe"), "missing entry MERVOPackageCheck64.exe"),
    ("stager as the checker", lambda e: e.update({"MERVOPackageCheck64.exe": e["MERVODriverStager64.exe"]}),
     "MERVOPackageCheck64.exe: subsystem 2, expected 3"),
    ("tool with a build time", lambda e: stamp_build_time(e, "MERVODevCtl64.exe"),
     "MERVODevCtl64.exe: file header TimeDateStamp is 0x6937a000"),
    ("stager with a build time", lambda e: stamp_build_time(e, "MERVODriverStager.exe"),
     "MERVODriverStager.exe: file header TimeDateStamp is 0x6937a000"),
]

# What a build could vary in an entry's record: (case, change of mervoser.sys's
# ZipInfo, text that a failure must hold).
RECORD_CASES = [
    ("an entry with the build's time", lambda i: setattr(i, "date_time", (2026, 12, 9, 13, 2, 0)),
     "the entries carry 2 different times"),
    ("an entry with the umask's mode", lambda i: setattr(i, "external_attr", 0o100664 << 16),
     "mervoser.sys: mode 0100664 of system 3"),
    ("an entry with an owner", lambda i: setattr(i, "extra", b"ux\x0b\x00\x01\x04\xe8\x03\x00\x00\x04\xe8\x03\x00\x00"),
     "mervoser.sys: carries an extra field of 15 bytes"),
]


def write_faulty(path, entries, change_record=None):
    """The entries with the records a reproducible zip has, but where changed."""
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in entries.items():
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            if change_record and name == "mervoser.sys":
                change_record(info)
            archive.writestr(info, data)


def refused(arguments, faulty, case, wanted, problems):
    failures = check_dist.check(argparse.Namespace(**dict(vars(arguments), zip=faulty)))
    if not any(wanted in failure for failure in failures):
        problems.append("%s: no failure with %r, got %s" % (case, wanted, failures))
    else:
        print("refused as expected: %s" % case)


def main():
    parser = argparse.ArgumentParser()
    check_dist.add_arguments(parser)
    arguments = parser.parse_args()

    problems = []
    good = check_dist.check(arguments)
    if good:
        problems.append("the dist target's zip itself fails: %s" % good)
    with zipfile.ZipFile(arguments.zip) as archive:
        original = {info.filename: archive.read(info) for info in archive.infolist()}
    with tempfile.TemporaryDirectory() as folder:
        faulty = os.path.join(folder, "faulty.zip")
        for case, change, wanted in CASES:
            entries = dict(original)
            change(entries)
            write_faulty(faulty, entries)
            refused(arguments, faulty, case, wanted, problems)
        for case, change_record, wanted in RECORD_CASES:
            write_faulty(faulty, original, change_record)
            refused(arguments, faulty, case, wanted, problems)
    for problem in problems:
        print("FAIL: " + problem)
    count = len(CASES) + len(RECORD_CASES)
    print("%d cases, %s" % (count, "all refused" if not problems else "%d problems" % len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
