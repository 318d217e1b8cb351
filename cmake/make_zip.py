#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files' names and contents.

Entries go in the order given, each with the time SOURCE_DATE_EPOCH (UTC; the
zip format cannot go below 1980-01-01, so earlier times become that), mode
0644 of a Unix zip, no extra fields (no owner, no access times), deflated at
level 9. So two builds of the same commit give the same zip whatever the
build's folder, time, user or umask.

Usage: make_zip.py --epoch SECONDS ZIP FOLDER NAME...
       (each NAME a file in FOLDER; it keeps that name in the zip)
"""
import argparse
import os
import sys
import time
import zipfile

EARLIEST = (1980, 1, 1, 0, 0, 0)
FILE_MODE = 0o100644
UNIX = 3


def entry_time(epoch):
    stamp = time.gmtime(epoch)[:6]
    return max(stamp, EARLIEST)


def write_zip(zip_path, folder, names, epoch):
    stamp = entry_time(epoch)
    with zipfile.ZipFile(zip_path, "w") as archive:
        for name in names:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = UNIX
            info.external_attr = FILE_MODE << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("zip")
    parser.add_argument("folder")
    parser.add_argument("names", nargs="+")
    arguments = parser.parse_args()
    if arguments.epoch < 0:
        parser.error("--epoch must not be negative")
    if len(set(arguments.names)) != len(arguments.names):
        parser.error("a name is given twice")
    try:
        write_zip(arguments.zip, arguments.folder, arguments.names, arguments.epoch)
    except OSError as error:
        if os.path.exists(arguments.zip):
            os.remove(arguments.zip)
        print("make_zip.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
