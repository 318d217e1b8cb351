#include "system/Dirs.h"

#include <cstring>

#include "log/LogFile.h"
#include "platform/PlatformServices.h"

// Ends the text at its last backslash, so a folder carries no trailing
// separator; a text without one stays whole.
static void CutAtLastBackslash(char* path)
{
    char* last = strrchr(path, '\\');
    if (last != nullptr) {
        *last = '\0';
    }
}

int GetModuleDirectory(char* folder)
{
    uint32_t length = Platform.GetModuleFileNameA(nullptr, folder, DIRS_PATH_SIZE);
    // A result of the buffer's size means the path was cut: its folder would
    // be another folder, so it counts as unknown.
    if (length == 0 || length >= DIRS_PATH_SIZE) {
        folder[0] = '\0';
        return 1;
    }
    CutAtLastBackslash(folder);
    return 0;
}

int GetTempDirectory(char* folder)
{
    uint32_t length = Platform.GetTempPathA(DIRS_PATH_SIZE, folder);
    // A result above the buffer's room is the size the path would need; the
    // buffer then holds nothing usable.
    if (length == 0 || length >= DIRS_PATH_SIZE) {
        folder[0] = '\0';
        return 1;
    }
    CutAtLastBackslash(folder);
    return 0;
}

int ReportLaunchFailure(const char* failureText)
{
    if (failureText != nullptr) {
        Platform.MessageBoxA(nullptr, failureText, "Device Install Error", PS_MB_OK);
    }
    return LAUNCH_NOT_STARTED;
}

int LaunchAndWait(char* commandLine, const char* failureText)
{
    if (commandLine == nullptr) {
        return LAUNCH_NO_COMMAND;
    }
    PsStartupInfo startupInfo;
    memset(&startupInfo, 0, sizeof startupInfo);
    startupInfo.cb = sizeof startupInfo;
    PsProcessInformation processInformation;
    memset(&processInformation, 0, sizeof processInformation);

    if (!Platform.CreateProcessA(nullptr, commandLine, nullptr, nullptr, 0, PS_CREATE_NO_WINDOW,
                                 nullptr, nullptr, &startupInfo, &processInformation)) {
        return ReportLaunchFailure(failureText);
    }
    // A tool still running after the wait is left to itself.
    if (Platform.WaitForSingleObject(processInformation.hProcess, LAUNCH_WAIT_MS) ==
        PS_WAIT_TIMEOUT) {
        WriteLog("Dirs", "LaunchAndWait", "Process timed out.");
    }
    Platform.CloseHandle(processInformation.hProcess);
    Platform.CloseHandle(processInformation.hThread);
    return LAUNCH_STARTED;
}
