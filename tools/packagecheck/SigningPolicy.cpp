// The outcome grid of Windows' signing policy and its modifiers.
#include "SigningPolicy.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "CheckText.h"
#include "PeImage.h"
#include "common/SignatureCodes.h"

namespace {

using A = Architecture;
using Rel = Release;
using Row = GridRow;

// clang-format off
const WindowsTarget kTargets[] = {
    {"2000-x86",  5, 0, A::X86,   Rel::Windows2000, Row::Xp},
    {"xp-x86",    5, 1, A::X86,   Rel::WindowsXp,   Row::Xp},
    {"xp-x64",    5, 2, A::X64,   Rel::WindowsXp,   Row::Xp},
    {"2003-x86",  5, 2, A::X86,   Rel::WindowsXp,   Row::Xp},
    {"2003-x64",  5, 2, A::X64,   Rel::WindowsXp,   Row::Xp},
    {"vista-x86", 6, 0, A::X86,   Rel::Vista,       Row::Vista7X86},
    {"vista-x64", 6, 0, A::X64,   Rel::Vista,       Row::Vista7X64},
    {"7-x86",     6, 1, A::X86,   Rel::Windows7,    Row::Vista7X86},
    {"7-x64",     6, 1, A::X64,   Rel::Windows7,    Row::Vista7X64},
    {"8-x86",     6, 2, A::X86,   Rel::Windows8,    Row::Windows8X86},
    {"8-x64",     6, 2, A::X64,   Rel::Windows8,    Row::Windows8X64},
    {"8.1-x86",   6, 3, A::X86,   Rel::Windows8,    Row::Windows8X86},
    {"8.1-x64",   6, 3, A::X64,   Rel::Windows8,    Row::Windows8X64},
    {"10-x86",   10, 0, A::X86,   Rel::Windows10,   Row::Windows10X86},
    {"10-x64",   10, 0, A::X64,   Rel::Windows10,   Row::Windows10X64},
    {"11-x64",   10, 0, A::X64,   Rel::Windows11,   Row::Windows10X64},
    {"10-arm64", 10, 0, A::Arm64, Rel::Windows10,   Row::Arm64},
    {"11-arm64", 10, 0, A::Arm64, Rel::Windows11,   Row::Arm64},
};
// clang-format on

// What the kernel does with a driver file of the package.
enum class Load { Loads, NotLoaded };

// Which part of a cell the outcome table marks unconfirmed.
enum : unsigned { SURE = 0, STAGING_UNSURE = 1, LOAD_UNSURE = 2, BOTH_UNSURE = 3 };

struct Cell {
    Staging staging;
    Load load;
    uint32_t code;         // refused: the code; prompt: the code Windows logs before it asks
    unsigned unconfirmed;  // STAGING_UNSURE, LOAD_UNSURE
    const char* cause;     // what the staging verdict rests on; empty when plain
    const char* loadCause;
};

// Staging.
const char kUnsignedXp[] =
    "the default driver signing policy (Warn) asks whether to install unsigned software";
const char kUnsignedRed[] = "Windows warns in red that it can't verify the publisher";
const char kUnsigned32[] = "32-bit Windows 8 and later are expected to warn (unconfirmed)";
const char kVendorXp[] =
    "Windows before Vista is expected to treat an Authenticode signature as unsigned and warn";
// %s: the code the cell gives, the one Windows logs before the prompt.
const char kVendor[] =
    "Authenticode publisher not yet trusted (%s): Windows asks \"Would you like to install this device "
    "software?\"";
const char kTrustedXp[] = "the signer is in TrustedPublisher, which Microsoft advises for Windows XP";
const char kTrusted[] = "the signer is in TrustedPublisher";
const char kWhqlXp[] = "WHQL signature; it counts only when the INF's class is in Certclas.inf";
const char kWhql[] = "WHQL signature";
const char kAttestationEarly[] = "attestation signatures before Windows 10 are not confirmed";
const char kAttestation[] = "Microsoft attestation signature";
const char kArm64Only[] = "ARM64 Windows takes only Windows-signed catalogs (WHQL or attestation)";
// Loading.
const char kNoCheck[] = "";
const char kNotLoaded64[] =
    "64-bit Windows loads a driver only with an embedded signature, a WHQL catalog or a cross-signed catalog";
const char kSecureBoot8[] =
    "loads with Secure Boot off; with it on a driver without a Microsoft or cross-signed signature is "
    "expected not to load";
const char kAttestationLoad[] = "attestation-signed drivers load on Windows 10 and later only";
const char kNotLoaded1607[] =
    "Windows 10 1607 and later with Secure Boot load only drivers signed by Microsoft's Dev Portal (WHQL or "
    "attestation)";

constexpr Staging S = Staging::Silent;
constexpr Staging P = Staging::Prompt;
constexpr Staging W = Staging::Warn;
constexpr Staging R = Staging::Refused;
constexpr Staging U = Staging::Unknown;  // the table gives no outcome
constexpr Load L = Load::Loads;
constexpr Load C52 = Load::NotLoaded;
constexpr uint32_t NO_CATALOG = SIGNATURE_NO_CATALOG_FOR_OEM_INF;
constexpr uint32_t NOT_YET_TRUSTED = SIGNATURE_TRUST_NOT_ESTABLISHED;

// The outcome table, row by row: per column none, vendor, vendor with the
// signer in TrustedPublisher, cross-signed, WHQL, attestation. A refused
// cell's load is what the kernel would do; the table shows "-", and the
// package's drivers are not staged there. Pre-Vista systems check no load;
// 32-bit Vista and 7 check boot drivers only.
// clang-format off
const Cell kGrid[][6] = {
    // 2000/XP/2003
    {{W, L, 0, SURE, kUnsignedXp, kNoCheck},                  // none
     {W, L, 0, STAGING_UNSURE, kVendorXp, kNoCheck},          // vendor (likely W)
     {S, L, 0, STAGING_UNSURE, kTrustedXp, kNoCheck},         // +TrustedPublisher
     {W, L, 0, STAGING_UNSURE, kVendorXp, kNoCheck},          // cross-signed: as vendor
     {S, L, 0, STAGING_UNSURE, kWhqlXp, kNoCheck},            // WHQL (else W)
     {U, L, 0, STAGING_UNSURE, kAttestationEarly, kNoCheck}}, // attestation
    // Vista/7 x86
    {{W, L, 0, SURE, kUnsignedRed, kNoCheck},
     {P, L, NOT_YET_TRUSTED, SURE, kVendor, kNoCheck},
     {S, L, 0, SURE, kTrusted, kNoCheck},
     {P, L, NOT_YET_TRUSTED, SURE, kVendor, kNoCheck},
     {S, L, 0, SURE, kWhql, kNoCheck},
     {U, L, 0, STAGING_UNSURE, kAttestationEarly, kNoCheck}},
    // Vista/7 x64
    {{W, C52, 0, SURE, kUnsignedRed, kNotLoaded64},
     {P, C52, NOT_YET_TRUSTED, SURE, kVendor, kNotLoaded64},
     {S, C52, 0, SURE, kTrusted, kNotLoaded64},
     {P, L, NOT_YET_TRUSTED, SURE, kVendor, kNoCheck},
     {S, L, 0, SURE, kWhql, kNoCheck},
     {U, C52, 0, STAGING_UNSURE, kAttestationEarly, kAttestationLoad}},
    // 8/8.1 x86
    {{W, L, 0, BOTH_UNSURE, kUnsigned32, kSecureBoot8},
     {P, L, NOT_YET_TRUSTED, LOAD_UNSURE, kVendor, kSecureBoot8},
     {S, L, 0, LOAD_UNSURE, kTrusted, kSecureBoot8},
     {P, L, NOT_YET_TRUSTED, SURE, kVendor, kNoCheck},
     {S, L, 0, SURE, kWhql, kNoCheck},
     {U, L, 0, BOTH_UNSURE, kAttestationEarly, kSecureBoot8}},
    // 8/8.1 x64
    {{R, C52, NO_CATALOG, SURE, "", kNotLoaded64},
     {P, C52, NOT_YET_TRUSTED, SURE, kVendor, kNotLoaded64},
     {S, C52, 0, SURE, kTrusted, kNotLoaded64},
     {P, L, NOT_YET_TRUSTED, SURE, kVendor, kNoCheck},
     {S, L, 0, SURE, kWhql, kNoCheck},
     {U, C52, 0, STAGING_UNSURE, kAttestationEarly, kAttestationLoad}},
    // 10 1607+ and 11 with Secure Boot, x86
    {{W, C52, 0, STAGING_UNSURE, kUnsigned32, kNotLoaded1607},
     {P, C52, NOT_YET_TRUSTED, SURE, kVendor, kNotLoaded1607},
     {S, C52, 0, SURE, kTrusted, kNotLoaded1607},
     {P, C52, NOT_YET_TRUSTED, SURE, kVendor, kNotLoaded1607},
     {S, L, 0, SURE, kWhql, kNoCheck},
     {S, L, 0, SURE, kAttestation, kNoCheck}},
    // 10 1607+ and 11 with Secure Boot, x64
    {{R, C52, NO_CATALOG, SURE, "", kNotLoaded1607},
     {P, C52, NOT_YET_TRUSTED, SURE, kVendor, kNotLoaded1607},
     {S, C52, 0, SURE, kTrusted, kNotLoaded1607},
     {P, C52, NOT_YET_TRUSTED, SURE, kVendor, kNotLoaded1607},
     {S, L, 0, SURE, kWhql, kNoCheck},
     {S, L, 0, SURE, kAttestation, kNoCheck}},
    // 10 and 11 on ARM64: Windows-signed catalogs only; no code is documented
    {{R, C52, NO_CATALOG, SURE, "", kNotLoaded1607},
     {R, C52, 0, STAGING_UNSURE, kArm64Only, kNotLoaded1607},
     {R, C52, 0, STAGING_UNSURE, kArm64Only, kNotLoaded1607},
     {R, C52, 0, STAGING_UNSURE, kArm64Only, kNotLoaded1607},
     {S, L, 0, SURE, kWhql, kNoCheck},
     {S, L, 0, SURE, kAttestation, kNoCheck}},
};
// clang-format on

const Cell& CellOf(const WindowsTarget& target, SignatureColumn column)
{
    return kGrid[static_cast<int>(target.row)][static_cast<int>(column)];
}

// The cell's staging cause, with its code in place of a "%s".
std::string CauseOf(const Cell& cell)
{
    std::string cause = cell.cause;
    size_t mark = cause.find("%s");
    return mark == std::string::npos ? cause : cause.replace(mark, 2, CodeText(cell.code));
}

// The modifiers.

// 2015-07-29T00:00:00Z: cross-signed certificates issued earlier keep loading on 10 1607 and later.
const time_t kCrossSigningCutoff = 1438128000;
// 2026-04-01T00:00:00Z: from the April 2026 update, 11 24H2 and later drop cross-signed drivers.
const time_t kApril2026 = 1775001600;
// The roots Windows 10 1607 and later accepts for kernel drivers, by SHA-1 thumbprint:
// Microsoft Root Certificate Authority 2010, Microsoft Root Certificate Authority (2001),
// Microsoft Root Authority (1997).
const char* const kKernelRoots[] = {"3b1efd3a66ea28b16697394703a72ca340a05bd5",
                                    "cdd4eeae6000ac7f40c3802c171e30148030c072",
                                    "a43489159a520f0d93d032caaf37e7fe20a8b419"};

bool Is1607OrLater(const WindowsTarget& target)
{
    return target.release >= Release::Windows10;
}

// OSAttr: "2:<major>.<minor>" entries; none restricts nothing.
bool Covers(const std::vector<std::string>& osAttr, const WindowsTarget& target)
{
    if (osAttr.empty()) {
        return true;
    }
    for (const std::string& entry : osAttr) {
        if (entry.compare(0, 2, "2:") != 0) {
            continue;
        }
        char* end = nullptr;
        long major = strtol(entry.c_str() + 2, &end, 10);
        long minor = *end == '.' ? strtol(end + 1, nullptr, 10) : 0;
        if (major == target.major && minor == target.minor) {
            return true;
        }
    }
    return false;
}

// SHA-2 before Windows 8: whether the target verifies the catalog's algorithms, and why not.
AlgorithmSupport Algorithms(const WindowsTarget& target, const TargetFacts& facts, std::string* note)
{
    bool sha2 = facts.sha2Signature || facts.sha2Members;
    if (!sha2 || target.release >= Release::Windows8) {
        return AlgorithmSupport::Supported;
    }
    if (target.release == Release::Windows2000) {
        *note = "Windows 2000 has no SHA-2";
        return AlgorithmSupport::Unsupported;
    }
    if (target.release <= Release::Vista) {
        *note = "SHA-2 signatures on this system are not confirmed";
        return AlgorithmSupport::Unconfirmed;
    }
    if (facts.sha2Members) {
        *note = "SHA-256 member hashes on Windows 7 are not confirmed";
        return AlgorithmSupport::Unconfirmed;
    }
    return AlgorithmSupport::Supported;  // a SHA-256 catalog signature stages on 7; loading needs KB3033929
}

// The refusal code of an untrusted chain: the trust error that names its failure.
uint32_t UntrustedCode(ChainFailure failure)
{
    switch (failure) {
    case ChainFailure::SelfSigned:
        return SIGNATURE_CERT_E_UNTRUSTEDROOT;
    case ChainFailure::Expired:
        return SIGNATURE_CERT_E_EXPIRED;
    case ChainFailure::WrongUsage:
        return SIGNATURE_CERT_E_WRONG_USAGE;
    default:
        return SIGNATURE_CERT_E_CHAINING;
    }
}

// How the target sees the signature: the columns its staging and its
// drivers' loading read, and for the "none" column why and with which code.
struct Seen {
    SignatureColumn staging;
    SignatureColumn load;
    std::string reason;
    uint32_t code;
    bool unconfirmed;
};

Seen Unsigned(const std::string& reason, uint32_t code, bool unconfirmed)
{
    return Seen{SignatureColumn::None, SignatureColumn::None, reason, code, unconfirmed};
}

Seen SeenBy(const TargetFacts& facts, bool covered, AlgorithmSupport support, const std::string& note)
{
    const CatalogTrust& trust = facts.trust;
    if (!facts.catalogNamed) {
        return Unsigned("the INF names no catalog", SIGNATURE_NO_CATALOG_FOR_OEM_INF, false);
    }
    if (trust.kind == TRUST_NONE) {
        return Unsigned("the catalog is not signed" + (trust.why.empty() ? "" : ": " + trust.why),
                        SIGNATURE_NO_CATALOG_FOR_OEM_INF, false);
    }
    if (trust.kind == TRUST_BROKEN) {
        return Unsigned("the catalog is broken: " + trust.why, SIGNATURE_TRUST_E_BAD_DIGEST, true);
    }
    if (!facts.notInCatalog.empty()) {
        return Unsigned("no member of the catalog holds the hash of " + Quote(facts.notInCatalog),
                        SIGNATURE_FILE_HASH_NOT_IN_CATALOG, false);
    }
    if (!covered) {
        return Unsigned("the catalog's OSAttr does not name this system", SIGNATURE_OSATTRIBUTE_MISMATCH,
                        true);
    }
    if (support == AlgorithmSupport::Unsupported) {
        return Unsigned(note, SIGNATURE_TRUST_E_BAD_DIGEST, true);
    }
    switch (trust.kind) {
    case TRUST_VENDOR: {
        SignatureColumn staging =
            trust.trustedPublisher ? SignatureColumn::TrustedVendor : SignatureColumn::Vendor;
        return Seen{staging, trust.crossCertificate.empty() ? staging : SignatureColumn::Cross, "", 0, false};
    }
    case TRUST_ATTESTATION:
        return Seen{SignatureColumn::Attestation, SignatureColumn::Attestation, "", 0, false};
    case TRUST_WHQL:
        return Seen{SignatureColumn::Whql, SignatureColumn::Whql, "", 0, false};
    default:
        return Unsigned("the catalog is untrusted: " + trust.why, UntrustedCode(trust.failure), true);
    }
}

bool IsKernelRoot(const std::string& thumbprint)
{
    for (const char* root : kKernelRoots) {
        if (thumbprint == root) {
            return true;
        }
    }
    return false;
}

// Whether a driver's PE machine type runs on the target's kernel.
bool MachineFits(const WindowsTarget& target, uint16_t machine)
{
    switch (target.architecture) {
    case Architecture::X86:
        return machine == PE_MACHINE_I386;
    case Architecture::X64:
        return machine == PE_MACHINE_AMD64;
    default:
        return machine == PE_MACHINE_ARM64;
    }
}

DriverVerdict Load(const WindowsTarget& target, const TargetFacts& facts, const Seen& seen,
                   const DriverFacts& driver)
{
    DriverVerdict verdict;
    verdict.file = driver.file;
    // A driver no member holds loads as an unsigned one.
    SignatureColumn column = driver.inCatalog ? seen.load : SignatureColumn::None;
    const Cell& cell = CellOf(target, column);
    verdict.loads = cell.load == Load::Loads;
    verdict.cause = cell.loadCause;
    verdict.unconfirmed = (cell.unconfirmed & LOAD_UNSURE) != 0;
    bool x64Vista7 = target.row == GridRow::Vista7X64;
    bool sha2 = facts.sha2Signature || facts.sha2Members;
    if (verdict.loads && x64Vista7 && sha2 && target.release == Release::Windows7) {
        verdict.loads = false;
        verdict.cause = "Windows 7 needs KB3033929 for SHA-2 signatures";
    } else if (verdict.loads && x64Vista7 && sha2) {
        verdict.unconfirmed = true;
        verdict.cause = "SHA-2 signatures on Vista are not confirmed";
    }
    bool microsoft = column == SignatureColumn::Whql || column == SignatureColumn::Attestation;
    if (Is1607OrLater(target) && microsoft && !IsKernelRoot(facts.trust.rootThumbprint)) {
        verdict.loads = false;
        verdict.unconfirmed = true;
        verdict.cause = "its Microsoft root is not one of the three the kernel accepts";
    } else if (Is1607OrLater(target) && column == SignatureColumn::Cross &&
               facts.trust.signerNotBefore < kCrossSigningCutoff) {
        verdict.loads = true;
        verdict.unconfirmed = true;
        verdict.cause = "cross-signed with a certificate issued before 2015-07-29: the exception is disputed";
    }
    bool april2026 = target.release == Release::Windows11 && facts.now >= kApril2026;
    if (target.release == Release::Windows11 && column == SignatureColumn::Cross && verdict.loads) {
        verdict.loads = !april2026;
        verdict.cause +=
            "; 11 24H2 and later drop cross-signed drivers once the April 2026 policy is enforced, unless "
            "allow-listed";
    } else if (april2026 && column == SignatureColumn::Attestation && verdict.loads) {
        verdict.unconfirmed = true;
        verdict.cause = "attestation on 11 24H2 and later after April 2026 is unconfirmed";
    }
    if (!driver.inCatalog && seen.load != SignatureColumn::None && !verdict.loads) {
        verdict.cause = "no member of the catalog holds its hash; " + verdict.cause;
    }
    if (driver.machine != 0 && !MachineFits(target, driver.machine)) {
        char machine[8];
        snprintf(machine, sizeof machine, "0x%04X", static_cast<unsigned>(driver.machine));
        verdict.loads = false;
        verdict.unconfirmed = false;
        verdict.cause = std::string("its PE machine type ") + machine + " does not run on this system";
    }
    return verdict;
}

}  // namespace

