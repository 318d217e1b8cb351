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
// The caption of the box that reports a companion tool that cannot be started.
inline constexpr char kLaunchErrorCaption[] = "Device Install Error";

// The INF taken when the argument text names none, and the run log's file
// name in the temporary folder.
inline constexpr char kDefaultInfName[] = "MERVOUSB.inf";
inline constexpr char kRunLogName[] = "MERVOStageLog.txt";
// The log of a run that did not get the machine's turn, beside the run log.
inline constexpr char kNotRunLogName[] = "MERVOStageLog-NotRun.txt";

// The description of a device line whose description key is unusable.
inline constexpr char kDefaultDeviceDescription[] = "MERVO USB Device";

// The machine's turn (turn/MachineTurn.h): the named mutex that one run at a
// time owns, in every session, and the environment variable in which the
// run names itself (its process id) for the processes it starts. A device
// maker's own setup program may take the same turn.
inline constexpr char kMachineTurnName[] = "Global\\MERVODriverStager.MachineTurn";
inline constexpr char kMachineTurnVariable[] = "MERVO_MACHINE_TURN";

// The remove command's pattern for the first device's vendor id: every
// instance whose ids hold "VID_<vid>".
inline constexpr char kRemovePatternFormat[] = "*VID_%s*";

// Every exit code of the stager's run as X(name, code, meaning): the one
// list of them. README.md and the device makers' README give them in full;
// a host test holds both to this list.
// clang-format off
#define STAGER_EXIT_CODES(X)                                                                       \
    X(EXIT_OK, 0, "the driver package was pre-installed, or /? was given")                        \
    X(EXIT_NO_TEMP_FOLDER, 1, "the temporary folder cannot be found")                             \
    X(EXIT_UNSUPPORTED_OS, 2, "the operating system is not supported")                            \
    X(EXIT_NO_DEVICE, 15, "the INF cannot be read, names no device, or its name is too long")     \
    X(EXIT_NO_PROGRAM_FOLDER, 21, "the program's own folder cannot be found")                     \
    X(EXIT_STAGING_FAILED, 22, "staging the INF in the system's INF store failed")                \
    X(EXIT_COPY_FAILED, 23, "the copy step could not run, or the hand-off to the 64-bit build failed") \
    X(EXIT_NO_TURN, 24, "another installation was at work for the whole wait, or the machine's turn "   \
      "could not be taken: nothing was done")
// clang-format on

#define STAGER_EXIT_ENUMERATOR(name, code, meaning) name = (code),
enum { STAGER_EXIT_CODES(STAGER_EXIT_ENUMERATOR) };
#undef STAGER_EXIT_ENUMERATOR

// Whether `code` is one the stager's run ends with; any other code of a
// stager process means it did not end on its own terms (it crashed, or was
// ended).
inline bool IsStagerExitCode(unsigned code)
{
#define STAGER_EXIT_MATCH(name, value, meaning) code == static_cast<unsigned>(value) ||
    return STAGER_EXIT_CODES(STAGER_EXIT_MATCH) false;
#undef STAGER_EXIT_MATCH
}
