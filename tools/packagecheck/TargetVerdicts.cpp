// What each chosen Windows target does with the package: the facts the
// checks found, put to the signing policy, and the warnings its verdicts give.
#include <algorithm>

#include "CheckParts.h"
#include "common/SignatureCodes.h"

namespace {

bool IsSha1OrMd5(const std::string& algorithm)
{
    return algorithm == "sha1" || algorithm == "md5";
}

// The hashed file of that name (the INF, a driver); null when none was hashed.
const CatalogFileCheck* HashedFile(const CatalogReport& catalog, const std::string& name)
{
    for (const CatalogFileCheck& file : catalog.files) {
        if (EqualsNoCase(file.name, name)) {
            return &file;
        }
    }
    return nullptr;
}

// The driver files the INF installs: the .sys files the stager copies.
std::vector<DriverFacts> DriverFiles(const PackageReport& report, const CatalogReport& catalog)
{
    std::vector<DriverFacts> drivers;
    for (const PackageFile& file : report.files) {
        std::string name = Trimmed(file.name);
        if (file.plain && file.present && name.size() > 4 &&
            EqualsNoCase(name.substr(name.size() - 4), ".sys")) {
            const CatalogFileCheck* hashed = HashedFile(catalog, name);
            DriverFacts driver;
            driver.file = name;
            driver.inCatalog = hashed != nullptr && hashed->covered;
            drivers.push_back(driver);
        }
    }
    return drivers;
}

// The facts of a catalog: the package's first one, or a target's own.
TargetFacts FactsOf(const PackageReport& report, const CatalogReport& catalog)
{
    TargetFacts facts;
    facts.catalogNamed = !catalog.names.empty();
    facts.trust = catalog.trust;
    facts.publisher = catalog.contents.signer;
    facts.catalogRead = catalog.checked;
    facts.osAttr = catalog.osVersions;
    facts.sha2Signature =
        !catalog.contents.signatureDigest.empty() && !IsSha1OrMd5(catalog.contents.signatureDigest);
    for (const std::string& algorithm : catalog.hashAlgorithms) {
        facts.sha2Members = facts.sha2Members || !IsSha1OrMd5(algorithm);
    }
    const CatalogFileCheck* inf = HashedFile(catalog, report.infName);
    if (catalog.checked && (inf == nullptr || !inf->covered)) {
        facts.notInCatalog = report.infName;
    }
    facts.drivers = DriverFiles(report, catalog);
    facts.now = report.options.trust.now;
    facts.standardUser = report.options.standardUser;
    return facts;
}

// The facts of one target that installs what `install` says: its own
// catalog (none when the INF names none for it), every file it installs
// held against that catalog (the INF first), and each driver it installs.
TargetFacts FactsOf(const PackageReport& report, const TargetInstallReport& install)
{
    static const CatalogReport kNone;
    TargetFacts facts = FactsOf(report, install.catalog != nullptr ? *install.catalog : kNone);
    facts.catalogNamed = !install.install.catalog.empty();
    if (install.catalog == nullptr) {
        facts.trust = report.catalog.trust;  // judged or not as the package's catalogs are
        facts.trust.kind = TRUST_NONE;
    }
    const bool read = install.catalog != nullptr && install.catalog->checked;
    facts.drivers.clear();
    for (const InstalledFileCheck& file : install.files) {
        if (read && facts.notInCatalog.empty() && file.present && !file.covered) {
            facts.notInCatalog = file.source;
        }
        if (file.present && file.name.size() > 4 &&
            EqualsNoCase(file.name.substr(file.name.size() - 4), ".sys")) {
            DriverFacts driver;
            driver.file = file.source;
            driver.inCatalog = file.covered;
            driver.machine = file.machine;
            facts.drivers.push_back(driver);
        }
    }
    // The .sys files the stager itself copies to System32\Drivers keep their
    // verdict as before (their machine type is not read: no section of the
    // INF installs them here).
    for (const DriverFacts& copied :
         DriverFiles(report, install.catalog != nullptr ? *install.catalog : kNone)) {
        bool installed = false;
        for (const DriverFacts& driver : facts.drivers) {
            installed = installed || EqualsNoCase(driver.file, copied.file);
        }
        if (!installed) {
            facts.drivers.push_back(copied);
        }
    }
    return facts;
}

std::string Mark(bool unconfirmed)
{
    return unconfirmed ? " (unconfirmed)" : "";
}

void WarnAbout(const TargetVerdict& verdict, const CatalogReport& catalog, PackageReport* report)
{
    bool refused = verdict.staging == Staging::Refused;
    // One warning says both: the catalog does not apply, and what follows;
    // unless a refusal for another cause (a file changed after signing)
    // comes first, which is then told on its own.
    const bool coverageDecides = !refused || verdict.code == SIGNATURE_OSATTRIBUTE_MISMATCH;
    if (!verdict.covered) {
        const std::string consequence =
            refused ? "refuses it" + (verdict.code == 0 ? "" : " with " + CodeText(verdict.code))
            : verdict.staging == Staging::Warn ? std::string("warns before it stages it")
                                               : std::string("asks before it stages it");
        WarnFor(report, "CATALOG_OS_NOT_COVERED", verdict.target,
                "the catalog " + Quote(catalog.name) + " covers " + Joined(catalog.osVersions, ",") +
                    ", not this system: Windows treats the package as unsigned" +
                    (coverageDecides ? " and " + consequence + " (unconfirmed)." : std::string(".")));
    }
    if (!verdict.covered && coverageDecides) {
        // Told above.
    } else if (verdict.staging == Staging::Prompt || verdict.staging == Staging::Warn) {
        WarnFor(report, "STAGING_PROMPTS", verdict.target,
                (verdict.staging == Staging::Warn ? std::string("Windows warns before it stages the package")
                 : verdict.publisher.empty()
                     ? std::string("Windows asks before it stages the package")
                     : "Windows asks whether to trust the publisher " + Quote(verdict.publisher)) +
                    Mark(verdict.unconfirmed) + ": " + verdict.cause +
                    ". An unattended install waits for an answer.");
    } else if (refused) {
        WarnFor(report, "STAGING_REFUSED", verdict.target,
                "Windows refuses to stage the package" +
                    (verdict.code == 0 ? std::string() : " with " + CodeText(verdict.code)) +
                    Mark(verdict.unconfirmed) + ": " + verdict.cause + ".");
    }
    for (const DriverVerdict& driver : refused ? std::vector<DriverVerdict>() : verdict.drivers) {
        if (!driver.loads) {
            WarnFor(report, "DRIVER_NOT_LOADED", verdict.target,
                    Quote(driver.file) + " is not loaded (Code 52)" + Mark(driver.unconfirmed) + ": " +
                        driver.cause + ".");
        }
    }
}

}  // namespace

