// What the maker needs to know of one INF for one target: the catalog that
// applies there, the devices it serves and the files it installs. Filled from
// the checker's INF model.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "SigningPolicy.h"

struct InstalledFile {
    std::string name;    // its name as installed: "libusb0.sys"
    std::string source;  // its path in the package folder, as the INF gives it: "bin\\x86\\libusb0.sys"
};

struct InfTargetFacts {
    std::string catalog;                   // the catalog file the INF names for the target; empty: none
    std::vector<std::string> hardwareIds;  // of the devices it serves there, in INF order
    std::vector<InstalledFile> files;      // the files it installs there
};

// Reads `inf` in `folder` once and gives what it installs on each target of
// the checker's table, by target name. False with `problem` set when the INF
// cannot be read at all.
bool ReadInfForTargets(const std::string& folder, const std::string& inf,
                       std::map<std::string, InfTargetFacts>* targets, std::string* problem);
// The catalog file names the INF names for any target (CatalogFile and its
// decorated forms), each once; empty when it cannot be read.
std::vector<std::string> CatalogsNamedBy(const std::string& folder, const std::string& inf);
