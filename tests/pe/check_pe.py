#!/usr/bin/env python3
"""Checks a built MERVODriverStager.exe from its PE headers.

The shipped program must load on a bare Windows 2000 to Vista: the right
architecture, the GUI subsystem, an import table naming only DLLs that every
such system has (the C and C++ runtimes are linked in statically), no
load-time import of functions that Windows 2000 lacks, a version record of
2.5.0.0, exactly one application manifest that declares nothing, and no
build time in any time-stamp field (a reproducible build).

Usage: check_pe.py --arch i386|x86_64 [--objdump TOOL] FILE.exe
Exits 0 when every check holds; prints each failure otherwise.
"""
import argparse
import re
import shutil
import struct
import subprocess
import sys

MACHINES = {"i386": (0x014C, 0x10B), "x86_64": (0x8664, 0x20B)}
SUBSYSTEM_WINDOWS_GUI = 2
RT_VERSION = 16
RT_MANIFEST = 24

# DLLs present on every Windows from 2000 on, and why the program may import them:
#   kernel32  files, processes, time, errors (and the C runtime's start-up)
#   user32    message boxes
#   advapi32  the registry probe of the OS check
#   setupapi  staging the INF in the system's INF store
#   msvcrt    the C runtime that mingw-w64 builds on (shipped with Windows since 2000)
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "setupapi.dll", "msvcrt.dll"}

