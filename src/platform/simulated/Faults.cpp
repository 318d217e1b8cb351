// Failure injection and the trace of the simulated Windows: every failable
// call is counted and traced, and fails when its operation is told to fail
// always or when it is the N-th failable call of the run.
#include "platform/simulated/SimMachine.h"

#include <cstdio>

#include "common/BoundedText.h"

namespace simulated {

namespace {

uint32_t DefaultError(SimOperation operation)
{
    switch (operation) {
    case SIM_GetVersionExA:
        return PS_ERROR_INVALID_PARAMETER;
    case SIM_WaitForSingleObject:
    case SIM_GetExitCodeProcess:
    case SIM_CloseHandle:
        return ERR_INVALID_HANDLE;
    case SIM_FormatMessageA:
        return ERR_NOT_ENOUGH_MEMORY;
    case SIM_ReleaseMutex:
        return PS_ERROR_NOT_OWNER;
    case SIM_GetEnvironmentVariableA:
        return PS_ERROR_ENVVAR_NOT_FOUND;
    default:
        return PS_ERROR_ACCESS_DENIED;
    }
}

}  // namespace

std::string Text(const char* text)
{
    return text == nullptr ? "(null)" : text;
}

bool Enter(SimOperation operation, const std::string& entry)
{
    SimWindows& sim = Sim();
    ++sim.failableCalls;
    bool fail = sim.failAlways[operation] || sim.failableCalls == sim.failCallNumber;
    sim.trace.push_back(fail ? entry + " FAILED" : entry);
    if (fail) {
        uint32_t code = sim.failError[operation];
        sim.lastError = code != 0 ? code : DefaultError(operation);
    }
    return fail;
}

uint32_t Fail(uint32_t code)
{
    Sim().lastError = code;
    return 0;
}

std::string Hex(uint32_t value)
{
    char text[16];
    FormatText(text, sizeof text, "0x%x", value);
    return text;
}

}  // namespace simulated
