// The machine's turn in whole runs of the stager: when a run waits, how long,
// what it does when the wait runs out, and which runs never wait (the
// processes a holder starts).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BoxTexts.h"
#include "TestSupport.h"
#include "common/Names.h"
#include "log/LogFile.h"
#include "turn/MachineTurn.h"

namespace {

const char kLog[] = "C:\\Temp\\MERVOStageLog.txt";
const char kNotRunLog[] = "C:\\Temp\\MERVOStageLog-NotRun.txt";

enum Holder { NONE, RELEASES, ENDS, KEEPS };

struct TurnRow {
    const char* name;
    Holder holder;         // another process that has the turn when the run begins
    uint32_t afterMs;      // when it lets go
    const char* marker;    // MERVO_MACHINE_TURN as the run finds it; null: not set
    const char* argument;  // the argument text
    int exitCode;
    bool waits;                          // the run waited the long wait
    std::vector<std::string> turnLines;  // the run log's lines about the turn, after "Log created"
    const char* passedOn;                // MERVO_MACHINE_TURN for the companion tool
};

const char kWaited2500[] = "Waited 2500 ms for another installation to end.";
const char kStopped[] = "The installation before this one ended without finishing: its work is done again.";

// clang-format off
const TurnRow kRows[] = {
    {"nobody else at work", NONE, 0, nullptr, "nodisplay", 0, false, {}, "4242"},
    {"another run ends after 2.5 s", RELEASES, 2500, nullptr, "nodisplay", 0, true, {kWaited2500}, "4242 2500 0"},
    {"another run is stopped after 0.1 s", ENDS, 100, nullptr, "nodisplay", 0, true,
     {"Waited 100 ms for another installation to end.", kStopped}, "4242 100 1"},
    {"another run lasts one millisecond too long", RELEASES, TURN_WAIT_MS + 1, nullptr, "nodisplay", 24, true, {}, ""},
    {"another run never ends", KEEPS, 0, nullptr, "nodisplay", 24, true, {}, ""},
    {"another run never ends, no log", KEEPS, 0, nullptr, "nodisplay nolog", 24, true, {}, ""},
    // The parent (4000 in the simulator) named itself: its turn, no wait;
    // what its turn was like is told here (the 32-bit build hands its run on).
    {"started by the holder", KEEPS, 0, "4000", "nodisplay", 0, false, {}, "4242"},
    {"started by a holder that waited", KEEPS, 0, "4000 2500 1", "nodisplay", 0, false, {kWaited2500, kStopped},
     "4242 2500 1"},
    // A name left over from another process: the run waits like any other.
    {"another process named", KEEPS, 0, "777", "nodisplay", 24, true, {}, ""},
    {"no number named", KEEPS, 0, "4000x", "nodisplay", 24, true, {}, ""},
    {"a name cut short", KEEPS, 0, "4000 2500", "nodisplay", 24, true, {}, ""},
    {"a number past 32 bits", KEEPS, 0, "4294971296", "nodisplay", 24, true, {}, ""},
    // Named, but the turn is free: the run takes it itself.
    {"named by a parent without the turn", NONE, 0, "4000", "nodisplay", 0, false, {}, "4242"},
};
// clang-format on

class MachineTurnTest : public SimTest {
protected:
    // A run log of an earlier run, which a run without the turn must leave alone.
    const std::string earlierLog = "earlier run's log\r\n";

    void Arrange(const TurnRow& row)
    {
        FreshMachine();
        WritePackage();
        Write(kLog, earlierLog);
        static const SimHolderBehaviour kBehaviour[] = {SIM_HOLDER_RELEASES, SIM_HOLDER_RELEASES,
                                                        SIM_HOLDER_ENDS, SIM_HOLDER_KEEPS};
        if (row.holder != NONE) {
            Sim().otherHolders.push_back({kMachineTurnName, kBehaviour[row.holder], row.afterMs});
        }
        if (row.marker != nullptr) {
            Sim().environment[kMachineTurnVariable] = row.marker;
        }
        // What the companion tool finds when it is started: the turn owned
        // by the run, and the run named as its holder.
        Sim().onLaunch = [this](const std::string&) {
            ownedAtLaunch.push_back(SimMutexOwnership(kMachineTurnName));
            return SimProcessScript{SIM_PROCESS_ENDS, 0};
        };
    }

