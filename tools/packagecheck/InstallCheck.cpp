// What each target installs from the INF (the INF model read per target),
// found in the package: which files it copies from where, whether its
// catalog holds them, the machine type of its drivers, and the warnings
// about what Windows serves that the stager's own reading misses.
#include <algorithm>
#include <map>

#include "CheckParts.h"
#include "PeImage.h"

namespace {

// How much of a driver file is read for its PE header.
const size_t kPeHeaderRead = 4096;

bool IsDriverName(const std::string& name)
{
    return name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".sys");
}

std::string MachineName(uint16_t machine)
{
    switch (machine) {
    case PE_MACHINE_I386:
        return "x86";
    case PE_MACHINE_AMD64:
        return "x64";
    case PE_MACHINE_ARM64:
        return "ARM64";
    default:
        char text[8];
        snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(machine));
        return text;
    }
}

bool MachineRuns(Architecture architecture, uint16_t machine)
{
    return architecture == Architecture::X86   ? machine == PE_MACHINE_I386
           : architecture == Architecture::X64 ? machine == PE_MACHINE_AMD64
                                               : machine == PE_MACHINE_ARM64;
}

// "USB\VID_1A2B&PID_0001..." as "1A2B/0001" (upper case); empty for other ids.
std::string UsbIds(const std::string& hardwareId)
{
    const size_t vid = FindNoCase(hardwareId, "usb\\vid_");
    const size_t pid = vid == 0 ? FindNoCase(hardwareId, "&pid_", 8) : std::string::npos;
    if (pid != 12 || hardwareId.size() < 21) {
        return std::string();
    }
    std::string ids = hardwareId.substr(8, 4) + "/" + hardwareId.substr(17, 4);
    std::transform(ids.begin(), ids.end(), ids.begin(),
                   [](char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); });
    return ids;
}

// Groups items by a text: the targets each message applies to, in first-seen order.
class Grouped {
public:
    void Add(const std::string& key, const std::string& target)
    {
        if (std::find(keys_.begin(), keys_.end(), key) == keys_.end()) {
            keys_.push_back(key);
        }
        targets_[key].push_back(target);
    }
    const std::vector<std::string>& Keys() const { return keys_; }
    std::string Targets(const std::string& key) const { return Joined(targets_.at(key), ", "); }
    size_t Count(const std::string& key) const { return targets_.at(key).size(); }
    const std::vector<std::string>& List(const std::string& key) const { return targets_.at(key); }

private:
    std::vector<std::string> keys_;
    std::map<std::string, std::vector<std::string>> targets_;
};

bool IsChosen(const PackageReport& report, const std::string& target)
{
    const std::vector<std::string>& chosen = report.options.targets;
    return chosen.empty() || std::find(chosen.begin(), chosen.end(), target) != chosen.end();
}

const CatalogReport* CatalogNamed(const PackageReport& report, const std::string& name)
{
    if (name.empty()) {
        return nullptr;
    }
    if (report.catalog.present && EqualsNoCase(report.catalog.name, name)) {
        return &report.catalog;
    }
    for (const CatalogReport& catalog : report.otherCatalogs) {
        if (EqualsNoCase(catalog.name, name)) {
            return &catalog;
        }
    }
    return nullptr;
}

const CatalogFileCheck* HashedAs(const CatalogReport& catalog, const std::string& relative)
{
    for (const CatalogFileCheck& file : catalog.files) {
        if (EqualsNoCase(PlainRelative(file.name), PlainRelative(relative))) {
            return &file;
        }
    }
    return nullptr;
}

}  // namespace

void ReadInstalls(const std::string& bytes, PackageReport* report)
{
    report->inf = ParseInf(bytes);
    report->infRead = true;
    // Registry lines keep an undefined %key% as text in the value they write;
    // that changes nothing the check judges, so it is not warned about.
    std::vector<std::string> registrySections;
    for (const InfSection& section : report->inf.sections) {
        for (const InfEntry& entry : section.entries) {
            if (entry.hasKey && (InfNameEquals(entry.key, "AddReg") || InfNameEquals(entry.key, "DelReg"))) {
                for (const std::string& name : entry.fields) {
                    registrySections.push_back(InfLower(name));
                }
            }
        }
    }
    for (const InfNote& note : report->inf.notes) {
        if (note.code == "INF_STRING_UNDEFINED" && Contains(registrySections, InfLower(note.section))) {
            continue;
        }
        Warn(report, note.code.c_str(),
             (note.line > 0 ? "INF line " + std::to_string(note.line) + ": " : std::string()) + note.message);
    }
    // A note about a section is given once, with the targets it is about
    // unless it is about all of them.
    Grouped notes;
    std::map<std::string, std::string> codes;
    for (const WindowsTarget& target : WindowsTargets()) {
        report->installs.push_back(InstallFor(report->inf, target));
        for (const InfNote& note : report->installs.back().notes) {
            const std::string text =
                (note.line > 0 ? "INF line " + std::to_string(note.line) + ": " : std::string()) +
                note.message;
            codes[text] = note.code;
            notes.Add(text, target.name);
        }
    }
    for (const std::string& text : notes.Keys()) {
        if (notes.Count(text) == WindowsTargets().size()) {
            Warn(report, codes[text].c_str(), text);
            continue;
        }
        for (const std::string& target : notes.List(text)) {
            if (IsChosen(*report, target)) {
                WarnFor(report, codes[text].c_str(), target, text);
            }
        }
    }
}

