#include "app/MERVODriverStager.h"

#include <cstring>

#include "app/HandOff.h"
#include "common/BoundedText.h"
#include "inf/INFManager.h"
#include "log/LogFile.h"
#include "system/Boxes.h"
#include "system/Dirs.h"
#include "system/GetOSVersion.h"
#include "turn/MachineTurn.h"

enum { COMMAND_SIZE = 520 };

void ShowUsage()
{
    char text[LOG_TEXT_SIZE];
    FormatText(text, sizeof text,
               "-----------------  MERVODriverStager [Options]  -----------------\n"
               "\n"
               "      Options = {infFilename} {nodisplay} {nolog}                \n"
               "\t\t\t  infFilename: The name of the inf file to use. If none use default %s\n"
               "             nodisplay: No final dialog box will be displayed. \n"
               "             nolog: No log file will be generated.         \n"
               "\n",
               kDefaultInfName);
    ShowBox(text, kStagerUsageCaption, PS_MB_OK);
}

// A failure of the run's own: one log line, then the same text in a box.
static void ReportError(const char* functionName, const char* text)
{
    WriteLog(kStagerModule, functionName, text);
    ShowBox(text, kStagerErrorCaption, PS_MB_OK);
}

int RemoveDriverInstances(const char* programFolder, const DeviceIdTable* table)
{
    static const char kFailure[] = "Unable to remove driver instances.";
    char pattern[16];
    FormatText(pattern, sizeof pattern, kRemovePatternFormat, table->entries[0].vid);
    char commandLine[COMMAND_SIZE];
    // A command line that does not fit is refused like a tool that cannot start.
    int result = FormatText(commandLine, sizeof commandLine, "\"%s\\%s\" remove \"%s\\%s\" %s", programFolder,
                            kCompanionToolName, programFolder, InfFileName, pattern) == 0
                     ? LaunchAndWait(commandLine, kFailure)
                     : ReportLaunchFailure(kFailure);
    WriteLog(kStagerModule, "RemoveDriverInstances",
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
    WriteLog(kStagerModule, "RemountDriverInstances",
             result == LAUNCH_STARTED ? "Driver instances mounted OK."
                                      : "Error: Driver instances mount failed !!");
    return result;
}

int Default_Pre_Installer()
{
    static const char kFunction[] = "Default_Pre_Installer";
    DeviceIdTable table;
    table.count = 0;

    char programFolder[DIRS_PATH_SIZE];
    if (GetModuleDirectory(programFolder) != 0) {
        WriteLog(kStagerModule, kFunction, "Error while getting current directory !!");
        return EXIT_NO_PROGRAM_FOLDER;
    }
    char message[LOG_TEXT_SIZE];
    FormatText(message, sizeof message, "Current directory: %s", programFolder);
    WriteLog(kStagerModule, kFunction, message);

    char sourceInfPath[DIRS_PATH_SIZE];
    int joined = JoinInfPath(programFolder, sourceInfPath, sizeof sourceInfPath);
    if (joined != INF_PATH_JOINED) {
        ReportError(kFunction, joined == INF_NAME_TOO_LONG ? "Error: INF file name too long !!"
                                                           : "Error: INF file path too long !!");
        return EXIT_NO_DEVICE;
    }
    if (GetDeviceIDs(sourceInfPath, &table) != 0 || table.count == 0) {
        return EXIT_NO_DEVICE;
    }
    RemoveDriverInstances(programFolder, &table);

    WriteLog(kStagerModule, kFunction, "Pre-installing driver.");
    // The Setup API is given as the media location the folder the driver
    // files have just been copied into.
    char driverFolder[INF_PATH_SIZE];
    if (CopyDriverFiles(sourceInfPath, InfFileName, programFolder, driverFolder) != 0) {
        WriteLog(kStagerModule, kFunction, "Error while copying driver files !!");
        ShowLastSystemError();
        return EXIT_COPY_FAILED;
    }
    WriteLog(kStagerModule, kFunction, "Driver files copied OK.");

    char stagedInfName[DIRS_PATH_SIZE];
    uint32_t requiredSize = 0;
    if (!Platform.SetupCopyOEMInfA(sourceInfPath, driverFolder, PS_SPOST_PATH, 0, stagedInfName,
                                   sizeof stagedInfName, &requiredSize, nullptr)) {
        WriteLog(kStagerModule, kFunction, "Error while pre-installing driver !!");
        ShowLastSystemError();
        return EXIT_STAGING_FAILED;
    }
    WriteLog(kStagerModule, kFunction, "Driver pre-installed OK.");
    RemountDriverInstances(programFolder);
    return EXIT_OK;
}

// Opens the log `name` in the temporary folder; a log path that does not
// fit is not cut, the run then goes on without a log.
static void OpenRunLog(const char* tempFolder, const char* name, int continuing)
{
    char logPath[DIRS_PATH_SIZE];
    if (FormatText(logPath, sizeof logPath, "%s\\%s", tempFolder, name) != 0) {
        return;
    }
    if (continuing) {
        ContinueLog(logPath);
        return;
    }
    OpenLog(logPath);
    char text[LOG_TEXT_SIZE];
    FormatText(text, sizeof text, "Log created: %s.", logPath);
    WriteLog(kStagerModule, "WinMain", text);
}

// What the run's turn was like, in its log: only a wait or a run before it
// that was stopped leave a line.
static void LogTurn(const MachineTurn* turn)
{
    if (turn->waited) {
        char text[LOG_TEXT_SIZE];
        FormatText(text, sizeof text, "Waited %u ms for another installation to end.",
                   static_cast<unsigned>(turn->waitedMs));
        WriteLog(kStagerModule, "WinMain", text);
    }
    if (turn->abandoned) {
        WriteLog(kStagerModule, "WinMain",
                 "The installation before this one ended without finishing: its work is done again.");
    }
}

// A run that did not get the machine's turn changes nothing. It says why in
// a log of its own beside the run log (which stays the whole log of the run
// that had the turn, and is not replaced by this one) and in a box.
static int ReportNoTurn(const MachineTurn* turn)
{
    char text[LOG_TEXT_SIZE];
    if (turn->state == TURN_TIMED_OUT) {
        FormatText(text, sizeof text,
                   "Error: another installation was at work for %u s: nothing was done, try again later !!",
                   static_cast<unsigned>(TURN_WAIT_MS / 1000));
    } else {
        FormatText(text, sizeof text,
                   "Error: cannot take the machine's turn (error 0x%08X): nothing was done !!",
                   static_cast<unsigned>(turn->error));
    }
    char tempFolder[DIRS_PATH_SIZE];
    if (!noLog && GetTempDirectory(tempFolder) == 0) {
        OpenRunLog(tempFolder, kNotRunLogName, 0);
    }
    ReportError("WinMain", text);
    CloseLog();
    return EXIT_NO_TURN;
}

// The run once it has the machine's turn.
static int RunInTurn(const char* text, const MachineTurn* turn)
{
    int exitCode = EXIT_OK;
    HandOffFailure failure;
    int where = HandOffTo64BitStager(text, &exitCode, &failure);
    if (where == RUN_HANDED_OFF) {
        return exitCode;
    }

    char tempFolder[DIRS_PATH_SIZE];
    if (GetTempDirectory(tempFolder) != 0) {
        ShowBox("Unable to get temp directory path !!", kStagerErrorCaption, PS_MB_OK);
        return EXIT_NO_TEMP_FOLDER;
    }
    if (where == RUN_HAND_OFF_FAILED && failure.afterStart) {
        // The 64-bit build's log (if it wrote one) gets this line at its end.
        if (!noLog) {
            OpenRunLog(tempFolder, kRunLogName, 1);
        }
        exitCode = ReportHandOffFailure(&failure);
        CloseLog();
        return exitCode;
    }
    if (!noLog) {
        OpenRunLog(tempFolder, kRunLogName, 0);
    }
    LogTurn(turn);
    OsCode os = GetOSVersion();
    if (os < OS_WIN2000 || os > OS_WINVISTA) {
        DisplayOSError(os);
        exitCode = EXIT_UNSUPPORTED_OS;
    } else if (where == RUN_HAND_OFF_FAILED) {
        exitCode = ReportHandOffFailure(&failure);
    } else {
        exitCode = Default_Pre_Installer();
        if (exitCode == EXIT_OK && !noDisplay) {
            ShowBox("Driver Pre-install OK: you can now plug your device.", kStagerModule, PS_MB_OK);
        }
    }
    CloseLog();
    return exitCode;
}

extern "C" int PS_WINAPI WinMain(PsHandle, PsHandle, char* argumentText, int)
{
    const char* text = argumentText != nullptr ? argumentText : "";
    ReadArgumentText(text);
    if (strstr(text, "/?") != nullptr) {
        ShowUsage();
        return EXIT_OK;
    }
    // The turn comes before anything is touched, the run log included: the
    // log afterwards is the whole log of one run.
    MachineTurn turn;
    if (!TurnLetsRun(TakeMachineTurn(Platform, TURN_WAIT_MS, &turn))) {
        return ReportNoTurn(&turn);
    }
    int exitCode = RunInTurn(text, &turn);
    GiveMachineTurnBack(Platform, &turn);
    return exitCode;
}
