// Helpers for the package check's tests: throw-away package folders and runs
// of the command line with its output captured.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "InfFixtures.h"
#include "PackageCheck.h"
#include "TempFolder.h"

// A package folder in the host's temporary folder, removed again at the end.
class TempPackage : public TempFolder {
public:
    TempPackage() : TempFolder("mervo-package") {}

    std::string File(const std::string& name) const { return path() + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;
    // Copies the files of `folder` (subfolders included) into this one, writable.
    void CopyFrom(const std::string& folder) const;
    // Stand-ins for the companion tool and its 64-bit build.
    void AddCompanionTool() const;
};

struct CheckRun {
    int exitCode;
    std::string output;
};

// Runs a shell command; its exit code and its output (stdout and stderr).
CheckRun RunCommand(const std::string& command);
std::string ReadFile(const std::string& path);
// `text` with its first occurrence of `from` replaced by `to` (a test failure
// when there is none).
std::string Replace(std::string text, const std::string& from, const std::string& to);

// A throw-away code-signing certificate (made with openssl in a folder of its
// own) and signing with osslsigncode.
class TestSigner {
public:
    TestSigner();
    const std::string& certificate() const { return certificate_; }  // PEM
    const std::string& key() const { return key_; }                  // PEM, no password
    const std::string& pkcs12() const { return pkcs12_; }
    const std::string& passwordFile() const { return passwordFile_; }
    // Signs `in` (a PE image or a catalog) into `out` with the hash `hash`; true when it worked.
    bool Sign(const std::string& in, const std::string& out, const std::string& hash = "sha256") const;

private:
    TempPackage folder_;
    std::string certificate_;
    std::string pkcs12_;
    std::string passwordFile_;
    std::string key_;
};

// A throw-away PKI made with openssl in a folder of its own: a root CA, the
// certificates it issues, and signing with osslsigncode, whose built-in
// time-stamp authority makes RFC 3161 tokens from files (no network).
class TestPki {
public:
    TestPki();
    std::string root() const { return folder_.File("root.pem"); }  // the --ca-bundle of its chains
    std::string Certificate(const std::string& name) const { return folder_.File(name + ".pem"); }
    std::string Key(const std::string& name) const { return folder_.File(name + ".key"); }
    // Issues `name` (CN `commonName`), valid from now for `days` days, with
    // these openssl extension lines; false when openssl failed.
    bool Issue(const std::string& name, const std::string& commonName, const std::string& extensions,
               int days) const;
    // Issues `name` with the whole subject `subject` ("/C=../CN=.."), by the
    // PKI's `issuer` (empty: self-signed), valid between two dates
    // (YYYYMMDDHHMMSSZ, past ones too: openssl ca), with these extension lines.
    bool IssueBetween(const std::string& name, const std::string& subject, const std::string& issuer,
                      const std::string& extensions, const std::string& from, const std::string& to) const;
    // Signs `in` into `out` as `signer`, with its chain; time-stamped by
    // `authority` at `stampTime` unless `authority` is empty.
    bool Sign(const std::string& signer, const std::string& in, const std::string& out,
              const std::string& authority = "", long long stampTime = 0,
              const std::string& cross = "") const;

private:
    TempPackage folder_;
};

// Adds an older (PKCS#9) countersignature by `authority` (its certificate and
// key, PEM files) at `when` to the signer of the catalog file, and the
// authority's certificate to the catalog. `stamped` is the data whose SHA-256
// the countersignature holds; empty: the signer's signature value, as it should.
bool AddCountersignature(const std::string& catalog, const std::string& certificate, const std::string& key,
                         long long when, const std::string& stamped = "");

// One signer for the whole test process (each test runs in a process of its own).
const TestSigner& SharedSigner();
// osslsigncode's verdict on a signed file, against `certificate` (a PEM file)
// or, when empty, the system's certificate store: its exit code and output.
CheckRun OsslVerify(const std::string& file, const std::string& certificate);
// The digest osslsigncode computes of a PE image it has signed
// ("Calculated message digest"), upper-case hex.
std::string ReferenceDigest(const TestSigner& signer, const std::string& signedFile);
// The PEM certificate of that common name among a catalog's certificates.
std::string CertificateFrom(const std::string& catalog, const std::string& commonName);
// Upper-case hex of raw bytes.
std::string HexUpper(const std::string& bytes);

// Runs MERVOPackageCheck with these arguments (the program name is added).
CheckRun RunCheck(const std::vector<std::string>& arguments);

// Runs the check on a host folder as the command line does, keeping the report.
PackageReport CheckFolder(const std::string& folder, const char* infArgument);
PackageReport CheckFolder(const std::string& folder, const char* infArgument, const CheckOptions& options);

// The codes of the warnings about the whole package, in order.
std::vector<std::string> WarningCodes(const PackageReport& report);
// The per-target warnings as "<target> <code>", in order.
std::vector<std::string> TargetWarnings(const PackageReport& report);

// Every file below `folder` with its bytes and modification time, to show
// that a check left the folder as it was.
std::map<std::string, std::string> FolderSnapshot(const std::string& folder);

// Parses the --json output and checks that the text output shows the same
// content, item by item (gtest failures on mismatch).
void ExpectJsonMatchesText(const std::string& json, const std::string& text);

// The typical INF with one driver file (mervousb.sys), in CR LF lines.
std::string GoodInf();
// The lines of a text joined with CR LF.
std::string CrLf(const std::vector<std::string>& lines);
