// The files: the 64-bit stager, the stale copies deleted, the driver files
// copied, the companion tool.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "CheckParts.h"
#include "inf/INFManager.h"
#include "platform/PlatformServices.h"

// On 64-bit Windows the 32-bit stager hands its whole run to the 64-bit build
// beside it before it reads anything, and ends with EXIT_COPY_FAILED when that is missing.
// Only a package that carries the 32-bit stager is looked at for it.
void CheckStager64(PackageReport* report)
{
    report->stagerPresent = IsFile(JoinPath(report->programFolder, kStagerName));
    report->stager64Present = IsFile(JoinPath(report->programFolder, kStager64Name));
    if (report->stagerPresent && !report->stager64Present) {
        // A folder of that name passes the stager's look for the file, but cannot be started.
        bool folder = Exists(JoinPath(report->programFolder, kStager64Name));
        const std::string ends = " and ends with " + std::to_string(EXIT_COPY_FAILED);
        Warn(report, "STAGER64_MISSING",
             std::string(kStager64Name) +
                 (folder ? " is a folder in the package: on 64-bit Windows " + std::string(kStagerName) +
                               " cannot start it, shows the system's error" + ends
                         : " is not in the package: on 64-bit Windows " + std::string(kStagerName) +
                               " logs \"64-bit stager missing\", shows it in a box" + ends) +
                 " without copying or staging anything.");
    }
}

// "oem<N>.inf" in any letter case: the names Windows gives staged packages.
static bool IsStagedCopyName(const std::string& name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(tolower(static_cast<unsigned char>(c))); });
    if (lower.size() < 8 || lower.compare(0, 3, "oem") != 0 ||
        lower.compare(lower.size() - 4, 4, ".inf") != 0) {
        return false;
    }
    return std::all_of(lower.begin() + 3, lower.end() - 4, [](char c) { return c >= '0' && c <= '9'; });
}

// The stale copies the stager deletes from the Windows INF folder: the INF's
// base name and its compiled form, as the stager derives them.
void ListStaleFiles(PackageReport* report)
{
    char names[2][INF_PATH_SIZE];
    size_t count = StaleInfCopyNames(report->infName.c_str(), names);
    for (size_t i = 0; i < count; i++) {
        report->staleFiles.push_back(names[i]);
    }
    if (count > 0 && IsStagedCopyName(names[0])) {
        Warn(report, "INF_NAMED_LIKE_STAGED_COPY",
             "The stager deletes " + Quote(names[0]) +
                 " from the Windows INF folder before staging, and Windows gives names of the form "
                 "oem<N>.inf to the packages it has staged: the run can delete another package's "
                 "staged INF. Give the INF a name of its own.");
    }
}

void ListDriverFiles(const std::vector<InfLine>& lines, PackageReport* report)
{
    FILE* inf = Platform.OpenStream(report->infPath.c_str(), "r");
    if (inf == nullptr) {
        return;
    }
    char line[INF_LINE_SIZE];
    report->sourceDisksFiles = FindSourceDisksFiles(inf, line) == 1;
    while (report->sourceDisksFiles && NextSourceDisksFile(inf, line) == 1) {
        PackageFile file;
        file.name = line;
        file.plain = IsPlainFileName(line) == 1;
        if (file.plain) {
            std::string path = JoinPath(report->programFolder, file.name);
            file.present = IsFile(path);
            file.size = file.present ? FileSize(path) : -1;
        }
        report->files.push_back(file);
    }
    fclose(inf);

    for (const PackageFile& file : report->files) {
        if (!file.plain) {
            Warn(report, "UNSAFE_FILE_NAME",
                 "[SourceDisksFiles] names " + Quote(file.name) +
                     ", which is not a plain file name in the package folder: the stager does not "
                     "copy it.");
        } else if (!file.present) {
            Warn(report, "MISSING_FILE",
                 "[SourceDisksFiles] names " + Quote(file.name) +
                     ", which is not in the package: its copy fails (the run still ends with " +
                     std::to_string(EXIT_OK) + ").");
        }
    }

    if (report->sourceDisksFiles) {
        return;
    }
    // Only the exact header starts the section the stager copies from.
    std::vector<std::string> lookalikes;
    for (const InfLine& infLine : lines) {
        std::string text = Trimmed(infLine.text);
        if (!text.empty() && text[0] == '[' && FindNoCase(text, "[SourceDisksFiles") == 0) {
            lookalikes.push_back("line " + std::to_string(infLine.number) + " " + text);
        }
    }
    if (!lookalikes.empty()) {
        Warn(report, "NO_PLAIN_SOURCE_DISKS_FILES",
             "The stager copies only the files of a section headed exactly [SourceDisksFiles], "
             "which this INF lacks; it has " +
                 LineList(lookalikes) + ". No file would be copied.");
    }
}

// The stager starts the 32-bit companion tool, which on 64-bit Windows hands
// its work to the 64-bit build beside it; without that build it ends with 70
// having done nothing, and the stager, which looks only at whether the tool
// started, logs both steps as done.
void CheckCompanionTool(PackageReport* report)
{
    report->companionToolPresent = IsFile(JoinPath(report->programFolder, kCompanionToolName));
    report->companionTool64Present = IsFile(JoinPath(report->programFolder, kCompanionTool64Name));
    if (!report->companionToolPresent) {
        Warn(report, "COMPANION_TOOL_MISSING",
             std::string(kCompanionToolName) +
                 " is not in the package: the stager cannot remove old device instances or "
                 "rescan, and shows an error box for each.");
    } else if (!report->companionTool64Present) {
        Warn(report, "DEVCTL64_MISSING",
             std::string(kCompanionTool64Name) + " is not in the package: on 64-bit Windows " +
                 kCompanionToolName +
                 " ends with 70 without removing old device instances or rescanning, and the "
                 "stager's log still says both were done (its run ends as it would).");
    }
}
