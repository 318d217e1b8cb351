// The maker's view of an INF, from the checker's INF model.
#include "PackageFacts.h"

#include <algorithm>
#include <fstream>

#include "CheckParts.h"
#include "InfInstall.h"
#include "InfModel.h"

namespace {

// The INF's bytes, up to the size the checker reads; false with `problem`
// set when it cannot be read or is larger.
bool ReadInf(const std::string& path, std::string* bytes, std::string* problem)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *problem = "cannot be read";
        return false;
    }
    bytes->clear();
    char buffer[65536];
    while (bytes->size() <= kCatalogReadLimit && file.read(buffer, sizeof buffer).gcount() > 0) {
        bytes->append(buffer, static_cast<size_t>(file.gcount()));
    }
    if (file.bad()) {
        *problem = "cannot be read";
        return false;
    }
    if (bytes->size() > kCatalogReadLimit) {
        *problem = "is larger than " + std::to_string(kCatalogReadLimit) + " bytes";
        return false;
    }
    return true;
}

}  // namespace

bool ReadInfForTargets(const std::string& folder, const std::string& inf,
                       std::map<std::string, InfTargetFacts>* targets, std::string* problem)
{
    std::string bytes;
    if (!ReadInf(folder + "/" + inf, &bytes, problem)) {
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