    std::vector<int> ownedAtLaunch;
};

TEST_F(MachineTurnTest, ARunWaitsBoundedForTheMachinesTurnAndDoesNothingWithoutIt)
{
    for (const TurnRow& row : kRows) {
        SCOPED_TRACE(row.name);
        ownedAtLaunch.clear();
        Arrange(row);
        const uint32_t startTicks = Sim().tickCount;
        EXPECT_EQ(row.exitCode, RunStager(row.argument));
        EXPECT_EQ(row.waits, TraceCount("WaitForSingleObject 300000") == 1);
        const uint32_t waited = !row.waits ? 0u : row.exitCode == 24 ? uint32_t{TURN_WAIT_MS} : row.afterMs;
        EXPECT_EQ(waited, Sim().tickCount - startTicks);
        // The turn is given back (or was never owned); nothing is left open.
        EXPECT_EQ(0, SimMutexOwnership(kMachineTurnName));
        EXPECT_EQ(0, Sim().openHandles);
        EXPECT_EQ(0, RunLog.isOpen);
        if (row.exitCode == 0) {
            // The log is this run's, whole; the tool ran under the run's turn.
            std::vector<std::string> lines = LogLines(kLog);
            ASSERT_GE(lines.size(), 1 + row.turnLines.size());
            for (size_t i = 0; i < row.turnLines.size(); ++i) {
                EXPECT_EQ("MERVODriverStager | WinMain | " + row.turnLines[i], lines[1 + i]);
            }
            EXPECT_EQ(row.turnLines.size(),
                      CountStartingWith(lines, "MERVODriverStager | WinMain | Waited") +
                          CountStartingWith(lines, "MERVODriverStager | WinMain | The installation"));
            ASSERT_EQ(2u, Sim().launches.size());
            const bool inherited = row.marker != nullptr && row.holder != NONE;
            EXPECT_EQ((std::vector<int>{inherited ? 0 : 1, inherited ? 0 : 1}), ownedAtLaunch);
            EXPECT_EQ(row.passedOn, Sim().launches[0].environment[kMachineTurnVariable]);
            continue;
        }
        // No turn: nothing touched, the earlier run's log as it was, the
        // reason in a log of its own (unless "nolog") and in a box.
        EXPECT_TRUE(Sim().launches.empty());
        EXPECT_EQ(0u, TraceCount("CopyFileA") + TraceCount("SetupCopyOEMInfA") + TraceCount("DeleteFileA"));
        EXPECT_EQ(earlierLog, Read(kLog));
        EXPECT_EQ((std::vector<std::string>{boxes::Logged(boxes::kErrorCaption, boxes::kTurnWaitedOut)}),
                  BoxTexts());
        const bool logged = std::string(row.argument).find("nolog") == std::string::npos;
        ASSERT_EQ(logged, SimFileExists(kNotRunLog));
        if (logged) {
            EXPECT_EQ((std::vector<std::string>{
                          "MERVODriverStager | WinMain | Log created: C:\\Temp\\MERVOStageLog-NotRun.txt.",
                          std::string("MERVODriverStager | WinMain | ") + boxes::kTurnWaitedOut}),
                      LogLines(kNotRunLog));
            EXPECT_EQ(kLogClosingLine, LogFileLines(kNotRunLog).back());
        }
    }
}

// Before Windows 2000 the name is refused (there is no "Global" namespace):
// there is no turn, and the system is refused by its version as ever.
TEST_F(MachineTurnTest, ASystemWithoutMachineWideNamesIsRefusedByItsVersion)
{
    for (uint32_t error : {3u, 123u, 161u}) {
        SCOPED_TRACE(error);
        FreshMachine();
        WritePackage();
        SimSetVersion(PS_VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6");
        Sim().failAlways[SIM_CreateMutexA] = true;
        Sim().failError[SIM_CreateMutexA] = error;
        EXPECT_EQ(2, RunStager("nodisplay"));
        EXPECT_EQ(
            (std::vector<std::string>{boxes::Logged(boxes::kErrorCaption, boxes::OsRefusal("Windows NT"))}),
            BoxTexts());
    }
}

// The 32-bit stager on 64-bit Windows takes the turn before it hands its run
// on; the 64-bit build is started under it.
TEST_F(MachineTurnTest, The32BitBuildHandsItsTurnOnWithItsRun)
{
    SimReset(root);
    WritePackage();
    Write("C:\\pkg\\MERVODriverStager64.exe", "64-bit build");
    Sim().wow64 = true;
    Sim().onLaunch = [this](const std::string&) {
        ownedAtLaunch.push_back(SimMutexOwnership(kMachineTurnName));
        return SimProcessScript{SIM_PROCESS_ENDS, 0};
    };
    EXPECT_EQ(0, RunStager(""));
    ASSERT_EQ(1u, Sim().launches.size());
    EXPECT_EQ(std::vector<int>{1}, ownedAtLaunch);
    EXPECT_EQ("4242", Sim().launches[0].environment[kMachineTurnVariable]);
    EXPECT_EQ(0, SimMutexOwnership(kMachineTurnName));
    EXPECT_EQ(0, Sim().openHandles);
}

}  // namespace
