// The maker's view of an INF, from the checker's INF model.
#include "PackageFacts.h"

#include <fstream>
#include <sstream>

#include "InfInstall.h"
#include "InfModel.h"

namespace {

bool ReadBytes(const std::string& path, std::string* bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream all;
    all << file.rdbuf();
    *bytes = all.str();
    return !file.bad();
}

}  // namespace

bool ReadInfForTarget(const std::string& folder, const std::string& inf, const WindowsTarget& target,
                      InfTargetFacts* facts, std::string* problem)
{
    std::string bytes;
    if (!ReadBytes(folder + "/" + inf, &bytes)) {
        *problem = "cannot be read";
        return false;
    }
    InfTargetInstall install = InstallFor(ParseInf(bytes), target);
    facts->catalog = install.catalog;
    facts->hardwareIds.clear();
    for (const InfDevice& device : install.devices) {
        facts->hardwareIds.push_back(device.hardwareId);
    }
    facts->files.clear();
    for (const InfInstalledFile& file : install.files) {
        facts->files.push_back({file.name, file.source});
    }
    return true;
}

std::vector<std::string> CatalogsNamedBy(const std::string& folder, const std::string& inf)
{
    std::string bytes;
    std::vector<std::string> catalogs;
    if (!ReadBytes(folder + "/" + inf, &bytes)) {
        return catalogs;
    }
    InfModel model = ParseInf(bytes);
    for (const WindowsTarget& target : WindowsTargets()) {
        std::string catalog = InstallFor(model, target).catalog;
        bool known = catalog.empty();
        for (const std::string& named : catalogs) {
            known = known || named == catalog;
        }
        if (!known) {
            catalogs.push_back(catalog);
        }
    }
    return catalogs;
}
