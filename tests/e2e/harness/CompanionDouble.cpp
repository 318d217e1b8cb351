// The records of the companion-tool double.
#include <cstdlib>

#include "HarnessInternal.h"

namespace e2e {

const char* const kDoubleRecord = "MERVO_DOUBLE_RECORD";
const char* const kDoubleSleepRemove = "MERVO_DOUBLE_SLEEP_REMOVE";
const char* const kDoubleSleepRescan = "MERVO_DOUBLE_SLEEP_RESCAN";
const char* const kDoubleExit = "MERVO_DOUBLE_EXIT";

std::vector<DoubleLaunch> ReadDoubleRecord(const std::string& recordPath)
{
    std::vector<DoubleLaunch> launches;
    std::string bytes = ReadFileBytes(recordPath);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        size_t tab = line.find('\t');
        DoubleLaunch launch;
        if (tab != std::string::npos) {
            launch.processId = static_cast<DWORD>(strtoul(line.substr(0, tab).c_str(), nullptr, 10));
            launch.commandLine = line.substr(tab + 1);
        } else {
            launch.commandLine = line;
        }
        launches.push_back(launch);
        start = end + 1;
    }
    return launches;
}

void EndDoubles(const std::string& recordPath)
{
    for (const DoubleLaunch& launch : ReadDoubleRecord(recordPath)) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, launch.processId);
        if (process == nullptr)
            continue;
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 0xDEAD);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
}

}  // namespace e2e
