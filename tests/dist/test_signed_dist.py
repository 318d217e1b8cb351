#!/usr/bin/env python3
"""Makes a signed distribution and checks it.

Makes a throw-away code-signing certificate with openssl (a PKCS#12 file and
a password file) in a folder of its own under --work, runs MakeDist.cmake with
it as the dist target would with MERVO_SIGN_PKCS12 and
MERVO_SIGN_PASSWORD_FILE, and checks the zip with check_dist.py --signed-by:
every program verifies with osslsigncode against the certificate, the 32-bit
programs are this tree's images with only a signature added, and the stagers
still pass the PE checks. Then shows that the check is sharp and the signing
safe:
- the password appears nowhere in MakeDist's output,
- a program with one byte changed after signing is refused,
- a wrong password fails the build and leaves no zip,
- the time-stamp server URL reaches osslsigncode: one that nothing answers
  (a closed local port; there is no network) fails the signing.

Usage: test_signed_dist.py --cmake CMAKE --make-dist MakeDist.cmake --work DIR
                           <check_dist.py arguments> -- <MakeDist -D definitions>
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_dist  # noqa: E402

PASSWORD = "throw-away dist password"


def make_certificate(folder):
    key, certificate, pkcs12 = (os.path.join(folder, name) for name in ("signer.key", "signer.pem", "signer.p12"))
    password_file = os.path.join(folder, "password.txt")
    with open(password_file, "w") as f:
        f.write(PASSWORD + "\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/O=MERVO Test/CN=MERVO Test Code Signing",
                    "-addext", "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature",
                    "-keyout", key, "-out", certificate], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", certificate, "-out", pkcs12,
                    "-passout", "file:" + password_file], check=True, capture_output=True)
    return certificate, pkcs12, password_file


def make_dist(arguments, defines, zip_path, pkcs12, password_file, timestamp_url=""):
    command = [arguments.cmake] + defines + ["-DZIP=" + zip_path, "-DSIGN_PKCS12=" + pkcs12,
                                             "-DSIGN_PASSWORD_FILE=" + password_file,
                                             "-DSIGN_TIMESTAMP_URL=" + timestamp_url, "-P", arguments.make_dist]
    run = subprocess.run(command, capture_output=True, text=True)
    return run.returncode, run.stdout + run.stderr


def main():
    argv = sys.argv[1:]
    split = argv.index("--")
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--make-dist", required=True)
    parser.add_argument("--work", required=True)
    check_dist.add_arguments(parser)
    arguments = parser.parse_args(argv[:split])
    defines = argv[split + 1:]

    problems = []
    os.makedirs(arguments.work, exist_ok=True)
    folder = tempfile.mkdtemp(prefix="signed-", dir=arguments.work)
    try:
        certificate, pkcs12, password_file = make_certificate(folder)
        signed_zip = os.path.join(folder, "signed.zip")
        code, output = make_dist(arguments, defines, signed_zip, pkcs12, password_file)
        print(output)
        if code != 0:
            problems.append("signing MakeDist failed (%d)" % code)
        if PASSWORD in output:
            problems.append("the password appears in MakeDist's output")
        signed = argparse.Namespace(**dict(vars(arguments), zip=signed_zip, signed_by=certificate))
        failures = check_dist.check(signed) if code == 0 else []
        problems.extend("signed zip: " + failure for failure in failures)

        if code == 0:
            # One byte of a signed program changed: its signature no longer holds.
            with zipfile.ZipFile(signed_zip) as archive:
                entries = {info.filename: archive.read(info) for info in archive.infolist()}
            program = bytearray(entries["MERVODevCtl64.exe"])
            program[len(program) // 3] ^= 0x01
            entries["MERVODevCtl64.exe"] = bytes(program)
            tampered_zip = os.path.join(folder, "tampered.zip")
            with zipfile.ZipFile(tampered_zip, "w") as archive:
                for name, data in entries.items():
                    archive.writestr(name, data)
            tampered = check_dist.check(argparse.Namespace(**dict(vars(signed), zip=tampered_zip)))
            if not any("MERVODevCtl64.exe: its signature does not verify" in f for f in tampered):
                problems.append("a program changed after signing was not refused: %s" % tampered)
            # The unsigned zip's check refuses the signed one.
            unsigned = check_dist.check(argparse.Namespace(**dict(vars(arguments), zip=signed_zip, signed_by=None)))
            if not any("carries a certificate table but the zip is unsigned" in f for f in unsigned):
                problems.append("the unsigned check accepted signed programs: %s" % unsigned)

        wrong = os.path.join(folder, "wrong-password.txt")
        with open(wrong, "w") as f:
            f.write("not the password\n")
        wrong_zip = os.path.join(folder, "wrong.zip")
        code, output = make_dist(arguments, defines, wrong_zip, pkcs12, wrong)
        if code == 0 or os.path.exists(wrong_zip):
            problems.append("a wrong password made a zip (exit code %d)" % code)
        elif "signing MERVODriverStager.exe failed" not in output:
            problems.append("a wrong password failed without naming the program:\n" + output)

        unanswered_zip = os.path.join(folder, "unanswered.zip")
        code, output = make_dist(arguments, defines, unanswered_zip, pkcs12, password_file, "http://127.0.0.1:9/")
        if code == 0 or os.path.exists(unanswered_zip):
            problems.append("a time-stamp server that does not answer still made a zip:\n" + output)
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    for problem in problems:
        print("FAIL: " + problem)
    print("signed distribution: %s" % ("OK" if not problems else "%d problems" % len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
