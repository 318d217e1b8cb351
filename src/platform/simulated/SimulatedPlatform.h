// A simulated Windows machine for host builds: the PlatformServices table
// backed by host folders and settable state, for tests and host tools.
//
// Drives map onto host folders; paths follow Windows rules (at most 260
// characters, case-insensitive names, "\" or "/" separators, "." and ".."
// folded, trailing dots and blanks dropped from the last name, invalid
// characters refused, NUL and CON devices, no ports). A file written anew is
// marked for archiving. Text streams behave as
// the Windows C runtime's: CR LF reads as one newline, Ctrl-Z ends a text read,
// a newline is written as CR LF.
//
// Every failable operation can be made to fail: always (per operation) or on
// the N-th failable call of the run (fault sweeps). Message boxes, launched
// command lines, staged INFs and a trace of every call are recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/PlatformServices.h"

// The failable operations of the table, in the table's order: SIM_<name>.
#define SIM_OPERATION_FAILABLE(name) SIM_##name,
#define SIM_OPERATION_SURE(name)
#define SIM_OPERATION(kind, result, name, parameters) SIM_OPERATION_##kind(name)
enum SimOperation { PS_OPERATIONS(SIM_OPERATION) SIM_OPERATION_COUNT };
#undef SIM_OPERATION
#undef SIM_OPERATION_SURE
#undef SIM_OPERATION_FAILABLE

// The operation's name in the table ("CopyFileA"); "?" for a value out of range.
const char* SimOperationName(SimOperation operation);

struct SimMessageBox {
    std::string text;
    std::string caption;
    uint32_t type;
};

// How a started process behaves.
enum SimProcessBehaviour {
    SIM_PROCESS_ENDS,            // ends before the wait returns
    SIM_PROCESS_RUNS_PAST_WAIT,  // the wait times out; it never ends
    SIM_PROCESS_FAILS_TO_START,  // CreateProcessA fails (ERROR_FILE_NOT_FOUND)
};

struct SimLaunch {
    std::string applicationName;  // empty when null was passed
    std::string commandLine;
    std::map<std::string, std::string> environment;  // as the process inherits it
    uint32_t creationFlags;
    int32_t inheritHandles;
    bool environmentGiven;
    bool currentDirectoryGiven;
    PsStartupInfo startupInfo;    // as passed (pointers not followed)
    std::vector<uint32_t> waits;  // the time limits of each wait on it
};

struct SimStagedInf {
    std::string sourceInf;
    std::string mediaLocation;  // "(null)" when null was passed
    uint32_t mediaType;
    uint32_t copyStyle;
    uint32_t destinationSize;
    bool requiredSizeGiven;
    bool componentGiven;
    std::string storedAs;  // Windows path of the stored copy, empty on failure
};

// Another process that owns a named mutex of the machine when the run begins.
enum SimHolderBehaviour {
    SIM_HOLDER_RELEASES,  // releases it `afterMs` after the run began
    SIM_HOLDER_ENDS,      // ends `afterMs` after the run began without releasing it
    SIM_HOLDER_KEEPS,     // never lets it go
};
struct SimOtherHolder {
    std::string name;
    SimHolderBehaviour behaviour;
    uint32_t afterMs;
};

// What a simulated process does; the default is SIM_PROCESS_ENDS with code 0,
// except that a command whose program file does not exist fails to start.
struct SimProcessScript {
    SimProcessBehaviour behaviour;
    uint32_t exitCode;
};

struct SimWindows {
    // Paths the machine reports. Defaults: a machine with C: mapped onto the
    // root folder given to SimReset, Windows in C:\WINDOWS, the program in C:\pkg.
    std::string modulePath = "C:\\pkg\\MERVODriverStager.exe";
    std::string tempPath = "C:\\Temp\\";
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string currentDirectory = "C:\\";

    // Version record returned by GetVersionExA (size field excluded), and
    // whether each of the two sizes is refused.
    PsOsVersionInfoEx version{};
    bool refuseExtendedVersion = false;
    bool refusePlainVersion = false;

    PsSystemTime clock{};

    // Keys that exist under HKEY_LOCAL_MACHINE (compared case-insensitively).
    std::vector<std::string> registryKeys;

    // Whether the process is a 32-bit one on 64-bit Windows; `wow64Known`
    // false means the question cannot be asked (IsWow64Process missing).
    bool wow64Known = true;
    bool wow64 = false;

    // The process: its id and its parent's (`parentKnown` false: the
    // question cannot be asked), its environment (names compared without
    // case), the milliseconds since the system started (the waits advance
    // them), and the named mutexes other processes own.
    uint32_t processId = 4242;
    uint32_t parentProcessId = 4000;
    bool parentKnown = true;
    std::map<std::string, std::string> environment;
    uint32_t tickCount = 1000000;
    std::vector<SimOtherHolder> otherHolders;

