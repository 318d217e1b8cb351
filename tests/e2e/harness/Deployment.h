// The harness's part for runs at the same time, as a deployment system makes
// them: programs started without waiting, then waited for (bounded); a
// console program's output; the machine's turn held by the test itself.
#pragma once

#include <windows.h>

#include <string>

#include "StagerHarness.h"

namespace e2e {

// A program started and not yet waited for.
struct StartedProgram {
    HANDLE process = nullptr;
    DWORD processId = 0;
    DWORD startTick = 0;
};

// Starts `commandLine` (on `desktop` when one is given) and returns at once;
// `process` is null when it could not be started (a test failure).
StartedProgram StartProgram(const std::string& commandLine, const std::string& desktop = "");

// Waits for a started program at most `limitMs` from its start (ended and a
// test failure after that) and gives its exit code and run time.
RunResult FinishProgram(StartedProgram* program, DWORD limitMs);

// A console program run to its end: its exit code and its output.
struct ConsoleRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;  // standard output, CR LF as LF
};
ConsoleRun RunConsole(const std::string& commandLine, DWORD limitMs = 60000);

// The machine's turn, owned by the test process for as long as it lives.
class HeldTurn {
public:
    HeldTurn();
    ~HeldTurn();
    HeldTurn(const HeldTurn&) = delete;
    HeldTurn& operator=(const HeldTurn&) = delete;
    bool Held() const { return held_; }
    void Release();

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};

// The copies of the INF `inf` (its bytes) in the INF folder, by name.
std::vector<std::string> StagedCopies(const std::string& inf);
// Deletes those copies and their .pnf files.
void RemoveStagedCopies(const std::string& inf);

}  // namespace e2e
