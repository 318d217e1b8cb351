#include "turn/MachineTurn.h"

#include "common/BoundedText.h"
#include "common/Names.h"

namespace {

enum { MARKER_SIZE = 16 };  // a process id in decimal and the terminator

// The process id named in the environment, or 0 when none (or no number) is
// there.
uint32_t NamedHolder(const CoreServices& core)
{
    char text[MARKER_SIZE];
    uint32_t length = core.GetEnvironmentVariableA(kMachineTurnVariable, text, sizeof text);
    if (length == 0 || length >= sizeof text) {
        return 0;
    }
    uint32_t id = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9' || id > (0xFFFFFFFFu - 9) / 10) {
            return 0;
        }
        id = id * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    return id;
}

// Whether the process that started this one named itself as the holder.
int StartedByHolder(const CoreServices& core)
{
    uint32_t holder = NamedHolder(core);
    uint32_t parent = 0;
    return holder != 0 && core.GetParentProcessId(&parent) && parent == holder;
}

// Names this process as the holder for the processes it starts.
int NameThisProcess(const CoreServices& core)
{
    char text[MARKER_SIZE];
    FormatText(text, sizeof text, "%u", static_cast<unsigned>(core.GetCurrentProcessId()));
    return core.SetEnvironmentVariableA(kMachineTurnVariable, text) != 0;
}

// The mutex, made or opened. One made by another account (SYSTEM, for a
// deployment agent) may refuse the full access that making asks for; waiting
// needs only SYNCHRONIZE.
PsHandle OpenTurn(const CoreServices& core)
{
    PsHandle mutex = core.CreateMutexA(kMachineTurnName);
    if (mutex == nullptr && core.GetLastError() == PS_ERROR_ACCESS_DENIED) {
        mutex = core.OpenMutexA(PS_SYNCHRONIZE, kMachineTurnName);
    }
    return mutex;
}

}  // namespace

int TakeMachineTurn(const CoreServices& core, uint32_t waitMs, MachineTurn* turn)
{
    *turn = MachineTurn{TURN_FAILED, nullptr, 0, 0, 0, 0};
    int underParent = StartedByHolder(core);
    PsHandle mutex = OpenTurn(core);
    if (mutex == nullptr) {
        // Before Windows 2000 (NT 4 without Terminal Server) object names have
        // no "Global" namespace and the name is refused: such a system has no
        // turn to take (the stager refuses it at once, by its version).
        turn->error = core.GetLastError();
        bool noNamespace = turn->error == PS_ERROR_PATH_NOT_FOUND || turn->error == PS_ERROR_INVALID_NAME ||
                           turn->error == PS_ERROR_BAD_PATHNAME;
        turn->state = noNamespace ? TURN_NONE : TURN_FAILED;
        return turn->state;
    }
    uint32_t result = core.WaitForSingleObject(mutex, 0);
    if (result == PS_WAIT_TIMEOUT && !underParent) {
        turn->waited = 1;
        uint32_t start = core.GetTickCount();
        result = core.WaitForSingleObject(mutex, waitMs);
        turn->waitedMs = core.GetTickCount() - start;
    }
    if (result == PS_WAIT_OBJECT_0 || result == PS_WAIT_ABANDONED) {
        turn->state = TURN_HELD;
        turn->mutex = mutex;
        turn->abandoned = result == PS_WAIT_ABANDONED;
    } else {
        turn->state = result != PS_WAIT_TIMEOUT ? TURN_FAILED : underParent ? TURN_INHERITED : TURN_TIMED_OUT;
        turn->error = turn->state == TURN_FAILED ? core.GetLastError() : 0;
        core.CloseHandle(mutex);
        if (turn->state != TURN_INHERITED) {
            return turn->state;
        }
    }
    // From here on, the processes this one starts run under its turn.
    if (!NameThisProcess(core)) {
        uint32_t error = core.GetLastError();
        GiveMachineTurnBack(core, turn);
        turn->state = TURN_FAILED;
        turn->error = error;
    }
    return turn->state;
}

void GiveMachineTurnBack(const CoreServices& core, MachineTurn* turn)
{
    if (turn->state != TURN_HELD || turn->mutex == nullptr) {
        return;
    }
    core.ReleaseMutex(turn->mutex);
    core.CloseHandle(turn->mutex);
    turn->mutex = nullptr;
}

void RelayMachineTurn(const CoreServices& core)
{
    if (StartedByHolder(core)) {
        NameThisProcess(core);
    }
}