std::string PackageRelative(const PackageReport& report, const std::string& infRelative)
{
    const size_t slash = report.infName.find_last_of("\\/");
    return PlainRelative(slash == std::string::npos ? infRelative
                                                    : report.infName.substr(0, slash + 1) + infRelative);
}

bool InstalledBy(const PackageReport& report, const std::string& relative, const std::string* catalogName)
{
    for (const InfTargetInstall& install : report.installs) {
        if (catalogName != nullptr && !EqualsNoCase(install.catalog, *catalogName)) {
            continue;
        }
        for (const InfInstalledFile& file : install.files) {
            if (EqualsNoCase(PackageRelative(report, file.source), PlainRelative(relative))) {
                return true;
            }
        }
    }
    // The stager copies what [SourceDisksFiles] names from the package folder itself.
    for (const PackageFile& file : report.files) {
        if (file.plain && file.present && EqualsNoCase(Trimmed(file.name), PlainRelative(relative))) {
            return true;
        }
    }
    return false;
}

TargetInstallReport InstallReportFor(const PackageReport& report, size_t targetIndex)
{
    TargetInstallReport out;
    out.target = WindowsTargets()[targetIndex].name;
    out.install = report.installs[targetIndex];
    out.catalog = CatalogNamed(report, out.install.catalog);
    for (const InfInstalledFile& file : out.install.files) {
        InstalledFileCheck check;
        check.name = file.name;
        check.source = PackageRelative(report, file.source);
        const std::string path = JoinPath(report.programFolder, check.source);
        check.present = IsFile(path);
        const CatalogFileCheck* hashed =
            out.catalog != nullptr ? HashedAs(*out.catalog, check.source) : nullptr;
        check.named = hashed != nullptr;
        check.covered = hashed != nullptr && hashed->covered;
        std::string head;
        if (check.present && IsDriverName(file.name) && ReadBytes(path, kPeHeaderRead, &head)) {
            check.machine = PeMachine(head);
        }
        out.files.push_back(check);
    }
    return out;
}

void WarnAboutInstalls(PackageReport* report)
{
    std::vector<std::string> table;
    for (uint16_t d = 0; d < report->table.count && d < DEVICE_TABLE_SIZE; ++d) {
        std::string ids = UsbIds(std::string("USB\\VID_") + report->table.entries[d].vid + "&PID_" +
                                 WithoutNewline(report->table.entries[d].pid));
        if (!ids.empty() && !Contains(table, ids)) {
            table.push_back(ids);
        }
    }
    for (size_t i = 0; i < report->targetInstalls.size() && i < report->targets.size(); ++i) {
        const TargetInstallReport& install = report->targetInstalls[i];
        const WindowsTarget* target = FindWindowsTarget(install.target);
        if (target == nullptr) {
            continue;
        }
        const std::string& name = install.target;
        if (install.install.devices.empty() && report->targets[i].covered) {
            WarnFor(report, "NO_DEVICE_SERVED", name,
                    target->architecture == Architecture::X86
                        ? std::string("Windows serves no device of the INF here: no models section applies.")
                        : "Windows serves no device of the INF here: no [Manufacturer] decoration names NT" +
                              PlatformOf(*target).architecture +
                              ", and 64-bit Windows never uses an undecorated models section.");
        }
        for (const InstalledFileCheck& file : install.files) {
            if (!file.present) {
                WarnFor(report, "FILE_MISSING_FOR_TARGET", name,
                        Quote(file.source) +
                            " is copied here but is not in the package: Windows cannot "
                            "install the device.");
            } else if (file.machine != 0 && !MachineRuns(target->architecture, file.machine)) {
                WarnFor(report, "DRIVER_WRONG_MACHINE", name,
                        Quote(file.source) + " is an " + MachineName(file.machine) +
                            " image, which this system's kernel never loads, yet the INF installs it here.");
            }
        }
        // The stager's table against the USB ids Windows serves here.
        std::vector<std::string> served;
        for (const InfDevice& device : install.install.devices) {
            const std::string ids = UsbIds(device.hardwareId);
            if (!ids.empty() && !Contains(served, ids)) {
                served.push_back(ids);
            }
        }
        std::vector<std::string> onlyStager;
        std::vector<std::string> onlyWindows;
        for (const std::string& ids : table) {
            if (!Contains(served, ids)) {
                onlyStager.push_back(ids);
            }
        }
        for (const std::string& ids : served) {
            if (!Contains(table, ids)) {
                onlyWindows.push_back(ids);
            }
        }
        if (served.empty() || (onlyStager.empty() && onlyWindows.empty())) {
            continue;
        }
        WarnFor(report, "STAGER_DEVICES_DIFFER", name,
                (onlyStager.empty() ? std::string()
                                    : "the stager's device table has " + LineList(onlyStager) +
                                          ", which Windows does not serve here") +
                    (!onlyStager.empty() && !onlyWindows.empty() ? "; " : "") +
                    (onlyWindows.empty() ? std::string()
                                         : "Windows serves " + LineList(onlyWindows) +
                                               " here, which the stager's device table lacks") +
                    ".");
    }
}
