// The host's way to the package: the simulated Windows with drive P: mapped
// onto the package folder and the stager's module path pointed at
// P:\MERVODriverStager.exe, so the readers see the folder as the stager would.
// Drive C: (which the simulator fills with its Windows folders) lies in a
// temporary folder of its own, so nothing is ever written into the package.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "PackageCheck.h"
#include "platform/simulated/SimulatedPlatform.h"
#include "system/Dirs.h"

namespace {

std::string systemRoot;   // the temporary host folder behind drive C:
std::string packageRoot;  // the host folder behind drive P:

}  // namespace

int OpenPackageFolder(const char* folder, std::string* programFolder, std::string* error)
{
    std::error_code failure;
    std::filesystem::path package = std::filesystem::absolute(folder, failure);
    if (failure || !std::filesystem::is_directory(package, failure)) {
        *error = std::string("no such folder: ") + folder;
        return 1;
    }
    std::string pattern =
        (std::filesystem::temp_directory_path(failure) / "mervo-packagecheck-XXXXXX").string();
    if (failure || mkdtemp(&pattern[0]) == nullptr) {
        *error = "cannot make a temporary folder for the simulated Windows";
        return 1;
    }
    systemRoot = pattern;
    packageRoot = package.string();
    SimReset(systemRoot);
    SimMapDrive('P', package.string());
    Sim().modulePath = "P:\\MERVODriverStager.exe";
    Sim().currentDirectory = "P:\\";
    char moduleFolder[DIRS_PATH_SIZE];
    if (GetModuleDirectory(moduleFolder) != 0) {
        *error = "the simulated program folder is unknown";
        ClosePackageFolder();
        return 1;
    }
    *programFolder = moduleFolder;
    return 0;
}

void ClosePackageFolder()
{
    if (!systemRoot.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(systemRoot, ignored);
        systemRoot.clear();
    }
}

std::vector<std::string> ListPackageFiles(const std::string&)
{
    std::vector<std::string> names;
    std::error_code failure;
    std::filesystem::recursive_directory_iterator walk(packageRoot, failure);
    for (; !failure && walk != std::filesystem::recursive_directory_iterator(); walk.increment(failure)) {
        std::error_code ignored;
        if (walk->is_regular_file(ignored)) {
            std::string name = walk->path().lexically_relative(packageRoot).string();
            for (char& c : name) {
                c = c == '/' ? '\\' : c;
            }
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}
