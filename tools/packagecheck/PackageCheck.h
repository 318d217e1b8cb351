// MERVOPackageCheck: tells from a driver package folder alone what a stager run
// would do with it and what would go wrong.
//
// The check runs the stager's own INF readers (GetDeviceIDs, ParseDeviceLine,
// ReadInfLine, the [SourceDisksFiles] walk, IsPlainFileName, InfBaseName) on
// the package folder through the Platform table, and only reads: it never
// deletes, copies or stages anything.
#pragma once

#include <string>
#include <vector>

#include "CatalogReader.h"
#include "common/Names.h"
#include "CatalogTrust.h"
#include "InfInstall.h"
#include "SigningPolicy.h"
#include "inf/INFManager.h"

// One file that [SourceDisksFiles] names.
struct PackageFile {
    std::string name;      // exactly as the INF line gives it (blanks kept)
    bool plain = false;    // IsPlainFileName: the stager would copy it
    bool present = false;  // a file of that name is in the package (Windows name rules)
    long long size = -1;   // its size in bytes; -1 when absent or unreadable
};

struct PackageWarning {
    std::string code;     // stable identifier, see SCHEMA.md
    std::string message;  // one English sentence or two
    std::string target;   // the target system it is about; empty: the whole package
};

// The command line's choices beyond the folder and INF.
struct CheckOptions {
    TrustOptions trust;
    std::vector<std::string> targets;  // empty: every target
    bool requireSilent = false;
    bool standardUser = false;  // the stager runs without elevation
};

// A file of the package hashed for the catalog.
struct CatalogFileCheck {
    std::string name;       // its path relative to the package folder
    std::string algorithm;  // the algorithm of `hash`: of the member that holds it, else of the
                            // first member of its name whose algorithm is known
    bool peImage = false;   // hashed as a PE image (Authenticode), else flat
    std::string hash;       // lower-case hex; empty when it could not be hashed
    bool covered = false;   // a member of its name holds this hash
    std::string problem;    // why it could not be hashed; empty otherwise
};

struct CatalogReport {
    std::vector<std::string> names;  // the [Version] CatalogFile values, decorated forms included
    std::string name;                // the catalog read: the first named one beside the INF
    bool present = false;
    bool checked = false;  // its signature and the hashes were checked
    std::string note;      // why they were not; empty when they were
    int readResult = -1;   // ReadCatalog's result; -1 not called
    CatalogContents contents;
    CatalogTrust trust;                       // whom Windows trusts for it; kind none without a catalog
    std::vector<std::string> hashAlgorithms;  // of the members, in order of first use
    std::vector<std::string> osVersions;      // the OSAttr values of the INF's members
    std::vector<CatalogFileCheck> files;      // the hashed files: the INF (when a member names it) first
};

// One file a target installs, as found in the package.
struct InstalledFileCheck {
    std::string name;      // the name it is copied to
    std::string source;    // its path relative to the package folder
    bool present = false;  // a regular file of that path is in the package
    bool named = false;    // a member of the target's catalog names it
    bool covered = false;  // a member of the target's catalog holds its hash
    uint16_t machine = 0;  // a .sys file's PE machine type; 0: not a driver, or not read
};

// What one chosen target installs from the INF, read as Windows reads it.
struct TargetInstallReport {
    std::string target;
    InfTargetInstall install;                // models sections, devices, services, the catalog's name
    std::vector<InstalledFileCheck> files;   // install.files, as found in the package
    const CatalogReport* catalog = nullptr;  // the catalog read for it; null: none applies or none was read
};

struct PackageReport {
    std::string packageFolder;            // the folder as named on the command line
    std::string programFolder;            // the Windows folder the readers ran on (e.g. "P:")
    std::string infArgument;              // the INF name given to the check; empty: none
    std::string infName;                  // the INF name as the stager takes it from its argument text
    std::string infPath;                  // programFolder, "\" and infName
    int deviceReadResult = -1;            // GetDeviceIDs' result
    DeviceIdTable table{};                // what GetDeviceIDs read
    std::string removePattern;            // the companion tool's remove pattern; empty without devices
    std::vector<std::string> staleFiles;  // names deleted from the Windows INF folder
    bool sourceDisksFiles = false;        // the stager finds a [SourceDisksFiles] section
    std::vector<PackageFile> files;       // the files it would copy, in INF order
    bool companionToolPresent = false;
    bool companionTool64Present = false;  // MERVODevCtl64.exe
    bool stagerPresent = false;           // MERVODriverStager.exe
    bool stager64Present = false;         // MERVODriverStager64.exe
    CatalogReport catalog;
    std::vector<CatalogReport> otherCatalogs;  // the other catalogs [Version] names that are present, read
    InfModel inf;                              // the INF as Windows reads it
    bool infRead = false;                      // `inf` and `installs` hold the INF
    std::vector<InfTargetInstall> installs;    // what each known target installs, in WindowsTargets() order
    std::vector<TargetInstallReport> targetInstalls;  // per chosen target, in the order of `targets`
    CheckOptions options;
    std::vector<TargetVerdict> targets;  // the chosen targets, in the order of the known ones
    bool requirementMet = true;          // --require silent holds (true when not asked for)
    std::vector<PackageWarning> warnings;
    int stagerExitCode = 0;  // 0, or the exit code the stager's run would end with
    std::string failure;     // why the run would fail; empty when it would not
    int exitCode = 0;        // 0 clean, 1 warnings only, 2 the run would fail, 4 --require silent fails
};

enum {
    CHECK_CLEAN = 0,
    CHECK_WARNINGS = 1,
    CHECK_RUN_FAILS = 2,
    CHECK_NOT_RUN = 3,     // bad arguments or no such folder: nothing was checked
    CHECK_NOT_SILENT = 4,  // --require silent: some chosen target prompts, refuses or loads no driver
};

// Checks the package in `programFolder` (a Windows path without trailing
// separator) for the argument text `infArgument` (null or empty: the default
// INF). Fills `report` and returns its exit code.
int CheckPackage(const char* programFolder, const char* infArgument, PackageReport* report);
int CheckPackage(const char* programFolder, const char* infArgument, const CheckOptions& options,
                 PackageReport* report);

// The report as text, and as one JSON document (schema in SCHEMA.md).
std::string FormatReportText(const PackageReport& report);
std::string FormatReportJson(const PackageReport& report);

// The command line: MERVOPackageCheck <package folder> [INF name] [--json].
// Writes the report to `out` and returns the exit code.
int RunPackageCheck(int argumentCount, char** arguments, FILE* out);
// The command line's defaults: the trust folder found as the program finds
// it, Debian's CA bundle, every target, judged at the current time.
CheckOptions DefaultCheckOptions();

// How the package folder is reached; one implementation per platform.
// Turns the folder named on the command line into the Windows folder the
// readers run on; returns 0, or 1 with `error` set.
int OpenPackageFolder(const char* folder, std::string* programFolder, std::string* error);
void ClosePackageFolder();
// The folder of the running program on the host, for the installed trust
// folder beside it; empty when unknown (and on Windows, which judges no trust).
std::string ExecutableFolder();
bool IsFolder(const std::string& hostPath);
// Every file below the package folder (subfolders included), as paths
// relative to it with backslashes, in a stable order.
std::vector<std::string> ListPackageFiles(const std::string& programFolder);
