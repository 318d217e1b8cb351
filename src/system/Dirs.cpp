#include "system/Dirs.h"

#include <cstring>

#include "common/HandOffPaths.h"
#include "common/Names.h"
#include "log/LogFile.h"
#include "platform/PlatformServices.h"
#include "system/Boxes.h"

static const char kModule[] = "Dirs";

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
        ShowBox(failureText, kLaunchErrorCaption, PS_MB_OK);
    }
    return LAUNCH_NOT_STARTED;
}

int StartProcess(char* commandLine, uint32_t creationFlags, PsProcessInformation* process)
{
    PsStartupInfo startupInfo;
    memset(&startupInfo, 0, sizeof startupInfo);
    startupInfo.cb = sizeof startupInfo;
    memset(process, 0, sizeof *process);
    return Platform.CreateProcessA(nullptr, commandLine, nullptr, nullptr, 0, creationFlags, nullptr, nullptr,
                                   &startupInfo, process) != 0;
}

int LaunchAndWait(char* commandLine, const char* failureText)
{
    if (commandLine == nullptr) {
        return LAUNCH_NO_COMMAND;
    }
    PsProcessInformation processInformation;
    if (!StartProcess(commandLine, PS_CREATE_NO_WINDOW, &processInformation)) {
        return ReportLaunchFailure(failureText);
    }
    // A tool still running after the wait is left to itself.
    if (Platform.WaitForSingleObject(processInformation.hProcess, LAUNCH_WAIT_MS) == PS_WAIT_TIMEOUT) {
        WriteLog(kModule, "LaunchAndWait", "Process timed out.");
    }
    Platform.CloseHandle(processInformation.hProcess);
    Platform.CloseHandle(processInformation.hThread);
    return LAUNCH_STARTED;
}
