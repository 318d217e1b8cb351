// The machine's turn in the companion tool: the commands that change the
// system take it (or run under the turn of the process that started them),
// the others never wait; the 32-bit build passes its parent's turn on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DevCtl.h"
#include "SimulatedDevCtl.h"
#include "TestFiles.h"
#include "common/Names.h"
#include "turn/MachineTurn.h"

namespace {

const char INF[] = "C:\\pkg\\MERVOUSB.inf";
const char CERTIFICATE[] = "C:\\pkg\\publisher.cer";

size_t Calls(const std::string& prefix)
{
    return static_cast<size_t>(
        std::count_if(Sim().trace.begin(), Sim().trace.end(),
                      [&](const std::string& call) { return call.rfind(prefix, 0) == 0; }));
}

enum Holder { NONE, RELEASES, KEEPS };

struct TurnRow {
    const char* name;
    std::vector<std::string> words;
    Holder holder;       // another installation holds the turn (RELEASES: for 1 s)
    const char* marker;  // MERVO_MACHINE_TURN as the tool finds it; null: not set
    bool failMutex;      // the mutex can be neither made nor opened
    int exitCode;
    bool asks;         // the tool asks for the turn
    bool waits;        // it waits the long wait
    std::string line;  // the line printed when it got no turn
};

const std::string WAITED_OUT =
    "Another installation was at work for 300 s: nothing was done, try again later.";

// clang-format off
const TurnRow ROWS[] = {
    {"remove, nobody else at work", {"remove", INF, "*VID_0123*"}, NONE, nullptr, false, DEVCTL_EXIT_OK, true, false, ""},
    {"remove, another installation ends after 1 s", {"remove", INF, "*VID_0123*"}, RELEASES, nullptr, false, DEVCTL_EXIT_OK, true, true, ""},
    {"remove, another installation never ends", {"remove", INF, "*VID_0123*"}, KEEPS, nullptr, false, DEVCTL_EXIT_NO_TURN, true, true, WAITED_OUT},
    {"remove, started by the stager", {"remove", INF, "*VID_0123*"}, KEEPS, "4000", false, DEVCTL_EXIT_OK, true, false, ""},
    {"remove, another process named", {"remove", INF, "*VID_0123*"}, KEEPS, "4001", false, DEVCTL_EXIT_NO_TURN, true, true, WAITED_OUT},
    {"remove, no turn to be had", {"remove", INF, "*VID_0123*"}, NONE, nullptr, true, DEVCTL_EXIT_NO_TURN, true, false,
     "Cannot take the machine's turn (error 0x00000002): nothing was done."},
    {"unstage, another installation never ends", {"unstage", INF, "force"}, KEEPS, nullptr, false, DEVCTL_EXIT_NO_TURN, true, true, WAITED_OUT},
    {"unstage, started by a setup program", {"unstage", INF, "force"}, KEEPS, "4000", false, DEVCTL_EXIT_OK, true, false, ""},
    {"trust, another installation never ends", {"trust", CERTIFICATE}, KEEPS, nullptr, false, DEVCTL_EXIT_NO_TURN, true, true, WAITED_OUT},
    {"untrust, another installation never ends", {"untrust", CERTIFICATE}, KEEPS, nullptr, false, DEVCTL_EXIT_NO_TURN, true, true, WAITED_OUT},
    {"status never waits", {"status", INF}, KEEPS, nullptr, false, DEVCTL_EXIT_OK, false, false, ""},
    {"rescan never waits", {"rescan"}, KEEPS, nullptr, false, DEVCTL_EXIT_OK, false, false, ""},
    {"usage never waits", {"remove"}, KEEPS, nullptr, false, DEVCTL_EXIT_USAGE, false, false, ""},
};
// clang-format on

TEST(MachineTurn, CommandsThatChangeTheSystemRunOneAtATime)
{
    for (const TurnRow& row : ROWS) {
        SCOPED_TRACE(row.name);
        SimTreeReset();
        WriteTestFile(INF, "%D%=Install, USB\\VID_0123&PID_4567\r\n");
        WriteTestFile("C:\\WINDOWS\\inf\\oem3.inf", "%D%=Install, USB\\VID_0123&PID_4567\r\n");
        WriteTestFile(CERTIFICATE, "no certificate");
        SimAddDevice("USB\\VID_0123&PID_4567\\1", {"USB\\VID_0123&PID_4567"});
        if (row.holder != NONE) {
            Sim().otherHolders.push_back(
                {kMachineTurnName, row.holder == KEEPS ? SIM_HOLDER_KEEPS : SIM_HOLDER_RELEASES, 1000});
        }
        if (row.marker != nullptr) {
            Sim().environment[kMachineTurnVariable] = row.marker;
        }
        Sim().failAlways[SIM_CreateMutexA] = row.failMutex;
        EXPECT_EQ(row.exitCode, SimRunWords(row.words));
        EXPECT_EQ(row.asks ? 1u : 0u, Calls("CreateMutexA"));
        EXPECT_EQ(row.waits ? 1u : 0u, Calls("WaitForSingleObject 300000"));
        if (!row.line.empty()) {
            // Nothing was done: no device removed, nothing unstaged, no store opened.
            EXPECT_EQ(std::vector<std::string>{row.line}, SimTree().output);
            EXPECT_EQ(1u, SimRemainingDevices().size());
            EXPECT_TRUE(SimTree().uninstallCalls.empty());
            EXPECT_TRUE(SimTree().storesOpened.empty());
        }
        EXPECT_EQ(0, SimMutexOwnership(kMachineTurnName));
        EXPECT_EQ(0, Sim().openHandles);
    }
}

// The 32-bit build on 64-bit Windows takes no turn: when its parent named
// itself, it names itself in turn, so that the 64-bit build runs under the
// same turn.
TEST(MachineTurn, The32BitBuildPassesItsParentsTurnOn)
{
    struct RelayCase {
        const char* marker;
        const char* passedOn;  // the variable when the 64-bit build is started
    };
    const RelayCase cases[] = {
        {"4000", "4242"}, {"4000 700 1", "4242 700 1"}, {"4001", "4001"}, {nullptr, ""}};
    for (const RelayCase& c : cases) {
        SCOPED_TRACE(c.marker != nullptr ? c.marker : "(none)");
        SimTreeReset();
        Sim().wow64 = true;
        WriteTestFile("C:\\pkg\\MERVODevCtl64.exe", "MZ");
        if (c.marker != nullptr) {
            Sim().environment[kMachineTurnVariable] = c.marker;
        }
        SimTree().commandLine = "MERVODevCtl.exe rescan";
        EXPECT_EQ(DEVCTL_EXIT_OK, SimRunWords({"rescan"}));
        EXPECT_EQ(1u, SimTree().runs.size());
        EXPECT_EQ(c.passedOn, SimEnvironment(kMachineTurnVariable));
        EXPECT_EQ(0u, Calls("CreateMutexA"));
    }
}

}  // namespace
