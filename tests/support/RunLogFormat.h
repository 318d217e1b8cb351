// The run log's format, read back by the host tests and by the Wine harness:
// plain C++ without Windows or the test framework, so that both compile it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace runlog {

// The banner's lines and the closing line, as they stand in the log.
extern const char* const kLogBanner1;
extern const char* const kLogBanner2;
extern const char* const kLogClosingLine;

// Splits text at "\n", dropping one "\r" before it; a last line without
// "\n" is kept. The offsets of "\n"s without their "\r" go to `bareLineFeeds`
// (if given).
std::vector<std::string> SplitLines(const std::string& bytes, std::vector<size_t>* bareLineFeeds = nullptr);

// One line of the run log, split into its time stamp and its entry.
struct LogLine {
    bool stamped = false;  // the line starts with a time stamp
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    std::string entry;  // the rest: "<module> - <function>() - <text>"; the
                        // whole line when it has no time stamp
};

// The time stamp "%2d-%2d-%4d:%2dH%2dmn%2d'' -  " is this long.
const size_t kStampLength = 26;

LogLine ParseLogLine(const std::string& line);

// The parts of an entry, the padding blanks of module and function removed.
struct EntryParts {
    std::string module;
    std::string function;  // without "()"
    std::string text;      // as written
};

// Splits "<module> - <function>() - <text>"; false when the entry has not that form.
bool SplitEntry(const std::string& entry, EntryParts* parts);

// The entry part of a log line as the program writes it: the module right-aligned
// in 22 columns, " - ", the function right-aligned in 25, "() - ", the text.
std::string Entry(const std::string& module, const std::string& function, const std::string& text);

}  // namespace runlog
