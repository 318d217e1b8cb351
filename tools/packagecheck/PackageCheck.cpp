// The package check: runs the stager's INF readers on the package folder and
// compares what they take with what the INF holds, to name the traps.
#include "PackageCheck.h"

#include <cctype>
#include <cstring>

#include "app/MERVODriverStager.h"
#include "common/BoundedText.h"
#include "platform/PlatformServices.h"
#include "system/Dirs.h"

const char kCompanionToolName[] = "MERVODevCtl.exe";

namespace {

// The description GetDeviceIDs gives a device line without a usable key.
const char kFixedDescription[] = "MERVO USB Device";
// How much of the INF the encoding test looks at.
const size_t kEncodingSample = 64 * 1024;
// How many offending lines a grouped warning quotes.
const size_t kQuotedLines = 5;

struct InfLine {
    int number;        // 1-based line number of the piece's start
    std::string text;  // the piece as ReadInfLine delivered it (newline kept)
};

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Position of `needle` in `text` from `from` on, compared case-insensitively.
size_t FindNoCase(const std::string& text, const std::string& needle, size_t from = 0)
{
    if (needle.size() > text.size()) {
        return std::string::npos;
    }
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        if (EqualsNoCase(text.substr(i, needle.size()), needle)) {
            return i;
        }
    }
    return std::string::npos;
}

