// The names and codes that the stager, the companion tool and the package
// checker agree on: the programs of a package, the stager's exit codes, its
// box captions and files, and the pattern of its remove command. It declares
// no entry point and includes nothing of the platform, so any program may
// include it beside <windows.h>.
#pragma once

// The stager and its 64-bit build, which the 32-bit build hands every run to
// on 64-bit Windows; the companion tool and its 64-bit build, likewise.
inline constexpr char kStagerName[] = "MERVODriverStager.exe";
inline constexpr char kStager64Name[] = "MERVODriverStager64.exe";
inline constexpr char kCompanionToolName[] = "MERVODevCtl.exe";
inline constexpr char kCompanionTool64Name[] = "MERVODevCtl64.exe";

// The stager's module name in its log lines, also the success box's caption.
inline constexpr char kStagerModule[] = "MERVODriverStager";
inline constexpr char kStagerErrorCaption[] = "MERVODriverStager Error";
inline constexpr char kStagerUsageCaption[] = "MERVODriverStager Usage";
// The caption of the box that shows a system error's text.
inline constexpr char kSystemErrorCaption[] = "Error";

// The INF taken when the argument text names none, and the run log's file
// name in the temporary folder.
inline constexpr char kDefaultInfName[] = "MERVOUSB.inf";
inline constexpr char kRunLogName[] = "MERVOStageLog.txt";

// The description of a device line whose description key is unusable.
inline constexpr char kDefaultDeviceDescription[] = "MERVO USB Device";

// The remove command's pattern for the first device's vendor id: every
// instance whose ids hold "VID_<vid>".
inline constexpr char kRemovePatternFormat[] = "*VID_%s*";

// Exit codes of the stager's run.
enum {
    EXIT_OK = 0,
    EXIT_NO_TEMP_FOLDER = 1,
    EXIT_UNSUPPORTED_OS = 2,
    EXIT_NO_DEVICE = 15,
    EXIT_NO_PROGRAM_FOLDER = 21,
    EXIT_STAGING_FAILED = 22,
    EXIT_COPY_FAILED = 23,
};
