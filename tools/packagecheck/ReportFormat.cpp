// The check's report as text for people and as JSON for CI scripts. Both show
// the same content; SCHEMA.md documents the JSON.
#include <set>

#include <nlohmann/json.hpp>

#include "CheckText.h"
#include "PackageCheck.h"
#include "common/BoundedText.h"

namespace {

// INF text can carry control characters (a pid that ends in the newline, a
// tab-indented key); the text report shows them as escapes so that each item
// stays on its line. The JSON holds the text as it is.
std::string Visible(const std::string& text)
{
    std::string shown;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            FormatText(escape, sizeof escape, "\\x%02X", byte);
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Quoted(const std::string& text)
{
    return Quote(Visible(text));
}

// The targets whose verdict is `staging`, as "a, b".
std::string TargetsWith(const PackageReport& report, Staging staging)
{
    std::vector<std::string> names;
    for (const TargetVerdict& verdict : report.targets) {
        if (verdict.staging == staging) {
            names.push_back(verdict.target);
        }
    }
    return Joined(names, ", ");
}

// The last line: the check's exit code and the stager's, and where Windows
// refuses the package or warns before staging it, so that a refusal is never
// read as a mere warning.
std::string ResultText(const PackageReport& report)
{
    std::string text = "Result: " + std::to_string(report.exitCode);
    if (report.exitCode == CHECK_RUN_FAILS) {
        return text + " (the run would fail): the stager would end with " +
               std::to_string(report.stagerExitCode) + ". " + report.failure + "\n";
    }
    std::string refused = TargetsWith(report, Staging::Refused);
    std::string warned = TargetsWith(report, Staging::Warn);
    std::string windows = refused.empty() ? "" : "Windows refuses the package on " + refused;
    if (!warned.empty()) {
        windows +=
            (windows.empty() ? "Windows warns before staging it on " : "; it warns before staging it on ") +
            warned;
    }
    if (report.exitCode == CHECK_NOT_SILENT) {
        text += " (--require silent not met" + (windows.empty() ? "" : "; " + windows) + ")";
    } else if (!windows.empty()) {
        text += " (warnings; " + windows + ")";
    } else {
        text += report.exitCode == CHECK_WARNINGS ? " (warnings only)" : " (nothing to warn about)";
    }
    return text + ": the stager would end with " + std::to_string(report.stagerExitCode) + ".\n";
}

std::string FileLine(const PackageFile& file)
{
    if (!file.plain) {
        return "  UNSAFE                        " + Quoted(file.name) + "\n";
    }
    if (!file.present) {
        return "  MISSING                       " + Quoted(file.name) + "\n";
    }
    char size[32];
    FormatText(size, sizeof size, "%12lld", file.size);
    return std::string("  present ") + size + " bytes  " + Quoted(file.name) + "\n";
}

// A 32-bit program of the package and its 64-bit build.
std::string ProgramLine(const char* what, const char* name, bool present, const char* name64, bool present64)
{
    return std::string(what) + name + ": " + (present ? "present" : "MISSING") + "; 64-bit build " + name64 +
           ": " + (present64 ? "present" : "MISSING") + "\n";
}

std::string CatalogFileLine(const CatalogFileCheck& file)
{
    std::string state = file.covered ? "  covered      " : "  NOT COVERED  ";
    std::string hash = file.hash.empty() ? "(" + file.problem + ")" : file.hash;
    return state + file.algorithm + " " + (file.peImage ? "pe   " : "flat ") + hash + "  " +
           Quoted(file.name) + "\n";
}

std::string TimeStampText(const TimeStampCheck& stamp)
{
    if (stamp.kind == TimeStampKind::None) {
        return "  Time stamp: none\n";
    }
    return "  Time stamp: " + std::string(TimeStampKindName(stamp.kind)) + " " +
           (stamp.time.empty() ? std::string("(no time)") : stamp.time) +
           (stamp.verified ? ", verified; authority chain: " + Joined(stamp.chain, " -> ")
                           : ", DOES NOT VERIFY (" + stamp.problem + ")") +
           "\n";
}

// The catalog's kind and the chain behind it.
std::string TrustText(const CatalogReport& catalog)
{
    const CatalogTrust& trust = catalog.trust;
    if (!trust.judged) {
        return "  Kind: not judged by this build\n";
    }
    std::string text = "  Kind: " + std::string(TrustKindName(trust.kind));
    if (!trust.why.empty()) {
        text += " (" + trust.why + ")";
    }
    text += "\n";
    if (trust.checkedAt.empty()) {
        return text;
    }
    text += "  Chain (checked at " + trust.checkedAt + ", " + CheckedAtName(trust.checkedAtSource) + "; " +
            (trust.anchor == Anchor::Microsoft ? "Microsoft root " + trust.microsoftRoot
                                               : "CA bundle " + trust.caBundle) +
            "): " + Joined(trust.chain, " -> ") + "\n";
    text += TimeStampText(trust.timeStamp);
    if (!trust.crossCertificate.empty() || !trust.crossProblem.empty()) {
        text += "  Cross-certificate: " +
                (trust.crossCertificate.empty() ? "does not count: " + trust.crossProblem
                                                : trust.crossCertificate) +
                "\n";
    }
    if (trust.trustedPublisher) {
        text += "  Trusted publisher: the signer\n";
    }
    return text;
}

std::string CatalogText(const CatalogReport& catalog)
{
    if (catalog.names.empty()) {
        return "Catalog: none named in [Version]" +
               // The catalog check judges a package without a catalog; where it did not run,
               // the note says why (the INF was not read).
               (catalog.trust.judged || catalog.note.empty() ? std::string() : " (" + catalog.note + ")") +
               "\n";
    }
    std::string text =
        "Catalog: " + Visible(catalog.name) + (catalog.present ? " (present)\n" : " (MISSING)\n");
    if (!catalog.checked) {
        return catalog.present ? text + "  Not checked: " + catalog.note + "\n" : text;
    }
    const CatalogContents& contents = catalog.contents;
    text += contents.signatureIntact ? "  Signature: intact"
                                     : "  Signature: BROKEN (" + contents.signatureProblem + ")";
    text += "; signer " + (contents.signer.empty() ? std::string("(unknown)") : Quoted(contents.signer));
    text += "; signed " + (contents.signingTime.empty()
                               ? std::string("(no time)")
                               : contents.signingTime + " (" + contents.signingTimeSource + ")");
    text += "; digest " +
            (contents.signatureDigest.empty() ? std::string("(unknown)") : contents.signatureDigest) + "\n";
    text += "  Members: " + std::to_string(contents.members.size()) + " (hashes: " +
            (catalog.hashAlgorithms.empty() ? std::string("none") : Joined(catalog.hashAlgorithms, ", ")) +
            ")\n";
    text += "  OS versions: " +
            (catalog.osVersions.empty() ? std::string("(not restricted)") : Joined(catalog.osVersions, " ")) +
            "\n";
    for (const CatalogFileCheck& file : catalog.files) {
        text += CatalogFileLine(file);
    }
    return text;
}

std::string Unconfirmed(bool unconfirmed)
{
    return unconfirmed ? "*" : "";
}

// "-" where the catalog was not judged.
std::string DriversText(const TargetVerdict& verdict, bool judged)
{
    if (!judged) {
        return "-";
    }
    if (verdict.drivers.empty()) {
        return "(none of its own)";
    }
    std::string text;
    for (const DriverVerdict& driver : verdict.drivers) {
        const char* load = verdict.staging == Staging::Refused ? " not staged"
                           : driver.loads                      ? " loads"
                                                               : " NOT LOADED";
        text += (text.empty() ? "" : "; ") + Visible(driver.file) + load + Unconfirmed(driver.unconfirmed);
    }
    return text;
}

std::string StagingText(const TargetVerdict& verdict)
{
    std::string text = StagingName(verdict.staging);
    if (!verdict.publisher.empty()) {
        text += " " + Quoted(verdict.publisher);
    }
    if (verdict.code != 0) {
        text += " " + CodeText(verdict.code);
    }
    return text + Unconfirmed(verdict.unconfirmed);
}

// One row per target: its OSAttr coverage, its staging verdict and its drivers.
std::string TargetsText(const std::vector<TargetVerdict>& targets, bool judged)
{
    if (targets.empty()) {
        return "Targets: not judged (the run ends before staging)\n";
    }
    std::string text = "Targets: " + std::to_string(targets.size()) + " (* unconfirmed)\n";
    text += "  target     OSAttr   staging                                  drivers\n";
    for (const TargetVerdict& verdict : targets) {
        char row[160];
        FormatText(row, sizeof row, "  %-9s  %-7s  %-39s  ", verdict.target.c_str(),
                   verdict.covered ? "covers" : "NOT", StagingText(verdict).c_str());
        text += row + DriversText(verdict, judged) + "\n";
    }
    return text;
}

// How many hardware ids the target x device matrix shows as columns.
const size_t kMatrixColumns = 10;

// What Windows installs per chosen target, read from the INF as Windows
// reads it: a column per hardware id (x: served there), the catalog that
// applies, how many files it copies and the models sections chosen.
std::string InstallsText(const PackageReport& report)
{
    if (report.targetInstalls.empty()) {
        return std::string();
    }
    std::vector<std::string> ids;
    std::vector<std::string> descriptions;
    std::set<std::string> hidden;  // each hardware id past the columns once, whatever the targets serving it
    for (const TargetInstallReport& install : report.targetInstalls) {
        for (const InfDevice& device : install.install.devices) {
            if (Contains(ids, device.hardwareId)) {
                continue;
            }
            if (ids.size() == kMatrixColumns) {
                hidden.insert(device.hardwareId);
                continue;
            }
            ids.push_back(device.hardwareId);
            descriptions.push_back(device.description);
        }
    }
    std::string text = "What Windows installs (the INF as Windows reads it; x: serves the device):\n";
    for (size_t i = 0; i < ids.size(); ++i) {
        char label[8];
        FormatText(label, sizeof label, "d%u", static_cast<unsigned>(i + 1));
        text += std::string("  ") + label + "  " + Visible(ids[i]) + "  " + Visible(descriptions[i]) + "\n";
    }
    if (!hidden.empty()) {
        text += "  (and " + std::to_string(hidden.size()) + " more hardware ids)\n";
    }
    std::string header = "  target    ";
    for (size_t i = 0; i < ids.size(); ++i) {
        char label[8];
        FormatText(label, sizeof label, " d%-2u", static_cast<unsigned>(i + 1));
        header += label;
    }
    text += header + "  catalog               files  models\n";
    for (const TargetInstallReport& install : report.targetInstalls) {
        char row[32];
        FormatText(row, sizeof row, "  %-9s ", install.target.c_str());
        std::string line = row;
        for (const std::string& id : ids) {
            bool served = false;
            for (const InfDevice& device : install.install.devices) {
                served = served || device.hardwareId == id;
            }
            line += served ? " x  " : " -  ";
        }
        char rest[64];
        FormatText(rest, sizeof rest, "  %-20s  %5u  ",
                   install.install.catalog.empty() ? "(none)" : Visible(install.install.catalog).c_str(),
                   static_cast<unsigned>(install.files.size()));
        line += rest;
        line += install.install.modelsSections.empty()
                    ? "(none)"
                    : Visible(Joined(install.install.modelsSections, ", "));
        text += line + "\n";
    }
    return text;
}

}  // namespace

std::string FormatReportText(const PackageReport& report)
{
    std::string text = "MERVOPackageCheck\n";
    text += "Package folder: " + report.packageFolder + " (read as " + report.programFolder + ")\n";
    text += "INF: " + Visible(report.infName) + " (" + Visible(report.infPath) + ")\n";

    const DeviceIdTable& table = report.table;
    text += "Devices: " + std::to_string(table.count) + "\n";
    if (table.count > 0) {
        text += "  index  vid   pid   description\n";
    }
    for (uint16_t i = 0; i < table.count && i < DEVICE_TABLE_SIZE; ++i) {
        const DeviceIdEntry& entry = table.entries[i];
        char row[64];
        FormatText(row, sizeof row, "  %-5s  %-4s  %-4s  ", entry.indexText, Visible(entry.vid).c_str(),
                   Visible(entry.pid).c_str());
        text += row + Visible(entry.description) + "\n";
    }
    text += "Remove command pattern: " +
            (report.removePattern.empty() ? std::string("(none)") : Visible(report.removePattern)) + "\n";

    text += "Stale files deleted from the Windows INF folder:";
    for (const std::string& name : report.staleFiles) {
        text += " " + Visible(name);
    }
    text += "\n";

    text += "Files copied to System32\\Drivers: " + std::to_string(report.files.size());
    text += report.sourceDisksFiles ? "\n" : " (no [SourceDisksFiles] section)\n";
    for (const PackageFile& file : report.files) {
        text += FileLine(file);
    }
    text += ProgramLine("Companion tool ", kCompanionToolName, report.companionToolPresent,
                        kCompanionTool64Name, report.companionTool64Present);
    text += ProgramLine("Stager ", kStagerName, report.stagerPresent, kStager64Name, report.stager64Present);
    text += CatalogText(report.catalog) + TrustText(report.catalog);
    text += TargetsText(report.targets, report.catalog.trust.judged);
    text += InstallsText(report);

    text += "Warnings: " + std::to_string(report.warnings.size()) + "\n";
    for (const PackageWarning& warning : report.warnings) {
        text += "  " + warning.code + ": " + Visible(warning.message) + "\n";
    }
    if (report.options.requireSilent) {
        text += std::string("Requirement --require silent: ") +
                (report.requirementMet ? "met"
                                       : "NOT MET (a target prompts, refuses, loads no driver or rests "
                                         "on an unconfirmed rule)") +
                "\n";
    }
    return text + ResultText(report);
}

namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

Json TimeStampJson(const TimeStampCheck& stamp)
{
    if (stamp.kind == TimeStampKind::None) {
        return Json(nullptr);
    }
    return {{"kind", TimeStampKindName(stamp.kind)},
            {"time", TextOrNull(stamp.time)},
            {"verified", stamp.verified},
            {"problem", TextOrNull(stamp.problem)},
            {"chain", stamp.chain}};
}

Json CatalogJson(const CatalogReport& catalog)
{
    const CatalogContents& contents = catalog.contents;
    Json files = Json::array();
    for (const CatalogFileCheck& file : catalog.files) {
        files.push_back({{"name", file.name},
                         {"algorithm", file.algorithm},
                         {"kind", file.peImage ? "pe" : "flat"},
                         {"hash", TextOrNull(file.hash)},
                         {"covered", file.covered},
                         {"problem", TextOrNull(file.problem)}});
    }
    return {
        {"names", catalog.names},
        {"name", TextOrNull(catalog.name)},
        {"present", catalog.present},
        {"checked", catalog.checked},
        {"note", TextOrNull(catalog.note)},
        {"signatureIntact", catalog.checked ? Json(contents.signatureIntact) : Json(nullptr)},
        {"signatureProblem", TextOrNull(contents.signatureProblem)},
        {"signer", TextOrNull(contents.signer)},
        {"signerSubject", TextOrNull(contents.signerSubject)},
        {"signingTime", TextOrNull(contents.signingTime)},
        {"signingTimeSource", TextOrNull(contents.signingTimeSource)},
        {"signatureDigest", TextOrNull(contents.signatureDigest)},
        {"hashAlgorithm", catalog.hashAlgorithms.empty() ? Json(nullptr) : Json(catalog.hashAlgorithms[0])},
        {"hashAlgorithms", catalog.hashAlgorithms},
        {"members", catalog.checked ? Json(contents.members.size()) : Json(nullptr)},
        {"osVersions", catalog.osVersions},
        {"files", files},
        {"kind", catalog.trust.judged ? Json(TrustKindName(catalog.trust.kind)) : Json(nullptr)},
        {"kindReason", TextOrNull(catalog.trust.why)},
        {"chain", catalog.trust.chain},
        {"anchor", TextOrNull(AnchorName(catalog.trust.anchor))},
        {"microsoftRoot", TextOrNull(catalog.trust.microsoftRoot)},
        {"caBundle", TextOrNull(catalog.trust.caBundle)},
        {"checkedAt", TextOrNull(catalog.trust.checkedAt)},
        {"checkedAtSource", catalog.trust.checkedAt.empty()
                                ? Json(nullptr)
                                : Json(CheckedAtName(catalog.trust.checkedAtSource))},
        {"signerEkus", catalog.trust.signerEkus},
        {"timeStamp", TimeStampJson(catalog.trust.timeStamp)},
        {"crossCertificate", TextOrNull(catalog.trust.crossCertificate)},
        {"crossProblem", TextOrNull(catalog.trust.crossProblem)},
        {"trustedPublisher", catalog.trust.trustedPublisher},
    };
}

// What one target installs; null members where the INF was not read.
void AddInstall(const TargetInstallReport& install, Json* target)
{
    Json devices = Json::array();
    for (const InfDevice& device : install.install.devices) {
        devices.push_back({{"hardwareId", device.hardwareId},
                           {"compatibleIds", device.compatibleIds},
                           {"description", device.description},
                           {"manufacturer", device.manufacturer},
                           {"modelsSection", device.modelsSection},
                           {"installSection", device.installSection},
                           {"ddInstall", TextOrNull(device.ddInstall)}});
    }
    Json files = Json::array();
    for (const InstalledFileCheck& file : install.files) {
        files.push_back({{"name", file.name},
                         {"source", file.source},
                         {"present", file.present},
                         {"named", file.named},
                         {"covered", file.covered},
                         {"machine", file.machine == 0 ? Json(nullptr) : Json(file.machine)}});
    }
    Json services = Json::array();
    for (const InfService& service : install.install.services) {
        services.push_back({{"name", service.name}, {"binary", TextOrNull(service.binary)}});
    }
    (*target)["modelsSections"] = install.install.modelsSections;
    (*target)["devices"] = devices;
    (*target)["files"] = files;
    (*target)["services"] = services;
    (*target)["catalog"] = install.install.catalog.empty()
                               ? Json(nullptr)
                               : Json({{"key", install.install.catalogKey},
                                       {"name", install.install.catalog},
                                       {"present", install.catalog != nullptr},
                                       {"checked", install.catalog != nullptr && install.catalog->checked},
                                       {"kind", install.catalog != nullptr && install.catalog->trust.judged
                                                    ? Json(TrustKindName(install.catalog->trust.kind))
                                                    : Json(nullptr)}});
}

Json TargetsJson(const std::vector<TargetVerdict>& targets, const std::vector<TargetInstallReport>& installs)
{
    Json list = Json::array();
    for (size_t index = 0; index < targets.size(); ++index) {
        const TargetVerdict& verdict = targets[index];
        Json drivers = Json::array();
        for (const DriverVerdict& driver : verdict.drivers) {
            drivers.push_back({{"file", driver.file},
                               {"loads", driver.loads},
                               {"cause", TextOrNull(driver.cause)},
                               {"unconfirmed", driver.unconfirmed}});
        }
        list.push_back({{"target", verdict.target},
                        {"covered", verdict.covered},
                        {"algorithms", AlgorithmSupportName(verdict.algorithms)},
                        {"staging", StagingName(verdict.staging)},
                        {"publisher", TextOrNull(verdict.publisher)},
                        {"code", TextOrNull(CodeText(verdict.code))},
                        {"cause", TextOrNull(verdict.cause)},
                        {"unconfirmed", verdict.unconfirmed},
                        {"drivers", drivers}});
        if (index < installs.size()) {
            AddInstall(installs[index], &list.back());
        } else {
            for (const char* field : {"modelsSections", "devices", "files", "services", "catalog"}) {
                list.back()[field] = nullptr;
            }
        }
    }
    return list;
}

}  // namespace

