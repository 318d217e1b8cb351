// What one target installs from an INF, the way Windows walks it: the
// [Manufacturer] decorations choose a models section, each device's install
// section gets the target's platform extension, and the CopyFiles and
// AddService directives of the chosen sections name the files.
#include "InfInstall.h"

#include <cctype>
#include <cstdlib>
#include <set>

namespace {

struct Decoration {
    bool valid = false;
    std::string architecture;  // lower case; empty: any
    long major = -1, minor = -1, productType = -1, build = -1;
    unsigned long suite = 0;
};

bool ReadNumber(const std::string& text, long* value)
{
    if (text.empty()) {
        return true;  // left out: any
    }
    if (text.size() > 10) {
        return false;
    }
    char* end = nullptr;
    const unsigned long number = strtoul(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || !isdigit(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    *value = static_cast<long>(number & 0x7FFFFFFF);
    return true;
}

// "NT[arch][.major[.minor[.productType[.suite[.build]]]]]".
Decoration ReadDecoration(const std::string& text)
{
    Decoration decoration;
    const std::string lower = InfLower(text);
    if (lower.compare(0, 2, "nt") != 0) {
        return decoration;
    }
    std::vector<std::string> parts;
    size_t start = 2;
    for (;;) {
        const size_t dot = lower.find('.', start);
        parts.push_back(lower.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    if (parts.size() > 6) {
        return decoration;
    }
    static const char* const kArchitectures[] = {"", "x86", "amd64", "arm64", "ia64", "arm"};
    bool known = false;
    for (const char* name : kArchitectures) {
        known = known || parts[0] == name;
    }
    if (!known) {
        return decoration;
    }
    decoration.architecture = parts[0];
    long suite = 0;
    long* numbers[] = {&decoration.major, &decoration.minor, &decoration.productType, &suite,
                       &decoration.build};
    for (size_t i = 1; i < parts.size(); ++i) {
        if (!ReadNumber(parts[i], numbers[i - 1])) {
            return decoration;
        }
    }
    decoration.suite = static_cast<unsigned long>(suite);
    decoration.valid = true;
    return decoration;
}

bool Matches(const Decoration& d, const InfPlatform& p)
{
    if (!d.valid) {
        return false;
    }
    // A 64-bit target reads only decorations that name its architecture.
    if (d.architecture.empty() ? p.architecture != "x86" : d.architecture != p.architecture) {
        return false;
    }
    if (d.major >= 0 && (d.major > p.major || (d.major == p.major && d.minor > p.minor))) {
        return false;
    }
    if (d.productType >= 0 && d.productType != p.productType) {
        return false;
    }
    if ((d.suite & p.suite) != d.suite) {
        return false;
    }
    return d.build < 0 || d.build <= p.build;
}

// Whether `a` is a closer fit than `b` (both match).
bool MoreSpecific(const Decoration& a, const Decoration& b)
{
    auto key = [](const Decoration& d) {
        return std::vector<long>{d.architecture.empty() ? 0 : 1,
                                 d.major,
                                 d.major < 0 ? -1 : std::max(d.minor, 0L),
                                 d.productType >= 0 ? 1 : 0,
                                 d.suite != 0 ? 1 : 0,
                                 d.build};
    };
    return key(a) > key(b);
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A folder of the package as [SourceDisksNames] or [SourceDisksFiles]
// write it ("\i386", ".\", "drivers/x64"): backslashes, no leading "\" or
// ".\", no trailing "\".
std::string PackageFolderPart(std::string path)
{
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    for (bool changed = true; changed;) {
        changed = false;
        if (!path.empty() && path[0] == '\\') {
            path.erase(0, 1);
            changed = true;
        } else if (path == "." || path.compare(0, 2, ".\\") == 0) {
            path.erase(0, path.size() == 1 ? 1 : 2);
            changed = true;
        }
    }
    while (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    return path;
}

std::string JoinFolder(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "\\" + name;
}

class Walker {
public:
    Walker(const InfModel& inf, const InfPlatform& platform, InfTargetInstall* out)
        : inf_(inf), platform_(platform), out_(out)
    {}

    void Note(const char* code, const std::string& message, int line)
    {
        if (notes_.insert(std::string(code) + "\n" + message).second) {
            out_->notes.push_back({code, message, line, std::string()});
        }
    }

    void Manufacturers()
    {
        const InfSection* manufacturer = inf_.Find("Manufacturer");
        if (manufacturer == nullptr) {
            Note("INF_NO_MANUFACTURER", "The INF has no [Manufacturer] section: it serves no device.", 0);
            return;
        }
        for (const InfEntry& entry : manufacturer->entries) {
            const std::string base = entry.fields.empty() ? std::string() : entry.fields[0];
            if (base.empty()) {
                continue;
            }
            const std::string models = ModelsSection(entry, base);
            if (models.empty()) {
                continue;
            }
            const InfSection* section = inf_.Find(models);
            if (section == nullptr) {
                Note("INF_MISSING_SECTION", "The models section [" + models + "] is not in the INF.",
                     entry.line);
                continue;
            }
            out_->modelsSections.push_back(section->name);
            Devices(entry.hasKey ? entry.key : base, *section);
        }
    }

    void InstallSections()
    {
        std::set<std::string> done;
        for (const InfDevice& device : out_->devices) {
            if (device.ddInstall.empty() || !done.insert(InfLower(device.ddInstall)).second) {
                continue;
            }
            std::set<std::string> visiting;
            Install(device.ddInstall, &visiting, 0);
            if (const InfSection* co = inf_.Find(device.ddInstall + ".CoInstallers")) {
                std::set<std::string> coVisiting;
                Install(co->name, &coVisiting, 0);
            }
            std::set<std::string> serviceVisiting;
            Services(device.ddInstall + ".Services", device.ddInstall, &serviceVisiting, false);
        }
    }

private:
    std::string ModelsSection(const InfEntry& entry, const std::string& base)
    {
        if (!platform_.decorations || entry.fields.size() < 2) {
            return platform_.architecture == "x86" ? base : std::string();
        }
        Decoration best;
        std::string bestText;
        for (size_t i = 1; i < entry.fields.size(); ++i) {
            const Decoration decoration = ReadDecoration(entry.fields[i]);
            if (!decoration.valid) {
                Note("INF_BAD_DECORATION",
                     "[Manufacturer] decoration \"" + entry.fields[i] + "\" is not one Windows reads.",
                     entry.line);
                continue;
            }
            if (Matches(decoration, platform_) && (bestText.empty() || MoreSpecific(decoration, best))) {
                best = decoration;
                bestText = entry.fields[i];
            }
        }
        if (!bestText.empty()) {
            return base + "." + bestText;
        }
        // 32-bit Windows falls back to the undecorated section; 64-bit Windows never does.
        return platform_.architecture == "x86" ? base : std::string();
    }

    void Devices(const std::string& manufacturer, const InfSection& models)
    {
        for (const InfEntry& entry : models.entries) {
            InfDevice device;
            device.manufacturer = manufacturer;
            device.modelsSection = models.name;
            device.description = entry.key;
            device.line = entry.line;
            device.installSection = entry.fields[0];
            if (entry.fields.size() > 1) {
                device.hardwareId = entry.fields[1];
            }
            for (size_t i = 2; i < entry.fields.size(); ++i) {
                if (!entry.fields[i].empty()) {
                    device.compatibleIds.push_back(entry.fields[i]);
                }
            }
            if (device.installSection.empty()) {
                continue;
            }
            device.ddInstall = ActualInstallSection(inf_, device.installSection, platform_);
            if (device.ddInstall.empty()) {
                Note("INF_MISSING_SECTION",
                     "The install section [" + device.installSection + "] is not in the INF.", entry.line);
            }
            out_->devices.push_back(device);
        }
    }

    // The directives of an install section: CopyFiles, and Needs within this INF.
    void Install(const std::string& name, std::set<std::string>* visiting, int line)
    {
        const InfSection* section = inf_.Find(name);
        if (section == nullptr) {
            Note("INF_MISSING_SECTION", "The section [" + name + "] is not in the INF.", line);
            return;
        }
        if (!visiting->insert(InfLower(name)).second) {
            Note("INF_CYCLIC_SECTIONS",
                 "[" + section->name + "] is reached again through Needs: it is read once.", line);
            return;
        }
        const bool includes = !inf_.Value(section->name, "Include").empty();
        for (const InfEntry& entry : section->entries) {
            if (!entry.hasKey) {
                continue;
            }
            if (InfNameEquals(entry.key, "CopyFiles")) {
                for (const std::string& item : entry.fields) {
                    CopyFiles(item, entry.line);
                }
            } else if (InfNameEquals(entry.key, "Needs")) {
                for (const std::string& item : entry.fields) {
                    // A section of an included system INF is not ours to read.
                    if (!item.empty() && (inf_.Find(item) != nullptr || !includes)) {
                        Install(item, visiting, entry.line);
                    }
                }
            }
        }
    }

    void CopyFiles(const std::string& item, int line)
    {
        if (item.empty() || item == "@") {
            return;  // names nothing to copy
        }
        if (item[0] == '@') {
            const std::string name = item.substr(1);
            AddFile(name, name, item, "DefaultDestDir", line);
            return;
        }
        const InfSection* section = inf_.Find(item);
        if (section == nullptr) {
            Note("INF_MISSING_SECTION", "The copy section [" + item + "] is not in the INF.", line);
            return;
        }
        for (const InfEntry& entry : section->entries) {
            const std::string destination = entry.hasKey ? entry.key : entry.fields[0];
            const std::string source =
                !entry.hasKey && entry.fields.size() > 1 ? entry.fields[1] : std::string();
            if (destination.empty()) {
                continue;
            }
            AddFile(destination, source.empty() ? destination : source, section->name, section->name,
                    entry.line);
        }
    }

    // Looks the file up in [SourceDisksFiles.<arch>], then [SourceDisksFiles].
    void AddFile(const std::string& name, const std::string& sourceName, const std::string& copySection,
                 const std::string& destinationKey, int line)
    {
        InfInstalledFile file;
        file.name = name;
        file.copySection = copySection;
        const std::string suffix = "." + platform_.architecture;
        bool found = false;
        std::string disk;
        std::string subdir;
        for (const std::string& sectionName :
             {"SourceDisksFiles" + suffix, std::string("SourceDisksFiles")}) {
            const InfSection* section = inf_.Find(sectionName);
            if (section == nullptr || found) {
                continue;
            }
            for (const InfEntry& entry : section->entries) {
                const std::string& key = entry.hasKey ? entry.key : entry.fields[0];
                if (InfNameEquals(key, sourceName)) {
                    found = true;
                    disk = entry.hasKey ? entry.fields[0] : std::string();
                    subdir = entry.hasKey && entry.fields.size() > 1 ? entry.fields[1] : std::string();
                    break;
                }
            }
        }
        file.listed = found;
        std::string folder;
        if (found) {
            bool diskFound = false;
            folder = Field(inf_.Find("SourceDisksNames" + suffix), disk, 3, &diskFound);
            if (!diskFound) {
                folder = Field(inf_.Find("SourceDisksNames"), disk, 3, &diskFound);
            }
            if (!diskFound) {
                Note("INF_MISSING_DISK",
                     "Disk " + disk + " of " + sourceName + " is not in [SourceDisksNames].", line);
            }
        } else {
            Note("INF_FILE_NOT_LISTED",
                 sourceName + " is copied but no [SourceDisksFiles] section for " + platform_.architecture +
                     " names it.",
                 line);
        }
        file.source = JoinFolder(
            PackageFolderPart(JoinFolder(PackageFolderPart(folder), PackageFolderPart(subdir))), sourceName);
        bool destinationFound = false;
        const InfSection* destinations = inf_.Find("DestinationDirs");
        std::string dirid = Field(destinations, destinationKey, 0, &destinationFound);
        if (!destinationFound) {
            dirid = Field(destinations, "DefaultDestDir", 0, &destinationFound);
            file.destinationSubdir = Field(destinations, "DefaultDestDir", 1, &destinationFound);
        } else {
            file.destinationSubdir = Field(destinations, destinationKey, 1, &destinationFound);
        }
        file.destinationDirId = atoi(dirid.c_str());
        if (sources_.insert(InfLower(file.source)).second) {
            out_->files.push_back(file);
        }
    }

    // Field `index` (0 is the first after "=") of the line keyed `key`.
    static std::string Field(const InfSection* section, const std::string& key, size_t index, bool* found)
    {
        *found = false;
        if (section == nullptr) {
            return std::string();
        }
        for (const InfEntry& entry : section->entries) {
            if (entry.hasKey && InfNameEquals(entry.key, key)) {
                *found = true;
                return index < entry.fields.size() ? entry.fields[index] : std::string();
            }
        }
        return std::string();
    }

    void Services(const std::string& name, const std::string& ddInstall, std::set<std::string>* visiting,
                  bool needed)
    {
        const InfSection* section = inf_.Find(name);
        if (section == nullptr) {
            if (needed) {
                Note("INF_MISSING_SECTION", "The section [" + name + "] is not in the INF.", 0);
            }
            return;
        }
        if (!visiting->insert(InfLower(name)).second) {
            Note("INF_CYCLIC_SECTIONS",
                 "[" + section->name + "] is reached again through Needs: it is read once.", 0);
            return;
        }
        for (const InfEntry& entry : section->entries) {
            if (!entry.hasKey) {
                continue;
            }
            if (InfNameEquals(entry.key, "AddService") && !entry.fields[0].empty()) {
                InfService service;
                service.name = entry.fields[0];
                service.ddInstall = ddInstall;
                if (entry.fields.size() > 2 && !entry.fields[2].empty()) {
                    bool found = false;
                    service.binary = inf_.Value(entry.fields[2], "ServiceBinary", &found);
                    if (inf_.Find(entry.fields[2]) == nullptr) {
                        Note("INF_MISSING_SECTION",
                             "The service section [" + entry.fields[2] + "] is not in the INF.", entry.line);
                    }
                }
                service.binaryName = FileNameOf(service.binary);
                out_->services.push_back(service);
            } else if (InfNameEquals(entry.key, "Needs")) {
                for (const std::string& item : entry.fields) {
                    if (!item.empty() && inf_.Find(item) != nullptr) {
                        Services(item, ddInstall, visiting, true);
                    }
                }
            }
        }
    }

    const InfModel& inf_;
    const InfPlatform& platform_;
    InfTargetInstall* out_;
    std::set<std::string> notes_;
    std::set<std::string> sources_;
};

}  // namespace

InfPlatform PlatformOf(const WindowsTarget& target)
{
    InfPlatform platform;
    platform.architecture = target.architecture == Architecture::X86   ? "x86"
                            : target.architecture == Architecture::X64 ? "amd64"
                                                                       : "arm64";
    platform.major = target.major;
    platform.minor = target.minor;
    platform.decorations = target.release != Release::Windows2000;
    const std::string name = target.name;
    platform.productType = name.compare(0, 4, "2003") == 0 ? 3 : 1;
    switch (target.release) {
    case Release::Windows2000:
        platform.build = 2195;
        break;
    case Release::WindowsXp:
        platform.build = target.architecture == Architecture::X86 && target.minor == 1 ? 2600 : 3790;
        break;
    case Release::Vista:
        platform.build = 6000;
        break;
    case Release::Windows7:
        platform.build = 7600;
        break;
    case Release::Windows8:
        platform.build = target.minor == 2 ? 9200 : 9600;
        break;
    case Release::Windows10:
        platform.build = target.architecture == Architecture::Arm64 ? 16299 : 14393;
        break;
    case Release::Windows11:
        platform.build = 26100;
        break;
    }
    return platform;
}

bool DecorationMatches(const std::string& decoration, const InfPlatform& platform, bool* valid)
{
    const Decoration read = ReadDecoration(decoration);
    if (valid != nullptr) {
        *valid = read.valid;
    }
    return Matches(read, platform);
}

std::string ActualInstallSection(const InfModel& inf, const std::string& section, const InfPlatform& platform)
{
    for (const std::string& name : {section + ".NT" + platform.architecture, section + ".NT", section}) {
        if (const InfSection* found = inf.Find(name)) {
            return found->name;
        }
    }
    return std::string();
}

std::string CatalogFor(const InfModel& inf, const InfPlatform& platform, std::string* key)
{
    for (const std::string& name : {"CatalogFile.NT" + platform.architecture, std::string("CatalogFile.NT"),
                                    std::string("CatalogFile")}) {
        bool found = false;
        const std::string value = inf.Value("Version", name, &found);
        if (found && !value.empty()) {
            if (key != nullptr) {
                *key = name;
            }
            return value;
        }
    }
    if (key != nullptr) {
        key->clear();
    }
    return std::string();
}

InfTargetInstall InstallFor(const InfModel& inf, const InfPlatform& platform, const std::string& targetName)
{
    InfTargetInstall install;
    install.target = targetName;
    Walker walker(inf, platform, &install);
    walker.Manufacturers();
    walker.InstallSections();
    install.catalog = CatalogFor(inf, platform, &install.catalogKey);
    CapInfNotes(&install.notes);
    return install;
}

InfTargetInstall InstallFor(const InfModel& inf, const WindowsTarget& target)
{
    return InstallFor(inf, PlatformOf(target), target.name);
}
