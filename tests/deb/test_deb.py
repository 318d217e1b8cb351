#!/usr/bin/env python3
"""Checks the checker's Debian package (cpack in the host tree).

  test_deb.py contents --deb-dir DIR --source DIR --version V
      the package holds the program, the trust folder of the source tree
      file for file, SCHEMA.md and the man page, and depends on libssl3
  test_deb.py install --deb-dir DIR --source DIR --version V --checker EXE
      installs it with `apt-get install ./<package>.deb` into a throw-away
      copy of a fresh minimal Debian 12 root (scripts/debian12-root.sh; needs
      root and mmdebstrap, else the test is skipped with 77), runs the
      installed checker there on the example package and on each package of
      ../shared/signed-packages, and compares its JSON and exit codes with
      those of the build tree's checker EXE. Also --version, --help and the
      installed trust folder. With --maker EXE, the installed mervo-makecat
      makes catalogs of real packages there (with the root's own libcrypto),
      and they must be byte for byte those that EXE makes here from the same
      files and time. Nothing is installed on the host.
"""
import argparse
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
PROGRAM = "/usr/bin/mervo-packagecheck"
SHARE = "/usr/share/mervo-packagecheck/trust"


def the_deb(folder):
    debs = glob.glob(os.path.join(folder, "mervo-packagecheck_*.deb"))
    if len(debs) != 1:
        sys.exit("expected one mervo-packagecheck .deb in %s, found %s" % (folder, debs))
    return debs[0]


def trust_files(source):
    """{path under the trust folder: SHA-256} of the source tree's trust folder."""
    base = os.path.join(source, "tools", "packagecheck", "trust")
    found = {}
    for path in glob.glob(os.path.join(base, "**", "*.pem"), recursive=True):
        with open(path, "rb") as f:
            found[os.path.relpath(path, base)] = hashlib.sha256(f.read()).hexdigest()
    return found


def cases(source):
    """(name, arguments) of the packages checked inside and outside the root."""
    found = [("example", [os.path.join(source, "examples", "package")])]
    signed = os.path.realpath(os.path.join(source, "..", "shared", "signed-packages"))
    for folder in sorted(glob.glob(os.path.join(signed, "*"))):
        for inf in sorted(glob.glob(os.path.join(folder, "*.inf"))):
            found.append(("%s-%s" % (os.path.basename(folder), os.path.basename(inf)),
                          [folder, os.path.basename(inf)]))
    return found


def check_contents(arguments):
    problems = []
    deb = the_deb(arguments.deb_dir)
    listing = subprocess.run(["dpkg-deb", "--contents", deb], check=True, capture_output=True,
                             text=True).stdout
    files = {line.split()[-1].lstrip(".") for line in listing.splitlines() if not line.startswith("d")}
    wanted = {PROGRAM, "/usr/share/doc/mervo-packagecheck/SCHEMA.md",
              "/usr/share/man/man1/mervo-packagecheck.1.gz",
              "/usr/bin/mervo-makecat", "/usr/share/man/man1/mervo-makecat.1.gz"}
    wanted |= {SHARE + "/" + name for name in trust_files(arguments.source)}
    problems += ["missing from the package: " + name for name in sorted(wanted - files)]
    problems += ["unexpected in the package: " + name for name in sorted(files - wanted)]
    if not any(name.startswith(SHARE + "/roots/") for name in wanted):
        problems.append("the source tree has no trust/roots: the package would ship no Microsoft roots")
    fields = {field: subprocess.run(["dpkg-deb", "--field", deb, field], check=True, capture_output=True,
                                    text=True).stdout.strip() for field in ("Package", "Version", "Depends")}
    print("%s: %d bytes, %s" % (os.path.basename(deb), os.path.getsize(deb), fields))
    if fields["Package"] != "mervo-packagecheck" or fields["Version"] != arguments.version:
        problems.append("package %s %s, expected mervo-packagecheck %s"
                        % (fields["Package"], fields["Version"], arguments.version))
    depends = [d.split()[0] for d in fields["Depends"].split(",") if d.strip()]
    for library in ("libssl3", "libc6", "libstdc++6", "ca-certificates"):
        if library not in depends:
            problems.append("Depends lacks %s: %s" % (library, fields["Depends"]))
    return problems