std::string FormatReportJson(const PackageReport& report)
{
    Json document;
    document["schemaVersion"] = 4;
    document["packageFolder"] = report.packageFolder;
    document["programFolder"] = report.programFolder;
    document["inf"] = {
        {"argument", report.infArgument.empty() ? Json(nullptr) : Json(report.infArgument)},
        {"name", report.infName},
        {"path", report.infPath},
        {"readResult", report.deviceReadResult},
    };
    Json devices = Json::array();
    for (uint16_t i = 0; i < report.table.count && i < DEVICE_TABLE_SIZE; ++i) {
        const DeviceIdEntry& entry = report.table.entries[i];
        devices.push_back({{"index", entry.index},
                           {"indexText", entry.indexText},
                           {"vid", entry.vid},
                           {"pid", entry.pid},
                           {"description", entry.description}});
    }
    document["devices"] = devices;
    document["removePattern"] = report.removePattern.empty() ? Json(nullptr) : Json(report.removePattern);
    document["staleFiles"] = report.staleFiles;
    document["sourceDisksFiles"] = report.sourceDisksFiles;
    Json files = Json::array();
    for (const PackageFile& file : report.files) {
        files.push_back({{"name", file.name},
                         {"plain", file.plain},
                         {"present", file.present},
                         {"size", file.size >= 0 ? Json(file.size) : Json(nullptr)}});
    }
    document["files"] = files;
    document["companionTool"] = {{"name", std::string(kCompanionToolName)},
                                 {"present", report.companionToolPresent},
                                 {"name64", std::string(kCompanionTool64Name)},
                                 {"present64", report.companionTool64Present}};
    document["stager"] = {{"name", std::string(kStagerName)},
                          {"present", report.stagerPresent},
                          {"name64", std::string(kStager64Name)},
                          {"present64", report.stager64Present}};
    document["catalog"] = CatalogJson(report.catalog);
    document["targets"] = TargetsJson(report.targets, report.targetInstalls);
    document["requireSilent"] = report.options.requireSilent ? Json(report.requirementMet) : Json(nullptr);
    Json warnings = Json::array();
    for (const PackageWarning& warning : report.warnings) {
        warnings.push_back(
            {{"code", warning.code}, {"message", warning.message}, {"target", TextOrNull(warning.target)}});
    }
    document["warnings"] = warnings;
    document["stagerExitCode"] = report.stagerExitCode;
    document["failure"] = report.failure.empty() ? Json(nullptr) : Json(report.failure);
    document["exitCode"] = report.exitCode;
    // INF text is 8-bit: bytes that are not UTF-8 become U+FFFD rather than
    // making the document invalid.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
