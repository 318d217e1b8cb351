// The trust verdicts per target: on the real WHQL and vendor packages, and on
// catalogs signed at test time by throw-away CAs (osslsigncode, with its
// built-in time-stamp authority for RFC 3161 tokens).
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>

#include "CheckParts.h"
#include "CheckSupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kPololu = MERVO_SIGNED_PACKAGES "/pololu-tic";
const std::string kTidepool = MERVO_SIGNED_PACKAGES "/tidepool-webusb";
const long long kNoStamp = -1;
const long long kDay = 24 * 60 * 60;

// A target's verdict in one word or three: "[uncovered ]staging[ publisher][ code][*]".
std::string Summary(const PackageReport& report, const std::string& target)
{
    for (const TargetVerdict& verdict : report.targets) {
        if (verdict.target == target) {
            return (verdict.covered ? "" : "uncovered ") + verdict.staging +
                   (verdict.publisher.empty() ? "" : " " + verdict.publisher) +
                   (verdict.code.empty() ? "" : " " + verdict.code) + (verdict.unconfirmed ? "*" : "");
        }
    }
    return "(no verdict)";
}

// "<file> loads|NOT LOADED[*]" for each driver of a target.
std::vector<std::string> Drivers(const PackageReport& report, const std::string& target)
{
    std::vector<std::string> drivers;
    for (const TargetVerdict& verdict : report.targets) {
        for (const DriverVerdict& driver :
             verdict.target == target ? verdict.drivers : std::vector<DriverVerdict>()) {
            drivers.push_back(driver.file + (driver.loads ? " loads" : " NOT LOADED") +
                              (driver.unconfirmed ? "*" : ""));
        }
    }
    return drivers;
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
    const char* kind;
    const char* root;  // the chain's last subject ends in this
    const char* stampTime;
    Verdicts verdicts;
};

const char kPololuPrompt[] = "prompt Pololu Corporation";

// clang-format off
const RealCase kRealCases[] = {
    {"pololu_vendor", kPololu, "tic.inf", "vendor", "CN=USERTrust RSA Certification Authority", "2019-08-14T21:33:22Z",
     {{"2000-x86", "uncovered prompt*"}, {"xp-x86", std::string(kPololuPrompt) + "*"}, {"2003-x64", "uncovered prompt*"},
      {"vista-x86", std::string(kPololuPrompt) + "*"}, {"vista-x64", std::string(kPololuPrompt) + "*"},
      {"7-x86", kPololuPrompt}, {"7-x64", kPololuPrompt}, {"8-x64", kPololuPrompt}, {"8.1-x86", kPololuPrompt},
      {"10-x86", kPololuPrompt}, {"10-x64", kPololuPrompt}, {"11-x64", kPololuPrompt}}},
    {"tidepool_whql", kTidepool, "webusb.inf", "whql", "CN=Microsoft Root Certificate Authority 2010",
     "2024-09-24T09:00:42Z",
     {{"xp-x86", "uncovered prompt*"}, {"7-x86", "uncovered prompt*"}, {"7-x64", "uncovered prompt*"},
      {"8.1-x86", "uncovered prompt*"}, {"8.1-x64", "uncovered refused 0xE0000244*"}, {"10-x86", "silent"},
      {"10-x64", "silent"}, {"11-x64", "silent"}}},
};
// clang-format on

class RealPackageTest : public testing::TestWithParam<RealCase> {};

TEST_P(RealPackageTest, GetsItsKindChainAndVerdicts)
{
    const RealCase& c = GetParam();
    PackageReport report = CheckFolder(c.folder, c.inf);
    const CatalogTrust& trust = report.catalog.trust;
    EXPECT_STREQ(c.kind, TrustKindName(trust.kind)) << trust.why;
    ASSERT_FALSE(trust.chain.empty());
    EXPECT_EQ(trust.chain.back().substr(trust.chain.back().rfind("/") + 1), c.root);
    EXPECT_TRUE(trust.timeStamp.verified) << trust.timeStamp.problem;
    EXPECT_EQ(c.stampTime, trust.timeStamp.time);
    EXPECT_EQ("time stamp", trust.checkedAtSource);
    EXPECT_EQ(16u, report.targets.size());
    ExpectVerdicts(report, c.verdicts);
    for (const TargetVerdict& verdict : report.targets) {
        EXPECT_TRUE(verdict.drivers.empty()) << "INF-only packages load the inbox driver";
    }
}

