// Windows-side harness of the end-to-end tests: runs the real
// MERVODriverStager.exe under Wine and observes what a user and the system see.
// One file for each job: Paths, Files, Packages, WineVersion, RunStager (with
// BoxWatcher), RunLog and CompanionDouble.
//
// It prepares package folders, sets the Windows version that Wine reports,
// starts the stager with an exact argument text, reads and answers every
// message box of that process, waits (bounded) for its exit code, and reads
// back the run log, the files of the Windows folder and the records of the
// companion-tool double.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "RunLogFormat.h"

namespace e2e {

// --- Paths --------------------------------------------------------------------

// A host path ("/a/b") as Wine sees it ("Z:\a\b").
std::string HostToWindowsPath(const std::string& hostPath);
// Built-in places (set at build time from the build tree). The programs
// under test and the work root can be replaced through the environment (host
// paths): MERVO_E2E_STAGER, MERVO_E2E_DEVCTL, MERVO_E2E_WORK_ROOT; with
// MERVO_E2E_STAGER64 and MERVO_E2E_DEVCTL64 the package folders get those
// programs beside the stager and the tool as MERVODriverStager64.exe and
// MERVODevCtl64.exe, as the distribution lays them out.
std::string StagerExePath();    // the stager under test (x86_64 by default)
std::string Stager64ExePath();  // its 64-bit build beside it; empty: none
std::string DevCtlExePath();    // the real companion tool (x86_64 by default)
std::string DevCtl64ExePath();  // its 64-bit build beside it; empty: none
std::string DoubleExePath();    // the companion-tool double
std::string ExamplePackage();   // examples/package
std::string WorkRoot();         // a folder of the build tree for test files
// True when the programs under test are 32-bit builds with their 64-bit
// builds beside them (the run is handed to the 64-bit stager).
bool HandOffLayout();
std::string SysWow64Folder();  // <windows folder>\syswow64

std::string JoinPath(const std::string& folder, const std::string& name);
std::string TempFolder();     // GetTempPathA, without the trailing separator
std::string RunLogPath();     // <temp folder>\MERVOStageLog.txt
std::string SystemFolder();   // GetSystemDirectoryA: C:\windows\system32
std::string WindowsFolder();  // GetWindowsDirectoryA: C:\windows
std::string DriversFolder();  // <system folder>\drivers
std::string InfFolder();      // <windows folder>\inf

// --- Files --------------------------------------------------------------------

bool FileExists(const std::string& path);
// The whole file as bytes; `ok` (if given) says whether it could be read.
std::string ReadFileBytes(const std::string& path, bool* ok = nullptr);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Writes `bytes` to a file opened for writing and closes it; false when not all were written.
bool WriteAndClose(HANDLE file, const std::string& bytes);
// Deletes a file, clearing a read-only attribute first; true if it is gone.
bool RemoveFile(const std::string& path);
bool CopyOneFile(const std::string& from, const std::string& to);
// An entry of a folder: its name and its attributes.
struct FolderEntry {
    std::string name;
    DWORD attributes;
};
// The entries of a folder, without "." and ".."; `found` (if given) says
// whether the folder could be read.
std::vector<FolderEntry> ListFolder(const std::string& folder, bool* found = nullptr);
// Deletes a folder with everything in it; true if it is gone.
bool RemoveTree(const std::string& folder);
bool MakeFolders(const std::string& folder);
// SplitLines (text at "\n", dropping one "\r" before it) is RunLogFormat's.
using runlog::SplitLines;

// --- Package folders ------------------------------------------------------------

struct PackageOptions {
    bool examplePackage = true;   // copy examples/package (INF and driver files)
    bool stager = true;           // copy MERVODriverStager.exe (and its 64-bit build)
    bool companionDouble = true;  // copy the double as MERVODevCtl.exe
    // Extra or replacing files: name (relative to the folder) and bytes.
    std::vector<std::pair<std::string, std::string>> files;
};

// A fresh folder <work root>\<suite>.<test>\<name> (emptied if it exists)
// holding what the options ask for. Returns its path.
std::string PreparePackage(const std::string& name, const PackageOptions& options = {});
// The same in the given folder (a test that needs a short program folder
// makes one on C:); returns the folder.
std::string PreparePackageAt(const std::string& folder, const PackageOptions& options = {});

// The example package's INF without its [Version] section (which the Setup
// API refuses with a code that has no system text); empty when the example
// has no [Version] or [Manufacturer] section.
std::string ExampleInfWithoutVersionSection();
// The folder of the current test under the work root (created if missing).
std::string TestFolder();

// --- Windows version reported by Wine ------------------------------------------------

// Sets HKCU\Software\Wine "Version" (winxp, win2k, vista, ...) for the
// programs started from now on, and restores the earlier value (or its
// absence) when it goes out of scope.
class WineVersion {
public:
    explicit WineVersion(const char* version);
    ~WineVersion();
    WineVersion(const WineVersion&) = delete;
    WineVersion& operator=(const WineVersion&) = delete;

private:
    bool hadValue_ = false;
    std::string previous_;
};

// --- Running the stager ------------------------------------------------------------------

struct MessageBoxSeen {
    std::string caption;
    std::string text;
    bool operator==(const MessageBoxSeen& other) const
    {
        return caption == other.caption && text == other.text;
    }
};

// For test failure messages: caption and text with control bytes escaped.
void PrintTo(const MessageBoxSeen& box, std::ostream* out);

struct RunRequest {
    std::string exePath;       // the stager to start (usually in a package folder)
    std::string argumentText;  // appended after the quoted path and one blank
    // Environment changes for the started process: name and value; a value of
    // nullptr-like kUnset removes the variable.
    std::vector<std::pair<std::string, std::string>> environment;
    DWORD limitMs = 20000;  // longer than this: ended and failed
    // Called for each box as it appears, before it is answered (may be null).
    void (*onBox)(const MessageBoxSeen& box) = nullptr;
    // "<window station>\\<desktop>" to start the stager in (empty: this
    // program's own); boxes there are neither seen nor answered.
    std::string desktop{};
};

// The desktop "Default" of a window station made without WSF_VISIBLE, as a
// service or a deployment agent runs in: "<station>\\Default", or empty
// when it cannot be made. Made once per name and kept for the process.
std::string InvisibleDesktop(const std::string& station);

// Value for RunRequest::environment that removes the variable.
extern const char* const kUnset;

// Copies the real companion tool into `folder` as MERVODevCtl.exe (and its
// 64-bit build as MERVODevCtl64.exe when there is one); true when all copied.
bool CopyCompanionTool(const std::string& folder);

struct RunResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0xFFFFFFFF;
    DWORD processId = 0;
    DWORD elapsedMs = 0;
    std::vector<MessageBoxSeen> boxes;  // in the order they appeared
};

