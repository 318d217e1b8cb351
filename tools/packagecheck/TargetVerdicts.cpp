// What each Windows target does with the package: stages it silently, after
// a prompt, or refuses it, and whether its kernel loads each driver file the
// INF installs. The rules follow the catalog's kind (CatalogTrust), its OSAttr
// and its algorithms; verdicts that rest on unconfirmed rules say so.
#include <algorithm>
#include <cstdlib>

#include "CheckParts.h"

namespace {

enum Family { FAMILY_LEGACY, FAMILY_VISTA, FAMILY_7, FAMILY_8, FAMILY_10, FAMILY_11 };

struct TargetSpec {
    const char* name;
    int major;
    int minor;
    bool x64;
    Family family;
};

// Windows 10 is 1607 or later with Secure Boot on, as a new install is.
const TargetSpec kTargets[] = {
    {"2000-x86", 5, 0, false, FAMILY_LEGACY}, {"xp-x86", 5, 1, false, FAMILY_LEGACY},
    {"xp-x64", 5, 2, true, FAMILY_LEGACY},    {"2003-x86", 5, 2, false, FAMILY_LEGACY},
    {"2003-x64", 5, 2, true, FAMILY_LEGACY},  {"vista-x86", 6, 0, false, FAMILY_VISTA},
    {"vista-x64", 6, 0, true, FAMILY_VISTA},  {"7-x86", 6, 1, false, FAMILY_7},
    {"7-x64", 6, 1, true, FAMILY_7},          {"8-x86", 6, 2, false, FAMILY_8},
    {"8-x64", 6, 2, true, FAMILY_8},          {"8.1-x86", 6, 3, false, FAMILY_8},
    {"8.1-x64", 6, 3, true, FAMILY_8},        {"10-x86", 10, 0, false, FAMILY_10},
    {"10-x64", 10, 0, true, FAMILY_10},       {"11-x64", 10, 0, true, FAMILY_11},
};

// How the target sees the package's signature.
enum Standing { UNSIGNED, ALTERED, UNTRUSTED, VENDOR, TRUSTED_VENDOR, ATTESTED, WHQL };

struct Seen {
    Standing standing;
    std::string reason;  // for UNSIGNED, ALTERED, UNTRUSTED: why
    std::string code;    // the code of a refusal
    bool unconfirmed;
};

bool Covers(const std::vector<std::string>& osAttr, const TargetSpec& target)
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

bool IsSha1OrMd5(const std::string& algorithm)
{
    return algorithm == "sha1" || algorithm == "md5";
}

struct Algorithms {
    bool sha2Signature = false;
    bool sha2Members = false;
};

// Whether the target verifies the catalog's algorithms, and why not.
std::string AlgorithmSupport(const TargetSpec& target, const Algorithms& used, std::string* note)
{
    bool sha2 = used.sha2Signature || used.sha2Members;
    if (!sha2 || target.family >= FAMILY_8) {
        return "supported";
    }
    if (target.major == 5 && target.minor == 0) {
        *note = "Windows 2000 has no SHA-2";
        return "unsupported";
    }
    if (target.family == FAMILY_LEGACY || target.family == FAMILY_VISTA) {
        *note = "SHA-2 signatures on this system are not confirmed";
        return "unconfirmed";
    }
    if (used.sha2Members) {
        *note = "SHA-256 member hashes on Windows 7 are not confirmed";
        return "unconfirmed";
    }
    return "supported";  // a SHA-256 catalog signature stages on 7; loading needs KB3033929
}

// The refusal code of an untrusted chain: the trust error that names it.
std::string UntrustedCode(const std::string& why)
{
    if (why.compare(0, 11, "self-signed") == 0) {
        return "0x800B0109";
    }
    if (why.compare(0, 7, "expired") == 0) {
        return "0x800B0101";
    }
    if (why.compare(0, 17, "no code-signing E") == 0) {
        return "0x800B0110";
    }
    return "0x800B010A";
}

Seen SeenBy(const PackageReport& report, bool covered, const std::string& support, const std::string& note)
{
    const CatalogReport& catalog = report.catalog;
    const CatalogTrust& trust = catalog.trust;
    if (catalog.names.empty()) {
        return Seen{UNSIGNED, "the INF names no catalog", "0xE000022F", false};
    }
    if (trust.kind == TRUST_BROKEN) {
        return Seen{ALTERED, "the catalog is broken: " + trust.why, "0x80096010", true};
    }
    bool infCovered = !catalog.files.empty() && catalog.files[0].name == report.infName;
    if (!infCovered) {
        return Seen{UNSIGNED, "the catalog names no member for the INF", "0xE000022F", false};
    }
    if (!catalog.files[0].covered) {
        return Seen{ALTERED, "the INF does not match its hash in the catalog", "0xE000024B", false};
    }
    if (!covered) {
        return Seen{UNSIGNED, "the catalog's OSAttr does not name this system", "0xE0000244", true};
    }
    if (support == "unsupported") {
        return Seen{UNSIGNED, note, "0x80096010", true};
    }
    switch (trust.kind) {
    case TRUST_UNTRUSTED:
        return Seen{UNTRUSTED, "the catalog is untrusted: " + trust.why, UntrustedCode(trust.why), true};
    case TRUST_VENDOR:
        return Seen{trust.trustedPublisher ? TRUSTED_VENDOR : VENDOR, "", "", false};
    case TRUST_ATTESTATION:
        return Seen{ATTESTED, "", "", false};
    case TRUST_WHQL:
        return Seen{WHQL, "", "", false};
    default:
        return Seen{UNSIGNED, "no catalog", "0xE000022F", false};
    }
}

void Stage(const TargetSpec& target, const Seen& seen, const std::string& signer, TargetVerdict* verdict)
{
    bool legacy = target.family == FAMILY_LEGACY;
    switch (seen.standing) {
    case UNSIGNED:
    case ALTERED:
    case UNTRUSTED:
        verdict->cause = seen.reason;
        if (legacy) {
            verdict->staging = "prompt";
            verdict->cause +=
                "; the default driver signing policy (Warn) asks whether to install unsigned software";
        } else if (target.family <= FAMILY_7) {
            verdict->staging = "prompt";
            verdict->cause += "; Windows warns in red that it can't verify the publisher";
        } else if (target.x64) {
            verdict->staging = "refused";
            verdict->code = seen.code;
        } else {
            verdict->staging = "prompt";
            verdict->cause += "; 32-bit Windows 8 and later are expected to warn (unconfirmed)";
            verdict->unconfirmed = true;
        }
        verdict->unconfirmed = verdict->unconfirmed || seen.unconfirmed;
        return;
    case VENDOR:
        verdict->staging = "prompt";
        verdict->publisher = signer;
        verdict->cause =
            "Authenticode publisher not yet trusted (0xE0000242): Windows asks \"Would you like to "
            "install this device software?\"";
        verdict->unconfirmed = legacy;
        return;
    case TRUSTED_VENDOR:
        verdict->staging = "silent";
        verdict->cause = "the signer is in TrustedPublisher";
        verdict->unconfirmed = legacy;
        return;
    case ATTESTED:
        verdict->staging = "silent";
        verdict->cause = "Microsoft attestation signature";
        verdict->unconfirmed = target.family < FAMILY_10;
        return;
    case WHQL:
        verdict->staging = "silent";
        verdict->cause = legacy ? "WHQL signature; it counts only when the INF's class is in Certclas.inf"
                                : "WHQL signature";
        verdict->unconfirmed = legacy;
        return;
    }
}

const char kNotLoaded64[] =
    "64-bit Windows loads a driver only with an embedded signature, a WHQL catalog or a cross-signed catalog";
const char kNotLoaded1607[] =
    "Windows 10 1607 and later with Secure Boot load only drivers signed by Microsoft's Dev Portal (WHQL or "
    "attestation)";
// 2015-07-29T00:00:00Z: cross-signed certificates issued earlier keep loading on 1607+.
const time_t kCrossSigningCutoff = 1438128000;

DriverVerdict Load(const TargetSpec& target, Standing standing, const CatalogTrust& trust,
                   const Algorithms& used)
{
    DriverVerdict verdict;
    bool cross = (standing == VENDOR || standing == TRUSTED_VENDOR) && !trust.crossCertificate.empty();
    bool sha2 = used.sha2Signature || used.sha2Members;
    verdict.loads = true;
    if (target.family == FAMILY_LEGACY || (!target.x64 && target.family <= FAMILY_7)) {
        return verdict;  // no load check before Vista; 32-bit Vista and 7 check boot drivers only
    }
    if (target.family == FAMILY_10 || target.family == FAMILY_11) {
        if (standing == WHQL || standing == ATTESTED) {
            verdict.unconfirmed = standing == ATTESTED && target.family == FAMILY_11;
            verdict.cause =
                verdict.unconfirmed ? "attestation on 11 24H2 and later after April 2026 is unconfirmed" : "";
            if (!trust.kernelRoot) {
                verdict.loads = false;
                verdict.unconfirmed = true;
                verdict.cause = "its Microsoft root is not one of the three the kernel accepts";
            }
        } else if (cross && trust.signerNotBefore < kCrossSigningCutoff) {
            verdict.unconfirmed = true;
            verdict.cause =
                "cross-signed with a certificate issued before 2015-07-29: the exception is disputed";
            if (target.family == FAMILY_11) {
                verdict.cause +=
                    "; 11 24H2 and later drop cross-signed drivers once the April 2026 policy is enforced";
            }
        } else {
            verdict.loads = false;
            verdict.cause = kNotLoaded1607;
        }
        return verdict;
    }
    if (!target.x64) {  // 32-bit 8 and 8.1
        if (standing != WHQL && !cross) {
            verdict.unconfirmed = true;
            verdict.cause =
                "loads with Secure Boot off; with it on a driver without a Microsoft or cross-signed "
                "signature is expected not to load";
        }
        return verdict;
    }
    if (standing == WHQL || cross) {
        if (sha2 && target.family == FAMILY_7) {
            verdict.loads = false;
            verdict.cause = "Windows 7 needs KB3033929 for SHA-2 signatures";
        } else if (sha2 && target.family == FAMILY_VISTA) {
            verdict.unconfirmed = true;
            verdict.cause = "SHA-2 signatures on Vista are not confirmed";
        }
        return verdict;
    }
    verdict.loads = false;
    verdict.cause =
        standing == ATTESTED ? "attestation-signed drivers load on Windows 10 and later only" : kNotLoaded64;
    return verdict;
}

// The driver files the INF installs: the .sys files the stager copies.
std::vector<std::string> DriverFiles(const PackageReport& report)
{
    std::vector<std::string> files;
    for (const PackageFile& file : report.files) {
        std::string name = Trimmed(file.name);
        if (file.plain && file.present && name.size() > 4 &&
            EqualsNoCase(name.substr(name.size() - 4), ".sys")) {
            files.push_back(name);
        }
    }
    return files;
}

// Whether a member of the catalog holds the driver file's hash.
bool DriverCovered(const CatalogReport& catalog, const std::string& name)
{
    for (const CatalogFileCheck& file : catalog.files) {
        if (EqualsNoCase(file.name, name)) {
            return file.covered;
        }
    }
    return false;
}

std::string OsList(const std::vector<std::string>& entries)
{
    std::string text;
    for (const std::string& entry : entries) {
        text += (text.empty() ? "" : ",") + entry;
    }
    return text;
}

std::string Mark(bool unconfirmed)
{
    return unconfirmed ? " (unconfirmed)" : "";
}

void WarnAbout(const TargetVerdict& verdict, const CatalogReport& catalog, PackageReport* report)
{
    // One warning says both: the catalog does not apply, and what follows.
    if (!verdict.covered) {
        WarnFor(report, "CATALOG_OS_NOT_COVERED", verdict.target,
                "the catalog " + Quote(catalog.name) + " covers " + OsList(catalog.osVersions) +
                    ", not this system: Windows treats the package as unsigned and " +
                    (verdict.staging == "refused" ? "refuses it with " + verdict.code
                                                  : "asks before it stages it") +
                    " (unconfirmed).");
    } else if (verdict.staging == "prompt") {
        WarnFor(report, "STAGING_PROMPTS", verdict.target,
                (verdict.publisher.empty()
                     ? std::string("Windows asks before it stages the package")
                     : "Windows asks whether to trust the publisher " + Quote(verdict.publisher)) +
                    Mark(verdict.unconfirmed) + ": " + verdict.cause +
                    ". An unattended install waits for an answer.");
    } else if (verdict.staging == "refused") {
        WarnFor(report, "STAGING_REFUSED", verdict.target,
                "Windows refuses to stage the package" +
                    (verdict.code.empty() ? std::string() : " with " + verdict.code) +
                    Mark(verdict.unconfirmed) + ": " + verdict.cause + ".");
    }
    for (const DriverVerdict& driver : verdict.drivers) {
        if (!driver.loads) {
            WarnFor(report, "DRIVER_NOT_LOADED", verdict.target,
                    Quote(driver.file) + " is not loaded (Code 52)" + Mark(driver.unconfirmed) + ": " +
                        driver.cause + ".");
        }
    }
}

}  // namespace