INSTANTIATE_TEST_SUITE_P(Real, RealPackageTest, testing::ValuesIn(kRealCases),
                         [](const testing::TestParamInfo<RealCase>& param) {
                             return std::string(param.param.name);
                         });

// The Microsoft roots alone do not hold a vendor chain, and the CA bundle
// alone does not hold a WHQL chain: the two anchor sets stay apart.
TEST(RealPackage, EachChainNeedsItsOwnAnchors)
{
    CheckOptions options = DefaultCheckOptions();
    TempPackage empty;
    empty.Write("roots/none.pem", ReadFile(MERVO_SOURCE_DIR "/tools/packagecheck/trust/roots/"
                                                            "microsoft-root-certificate-authority-2011.pem"));
    options.trust.trustDir = empty.path();
    PackageReport whql = CheckFolder(kTidepool, "webusb.inf", options);
    EXPECT_EQ(TRUST_UNTRUSTED, whql.catalog.trust.kind);
    EXPECT_EQ(0u, whql.catalog.trust.why.find("no trusted root")) << whql.catalog.trust.why;

    options = DefaultCheckOptions();
    options.trust.caBundle = options.trust.trustDir + "/roots/microsoft-root-certificate-authority-2010.pem";
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

// Catalogs signed at test time: the real package's members with another signature.
struct MadeCase {
    const char* name;
    const char* signer;     // extensions of the signer's certificate; null: self-signed
    long long stampOffset;  // the time stamp, seconds from now; kNoStamp: none
    std::function<void(const TempPackage&, const TestPki&)> change;  // after signing
    std::function<void(CheckOptions*, const TempPackage&, const TestPki&)> options;
    TrustKind kind;
    const char* why;  // the start of the kind's reason
    Verdicts verdicts;
    std::vector<std::string> codes;  // package-level warnings
    const char* base = "pololu";
    const char* stampKind = nullptr;  // null: "rfc3161" with stampOffset, else none
};

const char kCodeSigning[] =
    "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=codeSigning";
const char kServerAuth[] =
    "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth";
const char kVendor[] = "prompt MERVO Test Vendor";

void Unchanged(const TempPackage&, const TestPki&)
{}
void WithBundle(CheckOptions* options, const TempPackage&, const TestPki& pki)
{
    options->trust.caBundle = pki.root();
}
void SystemBundle(CheckOptions*, const TempPackage&, const TestPki&)
{}

// The time-stamp authority's signature is the catalog's last bytes.
void BreakTimeStamp(const TempPackage& p, const TestPki&)
{
    std::string der = p.Read("pololu.cat");
    der[der.size() - 10] = static_cast<char>(der[der.size() - 10] ^ 0x01);
    p.Write("pololu.cat", der);
}

// An older countersignature by the PKI's time-stamp authority, `offset` seconds from now.
std::function<void(const TempPackage&, const TestPki&)> Countersign(long long offset,
                                                                    const std::string& stamped = "")
{
    return [offset, stamped](const TempPackage& p, const TestPki& pki) {
        EXPECT_TRUE(AddCountersignature(p.File("pololu.cat"), pki.Certificate("authority"),
                                        pki.Key("authority"), static_cast<long long>(time(nullptr)) + offset,
                                        stamped));
    };
}

void FiveDaysOn(CheckOptions* options, const TempPackage& p, const TestPki& pki)
{
    WithBundle(options, p, pki);
    options->trust.now += 5 * kDay;
}

// clang-format off
const MadeCase kMadeCases[] = {
    {"self_signed", nullptr, kNoStamp, Unchanged, WithBundle, TRUST_UNTRUSTED, "self-signed",
     {{"7-x64", "prompt*"}, {"8-x64", "refused 0x800B0109*"}, {"10-x64", "refused 0x800B0109*"}},
     {"CATALOG_UNTRUSTED"}},
    {"vendor_ca_in_the_bundle", kCodeSigning, kNoStamp, Unchanged, WithBundle, TRUST_VENDOR, "",
     {{"xp-x86", std::string(kVendor) + "*"}, {"7-x64", kVendor}, {"10-x64", kVendor}, {"11-x64", kVendor}}, {}},
    {"vendor_ca_not_in_the_bundle", kCodeSigning, kNoStamp, Unchanged, SystemBundle, TRUST_UNTRUSTED, "self-signed",
     {{"10-x64", "refused 0x800B0109*"}}, {"CATALOG_UNTRUSTED"}},
    {"time_stamped_while_valid", kCodeSigning, 3600, Unchanged, WithBundle, TRUST_VENDOR, "",
     {{"10-x64", kVendor}}, {}},
    {"expired_at_signing_time", kCodeSigning, 10 * kDay, Unchanged, WithBundle, TRUST_UNTRUSTED,
     "expired at signing time", {{"7-x64", "prompt*"}, {"10-x64", "refused 0x800B0101*"}}, {"CATALOG_UNTRUSTED"}},
    {"expired_now_without_time_stamp", kCodeSigning, kNoStamp, Unchanged,
     [](CheckOptions* o, const TempPackage& p, const TestPki& pki) { WithBundle(o, p, pki); o->trust.now += 5 * kDay; },
     TRUST_UNTRUSTED, "expired: without a valid time stamp", {{"10-x64", "refused 0x800B0101*"}},
     {"CATALOG_UNTRUSTED"}},
    {"time_stamp_outlives_the_signer", kCodeSigning, 3600, Unchanged,
     [](CheckOptions* o, const TempPackage& p, const TestPki& pki) { WithBundle(o, p, pki); o->trust.now += 5 * kDay; },
     TRUST_VENDOR, "", {{"10-x64", kVendor}}, {}},
    {"no_code_signing_eku", kServerAuth, kNoStamp, Unchanged, WithBundle, TRUST_UNTRUSTED, "no code-signing EKU",
     {{"10-x64", "refused 0x800B0110*"}}, {"CATALOG_UNTRUSTED"}},
    {"broken_time_stamp", kCodeSigning, 3600, BreakTimeStamp, WithBundle, TRUST_VENDOR, "", {{"10-x64", kVendor}},
     {"CATALOG_TIMESTAMP_INVALID"}},
    {"broken_time_stamp_after_expiry", kCodeSigning, 3600, BreakTimeStamp,
     [](CheckOptions* o, const TempPackage& p, const TestPki& pki) { WithBundle(o, p, pki); o->trust.now += 5 * kDay; },
     TRUST_UNTRUSTED, "expired: without a valid time stamp", {{"10-x64", "refused 0x800B0101*"}},
     {"CATALOG_TIMESTAMP_INVALID", "CATALOG_UNTRUSTED"}},
    {"trusted_publisher", kCodeSigning, kNoStamp, Unchanged,
     [](CheckOptions* o, const TempPackage& p, const TestPki& pki) {
         WithBundle(o, p, pki);
         o->trust.trustedPublisher = pki.Certificate("signer");
     },
     TRUST_VENDOR, "", {{"xp-x86", "silent*"}, {"vista-x86", "silent*"}, {"7-x64", "silent"}, {"10-x64", "silent"}}, {}},
    {"trusted_publisher_a_ca", kCodeSigning, kNoStamp, Unchanged,
     [](CheckOptions* o, const TempPackage& p, const TestPki& pki) {
         WithBundle(o, p, pki);
         o->trust.trustedPublisher = pki.root();
     },
     TRUST_VENDOR, "", {{"10-x64", kVendor}}, {"TRUSTED_PUBLISHER_NOT_SIGNER"}},
    {"countersigned_while_valid", kCodeSigning, kNoStamp, Countersign(3600), FiveDaysOn, TRUST_VENDOR, "",
     {{"10-x64", kVendor}}, {}, "pololu", "countersignature"},
    {"countersigned_after_expiry", kCodeSigning, kNoStamp, Countersign(10 * kDay), WithBundle, TRUST_UNTRUSTED,
     "expired at signing time", {{"10-x64", "refused 0x800B0101*"}}, {"CATALOG_UNTRUSTED"}, "pololu",
     "countersignature"},
    {"countersignature_over_other_data", kCodeSigning, kNoStamp, Countersign(3600, "other data"), FiveDaysOn,
     TRUST_UNTRUSTED, "expired: without a valid time stamp", {{"10-x64", "refused 0x800B0101*"}},
     {"CATALOG_TIMESTAMP_INVALID", "CATALOG_UNTRUSTED"}, "pololu", "countersignature"},
    {"sha256_members_on_windows_7", kCodeSigning, kNoStamp, Unchanged, WithBundle, TRUST_VENDOR, "",
     {{"7-x86", "uncovered prompt*"}, {"10-x64", kVendor}},
     {"UNRESOLVED_DESCRIPTION", "UNRESOLVED_DESCRIPTION", "UNRESOLVED_DESCRIPTION"}, "tidepool"},
};
// clang-format on

class MadeCatalogTest : public testing::TestWithParam<MadeCase> {};

TEST_P(MadeCatalogTest, GetsItsKindAndVerdicts)
{
    const MadeCase& c = GetParam();
    bool tidepool = std::string(c.base) == "tidepool";
    const char* catalog = tidepool ? "winusbinstallation.cat" : "pololu.cat";
    TempPackage package;
    package.CopyFrom(tidepool ? kTidepool : kPololu);
    package.AddCompanionTool();
    TestPki pki;
    ASSERT_TRUE(pki.Issue(
        "authority", "MERVO Test TSA",
        "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=critical,timeStamping", 30));
    fs::rename(package.File(catalog), package.File("unsigned.cat"));
    if (c.signer == nullptr) {
        ASSERT_TRUE(SharedSigner().Sign(package.File("unsigned.cat"), package.File(catalog)));
    } else {
        ASSERT_TRUE(pki.Issue("signer", "MERVO Test Vendor", c.signer, 2));
        ASSERT_TRUE(pki.Sign("signer", package.File("unsigned.cat"), package.File(catalog),
                             c.stampOffset == kNoStamp ? "" : "authority",
                             static_cast<long long>(time(nullptr)) + c.stampOffset));
    }
    fs::remove(package.File("unsigned.cat"));
    c.change(package, pki);
    CheckOptions options = DefaultCheckOptions();
    c.options(&options, package, pki);

    PackageReport report = CheckFolder(package.path(), tidepool ? "webusb.inf" : "tic.inf", options);
    const CatalogTrust& trust = report.catalog.trust;
    EXPECT_EQ(c.kind, trust.kind) << trust.why;
    EXPECT_EQ(0u, trust.why.find(c.why)) << trust.why;
    EXPECT_EQ(c.stampKind != nullptr      ? c.stampKind
              : c.stampOffset != kNoStamp ? "rfc3161"
                                          : "",
              trust.timeStamp.kind);
    ExpectVerdicts(report, c.verdicts);
    EXPECT_EQ(c.codes, WarningCodes(report));
    if (tidepool) {
        // SHA-256 member hashes: not confirmed on Windows 7, nor is SHA-2 on Vista.
        EXPECT_EQ("unconfirmed", report.targets[8].algorithms) << report.targets[8].target;
        EXPECT_EQ("unconfirmed", report.targets[6].algorithms) << report.targets[6].target;
        EXPECT_EQ("unsupported", report.targets[0].algorithms) << report.targets[0].target;
        EXPECT_EQ("supported", report.targets[10].algorithms) << report.targets[10].target;
    }
}

INSTANTIATE_TEST_SUITE_P(Made, MadeCatalogTest, testing::ValuesIn(kMadeCases),
                         [](const testing::TestParamInfo<MadeCase>& param) {
                             return std::string(param.param.name);
                         });

// SHA-1 of bytes, raw.
std::string Sha1Of(const std::string& bytes)
{
    std::string digest;
    EXPECT_TRUE(DigestRanges("sha1", bytes, {ByteRange{0, bytes.size()}}, &digest));
    return digest;
}

std::string Wide(const std::string& text)
{
    return Utf16(text).substr(2);
}

// A package whose INF installs a driver of its own: the vendor catalog's
// co-installer member renamed to a .sys holding the sample image's hash, the
// INF naming it, the INF's member holding the changed INF's hash.
const char kDriver[] = "wdfcoinstaller01009.sys";

// Writes the package into `package`, its catalog unsigned as unsigned.cat.
void MakeDriverPackage(const TempPackage& package)
{
    package.CopyFrom(kPololu);
    package.AddCompanionTool();
    const std::string driver = kDriver;
    std::string image = ReadFile(MERVO_PE_SAMPLES "/sample32.exe");
    package.Write(driver, image);
    std::string inf = package.Read("tic.inf");
    std::string changed = inf + "\r\n[SourceDisksFiles]\r\n" + driver + "=1\r\n";
    package.Write("tic.inf", changed);
    std::string der = package.Read("pololu.cat");
    der = Replace(der, Sha1Of(inf), Sha1Of(changed));
    // Both members of the co-installer get the new name; the first its hash.
    for (int i = 0; i < 2; ++i) {
        der = Replace(der, Wide("wdfcoinstaller01009.dll"), Wide(driver));
    }
    std::vector<ByteRange> ranges;
    std::string problem;
    EXPECT_EQ(PE_IMAGE_OK, AuthenticodeRanges(image, &ranges, &problem)) << problem;
    std::string imageHash;
    EXPECT_TRUE(DigestRanges("sha1", image, ranges, &imageHash));
    der = Replace(
        der,
        std::string("\x05\x63\x99\xFA\xAC\xB9\xFC\x49\xF3\xCF\x78\xBF\xC3\xD9\xF2\xF4\x63\xE5\x01\x2E", 20),
        imageHash);
    package.Write("unsigned.cat", der);
}

TEST(OwnDriver, VendorSignedIsNotLoadedBy64BitKernels)
{
    TempPackage package;
    MakeDriverPackage(package);
    const std::string driver = kDriver;
    const std::string image = ReadFile(MERVO_PE_SAMPLES "/sample32.exe");
    TestPki pki;
    ASSERT_TRUE(pki.Issue("signer", "MERVO Test Vendor", kCodeSigning, 2));
    ASSERT_TRUE(pki.Sign("signer", package.File("unsigned.cat"), package.File("pololu.cat")));
    fs::remove(package.File("unsigned.cat"));
    CheckOptions options = DefaultCheckOptions();
    options.trust.caBundle = pki.root();

    PackageReport report = CheckFolder(package.path(), "tic.inf", options);
    ASSERT_EQ(TRUST_VENDOR, report.catalog.trust.kind) << report.catalog.trust.why;
    const std::string loads = driver + " loads";
    const std::string notLoaded = driver + " NOT LOADED";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"xp-x64", loads},     {"vista-x86", loads},   {"vista-x64", notLoaded}, {"7-x86", loads},
        {"7-x64", notLoaded},  {"8-x86", loads + "*"}, {"8.1-x64", notLoaded},   {"10-x86", notLoaded},
        {"10-x64", notLoaded}, {"11-x64", notLoaded}};
    for (const auto& [target, verdict] : expected) {
        EXPECT_EQ(std::vector<std::string>{verdict}, Drivers(report, target)) << target;
    }
    std::vector<std::string> targetWarnings = TargetWarnings(report);
    EXPECT_NE(std::find(targetWarnings.begin(), targetWarnings.end(), "10-x64 DRIVER_NOT_LOADED"),
              targetWarnings.end());

    // The same driver changed after signing: no member holds its hash.
    package.Write(driver, image + "x");
    PackageReport changedDriver = CheckFolder(package.path(), "tic.inf", options);
    EXPECT_EQ(std::vector<std::string>{notLoaded}, Drivers(changedDriver, "7-x64"));
    EXPECT_EQ(std::vector<std::string>{loads}, Drivers(changedDriver, "7-x86"));
}