std::string Trimmed(const std::string& text)
{
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string WithoutNewline(const std::string& text)
{
    std::string result = text;
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) {
        result.pop_back();
    }
    return result;
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

// The INF as the stager's reader delivers it: pieces of at most 499 characters.
std::vector<InfLine> ReadInfLines(const std::string& path)
{
    std::vector<InfLine> lines;
    FILE* inf = Platform.OpenStream(path.c_str(), "r");
    if (inf == nullptr) {
        return lines;
    }
    char line[INF_LINE_SIZE];
    int number = 1;
    while (ReadInfLine(inf, line) == 1) {
        lines.push_back(InfLine{number, line});
        size_t length = strlen(line);
        if (length > 0 && line[length - 1] == '\n') {
            ++number;
        }
    }
    fclose(inf);
    return lines;
}

// Reads up to `limit` bytes of a file in binary mode; false when it cannot be opened.
bool ReadBytes(const std::string& path, size_t limit, std::string* bytes)
{
    FILE* file = Platform.OpenStream(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bytes->clear();
    char buffer[4096];
    size_t got;
    while (bytes->size() < limit && (got = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->append(buffer, got);
    }
    fclose(file);
    if (bytes->size() > limit) {
        bytes->resize(limit);
    }
    return true;
}

long long FileSize(const std::string& path)
{
    FILE* file = Platform.OpenStream(path.c_str(), "rb");
    if (file == nullptr) {
        return -1;
    }
    long long size = -1;
    if (fseek(file, 0, SEEK_END) == 0) {
        size = ftell(file);
    }
    fclose(file);
    return size;
}

bool IsFile(const std::string& path)
{
    uint32_t attributes = Platform.GetFileAttributesA(path.c_str());
    return attributes != PS_INVALID_FILE_ATTRIBUTES && (attributes & PS_FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void Warn(PackageReport* report, const char* code, const std::string& message)
{
    report->warnings.push_back(PackageWarning{code, message});
}

// The first failure of a run decides its exit code; later ones are not reached.
void Fail(PackageReport* report, int stagerExitCode, const std::string& why)
{
    if (report->stagerExitCode == 0) {
        report->stagerExitCode = stagerExitCode;
        report->failure = why;
    }
}

std::string Quote(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string LineList(const std::vector<std::string>& items)
{
    std::string list;
    for (size_t i = 0; i < items.size() && i < kQuotedLines; ++i) {
        list += (i == 0 ? "" : "; ") + items[i];
    }
    if (items.size() > kQuotedLines) {
        list += "; and " + std::to_string(items.size() - kQuotedLines) + " more";
    }
    return list;
}

// --- the INF's encoding --------------------------------------------------

// The stager reads 8-bit text: a UTF-16 INF (with or without its byte order
// mark) shows it no device line at all.
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
    Warn(report, "INF_NOT_8BIT_TEXT",
         "The INF is not 8-bit text (" +
             std::string(utf16Mark ? "it starts with a UTF-16 byte order mark"
                                   : std::to_string(nulBytes) + " NUL bytes in its first " +
                                         std::to_string(bytes.size())) +
             "): the stager reads no device line from it. Save it as ANSI or ASCII text.");
    return false;
}

// --- the device lines ----------------------------------------------------

struct DeviceLine {
    int number;
    DeviceIdEntry entry;  // vid, pid and description key as ParseDeviceLine gives them
};

struct DeviceScan {
    std::vector<DeviceLine> firstPass;  // device lines up to the end of the first pass
    int passEndLine = 0;                // the header that ends the first pass; 0: none
    std::string passEndHeader;
    std::vector<DeviceLine> afterPass;       // device lines the first pass never reaches
    std::vector<std::string> notReadQuotes;  // device-like lines the reader does not take
};

bool InTable(const DeviceIdTable& table, const std::string& vid, const std::string& pid)
{
    for (uint16_t i = 0; i < table.count && i < DEVICE_TABLE_SIZE; ++i) {
        if (EqualsNoCase(table.entries[i].vid, vid) && EqualsNoCase(table.entries[i].pid, pid)) {
            return true;
        }
    }
    return false;
}

std::string HardwareId(const DeviceIdEntry& entry)
{
    return std::string("USB\\VID_") + entry.vid + "&PID_" + entry.pid;
}

// A line that names a USB device in any letter case, outside a comment, but
// that ParseDeviceLine rejects: quoted with its reason when its ids are not
// already in the table.
void NoteUnreadDeviceLine(const InfLine& line, const DeviceIdTable& table, DeviceScan* scan)
{
    const std::string& text = line.text;
    std::string trimmed = Trimmed(text);
    if (trimmed.empty() || trimmed[0] == ';') {
        return;
    }
    size_t vidAt = FindNoCase(text, "usb\\vid_");
    if (vidAt == std::string::npos) {
        return;
    }
    size_t pidAt = FindNoCase(text, "&pid_", vidAt + 8);
    if (pidAt == std::string::npos) {
        return;
    }
    std::string vid = WithoutNewline(text.substr(vidAt + 8, 4));
    std::string pid = WithoutNewline(text.substr(pidAt + 5, 4));
    if (InTable(table, vid, pid)) {
        return;
    }
    const char* reason;
    if (text[0] == ' ') {
        reason = "it begins with a blank";
    } else if (text.find("USB\\VID_") == std::string::npos ||
               text.find("&PID_", text.find("USB\\VID_") + 8) == std::string::npos) {
        reason = "USB\\VID_ and &PID_ must be upper case";
    } else {
        reason = "fewer than 4 characters follow VID_ or PID_";
    }
    scan->notReadQuotes.push_back("line " + std::to_string(line.number) + " " +
                                  Quote(Trimmed(text)) + ": " + reason);
}

// Walks the lines as the first pass of GetDeviceIDs does (it ends at the
// first section header after a device line) and sorts the device lines.
DeviceScan ScanDeviceLines(const std::vector<InfLine>& lines, const DeviceIdTable& table)
{
    DeviceScan scan;
    bool passEnded = false;
    for (const InfLine& line : lines) {
        const char* text = line.text.c_str();
        if (!passEnded && !scan.firstPass.empty() && text[0] == '[') {
            passEnded = true;
            scan.passEndLine = line.number;
            scan.passEndHeader = Trimmed(line.text);
        }
        DeviceLine device{line.number, DeviceIdEntry{}};
        if (ParseDeviceLine(text, &device.entry) == 1) {
            (passEnded ? scan.afterPass : scan.firstPass).push_back(device);
        } else {
            NoteUnreadDeviceLine(line, table, &scan);
        }
    }
    return scan;
}

void CheckDeviceLines(const DeviceScan& scan, PackageReport* report)
{
    const DeviceIdTable& devices = report->table;
    if (scan.firstPass.size() > DEVICE_TABLE_SIZE) {
        std::vector<std::string> dropped;
        for (size_t i = DEVICE_TABLE_SIZE; i < scan.firstPass.size(); ++i) {
            dropped.push_back("line " + std::to_string(scan.firstPass[i].number) + " " +
                              HardwareId(scan.firstPass[i].entry));
        }
        Warn(report, "TOO_MANY_DEVICES",
             std::to_string(scan.firstPass.size()) +
                 " device lines, but the stager's table holds 10: not read are " +
                 LineList(dropped) + ".");
    }
    std::vector<std::string> ignored;
    for (const DeviceLine& device : scan.afterPass) {
        if (!InTable(devices, device.entry.vid, device.entry.pid)) {
            ignored.push_back("line " + std::to_string(device.number) + " " +
                              HardwareId(device.entry));
        }
    }
    if (!ignored.empty()) {
        Warn(report, "DEVICE_AFTER_FIRST_PASS",
             "The stager reads device lines only up to the section header at line " +
                 std::to_string(scan.passEndLine) + " " + Quote(scan.passEndHeader) +
                 "; devices named only later are not in its table: " + LineList(ignored) +
                 ". Put every device in the first models section.");
    }
    if (!scan.notReadQuotes.empty()) {
        Warn(report, "DEVICE_LINE_NOT_READ",
             "Lines that name a USB device are not read as device lines: " +
                 LineList(scan.notReadQuotes) + ".");
    }
}

// A description that is still its key after GetDeviceIDs found no line defining it.
void CheckDescriptions(const DeviceScan& scan, PackageReport* report)
{
    const DeviceIdTable& table = report->table;
    for (uint16_t i = 0; i < table.count && i < scan.firstPass.size(); ++i) {
        const char* key = scan.firstPass[i].entry.description;
        if (strcmp(key, kFixedDescription) == 0 || strcmp(table.entries[i].description, key) != 0) {
            continue;
        }
        std::string message = std::string("Device ") + table.entries[i].indexText + " (" +
                              HardwareId(table.entries[i]) + "): no line defines its description key " +
                              Quote(key) + ", so its description stays " + Quote(key) + ".";
        // "%Key% = ..." (blanks before the "=", for alignment too) keeps the
        // closing "%" and the blanks in the key, which no line then defines.
        std::string stem = key;
        while (!stem.empty() && (stem.back() == ' ' || stem.back() == '\t')) {
            stem.pop_back();
        }
        if (stem.size() > 1 && stem.back() == '%') {
            stem.pop_back();
            message += " The spaced form \"%" + stem + "% = ...\" leaves the closing \"%\" in the key: write \"%" +
                       stem + "%=...\".";
        }
        Warn(report, "UNRESOLVED_DESCRIPTION", message);
    }
}

// --- the files -----------------------------------------------------------

// The stale copies the stager deletes from the Windows INF folder: the INF's
// base name and, when its extension has more than one letter, the same name
// with the letter after the last "." made a "p" (.inf gives .pnf).
void ListStaleFiles(PackageReport* report)
{
    std::string base = InfBaseName(report->infName.c_str());
    report->staleFiles.push_back(base);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && base.size() - dot > 2) {
        std::string compiled = base;
        compiled[dot + 1] = 'p';
        report->staleFiles.push_back(compiled);
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
                     ", which is not in the package: its copy fails (the run still ends with 0).");
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

void CheckCompanionTool(PackageReport* report)
{
    report->companionToolPresent = IsFile(JoinPath(report->programFolder, kCompanionToolName));
    if (!report->companionToolPresent) {
        Warn(report, "COMPANION_TOOL_MISSING",
             std::string(kCompanionToolName) +
                 " is not in the package: the stager cannot remove old device instances or "
                 "rescan, and shows an error box for each.");
    }
}

// --- staging -------------------------------------------------------------

// The Setup API stages an INF only when its [Version] section carries one of
// the known signatures; otherwise it refuses it and the run ends with 22.
void CheckVersionSection(const std::vector<InfLine>& lines, PackageReport* report)
{
    bool inVersion = false;
    bool sawVersion = false;
    bool signatureOk = false;
    std::string signature;
    for (const InfLine& line : lines) {
        std::string text = Trimmed(line.text);
        if (!text.empty() && text[0] == '[') {
            size_t close = text.find(']');
            std::string name = Trimmed(text.substr(1, close == std::string::npos ? std::string::npos
                                                                                 : close - 1));
            inVersion = EqualsNoCase(name, "Version");
            sawVersion = sawVersion || inVersion;
            continue;
        }
        size_t equals = text.find('=');
        if (!inVersion || equals == std::string::npos ||
            !EqualsNoCase(Trimmed(text.substr(0, equals)), "Signature")) {
            continue;
        }
        std::string value = text.substr(equals + 1);
        value = Trimmed(value.substr(0, value.find(';')));  // a comment may follow
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        signature = value;
        signatureOk = EqualsNoCase(value, "$Chicago$") || EqualsNoCase(value, "$Windows NT$") ||
                      EqualsNoCase(value, "$Windows 95$");
    }
    if (!sawVersion) {
        Warn(report, "NO_VERSION_SECTION",
             "The INF has no [Version] section: Windows refuses to stage it.");
        Fail(report, EXIT_STAGING_FAILED, "Windows refuses to stage an INF without [Version].");
    } else if (!signatureOk) {
        Warn(report, "BAD_SIGNATURE",
             "The [Version] section has " +
                 (signature.empty() ? std::string("no Signature") : "the Signature " + Quote(signature)) +
                 "; Windows stages only $Chicago$, $Windows NT$ or $Windows 95$.");
        Fail(report, EXIT_STAGING_FAILED,
             "Windows refuses to stage an INF without a valid [Version] Signature.");
    }
}

}  // namespace

int CheckPackage(const char* programFolder, const char* infArgument, PackageReport* report)
{
    *report = PackageReport();
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
                 Quote(report->infName) +
                 " (it takes the text up to the first lower-case \".inf\", else MERVOUSB.inf).");
    }
    // The stager joins its folder and the INF name in a buffer of this size.
    char infPath[DIRS_PATH_SIZE];
    if (FormatText(infPath, sizeof infPath, "%s\\%s", programFolder, InfFileName) != 0) {
        // A cut path would name another file: the stager stops here, and so does the check.
        Fail(report, EXIT_NO_DEVICE, "The INF path is too long for the stager.");
        report->exitCode = CHECK_RUN_FAILS;
        return report->exitCode;
    }
    report->infPath = infPath;

    std::string head;
    bool readable = ReadBytes(report->infPath, kEncodingSample, &head);
    bool eightBit = readable && CheckEncoding(head, report);
    std::vector<InfLine> lines = readable ? ReadInfLines(report->infPath) : std::vector<InfLine>();

    report->deviceReadResult = GetDeviceIDs(infPath, &report->table);
    if (report->deviceReadResult != 0) {
        Fail(report, EXIT_NO_DEVICE, "The INF " + Quote(report->infName) + " cannot be read.");
    } else if (report->table.count == 0) {
        Fail(report, EXIT_NO_DEVICE, "The INF " + Quote(report->infName) + " has no device line the stager reads.");
    }
    if (report->deviceReadResult == 0 && report->table.count > 0) {
        report->removePattern = std::string("*VID_") + report->table.entries[0].vid + "*";
    }

    DeviceScan scan = ScanDeviceLines(lines, report->table);
    CheckDeviceLines(scan, report);
    if (report->deviceReadResult == 0) {
        CheckDescriptions(scan, report);
    }

    ListStaleFiles(report);
    if (readable) {
        ListDriverFiles(lines, report);
    }
    CheckCompanionTool(report);
    if (readable && eightBit) {
        CheckVersionSection(lines, report);
    }

    if (report->stagerExitCode != 0) {
        report->exitCode = CHECK_RUN_FAILS;
    } else {
        report->exitCode = report->warnings.empty() ? CHECK_CLEAN : CHECK_WARNINGS;
    }
    return report->exitCode;
}
