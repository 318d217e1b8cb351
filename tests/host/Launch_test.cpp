#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "TestSupport.h"
#include "app/MERVODriverStager.h"
#include "log/LogFile.h"
#include "platform/simulated/SimulatedPlatform.h"
#include "system/Dirs.h"

namespace {

const char kLog[] = "C:\\Temp\\log.txt";

class LaunchTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ReadArgumentText("");
        Write("C:\\pkg\\MERVODevCtl.exe", "tool");
        table.count = 1;
        strcpy(table.entries[0].vid, "1A2B");
        ASSERT_EQ(1, OpenLog(kLog));
    }
    std::vector<std::string> LoggedTexts()
    {
        CloseLog();
        return LogLines(kLog, " ");
    }
    DeviceIdTable table;
};

const std::string kRemoved = "MERVODriverStager RemoveDriverInstances Driver instances removed OK.";
const std::string kRemoveFailed =
    "MERVODriverStager RemoveDriverInstances Error: Driver instances remove failed !!";
const std::string kMounted = "MERVODriverStager RemountDriverInstances Driver instances mounted OK.";
const std::string kMountFailed =
    "MERVODriverStager RemountDriverInstances Error: Driver instances mount failed !!";
const std::string kTimedOut = "Dirs LaunchAndWait Process timed out.";

TEST_F(LaunchTest, CommandLinesAreExactAndStartedWithoutAWindow)
{
    strcpy(table.entries[1].vid, "FFFF");  // only the first entry's vendor reaches the tool
    table.count = 2;
    EXPECT_EQ(0, RemoveDriverInstances("C:\\pkg", &table));
    EXPECT_EQ(0, RemountDriverInstances("C:\\pkg"));
    ASSERT_EQ(2u, Sim().launches.size());
    EXPECT_EQ("\"C:\\pkg\\MERVODevCtl.exe\" remove \"C:\\pkg\\MERVOUSB.inf\" *VID_1A2B*",
              Sim().launches[0].commandLine);
    EXPECT_EQ("\"C:\\pkg\\MERVODevCtl.exe\" rescan", Sim().launches[1].commandLine);
    for (const SimLaunch& launch : Sim().launches) {
        EXPECT_EQ("", launch.applicationName);
        EXPECT_EQ(static_cast<uint32_t>(PS_CREATE_NO_WINDOW), launch.creationFlags);
        EXPECT_EQ(0, launch.inheritHandles);
        EXPECT_FALSE(launch.environmentGiven);
        EXPECT_FALSE(launch.currentDirectoryGiven);
        // A cleared start-up record with only its size set.
        PsStartupInfo expected;
        memset(&expected, 0, sizeof expected);
        expected.cb = sizeof expected;
        EXPECT_EQ(0, memcmp(&expected, &launch.startupInfo, sizeof expected));
        EXPECT_EQ((std::vector<uint32_t>{30000}), launch.waits);
    }
    EXPECT_EQ(0, Sim().openHandles);
    EXPECT_TRUE(Sim().boxes.empty());
    EXPECT_EQ((std::vector<std::string>{kRemoved, kMounted}), LoggedTexts());
}

TEST_F(LaunchTest, FolderWithBlanksStaysWholeBetweenQuotes)
{
    Write("C:\\My Programs\\Device Kit\\MERVODevCtl.exe", "tool");
    ReadArgumentText("\"My Driver.inf\"");
    EXPECT_EQ(0, RemoveDriverInstances("C:\\My Programs\\Device Kit", &table));
    ASSERT_EQ(1u, Sim().launches.size());
    EXPECT_EQ(
        "\"C:\\My Programs\\Device Kit\\MERVODevCtl.exe\" remove "
        "\"C:\\My Programs\\Device Kit\\My Driver.inf\" *VID_1A2B*",
        Sim().launches[0].commandLine);
}

TEST_F(LaunchTest, AbsentCommandLineDoesNothing)
{
    EXPECT_EQ(1, LaunchAndWait(nullptr, "text"));
    EXPECT_TRUE(Sim().launches.empty());
    EXPECT_TRUE(Sim().boxes.empty());
    EXPECT_TRUE(LoggedTexts().empty());
}

TEST_F(LaunchTest, StartFailureShowsTheFailureTextIfAny)
{
    Sim().process = {SIM_PROCESS_FAILS_TO_START, 0};
    char command[] = "\"C:\\pkg\\MERVODevCtl.exe\" rescan";
    EXPECT_EQ(2, LaunchAndWait(command, nullptr));
    EXPECT_TRUE(Sim().boxes.empty());
    EXPECT_EQ(2, LaunchAndWait(command, "Failure text."));
    ASSERT_EQ(1u, Sim().boxes.size());
    EXPECT_EQ("Failure text.", Sim().boxes[0].text);
    EXPECT_EQ(boxes::kLaunchErrorCaption, Sim().boxes[0].caption);
    EXPECT_EQ(0u, Sim().boxes[0].type);
    EXPECT_TRUE(LoggedTexts().empty());
}

