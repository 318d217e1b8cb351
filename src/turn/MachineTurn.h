// The machine's turn: one run at a time per machine of the stager and of
// the companion tool's commands that change the system, in every session.
//
// The turn is a named mutex of the machine (kMachineTurnName, in the "Global"
// namespace). A run waits for it, bounded, then owns it until its end; a
// run that ends without giving it back (it was stopped) leaves it abandoned,
// and the next one takes it at once. The processes a run starts (the 64-bit
// build it hands its run to, the companion tool) run under its turn instead
// of waiting for it: the run names itself in the environment variable
// kMachineTurnVariable (its process id, and how long it waited), and a
// process whose parent is the one named there, while the turn is taken, is
// under that turn. A name left over in the environment (of another parent)
// makes nobody skip the wait.
#pragma once

#include <cstdint>

#include "platform/CoreServices.h"

// The longest wait for the turn: a run of the stager takes seconds, at most
// about a minute and a half (two companion tool runs of 30 s, the copies),
// so several queued runs fit.
enum { TURN_WAIT_MS = 300000 };

enum TurnState {
    TURN_HELD,       // this process owns the turn
    TURN_INHERITED,  // the process that started this one holds it: this one runs under it
    TURN_TIMED_OUT,  // another run held it for the whole wait
    TURN_FAILED,     // it could not be asked for (`error` says why)
    TURN_NONE,       // the system has no machine-wide names (before Windows 2000): no turn to take
};

// Whether a run may go on in that state: with the turn, under its parent's,
// or on a system without any.
inline bool TurnLetsRun(int state)
{
    return state == TURN_HELD || state == TURN_INHERITED || state == TURN_NONE;
}

// What the turn was like (under a parent's turn: the parent's).
struct MachineTurn {
    int state;
    PsHandle mutex;     // TURN_HELD: the mutex this process owns
    int waited;         // another run had the turn when it was asked for
    uint32_t waitedMs;  // how long the wait took
    int abandoned;      // the run before ended without giving the turn back
    uint32_t error;     // TURN_FAILED: the system's code
};

// Takes the turn (or, as the child of its holder, runs under it), waiting at
// most `waitMs` for another run, and from then on names this process as the
// holder for the processes it starts. Returns the state, also in `turn`.
int TakeMachineTurn(const CoreServices& core, uint32_t waitMs, MachineTurn* turn);

// Gives an owned turn back; nothing for another state. Call it last, once
// everything of the run (its log above all) is done.
void GiveMachineTurnBack(const CoreServices& core, MachineTurn* turn);

// For a process that only hands its run on (the 32-bit build starting the
// 64-bit one) and takes no turn itself: when it runs under its parent's
// turn, names itself for its child, so that the child runs under it too.
void RelayMachineTurn(const CoreServices& core);