const std::vector<std::string>& KnownTargets()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const TargetSpec& target : kTargets) {
            list.push_back(target.name);
        }
        return list;
    }();
    return names;
}

bool IsKnownTarget(const std::string& name)
{
    for (const TargetSpec& target : kTargets) {
        if (name == target.name) {
            return true;
        }
    }
    return false;
}

const char* TrustKindName(TrustKind kind)
{
    static const char* const kNames[] = {"none", "broken", "untrusted", "vendor", "attestation", "whql"};
    return kNames[kind];
}

void JudgeTargets(PackageReport* report)
{
    const CatalogReport& catalog = report->catalog;
    const CatalogTrust& trust = catalog.trust;
    Algorithms used;
    used.sha2Signature =
        !catalog.contents.signatureDigest.empty() && !IsSha1OrMd5(catalog.contents.signatureDigest);
    for (const std::string& algorithm : catalog.hashAlgorithms) {
        used.sha2Members = used.sha2Members || !IsSha1OrMd5(algorithm);
    }
    std::vector<std::string> drivers = DriverFiles(*report);
    bool judged = catalog.names.empty() || trust.judged;
    for (const TargetSpec& target : kTargets) {
        const std::vector<std::string>& chosen = report->options.targets;
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), target.name) == chosen.end()) {
            continue;
        }
        TargetVerdict verdict;
        verdict.target = target.name;
        verdict.covered = !catalog.checked || Covers(catalog.osVersions, target);
        std::string note;
        verdict.algorithms = catalog.checked ? AlgorithmSupport(target, used, &note) : "supported";
        if (report->stagerExitCode != 0) {
            // The run ends before Windows judges the signature.
            verdict.staging = "refused";
            verdict.cause = report->failure;
        } else if (!judged) {
            verdict.staging = "unknown";
            verdict.cause = "the catalog was not judged: " + catalog.note;
        } else {
            Seen seen = SeenBy(*report, verdict.covered, verdict.algorithms, note);
            Stage(target, seen, catalog.contents.signer, &verdict);
            if (verdict.algorithms == "unconfirmed") {
                verdict.unconfirmed = true;
                verdict.cause += "; " + note;
            }
            for (const std::string& file : drivers) {
                Standing standing = seen.standing;
                if (standing >= VENDOR && !DriverCovered(catalog, file)) {
                    standing = UNSIGNED;  // no member holds its hash
                }
                DriverVerdict driver = Load(target, standing, trust, used);
                driver.file = file;
                if (standing == UNSIGNED && seen.standing >= VENDOR && !driver.loads) {
                    driver.cause = "no member of the catalog holds its hash; " + driver.cause;
                }
                verdict.drivers.push_back(driver);
            }
        }
        report->targets.push_back(verdict);
        if (report->stagerExitCode == 0) {
            WarnAbout(verdict, catalog, report);
        }
        bool silent = verdict.staging == "silent" && !verdict.unconfirmed;
        for (const DriverVerdict& driver : verdict.drivers) {
            silent = silent && driver.loads && !driver.unconfirmed;
        }
        report->requirementMet = report->requirementMet && (silent || !report->options.requireSilent);
    }
}
