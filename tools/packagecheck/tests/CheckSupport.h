// Helpers for the package check's tests: throw-away package folders and runs
// of the command line with its output captured.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "InfFixtures.h"
#include "PackageCheck.h"
#include "TempFolder.h"
#include "TestPki.h"

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

// Names a parameterised test after its case's `name`.
struct CaseName {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const
    {
        return info.param.name;
    }
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

// How an older (PKCS#9) countersignature is made.
struct Countersignature {
    std::string authority;  // the made certificate and key of its signer ("tsa")
    long long when;         // its signing time
    std::string stamped;  // the data whose digest it holds; empty: the signer's signature value, as it should
    bool bareDigest = false;  // signed as time-stamping services did until about 2013: SHA-1, the bare
                              // digest in the PKCS#1 block, no DigestInfo
    std::string signingKey;   // another made certificate's key to sign with; empty: its signer's own
};
// Adds it to the signer of the catalog file, and its signer's certificate to the catalog.
bool AddCountersignature(const std::string& catalog, const Countersignature& counter);

// osslsigncode's verdict on a signed file, against `certificate` (a PEM file)
// or, when empty, the system's certificate store: its exit code and output.
CheckRun OsslVerify(const std::string& file, const std::string& certificate);
// The digest osslsigncode computes of a PE image signed by `certificate`
// ("Calculated message digest"), upper-case hex.
std::string ReferenceDigest(const std::string& certificate, const std::string& signedFile);
// The PEM certificate of that common name among a catalog's certificates.
std::string CertificateFrom(const std::string& catalog, const std::string& commonName);
// Upper-case hex of raw bytes.
std::string HexUpper(const std::string& bytes);
// UTF-16LE text without a byte order mark, as catalogs hold names and OSAttr.
std::string Wide(const std::string& text);

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
