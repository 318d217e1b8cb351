// Test double of the companion tool MERVODevCtl.exe: records how it was
// started and then behaves as the test asks. Tests copy it into a package
// folder as MERVODevCtl.exe; it reads its orders from the environment that
// the stager passes on from the test:
//
//   MERVO_DOUBLE_RECORD        Windows path of the record file. Each start
//                              appends one line: its process id in decimal,
//                              a tab, its exact command line (GetCommandLineA)
//                              and "\n".
//   MERVO_DOUBLE_SLEEP_REMOVE  seconds to sleep before ending, when started
//   MERVO_DOUBLE_SLEEP_RESCAN  with "remove" resp. "rescan" as first argument
//   MERVO_DOUBLE_EXIT          exit code (default 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

unsigned long NumberFromEnvironment(const char* name, unsigned long fallback)
{
    char value[32] = {};
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return fallback;
    return strtoul(value, nullptr, 10);
}

// The word after the program's path: the command line starts with the
// quoted path, as the stager builds it, or with an unquoted one.
const char* FirstArgument(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        p = strchr(p + 1, '"');
        p = p != nullptr ? p + 1 : commandLine + strlen(commandLine);
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

void Record(const char* commandLine)
{
    char path[MAX_PATH + 1] = {};
    DWORD length = GetEnvironmentVariableA("MERVO_DOUBLE_RECORD", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    // Several starts may append to one record; open in append mode, retrying
    // briefly in case another start holds the file.
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char pid[16];
            int pidLength = snprintf(pid, sizeof pid, "%lu\t", GetCurrentProcessId());
            DWORD written = 0;
            WriteFile(file, pid, static_cast<DWORD>(pidLength), &written, nullptr);
            WriteFile(file, commandLine, static_cast<DWORD>(strlen(commandLine)), &written, nullptr);
            WriteFile(file, "\n", 1, &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(20);
    }
}

}  // namespace

int main()
{
    const char* commandLine = GetCommandLineA();
    Record(commandLine);
    const char* argument = FirstArgument(commandLine);
    unsigned long seconds = 0;
    if (strncmp(argument, "remove", 6) == 0) {
        seconds = NumberFromEnvironment("MERVO_DOUBLE_SLEEP_REMOVE", 0);
    } else if (strncmp(argument, "rescan", 6) == 0) {
        seconds = NumberFromEnvironment("MERVO_DOUBLE_SLEEP_RESCAN", 0);
    }
    if (seconds > 0)
        Sleep(static_cast<DWORD>(seconds * 1000));
    return static_cast<int>(NumberFromEnvironment("MERVO_DOUBLE_EXIT", 0));
}
