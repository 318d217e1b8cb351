// The package check: runs the stager's INF readers on the package folder and
// compares what they take with what the INF holds, to name the traps.
#include "PackageCheck.h"

#include "CheckParts.h"
#include "app/ArgumentText.h"
#include "common/BoundedText.h"
#include "system/Dirs.h"

namespace {

// How much of the INF the encoding test looks at.
const size_t kEncodingSample = size_t{64} * 1024;

}  // namespace

// The stager reads 8-bit text: a UTF-16 INF (with or without its byte order
// mark) shows it no device line at all. Text with NUL bytes after a device
// line still gives the stager that line, and the warning says so.
bool CheckEncoding(const std::string& bytes, PackageReport* report)
{
    bool utf16Mark = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                           (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
    size_t nulBytes = 0;
    for (char byte : bytes) {
        nulBytes += byte == '\0' ? 1 : 0;
    }
    bool manyNuls = nulBytes > 0 && nulBytes * 8 >= bytes.size();
    if (!utf16Mark && !manyNuls) {
        return true;
    }
    uint16_t devices = report->deviceReadResult == 0 ? report->table.count : 0;
    Warn(report, "INF_NOT_8BIT_TEXT",
         "The INF is not 8-bit text (" +
             std::string(utf16Mark ? "it starts with a UTF-16 byte order mark"
                                   : std::to_string(nulBytes) + " NUL bytes in its first " +
                                         std::to_string(bytes.size())) +
             "): the stager " +
             (devices == 0 ? std::string("reads no device line from it")
                           : "still reads " + std::to_string(devices) +
                                 (devices == 1 ? " device line" : " device lines") + " from it") +
             ". Save it as ANSI or ASCII text.");
    return false;
}

std::vector<VersionEntry> VersionEntries(const std::vector<InfLine>& lines, bool* sawVersion)
{
    std::vector<VersionEntry> entries;
    bool inVersion = false;
    *sawVersion = false;
    for (const InfLine& line : lines) {
        std::string text = Trimmed(line.text);
        if (!text.empty() && text[0] == '[') {
            size_t close = text.find(']');
            std::string name =
                Trimmed(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inVersion = EqualsNoCase(name, "Version");
            *sawVersion = *sawVersion || inVersion;
            continue;
        }
        size_t equals = text.find('=');
        if (!inVersion || equals == std::string::npos) {
            continue;
        }
        std::string value = text.substr(equals + 1);
        value = Trimmed(value.substr(0, value.find(';')));  // a comment may follow
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        entries.push_back(VersionEntry{Trimmed(text.substr(0, equals)), value});
    }
    return entries;
}

// The Setup API stages an INF only when its [Version] section carries one of
// the known signatures; otherwise it refuses it and the run ends with 22.
void CheckVersionSection(const std::vector<InfLine>& lines, PackageReport* report)
{
    bool sawVersion = false;
    bool signatureOk = false;
    std::string signature;
    for (const VersionEntry& entry : VersionEntries(lines, &sawVersion)) {
        if (!EqualsNoCase(entry.key, "Signature")) {
            continue;
        }
        signature = entry.value;
        signatureOk = IsAcceptedInfSignature(signature.c_str()) == 1;
    }
    if (!sawVersion) {
        Warn(report, "NO_VERSION_SECTION", "The INF has no [Version] section: Windows refuses to stage it.");
        Fail(report, EXIT_STAGING_FAILED, "Windows refuses to stage an INF without [Version].");
    } else if (!signatureOk) {
        Warn(report, "BAD_SIGNATURE",
             "The [Version] section has " +
                 (signature.empty() ? std::string("no Signature") : "the Signature " + Quote(signature)) +
                 "; Windows stages only " + std::string(kInfSignatures[0]) + ", " + kInfSignatures[1] +
                 " or " + kInfSignatures[2] + ".");
        Fail(report, EXIT_STAGING_FAILED,
             "Windows refuses to stage an INF without a valid [Version] Signature.");
    }
}

int CheckPackage(const char* programFolder, const char* infArgument, PackageReport* report)
{
    return CheckPackage(programFolder, infArgument, CheckOptions(), report);
}

int CheckPackage(const char* programFolder, const char* infArgument, const CheckOptions& options,
                 PackageReport* report)
{
    *report = PackageReport();
    report->options = options;
    report->programFolder = programFolder;
    report->infArgument = infArgument != nullptr ? infArgument : "";

    // The INF name, taken from the argument text exactly as the stager takes it.
    if (ReadArgumentText(report->infArgument.c_str()) != 0) {
        report->infName = "";
        Fail(report, EXIT_NO_DEVICE, "The INF name is too long for the stager.");
        report->exitCode = CHECK_RUN_FAILS;
        return report->exitCode;
    }
    report->infName = InfFileName;
    if (!report->infArgument.empty() && report->infArgument != report->infName) {
        Warn(report, "INF_NAME_NOT_TAKEN",
             "The argument text " + Quote(report->infArgument) + " makes the stager use " +
                 Quote(report->infName) + " (it takes the text up to the first lower-case \".inf\", else " +
                 kDefaultInfName + ").");
    }
    // The stager joins its folder and the INF name in a buffer of this size.
    char infPath[DIRS_PATH_SIZE];
    if (JoinInfPath(programFolder, infPath, sizeof infPath) != INF_PATH_JOINED) {
        // A cut path would name another file: the stager stops here, and so does the check.
        Fail(report, EXIT_NO_DEVICE, "The INF path is too long for the stager.");
        report->exitCode = CHECK_RUN_FAILS;
        return report->exitCode;
    }
    report->infPath = infPath;

    CheckStager64(report);

    // The INF is read only when it is a regular file of at most the size the
    // check reads of any file; anything else counts as unreadable.
    // One read gives both the size (at most one byte past the limit is read)
    // and the sample the encoding is judged by.
    std::string bytes;
    bool opened = ReadBytes(report->infPath, kCatalogReadLimit + 1, &bytes);
    bool tooLarge = opened && bytes.size() > kCatalogReadLimit;
    bool readable = opened && !tooLarge;
    const std::string head = bytes.substr(0, kEncodingSample);
    std::vector<InfLine> lines = readable ? ReadInfLines(report->infPath) : std::vector<InfLine>();

    if (tooLarge) {
        Fail(report, EXIT_NO_DEVICE,
             "The INF " + Quote(report->infName) + " is larger than " + std::to_string(kCatalogReadLimit) +
                 " bytes: the check does not read it and counts it as unreadable.");
    } else {
        report->deviceReadResult = GetDeviceIDs(infPath, &report->table);
        if (report->deviceReadResult != 0) {
            Fail(report, EXIT_NO_DEVICE, "The INF " + Quote(report->infName) + " cannot be read.");
        } else if (report->table.count == 0) {
            Fail(report, EXIT_NO_DEVICE,
                 "The INF " + Quote(report->infName) + " has no device line the stager reads.");
        }
    }
    bool devicesRead = report->deviceReadResult == 0 && report->table.count > 0;
    if (devicesRead) {
        char pattern[16];
        FormatText(pattern, sizeof pattern, kRemovePatternFormat, report->table.entries[0].vid);
        report->removePattern = pattern;
    }
    bool eightBit = readable && CheckEncoding(head, report);

    CheckDevices(lines, report);

    ListStaleFiles(report);
    if (readable) {
        ListDriverFiles(lines, report);
    }
    CheckCompanionTool(report);
    // Text that is not 8-bit keeps the check's own line reader from the
    // [Version] section; that matters only where the stager reads no device
    // line, for then the run ends with 15 before anything is staged. Where it
    // reads one, the run goes on to staging, and so do the checks.
    if (readable && (eightBit || devicesRead)) {
        CheckVersionSection(lines, report);
        CheckCatalog(lines, report);
        JudgeTargets(report);
    } else if (readable) {
        report->catalog.note = "the INF is not readable as 8-bit text";
    } else {
        report->catalog.note = Exists(report->infPath) ? "the INF cannot be read" : "the INF is missing";
    }

    if (report->stagerExitCode != 0) {
        report->exitCode = CHECK_RUN_FAILS;
    } else {
        report->exitCode = report->warnings.empty() ? CHECK_CLEAN : CHECK_WARNINGS;
    }
    if (report->exitCode != CHECK_RUN_FAILS && !report->requirementMet) {
        report->exitCode = CHECK_NOT_SILENT;
    }
    return report->exitCode;
}