// Cross-signing: a throw-away root with the subject and key id of a vendor
// root that Microsoft cross-signed, a CA under it, the real cross-certificate
// embedded (osslsigncode -ac), time-stamped in the past (openssl ca dates).
// The signature is SHA-256, which 64-bit Windows 7 loads only with KB3033929.
struct CrossCase {
    const char* name;
    const char* signerFrom;
    const char* signerTo;
    long long stampTime;
    const char* crossCertificate;  // recognised file; "" none
    std::vector<std::pair<std::string, std::string>> drivers;
};

const char kCrossFile[] = "digicert-assured-id-root-ca.pem";
const std::string kLoads = std::string(kDriver) + " loads";
const std::string kNotLoaded = std::string(kDriver) + " NOT LOADED";

// clang-format off
const CrossCase kCrossCases[] = {
    // Issued before 2015-07-29: the disputed exception of 10 1607+.
    {"issued_before_the_cutoff", "20150101000000Z", "20170101000000Z", 1451606400, kCrossFile,
     {{"vista-x64", kLoads + "*"}, {"7-x64", kNotLoaded}, {"8.1-x64", kLoads}, {"10-x64", kLoads + "*"},
      {"11-x64", kLoads + "*"}}},
    {"issued_after_the_cutoff", "20160101000000Z", "20180101000000Z", 1464739200, kCrossFile,
     {{"7-x64", kNotLoaded}, {"8.1-x64", kLoads}, {"10-x64", kNotLoaded}, {"11-x64", kNotLoaded}}},
    // Time-stamped after the cross-certificate expired (2021-04-15).
    {"stamped_after_the_cross_certificate", "20200101000000Z", "20300101000000Z", 1640995200, "",
     {{"7-x64", kNotLoaded}, {"8.1-x64", kNotLoaded}, {"7-x86", kLoads}}},
};
// clang-format on

