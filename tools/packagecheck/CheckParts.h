// Pieces of the package check shared by its source files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "CheckText.h"
#include "PackageCheck.h"

struct InfLine {
    int number;        // 1-based line number of the piece's start
    std::string text;  // the piece as ReadInfLine delivered it (newline kept)
};

// The INF as the stager's reader delivers it: pieces of at most 499 characters.
std::vector<InfLine> ReadInfLines(const std::string& path);
// Up to `limit` bytes of a file in binary mode; false when it cannot be opened.
bool ReadBytes(const std::string& path, size_t limit, std::string* bytes);
long long FileSize(const std::string& path);  // -1 when it cannot be read
bool IsFile(const std::string& path);         // exists and is no folder
bool Exists(const std::string& path);         // a file or folder of that name is there
// The folder part of a Windows path (up to its last separator).
std::string FolderOf(const std::string& path);

bool EqualsNoCase(const std::string& a, const std::string& b);
// A relative path with backslashes only and no doubled separators.
std::string PlainRelative(const std::string& path);
// Position of `needle` in `text` from `from` on, compared case-insensitively.
size_t FindNoCase(const std::string& text, const std::string& needle, size_t from = 0);
std::string WithoutNewline(const std::string& text);
std::string JoinPath(const std::string& folder, const std::string& name);
// The first few items joined with "; ", and how many more there are.
std::string LineList(const std::vector<std::string>& items);

void Warn(PackageReport* report, const char* code, const std::string& message);
void WarnFor(PackageReport* report, const char* code, const std::string& target, const std::string& message);
// The first failure of a run decides its exit code; later ones are not reached.
void Fail(PackageReport* report, int stagerExitCode, const std::string& why);

// The checks, in the order a run meets what they look at.
void CheckStager64(PackageReport* report);
// True: 8-bit text. Call after the device table is read: the warning says what
// the stager read.
bool CheckEncoding(const std::string& bytes, PackageReport* report);
void CheckDevices(const std::vector<InfLine>& lines, PackageReport* report);
void ListStaleFiles(PackageReport* report);
void ListDriverFiles(const std::vector<InfLine>& lines, PackageReport* report);
void CheckCompanionTool(PackageReport* report);
void CheckVersionSection(const std::vector<InfLine>& lines, PackageReport* report);
void CheckCatalog(const std::vector<InfLine>& lines, PackageReport* report);
// The verdict of each chosen target, with its warnings; after CheckCatalog.
void JudgeTargets(PackageReport* report);
// The INF as Windows reads it, and what each known target installs from it
// (report->inf, report->installs), with the model's warnings.
void ReadInstalls(const std::string& bytes, PackageReport* report);
// A path relative to the INF's folder as a path relative to the package folder.
std::string PackageRelative(const PackageReport& report, const std::string& infRelative);
// Whether some target (of those whose catalog is `*catalogName`, when given)
// installs the file at `relative` in the package, or the stager copies it.
bool InstalledBy(const PackageReport& report, const std::string& relative, const std::string* catalogName);
// What the known target at `targetIndex` installs, as found in the package; after CheckCatalog.
TargetInstallReport InstallReportFor(const PackageReport& report, size_t targetIndex);
// The warnings about what the chosen targets install; after JudgeTargets.
void WarnAboutInstalls(PackageReport* report);
// The INF, catalogs and hashed files larger than this are not read (a driver
// package's are far smaller).
inline constexpr size_t kCatalogReadLimit = size_t{64} * 1024 * 1024;
// The name a catalog member's File attribute gives for the package file at
// `path`: the name its path ends in, as Windows looks it up (trailing blanks
// and dots are no part of it).
std::string MemberFileName(const std::string& path);

// The key and value lines of the INF's [Version] section (values without a
// trailing comment and without enclosing quotes); `sawVersion` tells whether
// there is such a section.
struct VersionEntry {
    std::string key;
    std::string value;
};
std::vector<VersionEntry> VersionEntries(const std::vector<InfLine>& lines, bool* sawVersion);
