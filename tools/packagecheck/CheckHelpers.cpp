// Reading the INF and the package's files, and the report's small helpers.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "CheckParts.h"
#include "InfModel.h"
#include "platform/PlatformServices.h"

namespace {

// How many offending lines a grouped warning quotes.
const size_t kQuotedLines = 5;

}  // namespace

// A relative path with backslashes only and no doubled separators, for
// comparing names of the package's files.
std::string PlainRelative(const std::string& path)
{
    std::string plain;
    for (char c : path) {
        c = c == '/' ? '\\' : c;
        if (c != '\\' || (!plain.empty() && plain.back() != '\\')) {
            plain += c;
        }
    }
    return plain;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return InfNameEquals(a, b);
}

// Position of `needle` in `text` from `from` on, compared case-insensitively.
size_t FindNoCase(const std::string& text, const std::string& needle, size_t from)
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
    while (ReadInfLine(inf, line, sizeof line) == 1) {
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

std::string MemberFileName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
        name.pop_back();
    }
    return name;
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

bool Exists(const std::string& path)
{
    return Platform.GetFileAttributesA(path.c_str()) != PS_INVALID_FILE_ATTRIBUTES;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void Warn(PackageReport* report, const char* code, const std::string& message)
{
    report->warnings.push_back(PackageWarning{code, message, std::string()});
}

void WarnFor(PackageReport* report, const char* code, const std::string& target, const std::string& message)
{
    report->warnings.push_back(PackageWarning{code, "On " + target + ": " + message, target});
}

// The first failure of a run decides its exit code; later ones are not reached.
void Fail(PackageReport* report, int stagerExitCode, const std::string& why)
{
    if (report->stagerExitCode == 0) {
        report->stagerExitCode = stagerExitCode;
        report->failure = why;
    }
}

std::string LineList(const std::vector<std::string>& items)
{
    if (items.size() <= kQuotedLines) {
        return Joined(items, "; ");
    }
    std::vector<std::string> quoted(items.begin(), items.begin() + static_cast<long>(kQuotedLines));
    return Joined(quoted, "; ") + "; and " + std::to_string(items.size() - kQuotedLines) + " more";
}

std::string Quote(const std::string& text)
{
    return "\"" + text + "\"";
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

std::string HexText(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string Joined(const std::vector<std::string>& items, const char* separator)
{
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : separator) + items[i];
    }
    return text;
}

bool Contains(const std::vector<std::string>& items, const std::string& item)
{
    return std::find(items.begin(), items.end(), item) != items.end();
}

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> items;
    size_t from = 0;
    for (size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', from)) {
        items.push_back(text.substr(from, comma - from));
        from = comma + 1;
    }
    items.push_back(text.substr(from));
    return items;
}
