#include "TestSupport.h"

#include <sys/stat.h>

#include "app/MERVODriverStager.h"
#include "log/LogFile.h"

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
    ASSERT_FALSE(root.empty()) << "cannot create a temporary folder for C:";
    SimReset(root);
}

void SimTest::FreshMachine()
{
    const std::string folder = root + "/machine" + std::to_string(++machines_);
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700)) << folder;
    SimReset(folder);
}

void SimTest::TearDown()
{
    CloseLog();
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
    std::vector<size_t> bare;
    std::vector<std::string> lines = runlog::SplitLines(Read(windowsPath), &bare);
    for (size_t at : bare) {
        ADD_FAILURE() << "line end without CR at byte " << at << " of " << windowsPath;
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
        runlog::LogLine parsed = runlog::ParseLogLine(line);
        LogEntry entry;
        if (!parsed.stamped) {
            // A text with a line break inside goes on in the next line.
            if (entries.empty()) {
                ADD_FAILURE() << "log line without time stamp: " << line;
            } else {
                entries.back().text += "\n" + line;
            }
        } else if (!runlog::SplitEntry(parsed.entry, &entry)) {
            ADD_FAILURE() << "log line not of the form \"module - function() - text\": " << line;
        } else {
            entry.stamp = line.substr(0, runlog::kStampLength);
            entries.push_back(entry);
        }
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
