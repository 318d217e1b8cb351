// The maker's view of an INF, from the checker's INF model.
#include "PackageFacts.h"

#include <algorithm>
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

bool ReadInfForTargets(const std::string& folder, const std::string& inf,
                       std::map<std::string, InfTargetFacts>* targets, std::string* problem)
{
    std::string bytes;
    if (!ReadBytes(folder + "/" + inf, &bytes)) {
        *problem = "cannot be read";
        return false;
    }
    InfModel model = ParseInf(bytes);
    targets->clear();
    for (const WindowsTarget& target : WindowsTargets()) {
        InfTargetInstall install = InstallFor(model, target);
        InfTargetFacts& facts = (*targets)[target.name];
        facts.catalog = install.catalog;
        for (const InfDevice& device : install.devices) {
            facts.hardwareIds.push_back(device.hardwareId);
        }
        for (const InfInstalledFile& file : install.files) {
            facts.files.push_back({file.name, file.source});
        }
    }
    return true;
}

std::vector<std::string> CatalogsNamedBy(const std::string& folder, const std::string& inf)
{
    std::map<std::string, InfTargetFacts> targets;
    std::string problem;
    std::vector<std::string> catalogs;
    if (!ReadInfForTargets(folder, inf, &targets, &problem)) {
        return catalogs;
    }
    for (const auto& [name, facts] : targets) {
        if (!facts.catalog.empty() &&
            std::find(catalogs.begin(), catalogs.end(), facts.catalog) == catalogs.end()) {
            catalogs.push_back(facts.catalog);
        }
    }
    return catalogs;
}
