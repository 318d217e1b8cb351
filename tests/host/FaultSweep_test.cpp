// Fault sweep: whole runs on the simulated Windows with one platform call made
// to fail. First a clean run counts the failable calls; then each of them in
// turn is failed (the N-th call of the run), then each operation is made to
// fail on every call. Every run must end with one of the run's exit codes,
// show only the run's own boxes, never show the success box after a failed
// copy step or staging, and leave the log, streams, handles and system texts
// closed. For a single failure the exact code and boxes are predicted from the
// operation that failed and where in the run it happened.
//
// Each test prints one "[fault-sweep]" line with its figures (runs made and
// failures injected) so that the reliability script can report them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "DocumentedBoxes.h"
#include "TestSupport.h"
#include "app/MERVODriverStager.h"
#include "log/LogFile.h"
#include "platform/simulated/SimulatedPlatform.h"
#include "system/GetOSVersion.h"

namespace {

const char kLog[] = "C:\\Temp\\MERVOStageLog.txt";
const char kHotfixKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";

const std::string kSuccess = boxes::Logged(boxes::kStagerCaption, boxes::kSuccess);
const std::string kTempBox = boxes::Logged(boxes::kErrorCaption, boxes::kNoTempFolder);
const std::string kRemoveBox = boxes::Logged(boxes::kLaunchErrorCaption, boxes::kRemoveFailed);
const std::string kRescanBox = boxes::Logged(boxes::kLaunchErrorCaption, boxes::kRescanFailed);
// The box of a run that could not take the machine's turn, for the
// simulator's default error of each call that asks for it.
std::string NoTurnBox(const char* error)
{
    return std::string("MERVODriverStager Error: Error: cannot take the machine's turn (error ") + error +
           "): nothing was done !!";
}
const std::string kNoTurnNotFound = NoTurnBox("0x00000002");  // the mutex could not be made, nor opened
const std::string kNoTurnHandle = NoTurnBox("0x00000006");
const std::string kNoTurnDenied = NoTurnBox("0x00000005");
const std::string kNtRefusal = boxes::Logged(boxes::kErrorCaption, boxes::OsRefusal("Windows NT"));
// The simulator's default error of a failed file or Setup API call is
// ERROR_ACCESS_DENIED; its text, or the box for a code without text when
// FormatMessageA fails too.
const std::string kAccessDenied = "Error: Access is denied.\r\n";
const std::string kAccessDeniedNoText = "Error: System error 0x00000005.";

// The machines the sweep runs on.
enum Machine {
    XP,        // Windows XP: the whole pre-install sequence
    WOW64,     // 32-bit stager on 64-bit Windows: the run is handed to the 64-bit build
    NT4_SP6A,  // NT 4 SP6a: refused, after the hotfix key is probed
};

struct SweepConfig {
    const char* name;
    Machine machine;
    const char* argumentText;
    bool formatMessageFails;  // FormatMessageA fails always besides the swept fault
};

const SweepConfig kConfigs[] = {
    {"XP nodisplay", XP, "nodisplay", false},
    {"XP with success box", XP, "", false},
    {"XP nodisplay, no system texts", XP, "nodisplay", true},
    {"WOW64 hand-off", WOW64, "", false},
    {"NT4 SP6a refused", NT4_SP6A, "", false},
};

struct Outcome {
    int code = -1;
    std::vector<std::string> boxes;  // "caption: text"
    std::vector<std::string> lines;  // "module | function | text"
    std::vector<std::string> trace;
    bool logExists = false;
    std::string failedEntry;  // the trace entry of the one injected failure
    int failures = 0;         // swept failures (trace entries marked FAILED, FormatMessageA
                              // left out when it fails throughout)
    int failedCloses = 0;     // CloseHandle or RegCloseKey calls that failed
};

std::string OperationOf(const std::string& traceEntry)
{
    return traceEntry.substr(0, traceEntry.find(' '));
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class FaultSweepTest : public SimTest {
protected:
    bool logMayStayEmpty = false;  // the log's writes are made to fail
    long runs = 0;
    long injected = 0;

    // A fresh machine on a folder of its own, so that no file of an earlier
    // run (the log above all) is mistaken for this run's.
    void FreshMachine(const SweepConfig& config)
    {
        SimTest::FreshMachine();
        WritePackage();
        // Stale copies, so that the two deletions succeed in a clean run and
        // a failed deletion shows.
        Write("C:\\WINDOWS\\inf\\MERVOUSB.inf", "stale");
        Write("C:\\WINDOWS\\inf\\MERVOUSB.pnf", "stale compiled");
        Sim().failAlways[SIM_FormatMessageA] = config.formatMessageFails;
        if (config.machine == WOW64) {
            Write("C:\\pkg\\MERVODriverStager64.exe", "64-bit build");
            Sim().wow64 = true;
        }
        if (config.machine == NT4_SP6A) {
            SimSetVersion(PS_VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6");
            Sim().registryKeys.push_back(kHotfixKey);
        }
    }

    Outcome Run(const SweepConfig& config)
    {
        Outcome outcome;
        outcome.code = RunStager(config.argumentText);
        outcome.boxes = BoxTexts();
        outcome.trace = Sim().trace;
        for (const std::string& entry : outcome.trace) {
            if (!EndsWith(entry, " FAILED"))
                continue;
            ++injected;
            const std::string operation = OperationOf(entry);
            if (config.formatMessageFails && operation == "FormatMessageA")
                continue;  // the background fault
            ++outcome.failures;
            if (outcome.failedEntry.empty())
                outcome.failedEntry = entry;
            if (operation == "CloseHandle" || operation == "RegCloseKey")
                ++outcome.failedCloses;
        }
        outcome.logExists = SimFileExists(kLog);
        if (outcome.logExists) {
            outcome.lines = LogLines(kLog);
            std::vector<std::string> raw = LogFileLines(kLog);
            EXPECT_TRUE((logMayStayEmpty && raw.empty()) || (!raw.empty() && raw.back() == kLogClosingLine))
                << "log not closed";
        }
        ++runs;
        CheckInvariants(config, outcome);
        return outcome;
    }

    // What every run must satisfy, whatever failed.
    void CheckInvariants(const SweepConfig& config, const Outcome& outcome)
    {
        EXPECT_TRUE(IsStagerExitCode(static_cast<unsigned>(outcome.code)))
            << "undocumented exit code " << outcome.code;
        EXPECT_EQ(0, RunLog.isOpen);
        EXPECT_EQ(0, Sim().openStreams);
        EXPECT_EQ(0, Sim().openTexts);
        // A handle whose CloseHandle failed stays open in the simulator; on
        // Windows it would be released at the process end.
        EXPECT_EQ(outcome.failedCloses, Sim().openHandles);
        for (const SimMessageBox& box : Sim().boxes) {
            EXPECT_TRUE(IsDocumentedBox(box)) << "undocumented box " << box.caption << ": " << box.text;
        }

        // The success box: only after a run that ended with 0 without
        // "nodisplay", then as the last box, and always then (unless it was
        // the box whose MessageBoxA failed).
        auto success = std::find(outcome.boxes.begin(), outcome.boxes.end(), kSuccess);
        const bool display = std::string(config.argumentText).find("nodisplay") == std::string::npos;
        if (success != outcome.boxes.end()) {
            EXPECT_EQ(0, outcome.code);
            EXPECT_TRUE(display);
            EXPECT_EQ(outcome.boxes.end() - 1, success) << "a box after the success box";
        } else if (outcome.code == 0 && display && Traced(outcome, "SetupCopyOEMInfA")) {
            EXPECT_EQ("MessageBoxA MERVODriverStager FAILED", outcome.failedEntry) << "success box missing";
        }

        // A failed copy step or staging: its log line last, the system error
        // box (if its MessageBoxA did not fail), nothing staged after a failed
        // copy, no rescan after either. (On the WOW64 machine 23 also means a
        // hand-off that failed; that case is predicted per failure below.)
        if ((outcome.code == 22 || outcome.code == 23) && config.machine == XP) {
            if (outcome.logExists) {
                EXPECT_EQ(
                    outcome.code == 23
                        ? "MERVODriverStager | Default_Pre_Installer | Error while copying driver files !!"
                        : "MERVODriverStager | Default_Pre_Installer | Error while pre-installing driver !!",
                    outcome.lines.back());
            }
            if (outcome.failedEntry != "MessageBoxA Error FAILED") {
                ASSERT_FALSE(outcome.boxes.empty());
                EXPECT_EQ(0u, outcome.boxes.back().rfind("Error: ", 0)) << outcome.boxes.back();
            }
            EXPECT_EQ(outcome.code == 22, Traced(outcome, "SetupCopyOEMInfA"));
            EXPECT_FALSE(Traced(outcome, "CreateProcessA \"C:\\pkg\\MERVODevCtl.exe\" rescan"));
        }
    }

    static bool Traced(const Outcome& outcome, const std::string& prefix)
    {
        return CountStartingWith(outcome.trace, prefix) > 0;
    }

    void Report(const char* mode, const SweepConfig& config, long cleanCalls)
    {
        printf("[fault-sweep] mode=%s config=\"%s\" clean-calls=%ld runs=%ld faults=%ld\n", mode, config.name,
               cleanCalls, runs, injected);
    }
};

// Stand-ins in a row's boxes: the success box when the run displays it, and
// the system error box of the simulator's default code (with or without its
// system text).
const char kDone[] = "<success box unless nodisplay>";
const char kSystem[] = "<system error box>";
const int ANY = -1;

// What a run ends with when exactly one call failed. A row applies when the
// failed call's trace entry starts with `call` and `occurrence` calls whose
// entries start with `call` came before it (ANY: however many); the first row
// that applies is the prediction, so a machine's last row (call "") is the
// default for every call not named above it.
struct SingleFailureRow {
    Machine machine;
    const char* call;
    int occurrence;
    int code;
    std::vector<const char*> boxes;
    const char* line;  // a log line that must be present ("" none)
};

// clang-format off
const SingleFailureRow kSingleFailures[] = {
    // The machine's turn, asked for first on every machine: a run that
    // cannot take it does nothing and ends with 24 (its box says why).
    {NT4_SP6A, "CreateMutexA", ANY, 24, {kNoTurnNotFound.c_str()}, ""},
    {NT4_SP6A, "WaitForSingleObject", 0, 24, {kNoTurnHandle.c_str()}, ""},
    {NT4_SP6A, "SetEnvironmentVariableA", ANY, 24, {kNoTurnDenied.c_str()}, ""},
    {WOW64, "CreateMutexA", ANY, 24, {kNoTurnNotFound.c_str()}, ""},
    {WOW64, "WaitForSingleObject", 0, 24, {kNoTurnHandle.c_str()}, ""},
    {WOW64, "SetEnvironmentVariableA", ANY, 24, {kNoTurnDenied.c_str()}, ""},
    {XP, "CreateMutexA", ANY, 24, {kNoTurnNotFound.c_str()}, ""},
    {XP, "WaitForSingleObject", 0, 24, {kNoTurnHandle.c_str()}, ""},
    {XP, "SetEnvironmentVariableA", ANY, 24, {kNoTurnDenied.c_str()}, ""},
    // NT 4 SP6a: refused in any case; the hotfix key decides between 6 and 6a.
    {NT4_SP6A, "GetTempPathA", ANY, 1, {kTempBox.c_str()}, ""},
    {NT4_SP6A, "MessageBoxA", ANY, 2, {}, ""},
    {NT4_SP6A, "RegOpenKeyExA", ANY, 2, {kNtRefusal.c_str()}, "GetOSVersion | GetOSVersion | Service Pack 6 (Build 1381)"},
    {NT4_SP6A, "RegCloseKey", ANY, 2, {kNtRefusal.c_str()}, "GetOSVersion | GetOSVersion | Service Pack 6a (Build 1381)"},
    {NT4_SP6A, "", ANY, 2, {kNtRefusal.c_str()}, ""},

    // WOW64: the hand-off passes on the 64-bit build's exit code (0 here).
    {WOW64, "IsWow64Process", ANY, 0, {kDone}, ""},  // the question failed: the run stays here
    // No program path: as a run here would end, 21 and its log line.
    {WOW64, "GetModuleFileNameA", ANY, 21, {}, "MERVODriverStager | Default_Pre_Installer | Error while getting current directory !!"},
    // Not "not found": something is there, and starting it tells the rest.
    {WOW64, "GetFileAttributesA", ANY, 0, {}, ""},
    // There but not started, or its end or exit code unknown: 23 with the
    // failure's line and its system error box.
    {WOW64, "CreateProcessA", ANY, 23, {"Error: Access is denied.\r\n"}, "MERVODriverStager | WinMain | Error: 64-bit stager cannot be started !!"},
    {WOW64, "WaitForSingleObject", ANY, 23, {"Error: The handle is invalid.\r\n"}, "MERVODriverStager | WinMain | Error while waiting for the 64-bit stager !!"},
    {WOW64, "GetExitCodeProcess", ANY, 23, {"Error: The handle is invalid.\r\n"}, "MERVODriverStager | WinMain | Error while reading the 64-bit stager's exit code !!"},
    {WOW64, "", ANY, 0, {}, ""},  // CloseHandle

    // Windows XP: the whole sequence.
    {XP, "GetTempPathA", ANY, 1, {kTempBox.c_str()}, ""},
    {XP, "GetModuleFileNameA", ANY, 21, {},
     "MERVODriverStager | Default_Pre_Installer | Error while getting current directory !!"},
    // The copy step finds the driver folder, which staging is given too.
    {XP, "GetSystemDirectoryA", ANY, 23, {kSystem}, ""},
    {XP, "OpenStream C:\\Temp\\MERVOStageLog.txt", ANY, 0, {kDone}, ""},  // no log, no harm
    // Openings 1 and 2 of the INF read the device table, 3 is the copy step's.
    {XP, "OpenStream C:\\pkg\\MERVOUSB.inf", 0, 15, {}, ""},
    {XP, "OpenStream C:\\pkg\\MERVOUSB.inf", 1, 15, {}, ""},
    {XP, "OpenStream C:\\pkg\\MERVOUSB.inf", 2, 23, {kSystem},
     "INFManager | CopyDriverFiles | Error: INF file opening failed !!"},
    {XP, "CopyFileA", 0, 0, {kDone},
     "INFManager | CopyDriverFiles | Error while copying file C:\\pkg\\mervousb.sys to "
     "C:\\WINDOWS\\System32\\Drivers\\mervousb.sys !!"},
    {XP, "CopyFileA", 1, 0, {kDone},
     "INFManager | CopyDriverFiles | Error while copying file C:\\pkg\\mervoser.sys to "
     "C:\\WINDOWS\\System32\\Drivers\\mervoser.sys !!"},
    {XP, "CreateProcessA", 0, 0, {kRemoveBox.c_str(), kDone},
     "MERVODriverStager | RemoveDriverInstances | Error: Driver instances remove failed !!"},
    {XP, "CreateProcessA", 1, 0, {kRescanBox.c_str(), kDone},
     "MERVODriverStager | RemountDriverInstances | Error: Driver instances mount failed !!"},
    {XP, "SetupCopyOEMInfA", ANY, 22, {kSystem}, ""},
    {XP, "MessageBoxA", ANY, 0, {}, ""},  // the success box itself failed: nothing to show
    // Failures the run rightly passes over: clearing attributes (of a file
    // that may not exist), deleting a stale copy, a failed wait or close on
    // the companion tool (its result is never used), the first version
    // record (the plain one is asked next), the WOW64 question (a 32-bit
    // system cannot answer it).
    {XP, "", ANY, 0, {kDone}, ""},
};
// clang-format on

// The calls before the failed one whose trace entries start with `call`.
int Occurrence(const Outcome& outcome, const std::string& call)
{
    int count = 0;
    for (const std::string& entry : outcome.trace) {
        if (entry == outcome.failedEntry)
            break;
        if (entry.rfind(call, 0) == 0)
            ++count;
    }
    return count;
}

// The first row of the table that applies to the run's one failure.
const SingleFailureRow* RowFor(Machine machine, const Outcome& outcome, int* occurrence)
{
    for (const SingleFailureRow& row : kSingleFailures) {
        if (row.machine != machine || outcome.failedEntry.rfind(row.call, 0) != 0)
            continue;
        *occurrence = Occurrence(outcome, row.call);
        if (row.occurrence == ANY || row.occurrence == *occurrence)
            return &row;
    }
    return nullptr;
}

// The row's boxes with its stand-ins replaced for the configuration.
std::vector<std::string> ExpectedBoxes(const SweepConfig& config, const SingleFailureRow& row)
{
    const bool display = std::string(config.argumentText).find("nodisplay") == std::string::npos;
    std::vector<std::string> boxes;
    for (const char* box : row.boxes) {
        if (box == kDone) {
            if (display)
                boxes.push_back(kSuccess);
        } else if (box == kSystem) {
            boxes.push_back(config.formatMessageFails ? kAccessDeniedNoText : kAccessDenied);
        } else {
            boxes.push_back(box);
        }
    }
    return boxes;
}

TEST_F(FaultSweepTest, EveryFailableCallOfAWholeRunFailedInTurn)
{
    long totalRuns = 0;
    long totalFaults = 0;
    std::set<const SingleFailureRow*> rowsUsed;
    for (const SweepConfig& config : kConfigs) {
        SCOPED_TRACE(config.name);
        runs = 0;
        injected = 0;
        FreshMachine(config);
        const Outcome clean = Run(config);
        EXPECT_EQ(0, clean.failures);
        const long calls = Sim().failableCalls;
        ASSERT_GT(calls, 5);
        for (long n = 1; n <= calls; ++n) {
            SCOPED_TRACE("failing call " + std::to_string(n));
            FreshMachine(config);
            Sim().failCallNumber = n;
            const Outcome outcome = Run(config);
            // The run is the clean one up to the failed call, so the call is made.
            ASSERT_EQ(1, outcome.failures);
            SCOPED_TRACE(outcome.failedEntry);
            int occurrence = 0;
            const SingleFailureRow* row = RowFor(config.machine, outcome, &occurrence);
            ASSERT_NE(nullptr, row) << "no row for " << outcome.failedEntry;
            rowsUsed.insert(row);
            SCOPED_TRACE(std::string("row ") + row->call + " #" + std::to_string(occurrence));
            EXPECT_EQ(row->code, outcome.code);
            EXPECT_EQ(ExpectedBoxes(config, *row), outcome.boxes);
            const std::string line = row->line;
            if (!line.empty()) {
                EXPECT_NE(outcome.lines.end(), std::find(outcome.lines.begin(), outcome.lines.end(), line))
                    << "missing log line " << line;
            }
            // A failed deletion of a stale copy is not logged as done.
            if (OperationOf(outcome.failedEntry) == "DeleteFileA") {
                const std::string path = outcome.failedEntry.substr(12, outcome.failedEntry.size() - 12 - 7);
                EXPECT_EQ(outcome.lines.end(),
                          std::find(outcome.lines.begin(), outcome.lines.end(),
                                    "INFManager | CopyDriverFiles | File " + path + " deleted OK."));
            }
        }
        Report("nth-call", config, calls);
        totalRuns += runs;
        totalFaults += injected;
    }
    // A row that no run needed predicts nothing: the table has drifted from the runs.
    for (const SingleFailureRow& row : kSingleFailures) {
        EXPECT_EQ(1u, rowsUsed.count(&row)) << "unused row " << row.call << " #" << row.occurrence;
    }
    printf("[fault-sweep] mode=nth-call total runs=%ld faults=%ld\n", totalRuns, totalFaults);
}

TEST_F(FaultSweepTest, EveryOperationFailingAlways)
{
    // Exit codes when an operation fails on every call; an operation that a
    // machine's run never calls changes nothing.
    struct AlwaysCase {
        SimOperation operation;
        int xp;
        int wow64;
        int nt4;
    };
    const AlwaysCase cases[] = {
        {SIM_GetModuleFileNameA, 21, 21, 2},        // WOW64 too: no program folder
        {SIM_CreateMutexA, 24, 24, 24},             // no turn: nothing is done on any machine
        {SIM_OpenMutexA, 0, 0, 2},                  // only asked when making the mutex is refused
        {SIM_ReleaseMutex, 0, 0, 2},                // the run is over when the turn is given back
        {SIM_GetEnvironmentVariableA, 0, 0, 2},     // no holder named: the run takes the turn itself
        {SIM_SetEnvironmentVariableA, 24, 24, 24},  // the turn could not be passed on
        {SIM_GetParentProcessId, 0, 0, 2},          // only asked when a holder is named
        {SIM_GetTempPathA, 1, 0, 1},                // WOW64: handed off before the temp folder is asked
        {SIM_GetSystemDirectoryA, 23, 0, 2},        // the copy step cannot find the driver folder
        {SIM_GetVersionExA, 2, 0, 2},               // no version: unknown system, refused
        {SIM_RegOpenKeyExA, 0, 0, 2},
        {SIM_RegCloseKey, 0, 0, 2},
        {SIM_SetFileAttributesA, 0, 0, 2},
        {SIM_GetFileAttributesA, 0, 0, 2},  // WOW64: not "not found", so the 64-bit build is started
        {SIM_DeleteFileA, 0, 0, 2},
        {SIM_CopyFileA, 0, 0, 2},  // each failed copy is logged; the run goes on
        {SIM_CreateProcessA, 0, 23, 2},
        {SIM_WaitForSingleObject, 24, 24, 24},  // the turn's wait
        {SIM_GetExitCodeProcess, 0, 23, 2},
        {SIM_CloseHandle, 0, 0, 2},
        {SIM_MessageBoxA, 0, 0, 2},
        {SIM_GetWindowStationFlags, 0, 0, 2},  // not known to be unattended: the boxes are shown
        {SIM_FormatMessageA, 0, 0, 2},
        {SIM_SetupCopyOEMInfA, 22, 0, 2},
        {SIM_IsWow64Process, 0, 0, 2},
        {SIM_OpenStream, 15, 0, 2},  // no log and no INF
    };
    ASSERT_EQ(static_cast<size_t>(SIM_OPERATION_COUNT), std::size(cases));
    long totalRuns = 0;
    long totalFaults = 0;
    for (const SweepConfig& config : kConfigs) {
        SCOPED_TRACE(config.name);
        runs = 0;
        injected = 0;
        for (const AlwaysCase& c : cases) {
            SCOPED_TRACE(SimOperationName(c.operation));
            FreshMachine(config);
            Sim().failAlways[c.operation] = true;
            const Outcome outcome = Run(config);
            EXPECT_EQ(config.machine == XP ? c.xp : config.machine == WOW64 ? c.wow64 : c.nt4, outcome.code);
            if (c.operation == SIM_MessageBoxA) {
                EXPECT_TRUE(outcome.boxes.empty());
            }
            if (c.operation == SIM_CopyFileA && config.machine == XP) {
                EXPECT_EQ(2u, CountStartingWith(outcome.lines,
                                                "INFManager | CopyDriverFiles | Error while copying file"));
            }
            if (c.operation == SIM_CreateProcessA && config.machine == XP) {
                std::vector<std::string> boxes{kRemoveBox, kRescanBox};
                if (std::string(config.argumentText).empty())
                    boxes.push_back(kSuccess);
                EXPECT_EQ(boxes, outcome.boxes);
            }
        }
        Report("always", config, 0);
        totalRuns += runs;
        totalFaults += injected;
    }
    printf("[fault-sweep] mode=always total runs=%ld faults=%ld\n", totalRuns, totalFaults);
}

// Faults of the streams themselves: a read error in the middle of the INF for
// each of its readers, a failed write and a failed close of the run log.
// Offsets are into kTypicalInf: its device line spans bytes 86 to 127, its
// [SourceDisksFiles] entries 147 to 177.
struct StreamFaultRow {
    const char* name;
    const char* file;
    int opening;          // which opening of the file (the INF: 1 device lines, 2 description, 3 copy step)
    long readFailsAfter;  // -1: reads succeed
    bool writeFails;
    bool closeFails;
    int code;
    std::vector<std::string> boxes;
    std::vector<std::string> lines;   // log lines that must be there
    std::vector<std::string> copied;  // driver files in the driver folder afterwards
};

TEST_F(FaultSweepTest, StreamFaultsOfAWholeRun)
{
    const SweepConfig& config = kConfigs[1];  // XP with the success box
    const std::string kReadFault = "Error: The system cannot read from the specified device.\r\n";
    const std::string kCopyFailed =
        "MERVODriverStager | Default_Pre_Installer | Error while copying driver files !!";
    const std::string kReadFailed = "INFManager | CopyDriverFiles | Error: INF file reading failed !!";
    const std::vector<std::string> both{"mervousb.sys", "mervoser.sys"};
    // clang-format off
    const StreamFaultRow rows[] = {
        // The device reader takes a read error for the end of the file.
        {"device lines, before the first", "MERVOUSB.inf", 1, 86, false, false, 15, {}, {}, {}},
        {"device lines, after the first", "MERVOUSB.inf", 1, 127, false, false, 0, {kSuccess}, {}, both},
        {"description", "MERVOUSB.inf", 2, 0, false, false, 0, {kSuccess}, {}, both},
        // The copy step fails on it, rather than report the files after it as done.
        {"copy step, before the section", "MERVOUSB.inf", 3, 100, false, false, 23, {kReadFault},
         {kReadFailed, kCopyFailed}, {}},
        {"copy step, after the first file", "MERVOUSB.inf", 3, 162, false, false, 23, {kReadFault},
         {kReadFailed, kCopyFailed}, {"mervousb.sys"}},
        {"copy step, inside the second entry", "MERVOUSB.inf", 3, 170, false, false, 23, {kReadFault},
         {kReadFailed, kCopyFailed}, {"mervousb.sys"}},
        // The log never decides the run.
        {"log write", "MERVOStageLog.txt", 1, -1, true, false, 0, {kSuccess}, {}, both},
        {"log close", "MERVOStageLog.txt", 1, -1, false, true, 0, {kSuccess},
         {"MERVODriverStager | Default_Pre_Installer | Driver pre-installed OK."}, both},
    };
    // clang-format on
    for (const StreamFaultRow& row : rows) {
        SCOPED_TRACE(row.name);
        FreshMachine(config);
        SimWindows::StreamFault& fault = Sim().streamFault;
        fault.name = row.file;
        fault.opening = row.opening;
        fault.readFailsAfter = row.readFailsAfter;
        fault.writeFails = row.writeFails;
        fault.closeFails = row.closeFails;
        logMayStayEmpty = row.writeFails;
        const Outcome outcome = Run(config);
        logMayStayEmpty = false;
        // A failing log write fails at every line, since each line is flushed.
        if (row.writeFails) {
            EXPECT_LE(1, outcome.failures) << "the fault did not happen";
        } else {
            EXPECT_EQ(1, outcome.failures) << "the fault did not happen";
        }
        EXPECT_EQ(row.code, outcome.code);
        EXPECT_EQ(row.boxes, outcome.boxes);
        for (const std::string& line : row.lines) {
            EXPECT_NE(outcome.lines.end(), std::find(outcome.lines.begin(), outcome.lines.end(), line))
                << "missing log line " << line;
        }
        if (row.writeFails) {
            EXPECT_TRUE(outcome.lines.empty()) << "lines of a failed write are on disk";
        }
        std::vector<std::string> copied;
        for (const char* name : {"mervousb.sys", "mervoser.sys"}) {
            if (SimFileExists(std::string("C:\\WINDOWS\\system32\\drivers\\") + name)) {
                copied.emplace_back(name);
            }
        }
        EXPECT_EQ(row.copied, copied);
    }
    Report("stream", config, 0);
}

}  // namespace
