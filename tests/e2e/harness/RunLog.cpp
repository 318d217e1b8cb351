// Reading back the run log (its format is RunLogFormat's) and its time stamps.
#include "HarnessInternal.h"

namespace e2e {

std::vector<std::string> RunLogEntries(bool* present)
{
    std::vector<std::string> entries;
    for (const std::string& line : SplitLines(ReadFileBytes(RunLogPath(), present))) {
        entries.push_back(ParseLogLine(line).entry);
    }
    return entries;
}

std::vector<std::string> RunLogSteps(bool* present)
{
    std::vector<std::string> entries = RunLogEntries(present);
    if (entries.size() < 5 || entries[0] != kLogBanner1 || entries[1] != kLogBanner2 ||
        entries[2] != kLogBanner1 || !entries[3].empty() || entries.back() != kLogClosingLine) {
        return {};
    }
    return std::vector<std::string>(entries.begin() + 4, entries.end() - 1);
}

long long UtcSeconds(int year, int month, int day, int hour, int minute, int second)
{
    static const int daysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    long long days = (year - 2000) * 365LL + (year - 1997) / 4 + daysBefore[(month + 11) % 12] + day;
    if (month > 2 && year % 4 == 0)
        ++days;
    return ((days * 24 + hour) * 60 + minute) * 60LL + second;
}

long long NowUtcSeconds()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return UtcSeconds(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

}  // namespace e2e
