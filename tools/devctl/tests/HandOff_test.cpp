#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DevCtl.h"
#include "SimulatedDevCtl.h"
#include "TestFiles.h"

namespace {

struct DecisionCase {
    const char* name;
    bool wow64Known;
    bool wow64;
    const char* modulePath;
    bool modulePathFails;
    std::vector<std::string> files;
    int decision;
    const char* path64;  // checked for HANDOFF_TO_64BIT and HANDOFF_64BIT_MISSING
};

// clang-format off
const DecisionCase DECISION_CASES[] = {
    {"32-bit Windows", true, false, "C:\\pkg\\MERVODevCtl.exe", false,
     {"C:\\pkg\\MERVODevCtl64.exe"}, HANDOFF_RUN_HERE, ""},
    {"Windows 2000: no IsWow64Process", false, true, "C:\\pkg\\MERVODevCtl.exe", false, {},
     HANDOFF_RUN_HERE, ""},
    {"32-bit on 64-bit, 64-bit build beside it", true, true, "C:\\pkg\\MERVODevCtl.exe", false,
     {"C:\\pkg\\MERVODevCtl64.exe"}, HANDOFF_TO_64BIT, "C:\\pkg\\MERVODevCtl64.exe"},
    {"file names compare without case", true, true, "C:\\Program Files\\M\\mervodevctl.EXE", false,
     {"c:\\program files\\m\\mervodevctl64.exe"}, HANDOFF_TO_64BIT,
     "C:\\Program Files\\M\\MERVODevCtl64.exe"},
    {"32-bit on 64-bit, 64-bit build missing", true, true, "C:\\pkg\\MERVODevCtl.exe", false,
     {"C:\\other\\MERVODevCtl64.exe"}, HANDOFF_64BIT_MISSING, "C:\\pkg\\MERVODevCtl64.exe"},
    {"own path unknown", true, true, "", true, {"C:\\pkg\\MERVODevCtl64.exe"},
     HANDOFF_64BIT_MISSING, ""},
    {"own path without a folder", true, true, "MERVODevCtl.exe", false, {"MERVODevCtl64.exe"},
     HANDOFF_64BIT_MISSING, ""},
};
// clang-format on

TEST(HandOff, OnlyA32BitProcessOn64BitWindowsHandsOff)
{
    for (const DecisionCase& c : DECISION_CASES) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        Sim().wow64Known = c.wow64Known;
        Sim().wow64 = c.wow64;
        Sim().modulePath = c.modulePath;
        Sim().failAlways[SIM_GetModuleFileNameA] = c.modulePathFails;
        for (const std::string& file : c.files) {
            WriteTestFile(file, "MZ");
        }
        char path64[DEVCTL_PATH_SIZE] = "unchanged";
        EXPECT_EQ(c.decision, DecideHandOff(path64, sizeof path64));
        if (c.decision != HANDOFF_RUN_HERE) {
            EXPECT_STREQ(c.path64, path64);
        }
    }
}

TEST(HandOff, AnOwnPathTooLongForTheBufferIsNotUsed)
{
    SimTreeReset();
    Sim().wow64 = true;
    std::string folder = "C:";
    while (folder.size() < 600) {
        folder += "\\" + std::string(100, 'd');
    }
    Sim().modulePath = folder + "\\MERVODevCtl.exe";
    WriteTestFile(folder + "\\MERVODevCtl64.exe", "MZ");
    char path64[DEVCTL_PATH_SIZE];
    EXPECT_EQ(HANDOFF_64BIT_MISSING, DecideHandOff(path64, sizeof path64));
}

struct ArgumentCase {
    const char* commandLine;
    const char* arguments;
};

const ArgumentCase ARGUMENT_CASES[] = {
    {"\"C:\\pkg dir\\MERVODevCtl.exe\" remove \"C:\\pkg dir\\MERVOUSB.inf\" *VID_0123*",
     "remove \"C:\\pkg dir\\MERVOUSB.inf\" *VID_0123*"},
    {"MERVODevCtl.exe rescan", "rescan"},
    {"MERVODevCtl.exe \t  rescan  ", "rescan  "},
    {"\"C:\\a b\\x.exe\"rescan", "rescan"},
    {"MERVODevCtl.exe", ""},
    {"\"unterminated quote", ""},
    {"", ""},
};

TEST(HandOff, ArgumentTextFollowsTheProgramName)
{
    for (const ArgumentCase& c : ARGUMENT_CASES) {
        SCOPED_TRACE(c.commandLine);
        EXPECT_STREQ(c.arguments, ArgumentText(c.commandLine));
    }
}

