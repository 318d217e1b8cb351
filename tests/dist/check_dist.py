#!/usr/bin/env python3
"""Checks the distribution zip made by the `dist` target.

It must hold exactly the six programs (stager, companion tool and package
checker, each in both builds), the example package's INF and driver files and
the README for device makers, all at the top level (the zip unpacks into the
package folder). The package files and the README must be the repository's
bytes, the 32-bit programs those of this build tree, and each program the right
PE kind: the two stagers pass every check of tests/pe/check_pe.py for their
architecture, the companion tools and the checkers are console programs of
their architecture.

Unsigned (the default), no program carries a certificate table. With
--signed-by CERT every program must verify with osslsigncode against that
certificate, and the 32-bit programs must be this tree's images but for what
signing changes (the checksum field, the certificate-table entry and the
signature appended at the end).

Usage: check_dist.py --zip ZIP --package DIR --readme FILE --stager32 EXE --devctl32 EXE
                     --checker32 EXE [--signed-by CERT.pem]
Exits 0 when every check holds; prints each failure otherwise.
"""
import argparse
import os
import struct
import subprocess
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
    "MERVOPackageCheck.exe": ("i386", "checker"),
    "MERVOPackageCheck64.exe": ("x86_64", "checker"),
}
# The 32-bit programs of this tree: name in the zip -> option that names the file.
OWN_PROGRAMS = {"MERVODriverStager.exe": "stager32", "MERVODevCtl.exe": "devctl32",
                "MERVOPackageCheck.exe": "checker32"}
CERTIFICATE_ENTRY = 4
PACKAGE_FILES = ["MERVOUSB.inf", "mervousb.sys", "mervoser.sys"]
README = "README-DEVICE-MAKERS.txt"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_program(name, data, folder):
    """Failures of one program of the zip, written to `folder` for check_pe."""
    arch, kind = PROGRAMS[name]
    print("== %s: %s %s" % (name, arch, "stager (GUI)" if kind == "stager" else kind + " (console)"))
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
    failures = ["%s: %s" % (name, failure) for failure in check_pe.time_stamp_failures(pe)]
    machine, magic = check_pe.MACHINES[arch]
    if (pe.machine, pe.magic) != (machine, magic):
        failures.append("%s: machine 0x%x / optional header 0x%x, expected %s"
                        % (name, pe.machine, pe.magic, arch))
    if pe.subsystem != SUBSYSTEM_WINDOWS_CUI:
        failures.append("%s: subsystem %d, expected %d (console)"
                        % (name, pe.subsystem, SUBSYSTEM_WINDOWS_CUI))
    dlls = [dll.lower() for dll in pe.imports()]
    if kind == "tool" and "setupapi.dll" not in dlls:
        failures.append("%s: does not import setupapi.dll" % name)
    if kind == "checker":
        failures.extend("%s: imports %s, which is no system DLL" % (name, dll)
                        for dll in dlls if dll not in check_pe.ALLOWED_DLLS)
    return failures


def certificate_entry(pe):
    """(offset of the certificate-table entry, (file offset, size) it holds)."""
    pe_offset = struct.unpack_from("<I", pe.data, 0x3C)[0]
    directories = pe_offset + 24 + (96 if pe.magic == 0x10B else 112)
    entry = directories + 8 * CERTIFICATE_ENTRY
    return entry, (pe.directories[CERTIFICATE_ENTRY] if len(pe.directories) > CERTIFICATE_ENTRY else (0, 0))


def same_image_but_signature(signed, unsigned):
    """Failure text, or None when `signed` is `unsigned` with only a signature added."""
    pe = check_pe.PeFile(unsigned)
    entry, _ = certificate_entry(pe)
    _, (table, size) = certificate_entry(check_pe.PeFile(signed))
    if table < len(unsigned) or table + size != len(signed):
        return "its certificate table (%d, %d bytes) is not appended after the %d bytes of the image" % (
            table, size, len(unsigned))
    checksum = struct.unpack_from("<I", unsigned, 0x3C)[0] + 24 + 64
    mask = set(range(checksum, checksum + 4)) | set(range(entry, entry + 8))
    changed = [i for i in range(len(unsigned)) if i not in mask and signed[i] != unsigned[i]]
    if changed:
        return "%d bytes of the image differ (the first at %d)" % (len(changed), changed[0])
    return None


