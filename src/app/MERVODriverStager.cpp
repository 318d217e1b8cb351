#include "app/MERVODriverStager.h"

#include <cstring>

#include "app/SignatureCauses.h"
#include "common/BoundedText.h"
#include "inf/INFManager.h"
#include "log/LogFile.h"
#include "system/Dirs.h"
#include "system/GetOSVersion.h"

static const char kModule[] = "MERVODriverStager";
static const char kErrorCaption[] = "MERVODriverStager Error";
const char kCompanionToolName[] = "MERVODevCtl.exe";
const char kStager64Name[] = "MERVODriverStager64.exe";

// CreateProcess takes command lines of 32,767 characters with the terminator.
enum { COMMAND_SIZE = 520, HANDOFF_COMMAND_SIZE = 32767, HANDOFF_TEXT_SIZE = 128 };

void ShowUsage()
{
    Platform.MessageBoxA(
        nullptr,
        "-----------------  MERVODriverStager [Options]  -----------------\n"
        "\n"
        "      Options = {infFilename} {nodisplay} {nolog}                \n"
        "\t\t\t  infFilename: The name of the inf file to use. If none use default MERVOUSB.inf\n"
        "             nodisplay: No final dialog box will be displayed. \n"
        "             nolog: No log file will be generated.         \n"
        "\n",
        "MERVODriverStager Usage", PS_MB_OK);
}

// A failure of the run's own: one log line, then the same text in a box.
static void ReportError(const char* functionName, const char* text)
{
    WriteLog(kModule, functionName, text);
    Platform.MessageBoxA(nullptr, text, kErrorCaption, PS_MB_OK);
}

void ShowLastSystemError()
{
    uint32_t code = Platform.GetLastError();
    char* systemText = nullptr;
    uint32_t length = Platform.FormatMessageA(
        PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_IGNORE_INSERTS | PS_FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, PS_LANG_USER_DEFAULT, reinterpret_cast<char*>(&systemText), 0, nullptr);
    if (length == 0 || systemText == nullptr) {
        // Codes such as the Setup API's have no system text; the box still
        // says which error it was, and for a signature code its cause.
        char text[LOG_TEXT_SIZE];
        const char* cause = SignatureCauseText(code);
        if (cause != nullptr) {
            FormatText(text, sizeof text, "%s (0x%08X).", cause, static_cast<unsigned>(code));
        } else {
            FormatText(text, sizeof text, "System error 0x%08X.", static_cast<unsigned>(code));
        }
        Platform.MessageBoxA(nullptr, text, "Error", PS_MB_OK | PS_MB_ICONINFORMATION);
        return;
    }
    Platform.MessageBoxA(nullptr, systemText, "Error", PS_MB_OK | PS_MB_ICONINFORMATION);
    Platform.LocalFree(systemText);
}

int RemoveDriverInstances(const char* programFolder, const DeviceIdTable* table)
{
    static const char kFailure[] = "Unable to remove driver instances.";
    char commandLine[COMMAND_SIZE];
    // A command line that does not fit is refused like a tool that cannot start.
    int result =
        FormatText(commandLine, sizeof commandLine, "\"%s\\%s\" remove \"%s\\%s\" *VID_%s*", programFolder,
                   kCompanionToolName, programFolder, InfFileName, table->entries[0].vid) == 0
            ? LaunchAndWait(commandLine, kFailure)
            : ReportLaunchFailure(kFailure);
    WriteLog(kModule, "RemoveDriverInstances",
             result == LAUNCH_STARTED ? "Driver instances removed OK."
                                      : "Error: Driver instances remove failed !!");
    return result;
}

int RemountDriverInstances(const char* programFolder)
{
    static const char kFailure[] = "Unable to launch rescan.";
    char commandLine[COMMAND_SIZE];
    int result = FormatText(commandLine, sizeof commandLine, "\"%s\\%s\" rescan", programFolder,
                            kCompanionToolName) == 0
                     ? LaunchAndWait(commandLine, kFailure)
                     : ReportLaunchFailure(kFailure);
    WriteLog(kModule, "RemountDriverInstances",
             result == LAUNCH_STARTED ? "Driver instances mounted OK."
                                      : "Error: Driver instances mount failed !!");
    return result;
}

