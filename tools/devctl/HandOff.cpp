// A 32-bit process on 64-bit Windows cannot change devices through the Setup
// API, so the 32-bit build hands its whole run to the 64-bit build beside it.
#include <cstring>

#include "DevCtl.h"
#include "common/BoundedText.h"
#include "common/HandOffPaths.h"
#include "common/Names.h"

namespace {

// The folder of the running executable, without its trailing backslash.
// 0 found, 1 not found (also for a path without a folder).
int OwnFolder(char* folder, size_t size)
{
    char path[DEVCTL_PATH_SIZE];
    uint32_t length = DevCtlPlatform.GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return 1;
    }
    path[length] = '\0';
    if (!CutAtLastBackslash(path)) {
        return 1;
    }
    return CopyText(folder, size, path);
}

int IsFile(const char* path)
{
    uint32_t attributes = DevCtlPlatform.GetFileAttributesA(path);
    return attributes != PS_INVALID_FILE_ATTRIBUTES && (attributes & PS_FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

int DecideHandOff(char* path64, size_t size)
{
    int32_t wow64 = 0;
    if (DevCtlPlatform.IsWow64Process(&wow64) == 0 || wow64 == 0) {
        return HANDOFF_RUN_HERE;
    }
    char folder[DEVCTL_PATH_SIZE];
    if (OwnFolder(folder, sizeof folder) != 0) {
        CopyText(path64, size, "");
        return HANDOFF_64BIT_MISSING;
    }
    if (FormatText(path64, size, "%s\\%s", folder, kCompanionTool64Name) != 0 || !IsFile(path64)) {
        return HANDOFF_64BIT_MISSING;
    }
    return HANDOFF_TO_64BIT;
}

const char* ArgumentText(const char* commandLine)
{
    const char* at = commandLine;
    if (*at == '"') {
        // A quoted program name ends at the next quote (Windows allows no
        // quote inside a file name).
        ++at;
        while (*at != '\0' && *at != '"') {
            ++at;
        }
        if (*at == '"') {
            ++at;
        }
    } else {
        while (*at != '\0' && *at != ' ' && *at != '\t') {
            ++at;
        }
    }
    while (*at == ' ' || *at == '\t') {
        ++at;
    }
    return at;
}

int HandOffTo64Bit(const char* path64)
{
    // Kept off the stack: as long as the longest command line Windows takes.
    static char commandLine[DEVCTL_COMMAND_LINE_SIZE];
    const char* commandLineText = DevCtlPlatform.GetCommandLineA();
    const char* arguments = ArgumentText(commandLineText != nullptr ? commandLineText : "");
    char line[DEVCTL_LINE_SIZE];

    if (FormatHandOffCommandLine(commandLine, sizeof commandLine, path64, arguments) != 0) {
        DevCtlPlatform.WriteLine("The argument text is too long to hand to the 64-bit build.");
        return DEVCTL_EXIT_ARGUMENTS_TOO_LONG;
    }
    uint32_t exitCode = 0;
    int32_t result = DevCtlPlatform.RunAndWait(path64, commandLine, &exitCode);
    if (result != 0) {
        FormatText(line, sizeof line, "The 64-bit build %s could not be %s (error %u).", path64,
                   result == 1 ? "started" : "waited for", DevCtlPlatform.GetLastError());
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_64BIT_NOT_RUN;
    }
    return static_cast<int>(exitCode);
}