class CrossSigningTest : public testing::TestWithParam<CrossCase> {};

TEST_P(CrossSigningTest, ChangesOnlyTheLoadVerdicts)
{
    const CrossCase& c = GetParam();
    TempPackage package;
    MakeDriverPackage(package);
    TestPki pki;
    const char kCa[] = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign";
    ASSERT_TRUE(pki.IssueBetween(
        "vendorRoot", "/C=US/O=DigiCert Inc/OU=www.digicert.com/CN=DigiCert Assured ID Root CA", "",
        std::string(kCa) +
            "\nsubjectKeyIdentifier=45:EB:A2:AF:F4:92:CB:82:31:2D:51:8B:A7:A7:21:9D:F3:6D:C8:0F",
        "20100101000000Z", "20350101000000Z"));
    ASSERT_TRUE(
        pki.IssueBetween("vendorCa", "/CN=MERVO Test Code Signing CA", "vendorRoot",
                         std::string(kCa) + "\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid",
                         "20100101000000Z", "20350101000000Z"));
    ASSERT_TRUE(pki.IssueBetween("signer", "/CN=MERVO Test Vendor", "vendorCa",
                                 std::string(kCodeSigning) + "\nauthorityKeyIdentifier=keyid", c.signerFrom,
                                 c.signerTo));
    ASSERT_TRUE(pki.IssueBetween("stamper", "/CN=MERVO Test TSA", "vendorRoot",
                                 "basicConstraints=CA:FALSE\nextendedKeyUsage=critical,timeStamping",
                                 "20100101000000Z", "20350101000000Z"));
    ASSERT_TRUE(
        pki.Sign("signer", package.File("unsigned.cat"), package.File("pololu.cat"), "stamper", c.stampTime,
                 MERVO_SOURCE_DIR "/tools/packagecheck/trust/cross-certificates/" + std::string(kCrossFile)));
    fs::remove(package.File("unsigned.cat"));
    CheckOptions options = DefaultCheckOptions();
    options.trust.caBundle = pki.Certificate("vendorRoot");

    PackageReport report = CheckFolder(package.path(), "tic.inf", options);
    const CatalogTrust& trust = report.catalog.trust;
    ASSERT_EQ(TRUST_VENDOR, trust.kind) << trust.why;
    EXPECT_TRUE(trust.timeStamp.verified) << trust.timeStamp.problem;
    EXPECT_EQ(c.crossCertificate, trust.crossCertificate) << trust.crossProblem;
    EXPECT_EQ(*c.crossCertificate == '\0', !trust.crossProblem.empty()) << trust.crossProblem;
    EXPECT_EQ("prompt MERVO Test Vendor", Summary(report, "10-x64"));  // staging follows the vendor chain
    for (const auto& [target, verdict] : c.drivers) {
        EXPECT_EQ(std::vector<std::string>{verdict}, Drivers(report, target)) << target;
    }
}

