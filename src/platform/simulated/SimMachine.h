// The simulated Windows machine's inner parts, shared by its files: the state
// that tests have no business with, path resolution, failure injection and
// the simulated operations of the PlatformServices table (Sim<operation>).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/simulated/SimulatedPlatform.h"

namespace simulated {

// Windows error codes the simulator sets beyond those of PlatformServices.h.
enum : uint32_t {
    ERR_INVALID_HANDLE = 6,
    ERR_NOT_ENOUGH_MEMORY = 8,
    ERR_SHARING_VIOLATION = 32,
    ERR_FILE_EXISTS = 80,
    ERR_PROC_NOT_FOUND = 127,
    ERR_MR_MID_NOT_FOUND = 317,
    ERR_EXPECTED_SECTION_NAME = 0xE0000000,
    ERR_BAD_SECTION_NAME_LINE = 0xE0000001,
    ERR_WRONG_INF_STYLE = 0xE0000100,
};

// What a handle handed out by the simulator stands for.
enum HandleKind { HANDLE_PROCESS, HANDLE_THREAD, HANDLE_KEY, HANDLE_MUTEX };

struct HandleEntry {
    HandleKind kind;
    size_t launch;      // index into launches (process and thread handles)
    std::string mutex;  // the mutex's name (mutex handles)
};

// A named mutex while a handle of this process or another process holds it.
struct MutexState {
    int handles = 0;           // this process's open handles
    int owned = 0;             // how often this process owns it
    bool heldByOther = false;  // another process owns it
    SimHolderBehaviour behaviour = SIM_HOLDER_KEEPS;
    uint32_t letsGoAt = 0;   // tick count at which the other process lets go
    bool abandoned = false;  // its last owner ended without releasing it
};

// State that is not part of SimWindows because tests have no business with it.
struct Machine {
    std::map<char, std::string> drives;          // 'C' -> host folder
    std::map<std::string, uint32_t> attributes;  // host path -> stored attributes
    std::map<PsHandle, HandleEntry> handles;
    std::vector<SimProcessScript> scripts;  // per launch
    std::set<void*> texts;                  // FormatMessageA texts
    std::map<std::string, MutexState> mutexes;
    unsigned nextHandle = 1;
    unsigned oemCount = 0;
    unsigned generation = 0;  // bumped by SimReset; streams of an older machine are not counted
};

// The one machine state, reset with SimReset.
Machine& State();

// ---------------------------------------------------------------------------
// Path resolution and attributes (Paths.cpp)

struct Resolved {
    uint32_t error = 0;   // 0: resolved; else a Windows error code
    std::string host;     // host path
    std::string windows;  // "C:\dir\name" with the on-disk case of existing names
    bool exists = false;
    bool isFolder = false;
    bool parentIsFolder = false;  // every component but the last exists as a folder
    bool device = false;          // names NUL or CON (error is then ACCESS_DENIED)
};

bool IsSeparator(char c);

// Resolves a Windows path the way Windows does: at most 260 characters,
// case-insensitive names, "\" or "/" separators, "." and ".." folded,
// trailing dots and blanks dropped from the last name (one trailing dot from
// the others), invalid characters and device names refused.
// The machine's own set-up (the Sim* helpers of tests) is not held to the
// length limit: Windows can hold longer paths than its 8-bit calls take.
enum PathLimit { CALL_LIMIT, NO_LIMIT };
Resolved ResolvePath(const char* path, PathLimit limit = CALL_LIMIT);

// The error for a path that names nothing: 2 when its folder exists, else 3.
uint32_t MissingError(const Resolved& path);

// Resolves a path that must name something that exists; returns 0, or the
// error for a path that cannot be resolved or names nothing.
uint32_t ResolveExisting(const char* path, Resolved* file);

uint32_t StoredAttributes(const Resolved& path);
bool IsReadOnly(const Resolved& path);
bool IsHiddenOrSystem(const Resolved& path);
void StoreAttributes(const std::string& host, uint32_t attributes);

bool ReadHostFile(const std::string& host, std::string* bytes);
// Writes the file anew: it is then marked for archiving (no stored attributes).
bool WriteHostFile(const std::string& host, const std::string& bytes);

// Creates every missing folder of `path` (a Windows path), including itself.
bool MakeFolders(const std::string& windowsPath);

// ---------------------------------------------------------------------------
// Failure injection and trace (Faults.cpp)

// "(null)" for a null text, else the text.
std::string Text(const char* text);

// Counts a failable call, traces it and tells whether it is to fail; a
// failing call has its error code set already.
bool Enter(SimOperation operation, const std::string& entry);

// Sets the last error and returns 0.
uint32_t Fail(uint32_t code);

// "0x" and the value in lower-case hexadecimal.
std::string Hex(uint32_t value);

// ---------------------------------------------------------------------------
// The operations, one file per area.

#define SIM_DECLARE(kind, result, name, parameters) \
    result Sim##name parameters;  // NOLINT(bugprone-macro-parentheses)
PS_OPERATIONS(SIM_DECLARE)
#undef SIM_DECLARE

// Handles (Processes.cpp): a new one counted as open, the entry of a live
// non-key handle, and its release.
PsHandle NewHandle(HandleKind kind, size_t launch, const std::string& mutex = "");
HandleEntry* FindHandle(PsHandle handle, bool keys);
void ReleaseHandle(PsHandle handle);

// The wait on a mutex handle (Sync.cpp).
uint32_t WaitForMutex(const HandleEntry& entry, uint32_t milliseconds);

}  // namespace simulated

// The core part of a table's initializer: entry N is simulated::Sim<name of
// core member N>, made from the same list as the members.
#define SIM_CORE_ENTRY(kind, result, name, parameters) simulated::Sim##name,
#define SIM_CORE_TABLE                  \
    {                                   \
        CORE_OPERATIONS(SIM_CORE_ENTRY) \
    }
