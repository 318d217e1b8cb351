// The trust facts end to end: on the real WHQL and vendor packages, and on
// catalogs signed by throw-away CAs (made once per run, TestPki.h). The
// signing policy's grid has its own table test; here each case pins the
// kind, the chain's failure and the time stamp, and one verdict or two.
#include <gtest/gtest.h>

#include <functional>

#include "CheckParts.h"
#include "CheckSupport.h"

namespace {

const std::string kPololu = MERVO_SIGNED_PACKAGES "/pololu-tic";
const std::string kTidepool = MERVO_SIGNED_PACKAGES "/tidepool-webusb";
// Before the April 2026 policy: judged then, cross-signed drivers follow Windows 10's rules on 11.
const long long kBeforeApril2026 = 1767225600;  // 2026-01-01

// A target's verdict: "[uncovered ][<algorithms> algorithms ]staging[ publisher][ code][*]",
// then "; <file> loads|NOT LOADED[*]" for each of its drivers.
std::string Summary(const PackageReport& report, const std::string& target)
{
    for (const TargetVerdict& verdict : report.targets) {
        if (verdict.target != target) {
            continue;
        }
        bool supported = verdict.algorithms == AlgorithmSupport::Supported;
        std::string text =
            (verdict.covered ? "" : "uncovered ") +
            (supported ? "" : AlgorithmSupportName(verdict.algorithms) + std::string(" algorithms ")) +
            StagingName(verdict.staging) + (verdict.publisher.empty() ? "" : " " + verdict.publisher) +
            (verdict.code == 0 ? "" : " " + CodeText(verdict.code)) + (verdict.unconfirmed ? "*" : "");
        for (const DriverVerdict& driver : verdict.drivers) {
            text += "; " + driver.file + (driver.loads ? " loads" : " NOT LOADED") +
                    (driver.unconfirmed ? "*" : "");
        }
        return text;
    }
    return "(no verdict)";
}

using Verdicts = std::vector<std::pair<std::string, std::string>>;

void ExpectVerdicts(const PackageReport& report, const Verdicts& expected)
{
    for (const auto& [target, summary] : expected) {
        EXPECT_EQ(summary, Summary(report, target)) << target << "\n" << FormatReportText(report);
    }
}

struct RealCase {
    const char* name;
    std::string folder;
    const char* inf;
    TrustKind kind;
    const char* root;  // the chain's last subject ends in this
    const char* stampTime;
    Verdicts verdicts;
};

// clang-format off
const RealCase kRealCases[] = {
    {"pololu_vendor", kPololu, "tic.inf", TRUST_VENDOR, "CN=USERTrust RSA Certification Authority",
     "2019-08-14T21:33:22Z",
     {{"2000-x86", "uncovered unsupported algorithms warn*"}, {"xp-x86", "unconfirmed algorithms warn*"},
      {"vista-x64", "unconfirmed algorithms prompt Pololu Corporation*"}, {"7-x64", "prompt Pololu Corporation"},
      {"10-x64", "prompt Pololu Corporation"}, {"11-arm64", "refused*"}}},
    {"tidepool_whql", kTidepool, "webusb.inf", TRUST_WHQL, "CN=Microsoft Root Certificate Authority 2010",
     "2024-09-24T09:00:42Z",
     // SHA-256 member hashes: not confirmed on Windows 7.
     {{"7-x64", "uncovered unconfirmed algorithms warn*"}, {"8.1-x64", "uncovered refused 0xE0000244*"},
      {"10-x86", "silent"}, {"11-x64", "silent"}, {"10-arm64", "silent"}}},
};
// clang-format on

class RealPackageTest : public testing::TestWithParam<RealCase> {};

TEST_P(RealPackageTest, GetsItsKindChainAndVerdicts)
{
    const RealCase& c = GetParam();
    PackageReport report = CheckFolder(c.folder, c.inf);
    const CatalogTrust& trust = report.catalog.trust;
    EXPECT_EQ(c.kind, trust.kind) << trust.why;
    ASSERT_FALSE(trust.chain.empty());
    EXPECT_EQ(trust.chain.back().substr(trust.chain.back().rfind("/") + 1), c.root);
    EXPECT_TRUE(trust.timeStamp.verified) << trust.timeStamp.problem;
    EXPECT_EQ(c.stampTime, trust.timeStamp.time);
    EXPECT_EQ(CheckedAt::TimeStamp, trust.checkedAtSource);
    EXPECT_EQ(WindowsTargets().size(), report.targets.size());
    ExpectVerdicts(report, c.verdicts);
    for (const TargetVerdict& verdict : report.targets) {
        EXPECT_TRUE(verdict.drivers.empty()) << "INF-only packages load the inbox driver";
    }
}

INSTANTIATE_TEST_SUITE_P(Real, RealPackageTest, testing::ValuesIn(kRealCases), CaseName());

// The Microsoft roots alone do not hold a vendor chain, and the CA bundle
// alone does not hold a WHQL chain: the two anchor sets stay apart.
TEST(RealPackage, EachChainNeedsItsOwnAnchors)
{
    CheckOptions options = DefaultCheckOptions();
    TempPackage empty;
    const std::string roots =
        std::string(MERVO_PACKAGECHECK_TRUST_SOURCE_DIR) + "/" + kTrustRootsFolder + "/";
    empty.Write(std::string(kTrustRootsFolder) + "/none.pem",
                ReadFile(roots + "microsoft-root-certificate-authority-2011.pem"));
    options.trust.trustDir = empty.path();
    PackageReport whql = CheckFolder(kTidepool, "webusb.inf", options);
    EXPECT_EQ(TRUST_UNTRUSTED, whql.catalog.trust.kind);
    EXPECT_EQ(ChainFailure::NoIssuer, whql.catalog.trust.failure) << whql.catalog.trust.why;

    options = DefaultCheckOptions();
    options.trust.caBundle = roots + "microsoft-root-certificate-authority-2010.pem";
    PackageReport vendor = CheckFolder(kPololu, "tic.inf", options);
    EXPECT_EQ(TRUST_UNTRUSTED, vendor.catalog.trust.kind);
    EXPECT_FALSE(vendor.catalog.trust.timeStamp.verified);  // its authority chains to USERTrust too
}

// The system's CA bundle may be missing (no package of CAs installed): the
// check still runs, and says that vendor chains had no bundle to end in. A
// bundle named with --ca-bundle must be readable.
TEST(RealPackage, AMissingSystemBundleLeavesVendorChainsWithoutAnchor)
{
    CheckOptions options = DefaultCheckOptions();
    TempPackage empty;
    options.trust.caBundle = empty.File("ca-certificates.crt");
    std::string error;
    EXPECT_EQ(0, CheckTrustOptions(options.trust, &error)) << error;
    PackageReport vendor = CheckFolder(kPololu, "tic.inf", options);
    EXPECT_EQ(TRUST_UNTRUSTED, vendor.catalog.trust.kind);
    EXPECT_EQ("", vendor.catalog.trust.caBundle);
    EXPECT_NE(std::string::npos,
              vendor.catalog.trust.why.find("a CA bundle (" + options.trust.caBundle + " cannot be read)"))
        << vendor.catalog.trust.why;
    EXPECT_EQ(TRUST_WHQL, CheckFolder(kTidepool, "webusb.inf", options).catalog.trust.kind);

    options.trust.caBundleGiven = true;
    EXPECT_EQ(1, CheckTrustOptions(options.trust, &error));
}

// The time-stamp authority's signature is the catalog's last bytes.
void BreakTimeStamp(const TempPackage& p)
{
    std::string der = p.Read("pololu.cat");
    der[der.size() - 10] = static_cast<char>(der[der.size() - 10] ^ 0x01);
    p.Write("pololu.cat", der);
}

// An older countersignature by the made authority "tsa" at `when`.
std::function<void(const TempPackage&)> Countersign(long long when, const std::string& stamped = "",
                                                    bool bareDigest = false,
                                                    const std::string& signingKey = "")
{
    Countersignature counter{"tsa", when, stamped, bareDigest, signingKey};
    return
        [counter](const TempPackage& p) { EXPECT_TRUE(AddCountersignature(p.File("pololu.cat"), counter)); };
}

// A made catalog in place of the real package's, judged at `now` against a
// made root (or the system's bundle), with a made trusted publisher.
struct MadeCase {
    const char* name;
    const char* catalog;                             // catalogs/<catalog>.cat
    std::function<void(const TempPackage&)> change;  // after signing; null: none
    long long now;
    const char* bundle;  // the made certificate that is the CA bundle; "": the system's
    const char* trustedPublisher;
    TrustKind kind;
    ChainFailure failure;
    const char* why;  // in the kind's reason
    TimeStampKind stamp;
    const char* verdict;             // on 10-x64
    std::vector<std::string> codes;  // package-level warnings
};

const char kVendor[] = "prompt MERVO Test Vendor";
const TimeStampKind kNone = TimeStampKind::None;
const TimeStampKind kToken = TimeStampKind::Rfc3161;
const TimeStampKind kCounter = TimeStampKind::Countersignature;
const ChainFailure kHolds = ChainFailure::None;

// clang-format off
const MadeCase kMadeCases[] = {
    {"self_signed", "pololu-self", nullptr, kVendorValid, "root", "", TRUST_UNTRUSTED, ChainFailure::SelfSigned,
     "self-signed", kNone, "refused 0x800B0109*", {"CATALOG_UNTRUSTED"}},
    {"vendor_ca_in_the_bundle", "pololu-vendor", nullptr, kVendorValid, "root", "", TRUST_VENDOR, kHolds, "", kNone,
     kVendor, {}},
    // Debian's bundle is for TLS: the cause names the way to Windows' own list.
    {"vendor_ca_not_in_the_bundle", "pololu-vendor", nullptr, kVendorValid, "", "", TRUST_UNTRUSTED,
     ChainFailure::SelfSigned, "name a bundle that holds it with --ca-bundle", kNone, "refused 0x800B0109*",
     {"CATALOG_UNTRUSTED"}},
    {"time_stamped_while_valid", "pololu-vendor-stamped", nullptr, kVendorValid, "root", "", TRUST_VENDOR, kHolds, "",
     kToken, kVendor, {}},
    {"expired_at_signing_time", "pololu-vendor-stamped-late", nullptr, kVendorValid, "root", "", TRUST_UNTRUSTED,
     ChainFailure::Expired, "expired at signing time", kToken, "refused 0x800B0101*", {"CATALOG_UNTRUSTED"}},
    {"expired_now_without_time_stamp", "pololu-vendor", nullptr, kVendorExpired, "root", "", TRUST_UNTRUSTED,
     ChainFailure::Expired, "expired: without a valid time stamp", kNone, "refused 0x800B0101*",
     {"CATALOG_UNTRUSTED"}},
    {"time_stamp_outlives_the_signer", "pololu-vendor-stamped", nullptr, kVendorExpired, "root", "", TRUST_VENDOR,
     kHolds, "", kToken, kVendor, {}},
    {"no_code_signing_eku", "pololu-server", nullptr, kVendorValid, "root", "", TRUST_UNTRUSTED,
     ChainFailure::WrongUsage, "no code-signing EKU", kNone, "refused 0x800B0110*", {"CATALOG_UNTRUSTED"}},
    {"broken_time_stamp", "pololu-vendor-stamped", BreakTimeStamp, kVendorValid, "root", "", TRUST_VENDOR, kHolds, "",
     kToken, kVendor, {"CATALOG_TIMESTAMP_INVALID"}},
    {"broken_time_stamp_after_expiry", "pololu-vendor-stamped", BreakTimeStamp, kVendorExpired, "root", "",
     TRUST_UNTRUSTED, ChainFailure::Expired, "expired: without a valid time stamp", kToken, "refused 0x800B0101*",
     {"CATALOG_TIMESTAMP_INVALID", "CATALOG_UNTRUSTED"}},
    {"trusted_publisher", "pololu-vendor", nullptr, kVendorValid, "root", "vendor", TRUST_VENDOR, kHolds, "", kNone,
     "silent", {}},
    {"trusted_publisher_a_ca", "pololu-vendor", nullptr, kVendorValid, "root", "root", TRUST_VENDOR, kHolds, "",
     kNone, kVendor, {"TRUSTED_PUBLISHER_NOT_SIGNER"}},
    {"countersigned_while_valid", "pololu-vendor", Countersign(kStampInTime), kVendorExpired, "root", "",
     TRUST_VENDOR, kHolds, "", kCounter, kVendor, {}},
    {"countersigned_after_expiry", "pololu-vendor", Countersign(kStampLate), kVendorValid, "root", "",
     TRUST_UNTRUSTED, ChainFailure::Expired, "expired at signing time", kCounter, "refused 0x800B0101*",
     {"CATALOG_UNTRUSTED"}},
    {"countersignature_over_other_data", "pololu-vendor", Countersign(kStampInTime, "other data"),
     kVendorExpired, "root", "", TRUST_UNTRUSTED, ChainFailure::Expired, "expired: without a valid time stamp",
     kCounter, "refused 0x800B0101*", {"CATALOG_TIMESTAMP_INVALID", "CATALOG_UNTRUSTED"}},
    // The older services' form: a PKCS#1 v1.5 signature over the bare SHA-1, no DigestInfo.
    {"legacy_countersignature", "pololu-vendor", Countersign(kStampInTime, "", true), kVendorExpired, "root",
     "", TRUST_VENDOR, kHolds, "", kCounter, kVendor, {}},
    {"legacy_countersignature_by_another_key", "pololu-vendor", Countersign(kStampInTime, "", true, "vendor"),
     kVendorExpired, "root", "", TRUST_UNTRUSTED, ChainFailure::Expired, "expired: without a valid time stamp",
     kCounter, "refused 0x800B0101*", {"CATALOG_TIMESTAMP_INVALID", "CATALOG_UNTRUSTED"}},
};
// clang-format on

class MadeCatalogTest : public testing::TestWithParam<MadeCase> {};

TEST_P(MadeCatalogTest, GetsItsKindAndVerdicts)
{
    const MadeCase& c = GetParam();
    TempPackage package;
    package.CopyFrom(kPololu);
    package.AddCompanionTool();
    package.Write("pololu.cat", ReadFile(PkiFile(std::string("catalogs/") + c.catalog + ".cat")));
    if (c.change) {
        c.change(package);
    }
    CheckOptions options = DefaultCheckOptions();
    options.trust.now = c.now;
    options.trust.caBundle =
        *c.bundle == '\0' ? options.trust.caBundle : PkiFile(std::string(c.bundle) + ".pem");
    options.trust.trustedPublisher =
        *c.trustedPublisher == '\0' ? "" : PkiFile(std::string(c.trustedPublisher) + ".pem");

    PackageReport report = CheckFolder(package.path(), "tic.inf", options);
    const CatalogTrust& trust = report.catalog.trust;
    EXPECT_EQ(c.kind, trust.kind) << trust.why;
    EXPECT_EQ(c.failure, trust.failure) << trust.why;
    EXPECT_NE(std::string::npos, trust.why.find(c.why)) << trust.why;
    EXPECT_EQ(c.stamp, trust.timeStamp.kind);
    ExpectVerdicts(report, {{"10-x64", c.verdict}});
    EXPECT_EQ(c.codes, WarningCodes(report));
}

INSTANTIATE_TEST_SUITE_P(Made, MadeCatalogTest, testing::ValuesIn(kMadeCases), CaseName());

// The vendor package with a driver of its own (packages/driver), its catalog
// signed by a made signer, judged at `now`.
PackageReport CheckDriverPackage(const std::string& catalog, const std::string& bundle, long long now,
                                 const TempPackage& package)
{
    package.CopyFrom(PkiFile("packages/driver"));
    package.AddCompanionTool();
    package.Write("pololu.cat", ReadFile(PkiFile("catalogs/" + catalog + ".cat")));
    CheckOptions options = DefaultCheckOptions();
    options.trust.caBundle = PkiFile(bundle + ".pem");
    options.trust.now = now;
    return CheckFolder(package.path(), "tic.inf", options);
}

const std::string kLoads = std::string("; ") + kDriver + " loads";
const std::string kNotLoaded = std::string("; ") + kDriver + " NOT LOADED";

TEST(OwnDriver, VendorSignedIsNotLoadedBy64BitKernels)
{
    TempPackage package;
    PackageReport report = CheckDriverPackage("driver-vendor", "root", kVendorValid, package);
    ASSERT_EQ(TRUST_VENDOR, report.catalog.trust.kind) << report.catalog.trust.why;
    std::string prompt = "prompt MERVO Test Vendor";
    ExpectVerdicts(report, {{"7-x86", prompt + kLoads},
                            {"7-x64", prompt + kNotLoaded},
                            {"8-x86", prompt + kLoads + "*"},
                            {"10-x64", prompt + kNotLoaded},
                            {"10-arm64", "refused*" + kNotLoaded}});
    std::vector<std::string> targetWarnings = TargetWarnings(report);
    EXPECT_NE(std::find(targetWarnings.begin(), targetWarnings.end(), "10-x64 DRIVER_NOT_LOADED"),
              targetWarnings.end());
    // Not staged, so not a load warning: the refusal says it.
    EXPECT_EQ(std::find(targetWarnings.begin(), targetWarnings.end(), "10-arm64 DRIVER_NOT_LOADED"),
              targetWarnings.end());

    // The same driver changed after signing: no member holds its hash.
    package.Write(kDriver, ReadFile(MERVO_PE_SAMPLES "/sample32.exe") + "x");
    CheckOptions options = report.options;
    PackageReport changed = CheckFolder(package.path(), "tic.inf", options);
    ExpectVerdicts(changed, {{"7-x64", prompt + kNotLoaded}, {"7-x86", prompt + kLoads}});
}

// Cross-signing, with the real cross-certificate embedded: it changes only
// the load verdicts. The signature is SHA-256, which 64-bit Windows 7 loads
// only with KB3033929.
struct CrossCase {
    const char* name;
    const char* catalog;
    const char* bundle;
    const char* crossCertificate;  // recognised file; "" none
    Verdicts verdicts;
};

// clang-format off
const CrossCase kCrossCases[] = {
    // Issued before 2015-07-29: the disputed exception of 10 1607+.
    {"issued_before_the_cutoff", "driver-2015", "digicert", kCrossFile,
     {{"vista-x64", "unconfirmed algorithms " + std::string(kVendor) + "*" + kLoads + "*"}, {"7-x64", kVendor + kNotLoaded}, {"8.1-x64", kVendor + kLoads},
      {"10-x64", kVendor + kLoads + "*"}, {"11-x64", kVendor + kLoads + "*"}}},
    {"issued_after_the_cutoff", "driver-2016", "digicert", kCrossFile,
     {{"8.1-x64", kVendor + kLoads}, {"10-x64", kVendor + kNotLoaded}, {"11-x64", kVendor + kNotLoaded}}},
    // Time-stamped after the cross-certificate expired (2021-04-15).
    {"stamped_after_the_cross_certificate", "driver-2020", "digicert", "",
     {{"8.1-x64", kVendor + kNotLoaded}, {"7-x86", kVendor + kLoads}}},
    // Signer -> CA -> a root the catalog carries as issued by the cross-signed
    // root (the bundle holds its self-signed form) -> the cross-certificate.
    {"cross_certificate_above_a_cross_signed_root", "driver-g2", "rootG2", kCrossFile,
     {{"8.1-x64", kVendor + kLoads}, {"10-x64", kVendor + kLoads + "*"}}},
};
// clang-format on

class CrossSigningTest : public testing::TestWithParam<CrossCase> {};

TEST_P(CrossSigningTest, ChangesOnlyTheLoadVerdicts)
{
    const CrossCase& c = GetParam();
    TempPackage package;
    PackageReport report = CheckDriverPackage(c.catalog, c.bundle, kBeforeApril2026, package);
    const CatalogTrust& trust = report.catalog.trust;
    ASSERT_EQ(TRUST_VENDOR, trust.kind) << trust.why;
    EXPECT_TRUE(trust.timeStamp.verified) << trust.timeStamp.problem;
    EXPECT_EQ(c.crossCertificate, trust.crossCertificate) << trust.crossProblem;
    EXPECT_EQ(*c.crossCertificate == '\0', !trust.crossProblem.empty()) << trust.crossProblem;
    ExpectVerdicts(report, c.verdicts);
}

INSTANTIATE_TEST_SUITE_P(Cross, CrossSigningTest, testing::ValuesIn(kCrossCases), CaseName());

// A certificate that claims Microsoft Code Verification Root as its issuer but
// is none of Microsoft's cross-certificates does not count.
TEST(CrossSigning, AnUnknownCrossCertificateIsSuspicious)
{
    TempPackage package;
    package.CopyFrom(kPololu);
    package.Write("pololu.cat", ReadFile(PkiFile("catalogs/pololu-fake-cross.cat")));
    CheckOptions options = DefaultCheckOptions();
    options.trust.caBundle = PkiFile("root.pem");
    options.trust.now = kVendorValid;
    const CatalogTrust trust = CheckFolder(package.path(), "tic.inf", options).catalog.trust;
    EXPECT_EQ(TRUST_VENDOR, trust.kind) << trust.why;
    EXPECT_EQ("", trust.crossCertificate);
    EXPECT_NE(std::string::npos, trust.crossProblem.find("is none of Microsoft's cross-certificates"))
        << trust.crossProblem;
}

// --require silent holds only where every chosen target stages silently for
// sure and loads every driver.
TEST(RequireSilent, GatesOnEveryChosenTarget)
{
    struct Case {
        std::string folder;
        const char* inf;
        std::vector<std::string> targets;
        int exitCode;
    };
    const Case cases[] = {
        {kTidepool, "webusb.inf", {"10-x64", "11-x64"}, CHECK_WARNINGS},  // warnings about its INF
        {kTidepool, "webusb.inf", {"10-x64", "8.1-x64"}, CHECK_NOT_SILENT},
        {kTidepool, "webusb.inf", {}, CHECK_NOT_SILENT},
        {kPololu, "tic.inf", {"10-x64"}, CHECK_NOT_SILENT},
    };
    for (const Case& c : cases) {
        CheckOptions options = DefaultCheckOptions();
        options.targets = c.targets;
        options.requireSilent = true;
        PackageReport report = CheckFolder(c.folder, c.inf, options);
        EXPECT_EQ(c.exitCode, report.exitCode) << c.folder << " " << c.targets.size();
        EXPECT_EQ(c.targets.empty() ? WindowsTargets().size() : c.targets.size(), report.targets.size());
    }
}

}  // namespace
