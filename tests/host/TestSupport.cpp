#include "TestSupport.h"

#include <ftw.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/MERVODriverStager.h"
#include "log/LogFile.h"

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

// Whether `line` starts with the log's time stamp "%2d-%2d-%4d:%2dH%2dmn%2d'' -  ".
bool HasStamp(const std::string& line)
{
    if (line.size() < 26) {
        return false;
    }
    const char* pattern = "##-##-####:##H##mn##'' -  ";  // '#': a digit or, where padded, a blank
    for (size_t i = 0; i < 26; ++i) {
        char c = line[i];
        if (pattern[i] == '#' ? !(isdigit(static_cast<unsigned char>(c)) || c == ' ') : c != pattern[i]) {
            return false;
        }
    }
    return true;
}

std::string TrimBlanks(const std::string& text)
{
    size_t start = text.find_first_not_of(' ');
    size_t end = text.find_last_not_of(' ');
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

}  // namespace

const char kLogClosedLine[] = "\t\t--------------- LOG CLOSED --------------";

std::vector<std::string> Join(std::vector<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

size_t CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
    size_t count = 0;
    for (const std::string& line : lines) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            ++count;
        }
    }
    return count;
}

const char kTypicalInf[] =
    "[Version]\n"
    "Signature=\"$Windows NT$\"\n"
    "Class=Ports\n"
    "\n"
    "[Manufacturer]\n"
    "%Mfg%=Models\n"
    "\n"
    "[Models]\n"
    "%DevDesc%=Install, USB\\VID_0123&PID_4567\n"
    "\n"
    "[SourceDisksFiles]\n"
    "mervousb.sys=1\n"
    "mervoser.sys=1\n"
    "\n"
    "[Strings]\n"
    "Mfg=\"MERVO\"\n"
    "DevDesc=\"MERVO Test Device\"\n";

void SimTest::WritePackage(const std::string& inf, const std::string& folder)
{
    Write(folder + "\\MERVOUSB.inf", inf);
    Write(folder + "\\mervousb.sys", "USB driver bytes");
    Write(folder + "\\mervoser.sys", "serial driver bytes");
    Write(folder + "\\MERVODevCtl.exe", "tool");
}

int SimTest::RunStager(const std::string& argumentText)
{
    std::vector<char> text(argumentText.begin(), argumentText.end());
    text.push_back('\0');
    return WinMain(nullptr, nullptr, text.data(), 1);
}

std::vector<std::string> SimTest::BoxTexts() const
{
    std::vector<std::string> texts;
    for (const SimMessageBox& box : Sim().boxes) {
        texts.push_back(box.caption + ": " + box.text);
    }
    return texts;
}

size_t SimTest::TraceCount(const std::string& prefix) const
{
    return CountStartingWith(Sim().trace, prefix);
}

void SimTest::SetUp()
{
    // A log left open by an earlier test belongs to that test's machine.
    CloseLog();
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/mervo-sim-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    ASSERT_NE(mkdtemp(name.data()), nullptr) << "cannot create " << pattern;
    root = name.data();
    SimReset(root);
}

void SimTest::TearDown()
{
    CloseLog();
    if (!root.empty()) {
        nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
}

void SimTest::Write(const std::string& windowsPath, const std::string& bytes)
{
    SimWriteFile(windowsPath, bytes);
}

std::string SimTest::Read(const std::string& windowsPath)
{
    std::string bytes;
    return SimReadFile(windowsPath, &bytes) ? bytes : "";
}

std::vector<std::string> SimTest::LogFileLines(const std::string& windowsPath)
{
    std::string bytes = Read(windowsPath);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));  // a last line without line end
            break;
        }
        if (end == start || bytes[end - 1] != '\r') {
            ADD_FAILURE() << "line end without CR at byte " << end << " of " << windowsPath;
            lines.push_back(bytes.substr(start, end - start));
        } else {
            lines.push_back(bytes.substr(start, end - 1 - start));
        }
        start = end + 1;
    }
    return lines;
}

std::vector<SimTest::LogEntry> SimTest::LogEntries(const std::string& windowsPath)
{
    std::vector<LogEntry> entries;
    for (const std::string& line : LogFileLines(windowsPath)) {
        if (line.empty() || line[0] == '\t') {
            continue;  // banner, closing line, or the end of a text ending in "\n"
        }
        if (!HasStamp(line)) {
            // A text with a line break inside goes on in the next line.
            if (entries.empty()) {
                ADD_FAILURE() << "log line without time stamp: " << line;
            } else {
                entries.back().text += "\n" + line;
            }
            continue;
        }
        std::string rest = line.substr(26);
        size_t moduleEnd = rest.find(" - ");
        size_t functionEnd = moduleEnd == std::string::npos ? moduleEnd : rest.find("() - ", moduleEnd + 3);
        if (functionEnd == std::string::npos) {
            ADD_FAILURE() << "log line not of the form \"module - function() - text\": " << line;
            continue;
        }
        LogEntry entry;
        entry.stamp = line.substr(0, 26);
        entry.module = TrimBlanks(rest.substr(0, moduleEnd));
        entry.function = TrimBlanks(rest.substr(moduleEnd + 3, functionEnd - moduleEnd - 3));
        entry.text = rest.substr(functionEnd + 5);
        entries.push_back(entry);
    }
    return entries;
}

std::vector<std::string> SimTest::LogLines(const std::string& windowsPath, const std::string& separator)
{
    std::vector<std::string> lines;
    for (const LogEntry& e : LogEntries(windowsPath)) {
        lines.push_back(e.module + separator + e.function + separator + e.text);
    }
    return lines;
}
