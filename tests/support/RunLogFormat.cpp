#include "RunLogFormat.h"

#include <cstdio>

namespace runlog {

const char* const kLogBanner1 = "\t\t-----------------------------------------";
const char* const kLogBanner2 = "\t\t|       MERVODriverStager Log file      |";
const char* const kLogClosingLine = "\t\t--------------- LOG CLOSED --------------";

namespace {

std::string TrimBlanks(const std::string& text)
{
    size_t start = text.find_first_not_of(' ');
    size_t end = text.find_last_not_of(' ');
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& bytes, std::vector<size_t>* bareLineFeeds)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        bool crlf = end > start && bytes[end - 1] == '\r';
        if (!crlf && bareLineFeeds != nullptr)
            bareLineFeeds->push_back(end);
        lines.push_back(bytes.substr(start, (crlf ? end - 1 : end) - start));
        start = end + 1;
    }
    return lines;
}

LogLine ParseLogLine(const std::string& line)
{
    // "%2d-%2d-%4d:%2dH%2dmn%2d'' -  ": each '#' a digit or, before the first
    // digit of a field, a blank.
    static const char kPattern[] = "##-##-####:##H##mn##'' -  ";
    LogLine parsed;
    int* fields[] = {&parsed.day, &parsed.month, &parsed.year, &parsed.hour, &parsed.minute, &parsed.second};
    int* field = nullptr;
    for (size_t i = 0, next = 0; kPattern[i] != '\0'; ++i) {
        const char c = i < line.size() ? line[i] : '\0';
        const bool digit = c >= '0' && c <= '9';
        bool fits = c == kPattern[i];
        if (kPattern[i] == '#') {
            if (i == 0 || kPattern[i - 1] != '#') {
                field = fields[next++];
                *field = -1;  // no digit yet
            }
            fits = digit || (c == ' ' && *field < 0 && kPattern[i + 1] == '#');
            *field = digit ? (*field < 0 ? 0 : *field * 10) + (c - '0') : *field;
        }
        if (!fits) {
            LogLine unstamped;
            unstamped.entry = line;
            return unstamped;
        }
    }
    parsed.stamped = true;
    parsed.entry = line.substr(sizeof kPattern - 1);
    return parsed;
}

bool SplitEntry(const std::string& entry, EntryParts* parts)
{
    size_t moduleEnd = entry.find(" - ");
    size_t functionEnd = moduleEnd == std::string::npos ? moduleEnd : entry.find("() - ", moduleEnd + 3);
    if (functionEnd == std::string::npos)
        return false;
    parts->module = TrimBlanks(entry.substr(0, moduleEnd));
    parts->function = TrimBlanks(entry.substr(moduleEnd + 3, functionEnd - moduleEnd - 3));
    parts->text = entry.substr(functionEnd + 5);
    return true;
}

std::string Entry(const std::string& module, const std::string& function, const std::string& text)
{
    char head[128];
    snprintf(head, sizeof head, "%22s - %25s() - ", module.c_str(), function.c_str());
    return head + text;
}

}  // namespace runlog