TEST(HandOff, RunsThe64BitBuildWithTheExactArgumentText)
{
    SimTreeReset();
    Sim().wow64 = true;
    WriteTestFile("C:\\pkg\\MERVODevCtl64.exe", "MZ");
    SimTree().commandLine = "\"C:\\pkg\\MERVODevCtl.exe\" remove \"C:\\pkg\\MERVOUSB.inf\"  *VID_0123*";
    SimTree().runExitCode = 69;
    SimAddDevice("ROOT\\PORTS\\0000", {"USB\\VID_0123&PID_4567"});
    const char* argv[] = {"MERVODevCtl.exe", "remove", "C:\\pkg\\MERVOUSB.inf", "*VID_0123*"};
    EXPECT_EQ(69, RunDevCtl(4, argv));
    EXPECT_EQ(std::vector<std::string>{"C:\\pkg\\MERVODevCtl64.exe|\"C:\\pkg\\MERVODevCtl64.exe\" "
                                       "remove \"C:\\pkg\\MERVOUSB.inf\"  *VID_0123*"},
              SimTree().runs);
    // The 32-bit process itself did nothing.
    EXPECT_TRUE(SimTree().removalSteps.empty());
    EXPECT_TRUE(SimTree().cmCalls.empty());
    EXPECT_TRUE(SimTree().output.empty());
}

struct HandOffRunCase {
    const char* name;
    std::vector<std::string> files;
    int32_t runResult;
    std::string commandLine;
    int exitCode;
    const char* line;  // the one line printed, or null for none
};

TEST(HandOff, FailuresOfTheHandOffHaveTheirOwnCodes)
{
    // clang-format off
    const HandOffRunCase cases[] = {
        {"64-bit build exits 0", {"C:\\pkg\\MERVODevCtl64.exe"}, 0, "x.exe rescan", 0, nullptr},
        {"64-bit build missing", {}, 0, "x.exe rescan", DEVCTL_EXIT_64BIT_MISSING,
         "This is 64-bit Windows and the 64-bit build C:\\pkg\\MERVODevCtl64.exe is missing: "
         "nothing was done."},
        {"64-bit build cannot start", {"C:\\pkg\\MERVODevCtl64.exe"}, 1, "x.exe rescan",
         DEVCTL_EXIT_64BIT_NOT_RUN,
         "The 64-bit build C:\\pkg\\MERVODevCtl64.exe could not be started (error 2)."},
        {"64-bit build gives no exit code", {"C:\\pkg\\MERVODevCtl64.exe"}, 2, "x.exe rescan",
         DEVCTL_EXIT_64BIT_NOT_RUN,
         "The 64-bit build C:\\pkg\\MERVODevCtl64.exe could not be waited for (error 2)."},
        {"argument text too long", {"C:\\pkg\\MERVODevCtl64.exe"}, 0,
         "x.exe remove " + std::string(DEVCTL_COMMAND_LINE_SIZE, 'a'),
         DEVCTL_EXIT_ARGUMENTS_TOO_LONG,
         "The argument text is too long to hand to the 64-bit build."},
        // "\"C:\\pkg\\MERVODevCtl64.exe\" remove " is 34 characters.
        {"command line of 32766", {"C:\\pkg\\MERVODevCtl64.exe"}, 0,
         "x.exe remove " + std::string(32766 - 34, 'a'), 0, nullptr},
        {"command line of 32767", {"C:\\pkg\\MERVODevCtl64.exe"}, 0,
         "x.exe remove " + std::string(32767 - 34, 'a'), DEVCTL_EXIT_ARGUMENTS_TOO_LONG,
         "The argument text is too long to hand to the 64-bit build."},
    };
    // clang-format on
    for (const HandOffRunCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        Sim().wow64 = true;
        for (const std::string& file : c.files) {
            WriteTestFile(file, "MZ");
        }
        SimTree().runResult = c.runResult;
        SimTree().runExitCode = 0;
        SimTree().commandLine = c.commandLine;
        const char* argv[] = {"x.exe", "rescan"};
        EXPECT_EQ(c.exitCode, RunDevCtl(2, argv));
        if (c.line == nullptr) {
            EXPECT_TRUE(SimTree().output.empty());
            // The whole argument text is handed on, after the 64-bit build's quoted path.
            const std::string path64 = "C:\\pkg\\MERVODevCtl64.exe";
            EXPECT_EQ(std::vector<std::string>{path64 + "|\"" + path64 + "\" " + c.commandLine.substr(6)},
                      SimTree().runs);
        } else {
            EXPECT_EQ(std::vector<std::string>{c.line}, SimTree().output);
        }
        EXPECT_TRUE(SimTree().cmCalls.empty());
    }
}

}  // namespace