// Starts "<quoted exe path> <argument text>" with CreateProcessA, records and
// answers (OK) every message box of the process and of the processes it
// starts (a 32-bit stager's 64-bit build shows the run's boxes), and waits
// for its exit.
// A process still running at the limit is terminated and a test failure is
// recorded. The caller compares `boxes` with the boxes it expects.
RunResult RunStager(const RunRequest& request);

// Printable form of a text with \r, \n, \t and other control bytes escaped.
std::string Visible(const std::string& text);

// --- The run log --------------------------------------------------------------------------

// The run log's format, shared with the host tests (RunLogFormat.h): LogLine,
// ParseLogLine, Entry (module right-aligned in 22 columns, function in 25).
using runlog::Entry;
using runlog::LogLine;
using runlog::ParseLogLine;

// The run log's lines with their time stamps removed (banner, empty lines and
// the closing line kept as they are). `present` tells whether the log exists.
std::vector<std::string> RunLogEntries(bool* present = nullptr);

// The lines between the banner (and its empty line) and the closing line,
// time stamps removed: what the steps of the run wrote. Empty when the log
// does not have that frame.
std::vector<std::string> RunLogSteps(bool* present = nullptr);

using runlog::kLogBanner1;
using runlog::kLogBanner2;
using runlog::kLogClosingLine;

// Seconds since 2000-01-01 of a UTC date and time, and of now.
long long UtcSeconds(int year, int month, int day, int hour, int minute, int second);
long long NowUtcSeconds();

// --- The companion-tool double --------------------------------------------------------------

// Environment variables understood by the double.
extern const char* const kDoubleRecord;       // Windows path of the record file
extern const char* const kDoubleSleepRemove;  // seconds to sleep on "remove"
extern const char* const kDoubleSleepRescan;  // seconds to sleep on "rescan"
extern const char* const kDoubleExit;         // exit code

struct DoubleLaunch {
    DWORD processId = 0;
    std::string commandLine;  // exactly as GetCommandLineA gave it
};

// The launches recorded in a record file, in order.
std::vector<DoubleLaunch> ReadDoubleRecord(const std::string& recordPath);
// Ends every recorded double that still runs (a test must leave none behind).
void EndDoubles(const std::string& recordPath);

}  // namespace e2e
