// Processes, handles and registry of the simulated Windows: a launch follows
// the machine's process script; process, thread and registry handles are
// counted until they are closed.
#include "platform/simulated/SimMachine.h"

#include <strings.h>

#include <cstring>

namespace simulated {

PsHandle NewHandle(HandleKind kind, size_t launch, const std::string& mutex)
{
    Machine& machine = State();
    PsHandle handle = reinterpret_cast<PsHandle>(static_cast<intptr_t>(0x1000 + 4 * machine.nextHandle++));
    machine.handles[handle] = HandleEntry{kind, launch, mutex};
    ++Sim().openHandles;
    return handle;
}

// The entry of a live handle of one of the given kinds, or null.
HandleEntry* FindHandle(PsHandle handle, bool keys)
{
    auto found = State().handles.find(handle);
    if (found == State().handles.end() || (found->second.kind == HANDLE_KEY) != keys) {
        return nullptr;
    }
    return &found->second;
}

void ReleaseHandle(PsHandle handle)
{
    State().handles.erase(handle);
    --Sim().openHandles;
}

namespace {

// The program a command line starts: its first token, quoted or up to a blank.
std::string ProgramOf(const char* applicationName, const char* commandLine)
{
    if (applicationName != nullptr) {
        return applicationName;
    }
    std::string line = commandLine == nullptr ? "" : commandLine;
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return "";
    }
    if (line[start] == '"') {
        size_t end = line.find('"', start + 1);
        return line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    }
    size_t end = line.find_first_of(" \t", start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool ProgramExists(const std::string& program)
{
    Resolved file = ResolvePath(program.c_str());
    if (file.error == 0 && file.exists && !file.isFolder) {
        return true;
    }
    // Windows adds ".exe" to a program name without an extension.
    size_t slash = program.find_last_of("\\/");
    std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
    if (program.empty() || name.find('.') != std::string::npos) {
        return false;
    }
    Resolved withExe = ResolvePath((program + ".exe").c_str());
    return withExe.error == 0 && withExe.exists && !withExe.isFolder;
}

}  // namespace

int32_t SimRegOpenKeyExA(PsKey root, const char* subKey, uint32_t, uint32_t, PsKey* result)
{
    *result = nullptr;  // what the Windows table hands back when the key cannot be opened
    if (Enter(SIM_RegOpenKeyExA, "RegOpenKeyExA " + Text(subKey))) {
        uint32_t code = Sim().failError[SIM_RegOpenKeyExA];
        return static_cast<int32_t>(code != 0 ? code : PS_ERROR_ACCESS_DENIED);
    }
    if (root == PS_HKEY_LOCAL_MACHINE && subKey != nullptr) {
        for (const std::string& key : Sim().registryKeys) {
            if (strcasecmp(key.c_str(), subKey) == 0) {
                *result = NewHandle(HANDLE_KEY, 0);
                return 0;
            }
        }
    }
    return PS_ERROR_FILE_NOT_FOUND;
}

int32_t SimRegCloseKey(PsKey key)
{
    if (Enter(SIM_RegCloseKey, "RegCloseKey")) {
        uint32_t code = Sim().failError[SIM_RegCloseKey];
        return static_cast<int32_t>(code != 0 ? code : PS_ERROR_ACCESS_DENIED);
    }
    if (FindHandle(key, true) == nullptr) {
        return ERR_INVALID_HANDLE;
    }
    ReleaseHandle(key);
    return 0;
}

int32_t SimCreateProcessA(const char* applicationName, char* commandLine, void*, void*,
                          int32_t inheritHandles, uint32_t creationFlags, void* environment,
                          const char* currentDirectory, PsStartupInfo* startupInfo,
                          PsProcessInformation* processInformation)
{
    std::string line = commandLine == nullptr ? Text(applicationName) : commandLine;
    bool injected = Enter(SIM_CreateProcessA, "CreateProcessA " + line);
    SimWindows& sim = Sim();
    SimLaunch launch{};
    launch.applicationName = applicationName == nullptr ? "" : applicationName;
    launch.commandLine = commandLine == nullptr ? "" : commandLine;
    launch.creationFlags = creationFlags;
    launch.inheritHandles = inheritHandles;
    launch.environmentGiven = environment != nullptr;
    launch.currentDirectoryGiven = currentDirectory != nullptr;
    launch.environment = sim.environment;
    if (startupInfo != nullptr) {
        launch.startupInfo = *startupInfo;
    }
    sim.launches.push_back(launch);
    if (injected) {
        State().scripts.push_back(SimProcessScript{SIM_PROCESS_FAILS_TO_START, 0});
        return 0;
    }
    SimProcessScript script = sim.process;
    if (sim.onLaunch) {
        script = sim.onLaunch(launch.commandLine);
    } else if (!ProgramExists(ProgramOf(applicationName, commandLine))) {
        script.behaviour = SIM_PROCESS_FAILS_TO_START;
    }
    State().scripts.push_back(script);
    if (script.behaviour == SIM_PROCESS_FAILS_TO_START) {
        return static_cast<int32_t>(Fail(PS_ERROR_FILE_NOT_FOUND));
    }
    if (processInformation == nullptr) {
        return static_cast<int32_t>(Fail(PS_ERROR_INVALID_PARAMETER));
    }
    size_t index = sim.launches.size() - 1;
    processInformation->hProcess = NewHandle(HANDLE_PROCESS, index);
    processInformation->hThread = NewHandle(HANDLE_THREAD, index);
    processInformation->dwProcessId = static_cast<uint32_t>(1000 + 4 * index);
    processInformation->dwThreadId = static_cast<uint32_t>(1002 + 4 * index);
    sim.lastError = PS_ERROR_SUCCESS;
    return 1;
}

uint32_t SimWaitForSingleObject(PsHandle handle, uint32_t milliseconds)
{
    if (Enter(SIM_WaitForSingleObject, "WaitForSingleObject " + std::to_string(milliseconds))) {
        return PS_WAIT_FAILED;
    }
    HandleEntry* entry = FindHandle(handle, false);
    if (entry == nullptr) {
        Fail(ERR_INVALID_HANDLE);
        return PS_WAIT_FAILED;
    }
    if (entry->kind == HANDLE_MUTEX) {
        return WaitForMutex(*entry, milliseconds);
    }
    Sim().launches[entry->launch].waits.push_back(milliseconds);
    bool ends = State().scripts[entry->launch].behaviour == SIM_PROCESS_ENDS;
    return ends ? PS_WAIT_OBJECT_0 : PS_WAIT_TIMEOUT;
}

int32_t SimGetExitCodeProcess(PsHandle process, uint32_t* exitCode)
{
    if (Enter(SIM_GetExitCodeProcess, "GetExitCodeProcess")) {
        return 0;
    }
    HandleEntry* entry = FindHandle(process, false);
    if (entry == nullptr || entry->kind != HANDLE_PROCESS) {
        return static_cast<int32_t>(Fail(ERR_INVALID_HANDLE));
    }
    const SimProcessScript& script = State().scripts[entry->launch];
    *exitCode = script.behaviour == SIM_PROCESS_ENDS ? script.exitCode : PS_STILL_ACTIVE;
    return 1;
}

int32_t SimCloseHandle(PsHandle handle)
{
    if (Enter(SIM_CloseHandle, "CloseHandle")) {
        return 0;
    }
    HandleEntry* entry = FindHandle(handle, false);
    if (entry == nullptr) {
        return static_cast<int32_t>(Fail(ERR_INVALID_HANDLE));
    }
    if (entry->kind == HANDLE_MUTEX) {
        // The object goes with its last handle; an ownership of this
        // process's thread stays with it until then.
        auto state = State().mutexes.find(entry->mutex);
        if (--state->second.handles == 0 && !state->second.heldByOther) {
            State().mutexes.erase(state);
        }
    }
    ReleaseHandle(handle);
    return 1;
}

}  // namespace simulated