// The system folder and "\Drivers", or an empty text when the system folder is
// unknown or the whole does not fit: never a cut path.
static void GetDriverFolder(char* driverFolder, uint32_t size)
{
    uint32_t length = Platform.GetSystemDirectoryA(driverFolder, size);
    if (length == 0 || length >= size || AppendText(driverFolder, size, "\\Drivers") != 0) {
        driverFolder[0] = '\0';
    }
}

int Default_Pre_Installer()
{
    static const char kFunction[] = "Default_Pre_Installer";
    DeviceIdTable table;
    table.count = 0;

    char programFolder[DIRS_PATH_SIZE];
    if (GetModuleDirectory(programFolder) != 0) {
        WriteLog(kModule, kFunction, "Error while getting current directory !!");
        return EXIT_NO_PROGRAM_FOLDER;
    }
    char driverFolder[DIRS_PATH_SIZE];
    GetDriverFolder(driverFolder, sizeof driverFolder);

    char message[LOG_TEXT_SIZE];
    FormatText(message, sizeof message, "Current directory: %s", programFolder);
    WriteLog(kModule, kFunction, message);

    char sourceInfPath[DIRS_PATH_SIZE];
    if (InfFileName[0] == '\0') {  // the argument text named an INF too long to keep
        ReportError(kFunction, "Error: INF file name too long !!");
        return EXIT_NO_DEVICE;
    }
    if (FormatText(sourceInfPath, sizeof sourceInfPath, "%s\\%s", programFolder, InfFileName) != 0) {
        ReportError(kFunction, "Error: INF file path too long !!");
        return EXIT_NO_DEVICE;
    }
    if (GetDeviceIDs(sourceInfPath, &table) != 0 || table.count == 0) {
        return EXIT_NO_DEVICE;
    }
    RemoveDriverInstances(programFolder, &table);

    WriteLog(kModule, kFunction, "Pre-installing driver.");
    if (CopyDriverFiles(sourceInfPath, InfFileName, programFolder) != 0) {
        WriteLog(kModule, kFunction, "Error while copying driver files !!");
        ShowLastSystemError();
        return EXIT_COPY_FAILED;
    }
    WriteLog(kModule, kFunction, "Driver files copied OK.");

    char stagedInfName[DIRS_PATH_SIZE];
    uint32_t requiredSize = 0;
    if (!Platform.SetupCopyOEMInfA(sourceInfPath, driverFolder, PS_SPOST_PATH, 0, stagedInfName,
                                   sizeof stagedInfName, &requiredSize, nullptr)) {
        WriteLog(kModule, kFunction, "Error while pre-installing driver !!");
        ShowLastSystemError();
        return EXIT_STAGING_FAILED;
    }
    WriteLog(kModule, kFunction, "Driver pre-installed OK.");
    RemountDriverInstances(programFolder);
    return EXIT_OK;
}

// A 32-bit stager on 64-bit Windows would have its copies into System32\Drivers
// redirected to SysWOW64 and its device changes refused, so the 64-bit build
// shipped beside it does the whole run instead.
enum { RUN_HERE, RUN_HANDED_OFF, RUN_HAND_OFF_FAILED };

// What went wrong on the way to the 64-bit build, reported once the log is
// open: a log line, then a box (none, the text, or the system error box of
// `error`), and the exit code.
enum { HAND_OFF_NO_BOX, HAND_OFF_TEXT_BOX, HAND_OFF_SYSTEM_ERROR_BOX };
struct HandOffFailure {
    const char* functionName;
    char text[HANDOFF_TEXT_SIZE];
    int box;
    uint32_t error;
    int exitCode;
    int afterStart;  // the 64-bit build ran (and may have written the log)
};

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

