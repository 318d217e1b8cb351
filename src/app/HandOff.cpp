#include "app/HandOff.h"

#include "common/BoundedText.h"
#include "common/HandOffPaths.h"
#include "common/Names.h"
#include "log/LogFile.h"
#include "system/Boxes.h"
#include "system/Dirs.h"

static int HandOffFailed(HandOffFailure* failure, const char* functionName, const char* text, int box,
                         int exitCode)
{
    failure->functionName = functionName;
    CopyText(failure->text, sizeof failure->text, text);
    failure->box = box;
    failure->error = Platform.GetLastError();
    failure->exitCode = exitCode;
    return RUN_HAND_OFF_FAILED;
}

int HandOffTo64BitStager(const char* argumentText, int* exitCode, HandOffFailure* failure)
{
    static const char kWinMain[] = "WinMain";
    failure->afterStart = 0;
    int32_t wow64 = 0;
    if (!Platform.IsWow64Process(&wow64) || !wow64) {
        return RUN_HERE;
    }
    char folder[DIRS_PATH_SIZE];
    if (GetModuleDirectory(folder) != 0) {
        // As a run here would end: no folder, no package.
        return HandOffFailed(failure, "Default_Pre_Installer", "Error while getting current directory !!",
                             HAND_OFF_NO_BOX, EXIT_NO_PROGRAM_FOLDER);
    }
    char stager64[DIRS_PATH_SIZE];
    if (FormatText(stager64, sizeof stager64, "%s\\%s", folder, kStager64Name) != 0) {
        return HandOffFailed(failure, kWinMain, "Error: 64-bit stager path too long !!", HAND_OFF_TEXT_BOX,
                             EXIT_COPY_FAILED);
    }
    if (Platform.GetFileAttributesA(stager64) == PS_INVALID_FILE_ATTRIBUTES) {
        uint32_t error = Platform.GetLastError();
        if (error == PS_ERROR_FILE_NOT_FOUND || error == PS_ERROR_PATH_NOT_FOUND) {
            return HandOffFailed(failure, kWinMain, "Error: 64-bit stager missing !!", HAND_OFF_TEXT_BOX,
                                 EXIT_COPY_FAILED);
        }
        // Something is there that cannot be looked at: starting it tells why.
    }
    char commandLine[HANDOFF_COMMAND_LINE_SIZE];
    if (FormatHandOffCommandLine(commandLine, sizeof commandLine, stager64, argumentText) != 0) {
        return HandOffFailed(failure, kWinMain, "Error: argument text too long for the 64-bit stager !!",
                             HAND_OFF_TEXT_BOX, EXIT_COPY_FAILED);
    }
    PsProcessInformation process;
    if (!StartProcess(commandLine, 0, &process)) {
        return HandOffFailed(failure, kWinMain, "Error: 64-bit stager cannot be started !!",
                             HAND_OFF_SYSTEM_ERROR_BOX, EXIT_COPY_FAILED);
    }
    int where = RUN_HANDED_OFF;
    uint32_t code = 0;
    if (Platform.WaitForSingleObject(process.hProcess, PS_INFINITE) != PS_WAIT_OBJECT_0) {
        where = HandOffFailed(failure, kWinMain, "Error while waiting for the 64-bit stager !!",
                              HAND_OFF_SYSTEM_ERROR_BOX, EXIT_COPY_FAILED);
    } else if (!Platform.GetExitCodeProcess(process.hProcess, &code)) {
        where = HandOffFailed(failure, kWinMain, "Error while reading the 64-bit stager's exit code !!",
                              HAND_OFF_SYSTEM_ERROR_BOX, EXIT_COPY_FAILED);
    } else if (!IsStagerExitCode(code)) {
        char text[HANDOFF_TEXT_SIZE];
        FormatText(text, sizeof text, "Error: 64-bit stager ended with 0x%08X !!",
                   static_cast<unsigned>(code));
        where = HandOffFailed(failure, kWinMain, text, HAND_OFF_TEXT_BOX, EXIT_COPY_FAILED);
    }
    Platform.CloseHandle(process.hProcess);
    Platform.CloseHandle(process.hThread);
    failure->afterStart = 1;
    *exitCode = static_cast<int>(code);
    return where;
}

int ReportHandOffFailure(const HandOffFailure* failure)
{
    WriteLog(kStagerModule, failure->functionName, failure->text);
    if (failure->box == HAND_OFF_TEXT_BOX) {
        ShowBox(failure->text, kStagerErrorCaption, PS_MB_OK);
    } else if (failure->box == HAND_OFF_SYSTEM_ERROR_BOX) {
        Platform.SetLastError(failure->error);
        ShowLastSystemError();
    }
    return failure->exitCode;
}
