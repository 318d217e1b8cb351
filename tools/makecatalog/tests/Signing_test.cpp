// A made catalog signed with osslsigncode (the checker's test PKI): osslsigncode
// finds each member file in it, and the checker judges the package by it.
#include <gtest/gtest.h>

#include "CheckSupport.h"

namespace {

// The vendor package with a driver of its own (tic.inf and tic-bootloader.inf
// naming pololu.cat, the driver a PE image), its catalog made for `targets`
// and signed by the made vendor, time-stamped while the vendor was valid.
void MakeSignedPackage(const TempPackage& package, const std::string& targets)
{
    package.CopyFrom(PkiFile("packages/driver"));
    package.AddCompanionTool();
    CheckRun made = RunCommand(
        "cd '" + package.path() +
        "' && SOURCE_DATE_EPOCH=1704067200 '" MERVO_MAKECATALOG "' . tic.inf --targets " + targets);
    ASSERT_EQ(0, made.exitCode) << made.output;
    CheckRun signedRun =
        RunCommand("cd '" + package.path() + "' && cat '" + PkiFile("vendor.pem") + "' '" +
                   PkiFile("root.pem") + "' > certs.pem && osslsigncode sign -certs certs.pem -key '" +
                   PkiFile("vendor.key") + "' -h sha256 -TSA-certs '" + PkiFile("tsa.chain") +
                   "' -TSA-key '" + PkiFile("tsa.key") + "' -TSA-time " + std::to_string(kStampInTime) +
                   " -in pololu.cat -out signed.cat && mv signed.cat pololu.cat && rm certs.pem");
    ASSERT_EQ(0, signedRun.exitCode) << signedRun.output;
}

// osslsigncode verifies each file of the package against the signed catalog,
// in both member-list forms, and refuses a changed one.
TEST(SignedCatalog, OsslsigncodeFindsEveryMember)
{
    for (const char* targets : {"7-x86,7-x64,10-x64", "10-x64,11-x64"}) {
        SCOPED_TRACE(targets);
        TempPackage package;
        MakeSignedPackage(package, targets);
        for (const std::string file : {"tic.inf", "tic-bootloader.inf", kDriver}) {
            CheckRun run = RunCommand("osslsigncode verify -catalog '" + package.File("pololu.cat") +
                                      "' -in '" + package.File(file) + "' -CAfile '" + PkiFile("root.pem") +
                                      "' -TSA-CAfile '" + PkiFile("root.pem") + "' -ignore-crl -time " +
                                      std::to_string(kVendorValid) + " 2>&1");
            EXPECT_EQ(0, run.exitCode) << file << "\n" << run.output;
        }
        package.Write(kDriver, ReadFile(package.File(kDriver)) + "x");
        CheckRun changed =
            RunCommand("osslsigncode verify -catalog '" + package.File("pololu.cat") + "' -in '" +
                       package.File(kDriver) + "' -CAfile '" + PkiFile("root.pem") + "' -ignore-crl -time " +
                       std::to_string(kVendorValid) + " 2>&1");
        EXPECT_NE(0, changed.exitCode) << changed.output;
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

// The checker on the made and signed catalog: the vendor's signature
// prompts, the vendor in TrustedPublisher stages silently, and a file changed
// after signing is refused.
TEST(SignedCatalog, CheckerJudgesTheMadeCatalog)
{
    TempPackage package;
    MakeSignedPackage(package, "7-x86,7-x64,10-x64");
    CheckOptions options = DefaultCheckOptions();
    options.trust.caBundle = PkiFile("root.pem");
    options.trust.now = kVendorValid;
    PackageReport vendor = CheckFolder(package.path(), "tic.inf", options);
    ASSERT_EQ(TRUST_VENDOR, vendor.catalog.trust.kind) << vendor.catalog.trust.why;
    EXPECT_EQ("prompt 0x800B0109", Staging(vendor, "10-x64"));
    EXPECT_EQ("prompt 0x800B0109", Staging(vendor, "7-x86"));

    options.trust.trustedPublisher = PkiFile("vendor.pem");
    PackageReport trusted = CheckFolder(package.path(), "tic.inf", options);
    EXPECT_EQ("silent", Staging(trusted, "10-x64"));
    EXPECT_EQ("silent", Staging(trusted, "7-x86"));

    package.Write("tic.inf", package.Read("tic.inf") + "; changed\r\n");
    PackageReport changed = CheckFolder(package.path(), "tic.inf", options);
    EXPECT_EQ("refused 0xE000024B", Staging(changed, "10-x64"));
}

}  // namespace