INSTANTIATE_TEST_SUITE_P(Cross, CrossSigningTest, testing::ValuesIn(kCrossCases),
                         [](const testing::TestParamInfo<CrossCase>& param) {
                             return std::string(param.param.name);
                         });

// A certificate that claims Microsoft Code Verification Root as its issuer but
// is none of Microsoft's cross-certificates does not count.
TEST(CrossSigning, AnUnknownCrossCertificateIsSuspicious)
{
    TempPackage package;
    MakeDriverPackage(package);
    TestPki pki;
    ASSERT_TRUE(pki.IssueBetween(
        "fakeMicrosoft",
        "/C=US/ST=Washington/L=Redmond/O=Microsoft Corporation/CN=Microsoft Code Verification Root", "",
        "basicConstraints=critical,CA:TRUE\nsubjectKeyIdentifier=62:FB:0A:21:5B:7F:43:6E:11:DA:09:54:50:6B:"
        "F5:D2:96:71:F1:9E",
        "20100101000000Z", "20350101000000Z"));
    ASSERT_TRUE(pki.IssueBetween("fakeCross", "/CN=MERVO Test Root", "fakeMicrosoft",
                                 "basicConstraints=critical,CA:TRUE\nauthorityKeyIdentifier=keyid",
                                 "20100101000000Z", "20350101000000Z"));
    ASSERT_TRUE(pki.Issue("signer", "MERVO Test Vendor", kCodeSigning, 2));
    ASSERT_TRUE(pki.Sign("signer", package.File("unsigned.cat"), package.File("pololu.cat"), "", 0,
                         pki.Certificate("fakeCross")));
    CheckOptions options = DefaultCheckOptions();
    options.trust.caBundle = pki.root();
    PackageReport report = CheckFolder(package.path(), "tic.inf", options);
    EXPECT_EQ(TRUST_VENDOR, report.catalog.trust.kind) << report.catalog.trust.why;
    EXPECT_EQ("", report.catalog.trust.crossCertificate);
    EXPECT_NE(std::string::npos,
              report.catalog.trust.crossProblem.find("is none of Microsoft's cross-certificates"))
        << report.catalog.trust.crossProblem;
    EXPECT_EQ(std::vector<std::string>{kNotLoaded}, Drivers(report, "7-x64"));
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
        EXPECT_EQ(c.targets.empty() ? 16u : c.targets.size(), report.targets.size());
    }
}

}  // namespace
