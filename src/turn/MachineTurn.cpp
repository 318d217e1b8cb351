#include "turn/MachineTurn.h"

#include "common/BoundedText.h"
#include "common/Names.h"

namespace {

// The holder's name in the environment: its process id, and when it waited
// for the turn, how long and whether the run before was stopped ("<id>" or
// "<id> <waited ms> <0|1>"), so that the process it hands its run to can
// tell it in the log.
enum { MARKER_SIZE = 32 };

struct Holder {
    uint32_t id;  // 0: nobody (validly) named
    uint32_t waitedMs;
    int waited;
    int abandoned;
};

// Reads a decimal number of at most 10 digits at `*at`; 0 when there is none
// or it passes 32 bits.
int ReadNumber(const char** at, uint32_t* value)
{
    const char* start = *at;
    uint64_t number = 0;
    while (**at >= '0' && **at <= '9' && *at - start < 10) {
        number = number * 10 + static_cast<uint64_t>(**at - '0');
        ++*at;
    }
    *value = static_cast<uint32_t>(number);
    return *at != start && number <= 0xFFFFFFFFu && !(**at >= '0' && **at <= '9');
}

Holder NamedHolder(const CoreServices& core)
{
    Holder holder{0, 0, 0, 0};
    char text[MARKER_SIZE];
    uint32_t length = core.GetEnvironmentVariableA(kMachineTurnVariable, text, sizeof text);
    if (length == 0 || length >= sizeof text) {
        return holder;
    }
    const char* at = text;
    uint32_t id = 0;
    if (!ReadNumber(&at, &id)) {
        return holder;
    }
    if (*at == ' ') {
        ++at;
        uint32_t abandoned = 0;
        if (!ReadNumber(&at, &holder.waitedMs) || *at++ != ' ' || !ReadNumber(&at, &abandoned) ||
            abandoned > 1) {
            return holder;
        }
        holder.waited = 1;
        holder.abandoned = static_cast<int>(abandoned);
    }
    holder.id = *at == '\0' ? id : 0;
    return holder;
}

// The holder that started this process, if the process that started it
// named itself; `id` 0 otherwise.
Holder StartedByHolder(const CoreServices& core)
{
    Holder holder = NamedHolder(core);
    uint32_t parent = 0;
    if (holder.id == 0 || !core.GetParentProcessId(&parent) || parent != holder.id) {
        holder.id = 0;
    }
    return holder;
}

// Names this process as the holder for the processes it starts, with what
// the turn was like.
int NameThisProcess(const CoreServices& core, const MachineTurn* turn)
{
    char text[MARKER_SIZE];
    unsigned id = static_cast<unsigned>(core.GetCurrentProcessId());
    if (turn->waited || turn->abandoned) {
        FormatText(text, sizeof text, "%u %u %d", id, static_cast<unsigned>(turn->waitedMs), turn->abandoned);
    } else {
        FormatText(text, sizeof text, "%u", id);
    }
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
    Holder parent = StartedByHolder(core);
    int underParent = parent.id != 0;
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
        // The parent's turn: what it was like is the parent's to tell.
        turn->waited = parent.waited;
        turn->waitedMs = parent.waitedMs;
        turn->abandoned = parent.abandoned;
    }
    // From here on, the processes this one starts run under its turn.
    if (!NameThisProcess(core, turn)) {
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
    Holder parent = StartedByHolder(core);
    if (parent.id != 0) {
        MachineTurn turn =
            MachineTurn{TURN_INHERITED, nullptr, parent.waited, parent.waitedMs, parent.abandoned, 0};
        NameThisProcess(core, &turn);
    }
}
