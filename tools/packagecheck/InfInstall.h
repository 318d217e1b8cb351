// What one Windows target installs from an INF: the models section its
// [Manufacturer] decorations choose, the devices served, the DDInstall
// section chosen for each, the files copied (with their source paths in the
// package folder), the services and their binaries, and the catalog that
// applies to it.
#pragma once

#include <string>
#include <vector>

#include "InfModel.h"
#include "SigningPolicy.h"

// What decoration matching needs to know about a target. The check's
// targets are taken as: a workstation (product type 1; 2003 a server, 3),
// no suite bits, the first release of each line (build numbers: 2000 2195,
// XP x86 2600, XP x64 and 2003 3790, Vista 6000, 7 7600, 8 9200, 8.1 9600,
// 10 x86/x64 14393 (1607, the first with the load rules the grid holds),
// 10 ARM64 16299 (1709, the first for ARM64 PCs), 11 26100 (24H2)).
struct InfPlatform {
    std::string architecture;  // "x86", "amd64", "arm64": as decorations write it
    int major = 0;
    int minor = 0;
    int productType = 1;  // 1 workstation, 2 domain controller, 3 server
    unsigned suite = 0;   // VER_SUITE_* bits the target has
    int build = 0;
    bool decorations = true;  // false: Windows 2000, which reads no [Manufacturer] decorations
};

InfPlatform PlatformOf(const WindowsTarget& target);

// One device a models section serves.
struct InfDevice {
    std::string manufacturer;   // the [Manufacturer] line's key, strings replaced
    std::string modelsSection;  // the models section it is listed in
    std::string description;    // the models line's key, strings replaced
    std::string hardwareId;     // the first id of the models line
    std::vector<std::string> compatibleIds;
    std::string installSection;  // as the models line names it
    std::string ddInstall;       // the section chosen for the target ("X.NTamd64"); empty: none exists
    int line = 0;
};

// One file a target copies.
struct InfInstalledFile {
    std::string name;          // the name it is copied to
    std::string source;        // its path relative to the package folder, backslashes ("i386\ftdibus.sys")
    std::string copySection;   // the section that copies it; "@" + name for an @file copy
    int destinationDirId = 0;  // from [DestinationDirs]; 0: none named
    std::string destinationSubdir;
    bool listed = false;  // [SourceDisksFiles] (decorated or not) names it
};

struct InfService {
    std::string name;
    std::string binary;      // ServiceBinary as written, strings replaced ("%12%\ftdibus.sys")
    std::string binaryName;  // its file name ("ftdibus.sys")
    std::string ddInstall;   // the section whose .Services adds it
};

struct InfTargetInstall {
    std::string target;                       // the target's name
    std::vector<std::string> modelsSections;  // chosen, one per manufacturer that has one
    std::vector<InfDevice> devices;
    std::vector<InfInstalledFile> files;  // each source path once, in the order first copied
    std::vector<InfService> services;
    std::string catalogKey;  // "CatalogFile.NTamd64", "CatalogFile", ...; empty: none applies
    std::string catalog;     // its value, strings replaced; empty: none
    std::vector<InfNote> notes;
};

// What `target` installs from `inf`. Pure: reads no file.
InfTargetInstall InstallFor(const InfModel& inf, const WindowsTarget& target);
InfTargetInstall InstallFor(const InfModel& inf, const InfPlatform& platform, const std::string& targetName);

// The catalog that applies to a platform: [Version] CatalogFile.NT<arch>,
// else CatalogFile.NT, else CatalogFile. `key` (optional) gets its key.
std::string CatalogFor(const InfModel& inf, const InfPlatform& platform, std::string* key = nullptr);

// The DDInstall section Windows uses for `section` on the platform:
// section.NT<arch>, else section.NT, else section; empty when none exists.
std::string ActualInstallSection(const InfModel& inf, const std::string& section,
                                 const InfPlatform& platform);

// Whether a [Manufacturer] decoration ("NTamd64.10.0...17763") applies to
// the platform; `valid` (optional) is false for a decoration Windows cannot read.
bool DecorationMatches(const std::string& decoration, const InfPlatform& platform, bool* valid = nullptr);