const std::vector<WindowsTarget>& WindowsTargets()
{
    static const std::vector<WindowsTarget> targets(std::begin(kTargets), std::end(kTargets));
    return targets;
}

const WindowsTarget* FindWindowsTarget(const std::string& name)
{
    for (const WindowsTarget& target : kTargets) {
        if (name == target.name) {
            return &target;
        }
    }
    return nullptr;
}

const char* StagingName(Staging staging)
{
    static const char* const kNames[] = {"silent", "prompt", "warn", "refused", "unknown"};
    return kNames[static_cast<int>(staging)];
}

const char* AlgorithmSupportName(AlgorithmSupport support)
{
    static const char* const kNames[] = {"supported", "unconfirmed", "unsupported"};
    return kNames[static_cast<int>(support)];
}

std::string CodeText(uint32_t code)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return code == 0 ? std::string() : std::string(text);
}

TargetVerdict JudgeWindowsTarget(const WindowsTarget& target, const TargetFacts& facts)
{
    TargetVerdict verdict;
    verdict.target = target.name;
    verdict.covered = !facts.catalogRead || Covers(facts.osAttr, target);
    std::string note;
    verdict.algorithms = facts.catalogRead ? Algorithms(target, facts, &note) : AlgorithmSupport::Supported;
    if (!facts.trust.judged) {
        verdict.staging = Staging::Unknown;
        verdict.cause = "the catalog was not judged";
        return verdict;
    }
    Seen seen = SeenBy(facts, verdict.covered, verdict.algorithms, note);
    const Cell& cell = CellOf(target, seen.staging);
    verdict.staging = cell.staging;
    std::string cause = CauseOf(cell);
    verdict.cause = seen.reason.empty() ? cause : cause.empty() ? seen.reason : seen.reason + "; " + cause;
    verdict.code = cell.staging != Staging::Refused ? 0 : seen.code != 0 ? seen.code : cell.code;
    verdict.unconfirmed = (cell.unconfirmed & STAGING_UNSURE) != 0 || seen.unconfirmed;
    if (cell.staging == Staging::Prompt) {
        verdict.publisher = facts.publisher;
    }
    if (verdict.algorithms == AlgorithmSupport::Unconfirmed) {
        verdict.unconfirmed = true;
        verdict.cause += "; " + note;
    }
    // A standard user gets only silent installs; Windows refuses the others without asking.
    bool asked = verdict.staging == Staging::Prompt || verdict.staging == Staging::Warn;
    if (facts.standardUser && (asked || verdict.staging == Staging::Refused)) {
        verdict.staging = Staging::Refused;
        verdict.publisher.clear();
        verdict.cause = "a standard user gets only silent installs: Windows refuses this one without asking";
        verdict.code = 0;
    }
    for (const DriverFacts& driver : facts.drivers) {
        DriverVerdict load = Load(target, facts, seen, driver);
        if (verdict.staging == Staging::Refused) {
            load.loads = false;
            load.unconfirmed = false;
            load.cause = "Windows does not stage the package";
        }
        verdict.drivers.push_back(load);
    }
    return verdict;
}

bool VerifiesSha256Members(const WindowsTarget& target)
{
    TargetFacts facts;
    facts.sha2Members = true;
    std::string note;
    return Algorithms(target, facts, &note) == AlgorithmSupport::Supported;
}