# A shell script that makes catalogs of real packages: two SHA-1 catalogs
# named by one INF, and a SHA-256 catalog at --output. Its arguments: the
# folder to make them in (one subfolder per package, with its exit code and
# output beside) and the maker.
def maker_script(source):
    signed = os.path.realpath(os.path.join(source, "..", "shared", "signed-packages"))
    return r"""set -u
out=$1 maker=$2
make() {
  name=$1 folder=$2
  shift 2
  cp -r "$folder" "$out/$name" && rm -f "$out/$name"/*.cat
  SOURCE_DATE_EPOCH=1704067200 "$maker" "$out/$name" "$@" >"$out/$name.log" 2>&1
  echo $? >"$out/$name.code"
}
make libusb0 '%s/argyll-libusb0' ArgyllCMS.inf --targets 7-x86,7-x64,10-x64
make winusb '%s/tidepool-webusb' webusb.inf --output "$out/winusb/made.cat" --targets 10-x64,11-x64
""" % (signed, signed)


MAKER_CASES = ("libusb0", "winusb")


def made_catalogs(folder, name):
    """(exit code, {catalog: bytes}, output) of one package's run of the maker script."""
    def read(path, mode="r"):
        with open(path, mode) as f:
            return f.read()
    catalogs = {os.path.basename(path): read(path, "rb")
                for path in sorted(glob.glob(os.path.join(folder, name, "*.cat")))}
    return read(os.path.join(folder, name + ".code")).strip(), catalogs, read(os.path.join(folder, name + ".log"))


def compare_makers(maker, source, inside):
    """The installed maker's catalogs (made in `inside`) against the build tree's maker's."""
    problems = []
    with tempfile.TemporaryDirectory(prefix="deb-makecat-") as here:
        subprocess.run(["/bin/sh", "-c", maker_script(source), "sh", here, maker], check=True)
        for name in MAKER_CASES:
            code, catalogs, output = made_catalogs(inside, name)
            want_code, want, _ = made_catalogs(here, name)
            sizes = ", ".join("%s (%d bytes)" % (k, len(v)) for k, v in catalogs.items())
            if code != "0" or want_code != "0" or not catalogs:
                problems.append("%s: the installed mervo-makecat exited %s (the build tree's %s), made %s:\n%s"
                                % (name, code, want_code, sizes or "nothing", output))
            elif catalogs != want:
                problems.append("%s: the installed mervo-makecat made %s, other bytes than the build tree's"
                                % (name, sizes))
            else:
                print("%s: the installed mervo-makecat made the same bytes: %s" % (name, sizes))
    return problems


# Runs inside the root: installs the package, then writes what the tests
# compare into the output folder ($1), one file per run.
INSIDE = r"""
set -u
out=$1 deb=$2
shift 2
apt-get install -y -q "$deb" >"$out/apt.log" 2>&1 || { cat "$out/apt.log"; exit 1; }
mervo-packagecheck --version >"$out/version" 2>&1; echo $? >"$out/version.code"
mervo-packagecheck --help >"$out/help" 2>&1; echo $? >"$out/help.code"
mervo-makecat --help >"$out/makecat-help" 2>&1; echo $? >"$out/makecat-help.code"
(cd /usr/share/mervo-packagecheck/trust && find . -type f -name '*.pem' | sort | xargs sha256sum) >"$out/trust"
if [ -f "$out/makecat.sh" ]; then
  mkdir "$out/makecat" && sh "$out/makecat.sh" "$out/makecat" mervo-makecat
fi
while [ $# -gt 0 ]; do
  name=$1 count=$2
  shift 2
  if [ "$count" = 1 ]; then
    mervo-packagecheck "$1" --json >"$out/$name.json" 2>"$out/$name.err"
  else
    mervo-packagecheck "$1" "$2" --json >"$out/$name.json" 2>"$out/$name.err"
  fi
  echo $? >"$out/$name.code"
  shift "$count"
done
"""


