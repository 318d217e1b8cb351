// The signing policy against the outcome table of Windows' behaviour: every
// target by every signature column, then one row per modifier. A verdict
// reads "<staging>[*][ code]/<load>[*]": S silent, P prompt, W warn, R
// refused, U unknown; L loads, 52 not loaded, - not staged; * unconfirmed.
#include <gtest/gtest.h>

#include <functional>

#include "CheckSupport.h"
#include "PeImage.h"
#include "SigningPolicy.h"

namespace {

const char kRoot2010[] = "3b1efd3a66ea28b16697394703a72ca340a05bd5";  // a root the kernel accepts
const char kRoot2011[] = "8f43288ad272f3103b6fb1428485ea3014c0bcfe";  // one it does not
const time_t kJanuary2026 = 1767225600;
const time_t kMay2026 = 1777593600;
const time_t kIssued2016 = 1451606400;
const time_t kIssued2015 = 1420070400;

// A package with one driver file in the catalog, SHA-1 throughout, judged in January 2026.
TargetFacts Signed(TrustKind kind)
{
    TargetFacts facts;
    facts.catalogNamed = true;
    facts.catalogRead = true;
    facts.trust.judged = true;
    facts.trust.kind = kind;
    facts.trust.anchor = kind == TRUST_VENDOR ? Anchor::Bundle : Anchor::Microsoft;
    facts.trust.rootThumbprint = kRoot2010;
    facts.trust.signerNotBefore = kIssued2016;
    facts.publisher = "Maker";
    facts.drivers.push_back(DriverFacts{"maker.sys", true, 0});
    facts.now = kJanuary2026;
    return facts;
}

TargetFacts Column(SignatureColumn column)
{
    TargetFacts facts = Signed(TRUST_VENDOR);
    switch (column) {
    case SignatureColumn::None:
        facts.catalogNamed = false;
        facts.catalogRead = false;
        facts.trust.kind = TRUST_NONE;
        break;
    case SignatureColumn::TrustedVendor:
        facts.trust.trustedPublisher = true;
        break;
    case SignatureColumn::Cross:
        facts.trust.crossCertificate = "cross.pem";
        break;
    case SignatureColumn::Whql:
        facts = Signed(TRUST_WHQL);
        break;
    case SignatureColumn::Attestation:
        facts = Signed(TRUST_ATTESTATION);
        break;
    default:
        break;
    }
    return facts;
}

std::string Summary(const TargetVerdict& verdict)
{
    const char kLetters[] = "SPWRU";
    std::string text(1, kLetters[static_cast<int>(verdict.staging)]);
    text += verdict.unconfirmed ? "*" : "";
    text += verdict.code == 0 ? "" : " " + CodeText(verdict.code);
    for (const DriverVerdict& driver : verdict.drivers) {
        text += verdict.staging == Staging::Refused ? "/-" : driver.loads ? "/L" : "/52";
        text += driver.unconfirmed ? "*" : "";
    }
    return text;
}

const WindowsTarget& Target(const std::string& name)
{
    const WindowsTarget* target = FindWindowsTarget(name);
    EXPECT_NE(nullptr, target) << name;
    return target != nullptr ? *target : WindowsTargets().front();
}

struct GridRow {
    const char* target;
    const char* cells[6];  // none, vendor, vendor in TrustedPublisher, cross-signed, WHQL, attestation
};

// clang-format off
const GridRow kGrid[] = {
    {"2000-x86",  {"W/L",              "W*/L",  "S*/L",  "W*/L",  "S*/L",  "U*/L"}},
    {"xp-x86",    {"W/L",              "W*/L",  "S*/L",  "W*/L",  "S*/L",  "U*/L"}},
    {"xp-x64",    {"W/L",              "W*/L",  "S*/L",  "W*/L",  "S*/L",  "U*/L"}},
    {"2003-x86",  {"W/L",              "W*/L",  "S*/L",  "W*/L",  "S*/L",  "U*/L"}},
    {"2003-x64",  {"W/L",              "W*/L",  "S*/L",  "W*/L",  "S*/L",  "U*/L"}},
    {"vista-x86", {"W/L",              "P/L",   "S/L",   "P/L",   "S/L",   "U*/L"}},
    {"vista-x64", {"W/52",             "P/52",  "S/52",  "P/L",   "S/L",   "U*/52"}},
    {"7-x86",     {"W/L",              "P/L",   "S/L",   "P/L",   "S/L",   "U*/L"}},
    {"7-x64",     {"W/52",             "P/52",  "S/52",  "P/L",   "S/L",   "U*/52"}},
    {"8-x86",     {"W*/L*",            "P/L*",  "S/L*",  "P/L",   "S/L",   "U*/L*"}},
    {"8-x64",     {"R 0xE000022F/-",   "P/52",  "S/52",  "P/L",   "S/L",   "U*/52"}},
    {"8.1-x86",   {"W*/L*",            "P/L*",  "S/L*",  "P/L",   "S/L",   "U*/L*"}},
    {"8.1-x64",   {"R 0xE000022F/-",   "P/52",  "S/52",  "P/L",   "S/L",   "U*/52"}},
    {"10-x86",    {"W*/52",            "P/52",  "S/52",  "P/52",  "S/L",   "S/L"}},
    {"10-x64",    {"R 0xE000022F/-",   "P/52",  "S/52",  "P/52",  "S/L",   "S/L"}},
    {"11-x64",    {"R 0xE000022F/-",   "P/52",  "S/52",  "P/52",  "S/L",   "S/L"}},
    {"10-arm64",  {"R 0xE000022F/-",   "R*/-",  "R*/-",  "R*/-",  "S/L",   "S/L"}},
    {"11-arm64",  {"R 0xE000022F/-",   "R*/-",  "R*/-",  "R*/-",  "S/L",   "S/L"}},
};
// clang-format on

TEST(SigningPolicy, FollowsTheOutcomeTableForEveryTargetAndColumn)
{
    ASSERT_EQ(WindowsTargets().size(), sizeof kGrid / sizeof kGrid[0]);
    for (size_t row = 0; row < WindowsTargets().size(); ++row) {
        const WindowsTarget& target = WindowsTargets()[row];
        EXPECT_STREQ(kGrid[row].target, target.name);
        std::string got;
        std::string expected;
        for (int column = 0; column < 6; ++column) {
            got += Summary(JudgeWindowsTarget(target, Column(static_cast<SignatureColumn>(column)))) + " | ";
            expected += std::string(kGrid[row].cells[column]) + " | ";
        }
        EXPECT_EQ(expected, got) << target.name;
    }
}

struct ModifierRow {
    const char* name;
    const char* target;
    std::function<void(TargetFacts*)> facts;  // changes a vendor catalog's facts
    const char* verdict;
    const char* cause;  // in the staging or the driver's cause
};

void Whql(TargetFacts* facts)
{
    *facts = Signed(TRUST_WHQL);
}

void Untrusted(TargetFacts* facts, ChainFailure failure)
{
    facts->trust.kind = TRUST_UNTRUSTED;
    facts->trust.failure = failure;
    facts->trust.why = "why";
}

// clang-format off
const ModifierRow kModifiers[] = {
    // SHA-2 before Windows 8: 7 x64 loads it only with KB3033929, Vista unconfirmed, 2000 has none.
    {"sha2_on_7_x64", "7-x64", [](TargetFacts* f) { Whql(f); f->sha2Signature = true; }, "S/52", "KB3033929"},
    {"sha2_on_vista_x64", "vista-x64", [](TargetFacts* f) { Whql(f); f->sha2Signature = true; }, "S*/L*",
     "SHA-2 signatures on Vista"},
    {"sha256_members_on_7", "7-x86", [](TargetFacts* f) { f->sha2Members = true; }, "P*/L", "member hashes"},
    {"sha2_on_2000", "2000-x86", [](TargetFacts* f) { Whql(f); f->sha2Signature = true; }, "W*/L", "no SHA-2"},
    // The roots the kernel of 10 1607 and later accepts.
    {"whql_under_another_root", "10-x64", [](TargetFacts* f) { Whql(f); f->trust.rootThumbprint = kRoot2011; },
     "S/52*", "not one of the three"},
    // The 2015-07-29 cut-off for cross-signed certificates.
    {"cross_issued_before_the_cutoff", "10-x64",
     [](TargetFacts* f) { f->trust.crossCertificate = "x.pem"; f->trust.signerNotBefore = kIssued2015; }, "P/L*",
     "disputed"},
    // 11 24H2 and later after April 2026.
    {"cross_on_11_after_april_2026", "11-x64",
     [](TargetFacts* f) { f->trust.crossCertificate = "x.pem"; f->trust.signerNotBefore = kIssued2015; f->now = kMay2026; },
     "P/52*", "April 2026"},
    {"cross_on_10_after_april_2026", "10-x64",
     [](TargetFacts* f) { f->trust.crossCertificate = "x.pem"; f->trust.signerNotBefore = kIssued2015; f->now = kMay2026; },
     "P/L*", "disputed"},
    {"attestation_on_11_after_april_2026", "11-x64",
     [](TargetFacts* f) { *f = Signed(TRUST_ATTESTATION); f->now = kMay2026; }, "S/L*", "April 2026"},
    // OSAttr not covering the target.
    {"osattr_not_covering_8_x64", "8.1-x64", [](TargetFacts* f) { f->osAttr = {"2:10.0"}; }, "R* 0xE0000244/-",
     "OSAttr"},
    {"osattr_not_covering_7", "7-x64", [](TargetFacts* f) { Whql(f); f->osAttr = {"2:10.0"}; }, "W*/52", "OSAttr"},
    {"osattr_covering", "8.1-x64", [](TargetFacts* f) { Whql(f); f->osAttr = {"2:6.3", "2:10.0"}; }, "S/L", ""},
    // A standard user gets only silent outcomes.
    {"standard_user_prompted", "7-x64", [](TargetFacts* f) { f->standardUser = true; }, "R/-", "standard user"},
    {"standard_user_silent", "7-x64", [](TargetFacts* f) { Whql(f); f->standardUser = true; }, "S/L", ""},
    // Files the catalog does not hold.
    {"inf_not_in_catalog", "10-x64", [](TargetFacts* f) { f->notInCatalog = "x.inf"; }, "R 0xE000024B/-",
     "\"x.inf\""},
    {"inf_not_in_catalog_on_7", "7-x86", [](TargetFacts* f) { f->notInCatalog = "x.inf"; }, "W/L", "\"x.inf\""},
    {"driver_not_in_catalog", "8.1-x64",
     [](TargetFacts* f) { f->trust.crossCertificate = "x.pem"; f->drivers[0].inCatalog = false; }, "P/52",
     "no member of the catalog holds its hash"},
    // A driver built for another machine.
    {"x86_driver_on_x64", "10-x64", [](TargetFacts* f) { Whql(f); f->drivers[0].machine = PE_MACHINE_I386; },
     "S/52", "machine type 0x014C"},
    {"x64_driver_on_arm64", "11-arm64", [](TargetFacts* f) { Whql(f); f->drivers[0].machine = PE_MACHINE_AMD64; },
     "S/52", "machine type 0x8664"},
    {"arm64_driver_on_arm64", "11-arm64", [](TargetFacts* f) { Whql(f); f->drivers[0].machine = PE_MACHINE_ARM64; },
     "S/L", ""},
    // What counts as unsigned, and the code a refusal gives.
    {"catalog_without_signer", "10-x64", [](TargetFacts* f) { f->trust.kind = TRUST_NONE; }, "R 0xE000022F/-",
     "not signed"},
    {"broken_catalog", "10-x64", [](TargetFacts* f) { f->trust.kind = TRUST_BROKEN; }, "R* 0x80096010/-", "broken"},
    {"self_signed", "10-x64", [](TargetFacts* f) { Untrusted(f, ChainFailure::SelfSigned); }, "R* 0x800B0109/-", ""},
    {"expired", "10-x64", [](TargetFacts* f) { Untrusted(f, ChainFailure::Expired); }, "R* 0x800B0101/-", ""},
    {"wrong_usage", "10-x64", [](TargetFacts* f) { Untrusted(f, ChainFailure::WrongUsage); }, "R* 0x800B0110/-", ""},
    {"no_issuer", "10-x64", [](TargetFacts* f) { Untrusted(f, ChainFailure::NoIssuer); }, "R* 0x800B010A/-", ""},
    {"untrusted_on_7", "7-x64", [](TargetFacts* f) { Untrusted(f, ChainFailure::NoIssuer); }, "W*/52", "untrusted"},
    {"not_judged", "10-x64", [](TargetFacts* f) { f->trust.judged = false; }, "U", "not judged"},
};
// clang-format on

class ModifierTest : public testing::TestWithParam<ModifierRow> {};

TEST_P(ModifierTest, ChangesTheCellAsTheRuleSays)
{
    const ModifierRow& row = GetParam();
    TargetFacts facts = Signed(TRUST_VENDOR);
    row.facts(&facts);
    TargetVerdict verdict = JudgeWindowsTarget(Target(row.target), facts);
    EXPECT_EQ(row.verdict, Summary(verdict));
    std::string causes = verdict.cause;
    for (const DriverVerdict& driver : verdict.drivers) {
        causes += " | " + driver.cause;
    }
    EXPECT_NE(std::string::npos, causes.find(row.cause)) << causes;
}

INSTANTIATE_TEST_SUITE_P(Modifiers, ModifierTest, testing::ValuesIn(kModifiers), CaseName());

}  // namespace