def osslsigncode_verify(path, certificate):
    """(exit code, output) of osslsigncode's verdict against `certificate`."""
    help_text = subprocess.run(["osslsigncode", "verify", "--help"], capture_output=True, text=True)
    # Newer versions fetch revocation lists unless told not to (there is no network).
    ignore_crl = ["-ignore-crl"] if "-ignore-crl" in help_text.stdout + help_text.stderr else []
    run = subprocess.run(["osslsigncode", "verify"] + ignore_crl + ["-CAfile", certificate, "-in", path],
                         capture_output=True, text=True)
    return run.returncode, run.stdout + run.stderr


def check_signature(name, data, folder, certificate):
    """Failures of one program's signature (or of its lack, without `certificate`)."""
    try:
        _, (table, size) = certificate_entry(check_pe.PeFile(data))
    except (ValueError, struct.error):
        return []  # reported by check_program
    if certificate is None:
        return ["%s: carries a certificate table but the zip is unsigned" % name] if table or size else []
    code, output = osslsigncode_verify(os.path.join(folder, name), certificate)
    if code != 0 or "Signature verification: ok" not in output:
        return ["%s: its signature does not verify against %s:\n%s" % (name, certificate, output)]
    print("   signature verified against %s" % certificate)
    return []


def check_entry_records(infos):
    """Failures of what a build could vary in the zip's records: every entry
    has the same time, Unix mode 0644 and no extra field (owners, access times)."""
    failures = []
    times = sorted(set(info.date_time for info in infos))
    if len(times) != 1:
        failures.append("the entries carry %d different times: %s" % (len(times), times))
    for info in infos:
        mode = info.external_attr >> 16
        if info.create_system != 3 or mode != 0o100644:
            failures.append("%s: mode 0%o of system %d, expected 0100644 (Unix)"
                            % (info.filename, mode, info.create_system))
        if info.extra:
            failures.append("%s: carries an extra field of %d bytes" % (info.filename, len(info.extra)))
    return failures


def check(arguments):
    if not os.path.isfile(arguments.zip):
        return ["%s does not exist (build the dist target)" % arguments.zip]
    with zipfile.ZipFile(arguments.zip) as archive:
        bad = archive.testzip()
        if bad is not None:
            return ["%s: damaged entry %s" % (arguments.zip, bad)]
        entries = {info.filename: archive.read(info) for info in archive.infolist()}
        failures = check_entry_records(archive.infolist())
    print("zip entries: " + ", ".join(sorted(entries)))
    expected = set(PROGRAMS) | set(PACKAGE_FILES) | {README}
    for name in sorted(set(entries) - expected):
        failures.append("unexpected entry %s" % name)
    for name in sorted(expected - set(entries)):
        failures.append("missing entry %s" % name)

    certificate = getattr(arguments, "signed_by", None)
    same = {name: os.path.join(arguments.package, name) for name in PACKAGE_FILES}
    same[README] = arguments.readme
    for name, option in OWN_PROGRAMS.items():
        same[name] = getattr(arguments, option)
    for name, source in sorted(same.items()):
        if name not in entries:
            continue
        if certificate is not None and name in OWN_PROGRAMS:
            try:
                problem = same_image_but_signature(entries[name], read(source))
            except (ValueError, struct.error) as error:
                problem = "not a PE file (%s)" % error
            if problem:
                failures.append("%s differs from %s: %s" % (name, source, problem))
        elif entries[name] != read(source):
            failures.append("%s differs from %s" % (name, source))

    with tempfile.TemporaryDirectory() as folder:
        for name in sorted(PROGRAMS):
            if name in entries:
                failures.extend(check_program(name, entries[name], folder))
                failures.extend(check_signature(name, entries[name], folder, certificate))
    return failures


def add_arguments(parser):
    for option in ("--zip", "--package", "--readme", "--stager32", "--devctl32", "--checker32"):
        parser.add_argument(option, required=True)
    parser.add_argument("--signed-by", default=None)


def main():
    parser = argparse.ArgumentParser()
    add_arguments(parser)
    arguments = parser.parse_args()
    failures = check(arguments)
    for failure in failures:
        print("FAIL: " + failure)
    print("%s: %s" % (arguments.zip, "OK" if not failures else "%d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
