// The process side of the simulated Windows: named mutexes of the machine
// (owned by this process's one thread, or by the other processes a test
// sets up), the environment, the process's and its parent's ids, and the
// tick count, which the waits advance.
#include <strings.h>

#include <cstring>

#include "platform/simulated/SimMachine.h"

namespace simulated {

namespace {

// The mutex of that name, if it exists: opened by this process, or owned
// by another one that the test set up (met here the first time).
MutexState* FindMutex(const std::string& name)
{
    auto found = State().mutexes.find(name);
    if (found != State().mutexes.end()) {
        return &found->second;
    }
    for (const SimOtherHolder& holder : Sim().otherHolders) {
        if (holder.name == name) {
            MutexState& state = State().mutexes[name];
            state.heldByOther = true;
            state.behaviour = holder.behaviour;
            state.letsGoAt = Sim().tickCount + holder.afterMs;
            return &state;
        }
    }
    return nullptr;
}

PsHandle OpenHandleOf(const std::string& name)
{
    ++State().mutexes[name].handles;
    return NewHandle(HANDLE_MUTEX, 0, name);
}

// The environment's entry for `name`, compared without case as Windows does.
std::map<std::string, std::string>::iterator FindVariable(const char* name)
{
    std::map<std::string, std::string>& environment = Sim().environment;
    for (auto entry = environment.begin(); entry != environment.end(); ++entry) {
        if (strcasecmp(entry->first.c_str(), name) == 0) {
            return entry;
        }
    }
    return environment.end();
}

}  // namespace

PsHandle SimCreateMutexA(const char* name)
{
    if (Enter(SIM_CreateMutexA, "CreateMutexA " + Text(name))) {
        return nullptr;
    }
    if (name == nullptr) {
        Fail(PS_ERROR_INVALID_PARAMETER);  // the simulator has only named mutexes
        return nullptr;
    }
    bool existed = FindMutex(name) != nullptr;
    PsHandle handle = OpenHandleOf(name);
    Sim().lastError = existed ? PS_ERROR_ALREADY_EXISTS : PS_ERROR_SUCCESS;
    return handle;
}

PsHandle SimOpenMutexA(uint32_t, const char* name)
{
    if (Enter(SIM_OpenMutexA, "OpenMutexA " + Text(name))) {
        return nullptr;
    }
    if (name == nullptr || FindMutex(name) == nullptr) {
        Fail(PS_ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return OpenHandleOf(name);
}

uint32_t WaitForMutex(const HandleEntry& entry, uint32_t milliseconds)
{
    MutexState& state = State().mutexes[entry.mutex];
    uint32_t& now = Sim().tickCount;
    if (state.heldByOther) {
        bool letsGo = state.behaviour != SIM_HOLDER_KEEPS &&
                      (milliseconds == PS_INFINITE || state.letsGoAt - now <= milliseconds);
        if (!letsGo) {
            now += milliseconds == PS_INFINITE ? 0 : milliseconds;
            return PS_WAIT_TIMEOUT;
        }
        now = state.letsGoAt;
        state.heldByOther = false;
        state.abandoned = state.behaviour == SIM_HOLDER_ENDS;
    }
    ++state.owned;
    bool abandoned = state.abandoned;
    state.abandoned = false;
    return abandoned ? PS_WAIT_ABANDONED : PS_WAIT_OBJECT_0;
}

int32_t SimReleaseMutex(PsHandle mutex)
{
    if (Enter(SIM_ReleaseMutex, "ReleaseMutex")) {
        return 0;
    }
    HandleEntry* entry = FindHandle(mutex, false);
    if (entry == nullptr || entry->kind != HANDLE_MUTEX) {
        return static_cast<int32_t>(Fail(ERR_INVALID_HANDLE));
    }
    MutexState& state = State().mutexes[entry->mutex];
    if (state.owned == 0) {
        return static_cast<int32_t>(Fail(PS_ERROR_NOT_OWNER));
    }
    --state.owned;
    return 1;
}

uint32_t SimGetEnvironmentVariableA(const char* name, char* value, uint32_t size)
{
    if (Enter(SIM_GetEnvironmentVariableA, "GetEnvironmentVariableA " + Text(name))) {
        return 0;
    }
    auto entry = name == nullptr ? Sim().environment.end() : FindVariable(name);
    if (entry == Sim().environment.end()) {
        return Fail(PS_ERROR_ENVVAR_NOT_FOUND);
    }
    const std::string& text = entry->second;
    if (text.size() >= size) {
        return static_cast<uint32_t>(text.size() + 1);
    }
    memcpy(value, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
}

int32_t SimSetEnvironmentVariableA(const char* name, const char* value)
{
    if (Enter(SIM_SetEnvironmentVariableA, "SetEnvironmentVariableA " + Text(name) + " " + Text(value))) {
        return 0;
    }
    if (name == nullptr || *name == '\0' || strchr(name, '=') != nullptr) {
        return static_cast<int32_t>(Fail(PS_ERROR_INVALID_PARAMETER));
    }
    auto entry = FindVariable(name);
    if (entry != Sim().environment.end()) {
        Sim().environment.erase(entry);
    }
    if (value != nullptr) {
        Sim().environment[name] = value;
    }
    return 1;
}

uint32_t SimGetCurrentProcessId()
{
    return Sim().processId;
}

int32_t SimGetParentProcessId(uint32_t* parentId)
{
    if (Enter(SIM_GetParentProcessId, "GetParentProcessId")) {
        return 0;
    }
    if (!Sim().parentKnown) {
        return static_cast<int32_t>(Fail(ERR_PROC_NOT_FOUND));
    }
    *parentId = Sim().parentProcessId;
    return 1;
}

uint32_t SimGetTickCount()
{
    return Sim().tickCount;
}

}  // namespace simulated

int SimMutexOwnership(const std::string& name)
{
    auto found = simulated::State().mutexes.find(name);
    return found == simulated::State().mutexes.end() ? 0 : found->second.owned;
}

void SimOtherHolderTakes(const SimOtherHolder& holder)
{
    Sim().otherHolders.push_back(holder);
    auto found = simulated::State().mutexes.find(holder.name);
    if (found != simulated::State().mutexes.end() && found->second.owned == 0) {
        found->second.heldByOther = true;
        found->second.behaviour = holder.behaviour;
        found->second.letsGoAt = Sim().tickCount + holder.afterMs;
    }
}

void SimEndOtherHolder(const std::string& name)
{
    std::vector<SimOtherHolder>& holders = Sim().otherHolders;
    for (auto holder = holders.begin(); holder != holders.end();) {
        holder = holder->name == name ? holders.erase(holder) : holder + 1;
    }
    auto found = simulated::State().mutexes.find(name);
    if (found == simulated::State().mutexes.end()) {
        return;
    }
    if (found->second.handles == 0) {
        simulated::State().mutexes.erase(found);  // nobody else has it open: it is gone
        return;
    }
    found->second.heldByOther = false;
    found->second.abandoned = true;
}

std::string SimEnvironment(const std::string& name)
{
    for (const auto& entry : Sim().environment) {
        if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) {
            return entry.second;
        }
    }
    return "";
}