# Functions that Windows 2000 lacks: importing one at load time would stop the
# program from starting there, so it must be looked up at run time instead.
NOT_ON_WINDOWS_2000 = {"IsWow64Process", "GetNativeSystemInfo", "AddVectoredExceptionHandler",
                       "GetTickCount64", "InitializeSRWLock", "InitializeConditionVariable"}


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, self.header_time, _, _, optional_size, _) = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            (vsize, vaddr, rawsize, rawptr) = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for (vaddr, size, rawptr) in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise ValueError("RVA 0x%x outside every section" % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{dll name: [function names]} from the import directory."""
        rva, size = self.directories[1]
        result = {}
        if rva == 0:
            return result
        entry = self.offset(rva)
        thunk_format, ordinal_flag = ("<I", 1 << 31) if self.magic == 0x10B else ("<Q", 1 << 63)
        step = struct.calcsize(thunk_format)
        while True:
            (lookup, _, _, name, first_thunk) = struct.unpack_from("<IIIII", self.data, entry)
            if name == 0:
                break
            functions = []
            thunk = self.offset(lookup or first_thunk)
            while True:
                value = struct.unpack_from(thunk_format, self.data, thunk)[0]
                if value == 0:
                    break
                if value & ordinal_flag:
                    functions.append("#%d" % (value & 0xFFFF))
                else:
                    functions.append(self.c_string((value & 0x7FFFFFFF) + 2))
                thunk += step
            result[self.c_string(name)] = functions
            entry += 20
        return result

    def time_stamps(self):
        """[(where, value)] of every time-stamp field: the file header's, the
        export directory's, each debug directory entry's and each resource
        directory table's (a reproducible build has 0 in all of them)."""
        found = [("file header TimeDateStamp", self.header_time)]
        export_rva, _ = self.directories[0]
        if export_rva:
            found.append(("export directory TimeDateStamp",
                          struct.unpack_from("<I", self.data, self.offset(export_rva) + 4)[0]))
        debug_rva, debug_size = self.directories[6] if len(self.directories) > 6 else (0, 0)
        for i in range(debug_size // 28 if debug_rva else 0):
            found.append(("debug entry %d TimeDateStamp" % i,
                          struct.unpack_from("<I", self.data, self.offset(debug_rva) + 28 * i + 4)[0]))
        resource_rva, _ = self.directories[2]
        if resource_rva:
            base = self.offset(resource_rva)
            pending, seen = [0], set()
            while pending:
                table = pending.pop()
                if table in seen:
                    continue
                seen.add(table)
                found.append(("resource table at 0x%x TimeDateStamp" % table,
                              struct.unpack_from("<I", self.data, base + table + 4)[0]))
                named, numbered = struct.unpack_from("<HH", self.data, base + table + 12)
                for i in range(named + numbered):
                    target = struct.unpack_from("<I", self.data, base + table + 20 + 8 * i)[0]
                    if target & 0x80000000:
                        pending.append(target & 0x7FFFFFFF)
        return found

    def resources(self):
        """[(type id, name id, language, bytes)] from the resource directory."""
        rva, size = self.directories[2]
        found = []
        if rva == 0:
            return found
        base = self.offset(rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield (None if ident & 0x80000000 else ident), target

        for type_id, type_target in entries(0):
            for name_id, name_target in entries(type_target & 0x7FFFFFFF):
                for language, leaf in entries(name_target & 0x7FFFFFFF):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found.append((type_id, name_id, language, self.data[start:start + data_size]))
        return found


def version_blocks(blob, start=0, end=None):
    """Walks a VS_VERSIONINFO tree, yielding (key, value) of every block."""
    end = len(blob) if end is None else end
    position = start
    while position + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", blob, position)
        if length == 0:
            break
        key_end = position + 6
        while blob[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = blob[position + 6:key_end].decode("utf-16-le")
        value_start = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if value_type == 1 else value_length
        value = blob[value_start:value_start + value_bytes]
        yield key, value_type, value
        children = (value_start + value_bytes + 3) & ~3
        yield from version_blocks(blob, children, position + length)
        position = (position + length + 3) & ~3


def objdump_dlls(tool, path):
    output = subprocess.run([tool, "-p", path], capture_output=True, text=True, check=True).stdout
    return sorted(set(m.lower() for m in re.findall(r"DLL Name: (\S+)", output)))


def time_stamp_failures(pe):
    """A build's time in the image makes it differ from every other build."""
    return ["%s is 0x%x, expected 0 (no build time)" % (where, value)
            for where, value in pe.time_stamps() if value != 0]


def check(path, arch, objdump):
    with open(path, "rb") as f:
        pe = PeFile(f.read())
    failures = time_stamp_failures(pe)

    machine, magic = MACHINES[arch]
    if pe.machine != machine or pe.magic != magic:
        failures.append("machine 0x%x / optional header 0x%x, expected 0x%x / 0x%x (%s)"
                        % (pe.machine, pe.magic, machine, magic, arch))
    if pe.subsystem != SUBSYSTEM_WINDOWS_GUI:
        failures.append("subsystem %d, expected %d (GUI)" % (pe.subsystem, SUBSYSTEM_WINDOWS_GUI))

    imports = pe.imports()
    for dll in sorted(imports):
        print("imports %-14s %3d functions" % (dll, len(imports[dll])))
        if dll.lower() not in ALLOWED_DLLS:
            failures.append("imports %s, which is not a system DLL of Windows 2000: %s"
                            % (dll, ", ".join(imports[dll][:8])))
        for function in imports[dll]:
            if function in NOT_ON_WINDOWS_2000:
                failures.append("imports %s!%s at load time; Windows 2000 lacks it" % (dll, function))
    for needed in ("kernel32.dll", "user32.dll", "setupapi.dll"):
        if needed not in (d.lower() for d in imports):
            failures.append("%s missing from the import table" % needed)
    if objdump and shutil.which(objdump):
        seen = objdump_dlls(objdump, path)
        if seen != sorted(d.lower() for d in imports):
            failures.append("objdump lists the DLLs %s, this reader %s" % (seen, sorted(imports)))

    resources = pe.resources()
    versions = [r for r in resources if r[0] == RT_VERSION]
    manifests = [r for r in resources if r[0] == RT_MANIFEST]
    if len(versions) != 1:
        failures.append("%d version records, expected 1" % len(versions))
    else:
        blocks = list(version_blocks(versions[0][3]))
        fixed = [v for (k, t, v) in blocks if k == "VS_VERSION_INFO"]
        if not fixed or len(fixed[0]) < 24 or struct.unpack_from("<I", fixed[0])[0] != 0xFEEF04BD:
            failures.append("version record has no fixed file info")
        else:
            file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed[0], 8)
            numbers = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
            for what, got in (("file", numbers(file_ms, file_ls)),
                              ("product", numbers(product_ms, product_ls))):
                print("%s version %d.%d.%d.%d" % ((what,) + got))
                if got != (2, 5, 0, 0):
                    failures.append("%s version %s, expected 2.5.0.0" % (what, got))
        strings = {k: v.decode("utf-16-le").rstrip("\0") for (k, t, v) in blocks if t == 1}
        for key in ("FileVersion", "ProductVersion"):
            if strings.get(key) != "2.5.0.0":
                failures.append("string %s is %r, expected '2.5.0.0'" % (key, strings.get(key)))
        for key in ("ProductName", "FileDescription"):
            if not strings.get(key):
                failures.append("string %s missing" % key)
            else:
                print("%s: %s" % (key, strings[key]))
    if len(manifests) != 1 or manifests[0][1] != 1:
        failures.append("manifest resources %s, expected exactly one with id 1"
                        % [(r[1], r[2]) for r in manifests])
    else:
        text = manifests[0][3].decode("utf-8")
        body = re.sub(r"<\?xml[^>]*\?>", "", text).strip()
        match = re.fullmatch(r'<assembly\s+xmlns="urn:schemas-microsoft-com:asm.v1"\s+'
                             r'manifestVersion="1.0"\s*>\s*</assembly>', body)
        if not match:
            failures.append("manifest is not an empty <assembly> element: %r" % text)
        else:
            print("manifest: empty <assembly manifestVersion=\"1.0\">")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=sorted(MACHINES), required=True)
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("exe")
    arguments = parser.parse_args()
    failures = check(arguments.exe, arguments.arch, arguments.objdump)
    for failure in failures:
        print("FAIL: " + failure)
    print("%s: %s" % (arguments.exe, "OK" if not failures else "%d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
