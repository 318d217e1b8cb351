#!/usr/bin/env python3
"""A clean build of the same commit elsewhere gives the same distribution, byte for byte.

The reference is this tree's own distribution (--zip, made by dist.make from
this tree's programs). The commit checked out in --source is cloned once,
into a folder of another path and length under --work, and the dist target
of an i686 tree is built there (which builds its x86_64 programs in the
sibling tree): only the distribution's programs are built. The clean build
differs from this tree's in what a build must not record: the folder, the
time zone, the umask and the start time. SOURCE_DATE_EPOCH is left unset, so
the zip takes the commit's time. Where this tree's zip cannot stand for the
commit (uncommitted changes of tracked files, or SOURCE_DATE_EPOCH set, or no
--zip given), a second clean clone is built as the reference instead.
Then:
- the two zips must be the same bytes (else the entries that differ are
  named with their first differing offset);
- every entry must carry the commit's time;
- signed with one throw-away certificate, the clean build's zip and the
  reference's (this tree's programs signed by MakeDist.cmake, or the second
  clone's signed build) differ from each other only in the signatures: each
  program, its signature stripped with osslsigncode remove-signature, is the
  same in both and is the unsigned program (but for the PE checksum and the
  padding that signing added), and every other file is unchanged.
Prints the SHA-256 of the zip and of each program. The clones are removed
when the test passes and kept for a look when not.

Usage: test_reproducible_dist.py --source DIR --work DIR [--cmake CMAKE] [--jobs N]
         [--zip ZIP --make-dist MakeDist.cmake -- MAKEDIST DEFINES...]
"""
import argparse
import glob
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_dist  # noqa: E402
import test_signed_dist  # noqa: E402

SKIP = 77
# (folder under --work, time zone, umask): paths of different lengths; the
# first is the clean build, the second the reference when this tree's
# distribution cannot be.
BUILDS = [("the-clean-build-in-a-longer-folder/src", "Asia/Kathmandu", 0o002),
          ("one/MERVODriverStager", "UTC", 0o022)]


def run(command, **options):
    print("$ " + " ".join(command), flush=True)
    subprocess.run(command, check=True, **options)


def git(source, *arguments):
    return subprocess.run(["git", "-C", source] + list(arguments), check=True,
                          capture_output=True, text=True).stdout.strip()


def build(arguments, commit, folder, zone, umask, signing=None):
    """Clones `commit` into `folder` (once) and builds the dist target, signed
    with `signing` (PKCS#12 file, password file) into build/dist-signed, else
    unsigned into build/dist; the zip's path."""
    if not os.path.isdir(folder):
        run(["git", "clone", "-q", "--no-checkout", arguments.source, folder])
        run(["git", "-C", folder, "checkout", "-q", "--detach", commit])
    environment = dict(os.environ, TZ=zone)
    environment.pop("SOURCE_DATE_EPOCH", None)
    tree = os.path.join(folder, "build", "win32")
    dist = os.path.join(folder, "build", "dist-signed" if signing else "dist")
    pkcs12, password_file = signing or ("", "")
    options = dict(env=environment, preexec_fn=lambda: os.umask(umask),
                   stdout=subprocess.DEVNULL if arguments.quiet else None)
    run([arguments.cmake, "-S", folder, "-B", tree, "-DCMAKE_BUILD_TYPE=Release",
         "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(folder, "cmake", "toolchain-i686-mingw.cmake"),
         "-DMERVO_DIST_DIR=" + dist, "-DMERVO_SIGN_PKCS12=" + pkcs12,
         "-DMERVO_SIGN_PASSWORD_FILE=" + password_file], **options)
    run([arguments.cmake, "--build", tree, "--target", "dist", "-j", str(arguments.jobs)], **options)
    zips = glob.glob(os.path.join(dist, "*.zip"))
    if len(zips) != 1:
        raise RuntimeError("%s: expected one zip, found %s" % (dist, zips))
    return zips[0]


def entries(zip_path):
    with zipfile.ZipFile(zip_path) as archive:
        return [(info, archive.read(info)) for info in archive.infolist()]


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def compare_unsigned(zips, commit_time):
    problems = []
    first, second = (entries(z) for z in zips)
    names = [[info.filename for info, _ in e] for e in (first, second)]
    if names[0] != names[1]:
        problems.append("the entries differ: %s / %s" % tuple(names))
    for (info, data), (_, other) in zip(first, second):
        if data != other:
            offset = next((i for i, (a, b) in enumerate(zip(data, other)) if a != b), min(len(data), len(other)))
            problems.append("%s differs between the builds (first at byte %d of %d / %d)"
                            % (info.filename, offset, len(data), len(other)))
    wanted = time.gmtime(commit_time - commit_time % 2)[:6]
    problems.extend("%s carries the time %s, not the commit's %s" % (info.filename, info.date_time, wanted)
                    for info, _ in first if info.date_time != wanted)
    blobs = [open(z, "rb").read() for z in zips]
    if blobs[0] != blobs[1] and not problems:
        problems.append("the zips differ though every entry is the same")
    print("zip  %s  %d bytes" % (sha256(blobs[0]), len(blobs[0])))
    for info, data in first:
        if info.filename in check_dist.PROGRAMS:
            print("     %s  %s" % (sha256(data), info.filename))
    return problems


def strip_signature(name, data, folder):
    """The program without its signature (osslsigncode writes no file that exists)."""
    folder = tempfile.mkdtemp(dir=folder)
    signed, stripped = os.path.join(folder, "signed-" + name), os.path.join(folder, "stripped-" + name)
    with open(signed, "wb") as f:
        f.write(data)
    run = subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return "osslsigncode remove-signature failed: " + run.stdout + run.stderr
    with open(stripped, "rb") as f:
        return f.read()


