// Runs in a window station that is not visible (a service's, a deployment
// agent's): no box is shown, each goes to the log as one line, and the run
// ends exactly as the interactive run whose boxes were answered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "TestSupport.h"
#include "log/LogFile.h"
#include "platform/simulated/SimulatedPlatform.h"
#include "system/Boxes.h"

namespace {

const char kLog[] = "C:\\Temp\\MERVOStageLog.txt";
const std::string kBoxLine = "Boxes | ShowBox | Message box not shown (no interactive desktop): ";

struct Scenario {
    const char* name;
    const char* argumentText;
    std::function<void()> prepare;  // after the package is written
    int code;
    std::vector<std::string> boxes;  // "caption: text" of the interactive run, as logged
    bool logged;                     // the boxes come while the log is open
};

class UnattendedBoxesTest : public SimTest {
protected:
    struct Outcome {
        int code;
        std::vector<std::string> boxes;
        bool logExists;
        std::vector<std::string> lines;
    };

    Outcome RunIn(const Scenario& scenario, uint32_t stationFlags, const std::string& extraArgument)
    {
        FreshMachine();
        WritePackage();
        if (scenario.prepare) {
            scenario.prepare();
        }
        Sim().windowStationFlags = stationFlags;
        Outcome outcome;
        outcome.code = RunStager(scenario.argumentText + extraArgument);
        outcome.boxes = BoxTexts();
        outcome.logExists = SimFileExists(kLog);
        if (outcome.logExists) {
            outcome.lines = LogLines(kLog);
        }
        EXPECT_EQ(0, RunLog.isOpen);
        return outcome;
    }
};

std::vector<std::string> WithoutBoxLines(std::vector<std::string> lines)
{
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.rfind(kBoxLine, 0) == 0; }),
                lines.end());
    return lines;
}

std::vector<std::string> BoxLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> boxLines;
    for (const std::string& line : lines) {
        if (line.rfind(kBoxLine, 0) == 0) {
            boxLines.push_back(line.substr(kBoxLine.size()));
        }
    }
    return boxLines;
}

TEST_F(UnattendedBoxesTest, EveryBoxBecomesALogLineAndTheRunEndsAsIfAnswered)
{
    const std::string kSuccess = "MERVODriverStager: Driver Pre-install OK: you can now plug your device.";
    const Scenario scenarios[] = {
        {"success box", "", nullptr, 0, {kSuccess}, true},
        {"tool missing",
         "",
         [this] { std::remove(SimHostPath("C:\\pkg\\MERVODevCtl.exe").c_str()); },
         0,
         {"Device Install Error: Unable to remove driver instances.",
          "Device Install Error: Unable to launch rescan.", kSuccess},
         true},
        {"copy step fails: system text ending in CR LF",
         "nodisplay",
         [] {
             Sim().failAlways[SIM_GetSystemDirectoryA] = true;
             Sim().failError[SIM_GetSystemDirectoryA] = PS_ERROR_ACCESS_DENIED;
         },
         23,
         {"Error: Access is denied."},
         true},
        {"staging refused: code without system text",
         "",
         [this] {
             WritePackage(std::string(kTypicalInf).substr(std::string(kTypicalInf).find("[Manufacturer]")));
         },
         22,
         {"Error: System error 0xE0000100."},
         true},
        {"unsupported system",
         "",
         [] { SimSetVersion(1, 4, 90, 73010104, " "); },
         2,
         {boxes::Logged(boxes::kErrorCaption, boxes::OsRefusal("Windows Millenium Edition"))},
         true},
        {"64-bit build missing",
         "",
         [] { Sim().wow64 = true; },
         23,
         {boxes::Logged(boxes::kErrorCaption, boxes::kStager64Missing)},
         true},
        // Before the log is open: nothing to write to, and still nothing waits.
        {"no temporary folder",
         "",
         [] { Sim().failAlways[SIM_GetTempPathA] = true; },
         1,
         {boxes::Logged(boxes::kErrorCaption, boxes::kNoTempFolder)},
         false},
        {"usage", "/?", nullptr, 0, {}, false},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        const Outcome answered = RunIn(scenario, PS_WSF_VISIBLE, "");
        EXPECT_EQ(scenario.code, answered.code);
        ASSERT_FALSE(answered.boxes.empty());
        if (scenario.logged) {
            EXPECT_TRUE(BoxLines(answered.lines).empty());
        }

        for (uint32_t flags : {0u, 0x0002u}) {  // no flags; a flag other than WSF_VISIBLE
            SCOPED_TRACE(flags);
            const Outcome unattended = RunIn(scenario, flags, "");
            EXPECT_EQ(scenario.code, unattended.code);
            EXPECT_TRUE(unattended.boxes.empty());
            EXPECT_EQ(answered.logExists, unattended.logExists);
            if (scenario.logged) {
                EXPECT_EQ(scenario.boxes, BoxLines(unattended.lines));
                EXPECT_EQ(answered.lines, WithoutBoxLines(unattended.lines));
            }
        }

        // Without a log the lines go nowhere; the run still waits for nothing.
        const Outcome silent = RunIn(scenario, 0, " nolog");
        EXPECT_EQ(scenario.code, silent.code);
        EXPECT_TRUE(silent.boxes.empty());
        EXPECT_FALSE(silent.logExists);
    }
}

TEST_F(UnattendedBoxesTest, AStationThatCannotBeAskedShowsTheBoxAndKeepsTheLastError)
{
    Sim().windowStationFlags = 0;
    Sim().failAlways[SIM_GetWindowStationFlags] = true;
    Platform.SetLastError(1234);
    ShowBox("text", "caption", PS_MB_OK);
    EXPECT_EQ((std::vector<std::string>{"caption: text"}), BoxTexts());
    EXPECT_EQ(1234u, Platform.GetLastError());
}

// The line holds at most 511 characters: a longer one is cut there, and line
// breaks, tabs and trailing blanks never split or pad it.
TEST_F(UnattendedBoxesTest, LogLineIsOneLineOfAtMost511Characters)
{
    const std::string prefix = std::string(kBoxNotShown) + "C: ";
    struct LineCase {
        const char* name;
        std::string text;
        std::string logged;  // after "Boxes | ShowBox | "
    };
    const std::string fits(511 - prefix.size(), 'x');
    const LineCase cases[] = {
        {"511 characters", fits, prefix + fits},
        {"512 characters", fits + "y", prefix + fits},
        {"breaks and tabs", "a\r\nb\tc\n\r\n  ", prefix + "a  b c"},
        {"only breaks", "\r\n", std::string(kBoxNotShown) + "C:"},
    };
    Sim().windowStationFlags = 0;
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(1, OpenLog(kLog));
        ShowBox(c.text.c_str(), "C", PS_MB_OK);
        CloseLog();
        const std::vector<std::string> lines = LogLines(kLog);
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ("Boxes | ShowBox | " + c.logged, lines[0]);
    }
    EXPECT_TRUE(Sim().boxes.empty());
}

}  // namespace
