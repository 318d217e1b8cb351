// Under Wine: how the real program starts the companion tool MERVODevCtl.exe
// (here the double, which records its command lines), waits for it at most
// 30 seconds, and goes on when it fails or is missing.
#include <algorithm>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "StagerTest.h"

namespace {

using e2e::Entry;

const std::string kRemovedOk =
    Entry("MERVODriverStager", "RemoveDriverInstances", "Driver instances removed OK.");
const std::string kMountedOk =
    Entry("MERVODriverStager", "RemountDriverInstances", "Driver instances mounted OK.");
const std::string kTimedOut = Entry("Dirs", "LaunchAndWait", "Process timed out.");

class CompanionTool : public StagerTest {};

// The tool is started twice, with the exact remove and rescan command lines.
TEST_F(CompanionTool, RecordsTheExactRemoveAndRescanCommandLines)
{
    e2e::WineVersion version("winxp");
    e2e::RunResult run = Run("nodisplay");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ((std::vector<std::string>{RemoveCommand(), RescanCommand()}), ToolCommandLines());
    std::vector<std::string> steps = e2e::RunLogSteps();
    EXPECT_TRUE(InOrder(steps, {kRemovedOk, SequenceEntry("Pre-installing driver."), kMountedOk}));
}

// The tool's own exit code is never read: a failing tool still counts as run.
TEST_F(CompanionTool, FailureExitCodeOfTheToolChangesNothing)
{
    e2e::WineVersion version("winxp");
    e2e::RunResult run = Run("nodisplay", {{e2e::kDoubleExit, "5"}});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(2u, ToolCommandLines().size());
    EXPECT_TRUE(InOrder(e2e::RunLogSteps(), {kRemovedOk, kMountedOk}));
}

// A missing tool: one box per command (also with "nodisplay"), the two error
// lines, and the same exit code as with a working tool; the driver files are
// still copied and the INF staged.
TEST_F(CompanionTool, MissingToolGivesTwoBoxesAndTheSameExitCode)
{
    e2e::PackageOptions options;
    options.companionDouble = false;
    Prepare(options);
    const std::string target = e2e::JoinPath(e2e::DriversFolder(), "mervousb.sys");
    ASSERT_TRUE(e2e::RemoveFile(target));
    e2e::WineVersion version("winxp");

    e2e::RunResult run = Run("nodisplay");

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ((std::vector<e2e::MessageBoxSeen>{{boxes::kLaunchErrorCaption, boxes::kRemoveFailed},
                                                {boxes::kLaunchErrorCaption, boxes::kRescanFailed}}),
              run.boxes);
    std::vector<std::string> steps = e2e::RunLogSteps();
    EXPECT_TRUE(InOrder(
        steps,
        {Entry("MERVODriverStager", "RemoveDriverInstances", "Error: Driver instances remove failed !!"),
         SequenceEntry("Driver files copied OK."), SequenceEntry("Driver pre-installed OK."),
         Entry("MERVODriverStager", "RemountDriverInstances", "Error: Driver instances mount failed !!")}))
        << ::testing::PrintToString(steps);
    EXPECT_TRUE(e2e::FileExists(target));
}

// A tool that runs past the 30-second limit: "Process timed out." after about
// 30 s, then the caller's success line, and the run goes on to its end while
// the tool keeps running.
class CompanionToolTimeout : public StagerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CompanionToolTimeout, ToolSleeping40sTimesOutAfter30sAndTheRunGoesOn)
{
    const std::string command = GetParam();
    const bool remove = command == "remove";
    e2e::WineVersion version("winxp");

    e2e::RunResult run =
        Run("nodisplay", {{remove ? e2e::kDoubleSleepRemove : e2e::kDoubleSleepRescan, "40"}}, 90000);

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_GE(run.elapsedMs, 29500u);
    EXPECT_LT(run.elapsedMs, 39000u);
    std::vector<e2e::DoubleLaunch> launches = e2e::ReadDoubleRecord(record_);
    ASSERT_EQ(2u, launches.size());
    EXPECT_EQ(RemoveCommand(), launches[0].commandLine);
    EXPECT_EQ(RescanCommand(), launches[1].commandLine);

    // The sleeping tool was left running.
    HANDLE sleeper = OpenProcess(SYNCHRONIZE, FALSE, launches[remove ? 0 : 1].processId);
    ASSERT_NE(sleeper, nullptr);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(sleeper, 0));
    CloseHandle(sleeper);

    std::vector<std::string> steps = e2e::RunLogSteps();
    ASSERT_GE(steps.size(), 3u);
    if (remove) {
        EXPECT_TRUE(InOrder(steps, {kTimedOut, kRemovedOk, SequenceEntry("Pre-installing driver."),
                                    SequenceEntry("Driver pre-installed OK."), kMountedOk}))
            << ::testing::PrintToString(steps);
    } else {
        EXPECT_EQ(kTimedOut, steps[steps.size() - 2]);
        EXPECT_EQ(kMountedOk, steps.back());
    }
    EXPECT_EQ(1, std::count(steps.begin(), steps.end(), kTimedOut));
}

INSTANTIATE_TEST_SUITE_P(Commands, CompanionToolTimeout, ::testing::Values("remove", "rescan"));

}  // namespace