TEST_F(LaunchTest, MissingToolGivesBothBoxesAndErrorLines)
{
    FreshMachine();                 // without the tool
    ReadArgumentText("nodisplay");  // the option concerns only the final box
    ASSERT_EQ(1, OpenLog(kLog));
    EXPECT_EQ(2, RemoveDriverInstances("C:\\pkg", &table));
    EXPECT_EQ(2, RemountDriverInstances("C:\\pkg"));
    ASSERT_EQ(2u, Sim().boxes.size());
    EXPECT_EQ(boxes::kRemoveFailed, Sim().boxes[0].text);
    EXPECT_EQ(boxes::kRescanFailed, Sim().boxes[1].text);
    EXPECT_EQ(boxes::kLaunchErrorCaption, Sim().boxes[1].caption);
    EXPECT_EQ((std::vector<std::string>{kRemoveFailed, kMountFailed}), LoggedTexts());
}

TEST_F(LaunchTest, ToolOutcomesOtherThanAStartFailureCountAsDone)
{
    struct OutcomeCase {
        const char* name;
        SimProcessScript script;
        bool failWait;
        std::vector<std::string> lines;
    };
    const OutcomeCase cases[] = {
        {"ends with a failure code", {SIM_PROCESS_ENDS, 5}, false, {kRemoved}},
        {"runs past the wait", {SIM_PROCESS_RUNS_PAST_WAIT, 0}, false, {kTimedOut, kRemoved}},
        {"the wait itself fails", {SIM_PROCESS_RUNS_PAST_WAIT, 0}, true, {kRemoved}},
    };
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshMachine();
        Write("C:\\pkg\\MERVODevCtl.exe", "tool");
        ASSERT_EQ(1, OpenLog(kLog));
        Sim().process = c.script;
        Sim().failAlways[SIM_WaitForSingleObject] = c.failWait;
        EXPECT_EQ(0, RemoveDriverInstances("C:\\pkg", &table));
        EXPECT_EQ(c.lines, LoggedTexts());
        EXPECT_EQ(0, Sim().openHandles);  // both handles closed, ended or not
        EXPECT_TRUE(Sim().boxes.empty());
    }
}

// A command line of 519 characters is started; one of 520 would not fit its
// buffer and is refused like a tool that cannot start.
TEST_F(LaunchTest, CommandLinesOf519AreStartedAndOf520Refused)
{
    // remove: 2 * folder + INF name + 40 characters.
    const std::string folder = "C:\\" + std::string(230, 'p');
    for (const char* inf : {"MERVOUSB1.inf", "MERVOUSB12.inf"}) {
        SCOPED_TRACE(inf);
        FreshMachine();
        Write(folder + "\\MERVODevCtl.exe", "tool");
        ASSERT_EQ(1, OpenLog(kLog));
        ReadArgumentText(inf);
        const bool fits = strlen(inf) == 13;
        EXPECT_EQ(fits ? 0 : 2, RemoveDriverInstances(folder.c_str(), &table));
        ASSERT_EQ(fits ? 1u : 0u, Sim().launches.size());
        if (fits) {
            EXPECT_EQ(519u, Sim().launches[0].commandLine.size());
        } else {
            ASSERT_EQ(1u, Sim().boxes.size());
            EXPECT_EQ(boxes::kRemoveFailed, Sim().boxes[0].text);
        }
        EXPECT_EQ((std::vector<std::string>{fits ? kRemoved : kRemoveFailed}), LoggedTexts());
    }
    // rescan: folder + 25 characters.
    for (size_t length : {494u, 495u}) {
        SCOPED_TRACE(length);
        FreshMachine();
        const std::string longFolder = "C:\\" + std::string(length - 3, 'q');
        Sim().process = {SIM_PROCESS_ENDS, 0};
        Sim().onLaunch = [](const std::string&) { return SimProcessScript{SIM_PROCESS_ENDS, 0}; };
        ASSERT_EQ(1, OpenLog(kLog));
        const bool fits = length == 494u;
        EXPECT_EQ(fits ? 0 : 2, RemountDriverInstances(longFolder.c_str()));
        ASSERT_EQ(fits ? 1u : 0u, Sim().launches.size());
        if (fits) {
            EXPECT_EQ(519u, Sim().launches[0].commandLine.size());
        }
        EXPECT_EQ(fits ? 0u : 1u, Sim().boxes.size());
        EXPECT_EQ((std::vector<std::string>{fits ? kMounted : kMountFailed}), LoggedTexts());
    }
}

}  // namespace