def unsigned_but_layout(stripped, unsigned):
    """Whether a stripped program is the unsigned one but for what signing
    leaves behind: the PE checksum and the zero padding to 8 bytes that
    came before the certificate table."""
    checksum = struct.unpack_from("<I", unsigned, 0x3C)[0] + 24 + 64
    padding = stripped[len(unsigned):]
    return (len(padding) < 8 and len(stripped) % 8 == 0 and padding.count(0) == len(padding)
            and stripped[:checksum] == unsigned[:checksum]
            and stripped[checksum + 4:len(unsigned)] == unsigned[checksum + 4:])


def compare_signed(signed_zips, unsigned_zip):
    """The signed builds differ only in the programs' signatures: without them
    each program is the same in both, and is the unsigned program."""
    problems = []
    unsigned = {info.filename: data for info, data in entries(unsigned_zip)}
    stripped_programs = []
    with tempfile.TemporaryDirectory() as folder:
        for index, signed_zip in enumerate(signed_zips):
            build = "signed build %d" % (index + 1)
            signed = entries(signed_zip)
            stripped_programs.append({})
            if [info.filename for info, _ in signed] != list(unsigned):
                problems.append("%s: other entries than the unsigned zip" % build)
            for info, data in signed:
                name = info.filename
                if name not in check_dist.PROGRAMS:
                    if data != unsigned.get(name):
                        problems.append("%s: %s differs from the unsigned zip's" % (build, name))
                    continue
                if data == unsigned.get(name):
                    problems.append("%s: %s carries no signature" % (build, name))
                    continue
                stripped = strip_signature(name, data, folder)
                if isinstance(stripped, str):
                    problems.append("%s: %s: %s" % (build, name, stripped))
                    continue
                stripped_programs[index][name] = stripped
                if not unsigned_but_layout(stripped, unsigned.get(name, b"")):
                    problems.append("%s: %s without its signature is not the unsigned program" % (build, name))
    first, second = stripped_programs
    for name in sorted(set(first) & set(second)):
        if first[name] != second[name]:
            problems.append("%s differs between the signed builds beyond its signature" % name)
        else:
            print("     %s  %s, signature stripped" % (sha256(first[name]), name))
    return problems


def main():
    argv = sys.argv[1:]
    defines = []
    if "--" in argv:
        split = argv.index("--")
        argv, defines = argv[:split], argv[split + 1:]
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--jobs", type=int, default=int(os.environ.get("JOBS", "2")))
    parser.add_argument("--quiet", action="store_true", help="no build output")
    parser.add_argument("--zip", help="this tree's distribution, the reference")
    parser.add_argument("--make-dist", help="cmake/MakeDist.cmake, to sign this tree's programs")
    arguments = parser.parse_args(argv)

    try:
        commit = git(arguments.source, "rev-parse", "HEAD")
    except (OSError, subprocess.CalledProcessError):
        print("SKIPPED: %s is no git clone (the test builds its commit)" % arguments.source)
        return SKIP
    commit_time = int(git(arguments.source, "log", "-1", "--format=%ct", commit))
    own = arguments.zip and arguments.make_dist and defines
    if git(arguments.source, "status", "--porcelain", "--untracked-files=no"):
        print("note: %s has uncommitted changes; the builds are of commit %s" % (arguments.source, commit))
        own = False
    if "SOURCE_DATE_EPOCH" in os.environ:
        print("note: SOURCE_DATE_EPOCH is set; this tree's zip carries its time, not the commit's")
        own = False
    shutil.rmtree(arguments.work, ignore_errors=True)
    os.makedirs(arguments.work)
    builds = BUILDS[:1] if own else BUILDS
    folders = [os.path.join(arguments.work, relative) for relative, _, _ in builds]

    problems = []
    zips, signed_zips = [], []
    if own:
        print("reference: this tree's distribution %s" % arguments.zip)
        zips.append(arguments.zip)
    for folder, (_, zone, umask) in zip(folders, builds):
        started = time.monotonic()
        zips.append(build(arguments, commit, folder, zone, umask))
        print("build in %s: %.0f s" % (folder, time.monotonic() - started), flush=True)
    problems.extend(compare_unsigned(zips, commit_time))

    certificate_folder = os.path.join(arguments.work, "certificate")
    os.makedirs(certificate_folder)
    _, pkcs12, password_file = test_signed_dist.make_certificate(certificate_folder)
    if own:
        signed_zip = os.path.join(certificate_folder, "reference-signed.zip")
        code, output = test_signed_dist.make_dist(arguments, defines, signed_zip, pkcs12, password_file)
        if code != 0:
            print(output)
            problems.append("signing this tree's programs failed (%d)" % code)
        signed_zips.append(signed_zip)
    for folder, (_, zone, umask) in zip(folders, builds):
        signed_zips.append(build(arguments, commit, folder, zone, umask, (pkcs12, password_file)))
    if len(signed_zips) == 2:
        problems.extend(compare_signed(signed_zips, zips[0]))

    for problem in problems:
        print("FAIL: " + problem)
    if problems:
        print("reproducible distribution: %d problems; the builds stay in %s" % (len(problems), arguments.work))
        return 1
    shutil.rmtree(arguments.work, ignore_errors=True)
    print("reproducible distribution: OK (commit %s, against %s)"
          % (commit, "this tree's distribution" if own else "a second clean build"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