// The codes a run of the stager ends with; any other code of the 64-bit build
// means it did not end on its own terms (it crashed, or was ended).
static int IsStagerExitCode(uint32_t code)
{
    static const uint32_t kCodes[] = {EXIT_OK,         EXIT_NO_TEMP_FOLDER,    EXIT_UNSUPPORTED_OS,
                                      EXIT_NO_DEVICE,  EXIT_NO_PROGRAM_FOLDER, EXIT_STAGING_FAILED,
                                      EXIT_COPY_FAILED};
    for (uint32_t known : kCodes) {
        if (code == known) {
            return 1;
        }
    }
    return 0;
}

static int HandOffTo64BitStager(const char* argumentText, int* exitCode, HandOffFailure* failure)
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
    char commandLine[HANDOFF_COMMAND_SIZE];
    if (FormatText(commandLine, sizeof commandLine, "\"%s\" %s", stager64, argumentText) != 0) {
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

static int ReportHandOffFailure(const HandOffFailure* failure)
{
    WriteLog(kModule, failure->functionName, failure->text);
    if (failure->box == HAND_OFF_TEXT_BOX) {
        Platform.MessageBoxA(nullptr, failure->text, kErrorCaption, PS_MB_OK);
    } else if (failure->box == HAND_OFF_SYSTEM_ERROR_BOX) {
        Platform.SetLastError(failure->error);
        ShowLastSystemError();
    }
    return failure->exitCode;
}

// Opens the run log in the temporary folder; a log path that does not fit is
// not cut, the run then goes on without a log.
static void OpenRunLog(const char* tempFolder, int continuing)
{
    char logPath[DIRS_PATH_SIZE];
    if (FormatText(logPath, sizeof logPath, "%s\\%s", tempFolder, "MERVOStageLog.txt") != 0) {
        return;
    }
    if (continuing) {
        ContinueLog(logPath);
        return;
    }
    OpenLog(logPath);
    char text[LOG_TEXT_SIZE];
    FormatText(text, sizeof text, "Log created: %s.", logPath);
    WriteLog(kModule, "WinMain", text);
}

extern "C" int PS_WINAPI WinMain(PsHandle, PsHandle, char* argumentText, int)
{
    const char* text = argumentText != nullptr ? argumentText : "";
    ReadArgumentText(text);
    if (strstr(text, "/?") != nullptr) {
        ShowUsage();
        return EXIT_OK;
    }
    int exitCode = EXIT_OK;
    HandOffFailure failure;
    int where = HandOffTo64BitStager(text, &exitCode, &failure);
    if (where == RUN_HANDED_OFF) {
        return exitCode;
    }

    char tempFolder[DIRS_PATH_SIZE];
    if (GetTempDirectory(tempFolder) != 0) {
        Platform.MessageBoxA(nullptr, "Unable to get temp directory path !!", kErrorCaption, PS_MB_OK);
        return EXIT_NO_TEMP_FOLDER;
    }
    if (where == RUN_HAND_OFF_FAILED && failure.afterStart) {
        // The 64-bit build's log (if it wrote one) gets this line at its end.
        if (!noLog) {
            OpenRunLog(tempFolder, 1);
        }
        exitCode = ReportHandOffFailure(&failure);
        CloseLog();
        return exitCode;
    }
    if (!noLog) {
        OpenRunLog(tempFolder, 0);
    }
    OsCode os = GetOSVersion();
    if (os < OS_WIN2000 || os > OS_WINVISTA) {
        DisplayOSError(os);
        exitCode = EXIT_UNSUPPORTED_OS;
    } else if (where == RUN_HAND_OFF_FAILED) {
        exitCode = ReportHandOffFailure(&failure);
    } else {
        exitCode = Default_Pre_Installer();
        if (exitCode == EXIT_OK && !noDisplay) {
            Platform.MessageBoxA(nullptr, "Driver Pre-install OK: you can now plug your device.", kModule,
                                 PS_MB_OK);
        }
    }
    CloseLog();
    return exitCode;
}