def check_install(arguments):
    if os.geteuid() != 0 or not shutil.which("mmdebstrap"):
        print("SKIPPED: installing into a Debian 12 root needs root and mmdebstrap")
        return None
    problems = []
    deb = os.path.abspath(the_deb(arguments.deb_dir))
    script = os.path.join(arguments.source, "scripts", "debian12-root.sh")
    runs = cases(arguments.source)
    with tempfile.TemporaryDirectory(prefix="deb-install-") as out:
        shared = os.path.realpath(os.path.join(arguments.source, "..", "shared"))
        binds = [os.path.dirname(deb), os.path.join(arguments.source, "examples"), shared, out + ":rw"]
        if arguments.maker:
            with open(os.path.join(out, "makecat.sh"), "w") as f:
                f.write(maker_script(arguments.source))
        command = [script, "exec", "/bin/sh", "-c", INSIDE, "sh", out, deb]
        for name, args in runs:
            command += [name, str(len(args))] + args
        run = subprocess.run(command, env=dict(os.environ, MERVO_DEBIAN12_BINDS=" ".join(binds)),
                             capture_output=True, text=True)
        if run.returncode != 0:
            return ["installing or running in the root failed (%d):\n%s%s" % (run.returncode, run.stdout, run.stderr)]

        def read(name):
            with open(os.path.join(out, name)) as f:
                return f.read()

        print(read("apt.log").strip().splitlines()[-1])
        if read("version") != "MERVOPackageCheck %s\n" % arguments.version or read("version.code") != "0\n":
            problems.append("--version printed %r (exit %s)" % (read("version"), read("version.code").strip()))
        if not read("help").startswith("Usage: MERVOPackageCheck") or read("help.code") != "0\n":
            problems.append("--help printed %r (exit %s)" % (read("help")[:80], read("help.code").strip()))
        if not read("makecat-help").startswith("Usage: MERVOMakeCatalog") or read("makecat-help.code") != "0\n":
            problems.append("mervo-makecat --help printed %r (exit %s)"
                            % (read("makecat-help")[:80], read("makecat-help.code").strip()))
        installed = {line.split()[1][2:]: line.split()[0] for line in read("trust").splitlines()}
        if installed != trust_files(arguments.source):
            problems.append("the installed trust folder is not the source tree's: %s" % sorted(installed))
        for name, args in runs:
            host = subprocess.run([arguments.checker] + args + ["--json"], capture_output=True, text=True)
            inside, code = read(name + ".json"), int(read(name + ".code"))
            try:
                devices = len(json.loads(inside)["devices"])
            except (ValueError, KeyError, TypeError) as error:
                problems.append("%s: the installed checker gave no JSON report (exit %d, %s): %s"
                                % (name, code, error, read(name + ".err")))
                continue
            if (inside, code) != (host.stdout, host.returncode):
                problems.append("%s: the installed checker says (exit %d)\n%s\nthe build tree's (exit %d)\n%s"
                                % (name, code, inside, host.returncode, host.stdout))
            else:
                print("%s: same JSON (%d bytes, %d devices), exit %d" % (name, len(inside), devices, code))
        if arguments.maker:
            problems += compare_makers(arguments.maker, arguments.source, os.path.join(out, "makecat"))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=("contents", "install"))
    parser.add_argument("--deb-dir", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--checker")
    parser.add_argument("--maker")
    arguments = parser.parse_args()
    problems = check_contents(arguments) if arguments.mode == "contents" else check_install(arguments)
    if problems is None:
        return SKIP
    for problem in problems:
        print("FAIL: " + problem)
    print("%s: %s" % (arguments.mode, "OK" if not problems else "%d problems" % len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
