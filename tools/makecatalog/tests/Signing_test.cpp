// Made catalogs signed with osslsigncode (the checker's test PKI): osslsigncode
// finds each member file in them, and the checker judges the package by them.
#include <gtest/gtest.h>

#include <cstdio>

#include "CheckSupport.h"

namespace {

const std::string kArgyll = std::string(MERVO_SIGNED_PACKAGES) + "/argyll-libusb0";

// A libusb0 package (ArgyllCMS.inf naming ArgyllCMS.cat for x86 and
// ArgyllCMS_x64.cat for x64; each libusb0.sys a PE image) with its catalogs
// made for `targets` and signed by the made vendor.
void MakeSignedPackage(const TempPackage& package, const std::string& targets)
{
    package.CopyFrom(kArgyll);
    package.AddCompanionTool();
    for (const char* catalog : {"ArgyllCMS.cat", "ArgyllCMS_x64.cat"}) {
        std::remove(package.File(catalog).c_str());
    }
    CheckRun made = RunCommand("SOURCE_DATE_EPOCH=1704067200 '" MERVO_MAKECATALOG "' '" + package.path() +
                               "' ArgyllCMS.inf --targets " + targets);
    ASSERT_EQ(0, made.exitCode) << made.output;
    for (const char* catalog : {"ArgyllCMS.cat", "ArgyllCMS_x64.cat"}) {
        if (package.Read(catalog).empty()) {
            continue;
        }
        CheckRun signedRun =
            RunCommand("cd '" + package.path() + "' && cat '" + PkiFile("vendor.pem") + "' '" +
                       PkiFile("root.pem") + "' > certs.pem && osslsigncode sign -certs certs.pem -key '" +
                       PkiFile("vendor.key") + "' -h sha256 -in " + catalog +
                       " -out signed.cat && mv signed.cat " + catalog + " && rm certs.pem");
        ASSERT_EQ(0, signedRun.exitCode) << signedRun.output;
    }
}

CheckRun VerifyInCatalog(const TempPackage& package, const std::string& catalog, const std::string& file)
{
    return RunCommand("osslsigncode verify -catalog '" + package.File(catalog) + "' -in '" +
                      package.File(file) + "' -CAfile '" + PkiFile("root.pem") + "' -ignore-crl -time " +
                      std::to_string(kVendorValid) + " 2>&1");
}

// osslsigncode verifies the signed catalog and finds each PE image of the
// package in it, in both member-list forms (it takes no INF: not a file type
// it hashes), and finds neither a changed image nor the ia64 build that no
// section installs.
TEST(SignedCatalog, OsslsigncodeFindsEveryMember)
{
    for (const char* targets : {"XP_X64,7-x64", "10-x64,11-x64"}) {
        SCOPED_TRACE(targets);
        TempPackage package;
        MakeSignedPackage(package, targets);
        for (const char* file : {"bin/x86/libusb0.sys", "bin/amd64/libusb0.sys"}) {
            CheckRun run = VerifyInCatalog(package, "ArgyllCMS_x64.cat", file);
            EXPECT_EQ(0, run.exitCode) << file << "\n" << run.output;
        }
        EXPECT_NE(0, VerifyInCatalog(package, "ArgyllCMS_x64.cat", "bin/ia64/libusb0.sys").exitCode);
        package.Write("bin/amd64/libusb0.sys", package.Read("bin/amd64/libusb0.sys") + "x");
        EXPECT_NE(0, VerifyInCatalog(package, "ArgyllCMS_x64.cat", "bin/amd64/libusb0.sys").exitCode);
    }
}

std::string Staging(const PackageReport& report, const std::string& target)
{
    for (const TargetVerdict& verdict : report.targets) {
        if (verdict.target == target) {
            return std::string(StagingName(verdict.staging)) +
                   (verdict.code != 0 ? " " + CodeText(verdict.code) : "");
        }
    }
    return "no verdict";
}

// The checker on the made and signed catalogs (ArgyllCMS.cat for 7-x86,
// ArgyllCMS_x64.cat for the x64 targets): the vendor's signature prompts, the
// vendor in TrustedPublisher stages silently, and a file changed after
// signing fails the targets that install it.
TEST(SignedCatalog, CheckerJudgesTheMadeCatalog)
{
    TempPackage package;
    MakeSignedPackage(package, "7-x86,7-x64,10-x64");
    CheckOptions options = DefaultCheckOptions();
    options.targets = {"7-x86", "7-x64", "10-x64"};
    options.trust.caBundle = PkiFile("root.pem");
    options.trust.now = kVendorValid;
    PackageReport vendor = CheckFolder(package.path(), "ArgyllCMS.inf", options);
    ASSERT_EQ(TRUST_VENDOR, vendor.catalog.trust.kind) << vendor.catalog.trust.why;
    EXPECT_EQ("prompt", Staging(vendor, "10-x64"));
    EXPECT_EQ("prompt", Staging(vendor, "7-x86"));
    for (const TargetInstallReport& install : vendor.targetInstalls) {
        ASSERT_NE(nullptr, install.catalog) << install.target;
        EXPECT_EQ(install.target == "7-x86" ? "ArgyllCMS.cat" : "ArgyllCMS_x64.cat", install.catalog->name)
            << install.target;
    }

    options.trust.trustedPublisher = PkiFile("vendor.pem");
    PackageReport trusted = CheckFolder(package.path(), "ArgyllCMS.inf", options);
    EXPECT_EQ("silent", Staging(trusted, "10-x64"));
    EXPECT_EQ("silent", Staging(trusted, "7-x86"));

    // A file changed after signing counts for the targets that install it,
    // each judged by its own catalog: Windows 8 and later refuse it, 7 warns.
    struct Changed {
        const char* file;
        const char* on7x86;
        const char* on7x64;
        const char* on10x64;
    };
    for (const Changed& row : {
             Changed{"ArgyllCMS.inf", "warn", "warn", "refused 0xE000024B"},
             Changed{"bin/amd64/libusb0.sys", "silent", "warn", "refused 0xE000024B"},
             Changed{"bin/x86/libusb0.sys", "warn", "silent", "silent"},
         }) {
        SCOPED_TRACE(row.file);
        TempPackage changed;
        changed.CopyFrom(package.path());
        changed.Write(row.file, changed.Read(row.file) + "x");
        PackageReport report = CheckFolder(changed.path(), "ArgyllCMS.inf", options);
        EXPECT_EQ(row.on7x86, Staging(report, "7-x86"));
        EXPECT_EQ(row.on7x64, Staging(report, "7-x64"));
        EXPECT_EQ(row.on10x64, Staging(report, "10-x64"));
    }
}

}  // namespace