void JudgeTargets(PackageReport* report)
{
    const CatalogReport& packageCatalog = report->catalog;
    const TargetFacts packageFacts = FactsOf(*report, packageCatalog);
    const std::vector<std::string>& chosen = report->options.targets;
    for (size_t index = 0; index < WindowsTargets().size(); ++index) {
        const WindowsTarget& target = WindowsTargets()[index];
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), target.name) == chosen.end()) {
            continue;
        }
        // With the INF read as Windows reads it, each target has its own
        // catalog and files; without, the package's first catalog serves all.
        const CatalogReport* own = &packageCatalog;
        TargetFacts facts = packageFacts;
        if (report->infRead) {
            report->targetInstalls.push_back(InstallReportFor(*report, index));
            facts = FactsOf(*report, report->targetInstalls.back());
            own = report->targetInstalls.back().catalog != nullptr ? report->targetInstalls.back().catalog
                                                                   : &packageCatalog;
        }
        const CatalogReport& catalog = *own;
        TargetVerdict verdict = JudgeWindowsTarget(target, facts);
        if (report->stagerExitCode != 0) {
            // The run ends before Windows judges the signature.
            verdict.staging = Staging::Refused;
            verdict.publisher.clear();
            verdict.code = 0;
            verdict.cause = report->failure;
            verdict.unconfirmed = false;
            verdict.drivers.clear();
        } else if (verdict.staging == Staging::Unknown && !catalog.trust.judged) {
            verdict.cause += ": " + catalog.note;
        }
        report->targets.push_back(verdict);
        if (report->stagerExitCode == 0) {
            WarnAbout(verdict, catalog, report);
        }
        bool silent = verdict.staging == Staging::Silent && !verdict.unconfirmed;
        for (const DriverVerdict& driver : verdict.drivers) {
            silent = silent && driver.loads && !driver.unconfirmed;
        }
        report->requirementMet = report->requirementMet && (silent || !report->options.requireSilent);
    }
    if (report->infRead) {
        WarnAboutInstalls(report);
    }
}