    // The flags of the process's window station: visible, as in an
    // interactive session; 0 for a service's or a deployment agent's.
    uint32_t windowStationFlags = PS_WSF_VISIBLE;

    // Failure injection.
    bool failAlways[SIM_OPERATION_COUNT] = {};
    uint32_t failError[SIM_OPERATION_COUNT] = {};  // 0: a fitting default code
    long failCallNumber = 0;                       // fail the N-th failable call (1-based); 0: none
    long failableCalls = 0;                        // failable calls made so far

    // Faults of the streams themselves, reached through the C runtime's calls
    // (they are no table operations and are not counted as failable calls):
    // on the `opening`-th opening (1-based; 0: every opening) of a file whose
    // name ends with `name` (case ignored), reading fails once
    // `readFailsAfter` bytes were read (-1: never), writing fails, closing
    // fails (the bytes are on disk then). A failed read sets the last error
    // to ERROR_READ_FAULT (30), a failed write to ERROR_WRITE_FAULT (29); each
    // failure is traced as "StreamRead|StreamWrite|StreamClose <path> FAILED".
    struct StreamFault {
        std::string name;
        int opening = 0;
        long readFailsAfter = -1;
        bool writeFails = false;
        bool closeFails = false;
        int openings = 0;  // openings of the named file so far
    } streamFault;

    // Processes: the script used for every launch, or a callback that picks one
    // from the command line (it may also write files, as a real tool would).
    SimProcessScript process{SIM_PROCESS_ENDS, 0};
    std::function<SimProcessScript(const std::string& commandLine)> onLaunch;

    // SetupCopyOEMInfA: when set, replaces the default behaviour (which
    // stores a copy of an INF with a valid [Version] signature as
    // C:\WINDOWS\inf\oem<N>.inf, or finds the stored copy with the same
    // bytes; refuses a text that does not start with a section with
    // 0xE0000000 and any other INF with 0xE0000100).
    std::function<int32_t(const char* sourceInf)> onSetupCopyOEMInf;

    // Records.
    std::vector<SimMessageBox> boxes;
    std::vector<SimLaunch> launches;        // every CreateProcessA call, started or not
    std::vector<SimStagedInf> stagedInfs;   // every SetupCopyOEMInfA call, staged or not
    std::vector<std::string> trace;         // "<Operation> <arg>[ <arg>]" per call, in order
    std::vector<std::string> filesRead;     // resolved Windows paths opened or copied from
    std::vector<std::string> filesWritten;  // resolved Windows paths created or replaced
    std::vector<std::string> filesDeleted;  // resolved Windows paths deleted
    uint32_t lastError = 0;
    int openHandles = 0;  // process, thread and registry handles not yet closed
    int openStreams = 0;  // streams opened and not yet closed
    int openTexts = 0;    // FormatMessageA texts not yet released
};

// The one simulated machine.
SimWindows& Sim();

// A fresh machine with C: on `hostRoot` (which must exist): Windows XP
// Service Pack 3 (5.1.2600), the clock at 5 March 2007 09:04:03 UTC, the
// folders C:\WINDOWS\system32\drivers, C:\WINDOWS\inf, C:\Temp and C:\pkg
// created, every record empty, and the Platform table restored to the
// simulated operations.
void SimReset(const std::string& hostRoot);

// Maps one more drive letter onto a host folder.
void SimMapDrive(char letter, const std::string& hostRoot);

// Sets the version record (as Wine's version settings report them).
void SimSetVersion(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                   const char* servicePack);

// The host path a Windows path resolves to (existing names matched
// case-insensitively); empty when it cannot be resolved.
std::string SimHostPath(const std::string& windowsPath);

// Test helpers that bypass failure injection and records. SimWriteFile
// creates missing folders and stores the bytes as they are (no CR LF).
void SimWriteFile(const std::string& windowsPath, const std::string& bytes);
bool SimReadFile(const std::string& windowsPath, std::string* bytes);
bool SimFileExists(const std::string& windowsPath);
void SimMakeFolder(const std::string& windowsPath);
void SimSetAttributes(const std::string& windowsPath, uint32_t attributes);
uint32_t SimAttributes(const std::string& windowsPath);  // PS_INVALID_FILE_ATTRIBUTES if absent

// How often this process owns the named mutex now (0: not at all).
int SimMutexOwnership(const std::string& name);

// Another process takes the named mutex now (as otherHolders, for a mutex
// this process may have open already, and not owned).
void SimOtherHolderTakes(const SimOtherHolder& holder);

// The other process that owns the named mutex ends now, without releasing
// it: the next wait on it gives WAIT_ABANDONED.
void SimEndOtherHolder(const std::string& name);

// The process's environment variable, empty when it is not set.
std::string SimEnvironment(const std::string& name);
