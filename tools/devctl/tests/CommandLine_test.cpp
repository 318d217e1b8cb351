#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DevCtl.h"
#include "SimulatedDevCtl.h"
#include "TestFiles.h"

namespace {

struct CommandCase {
    const char* name;
    std::vector<std::string> arguments;  // after the program name
    int exitCode;
    const char* firstLine;  // the first line printed
};

const std::string LONG_WORD(100000, 'x');

const std::vector<CommandCase>& CommandCases()
{
    // clang-format off
    static const std::vector<CommandCase> cases = {
        {"nothing", {}, DEVCTL_EXIT_USAGE, "No command given."},
        {"unknown command", {"delete"}, DEVCTL_EXIT_USAGE, "Unknown command."},
        {"empty command", {""}, DEVCTL_EXIT_USAGE, "Unknown command."},
        {"long command", {LONG_WORD}, DEVCTL_EXIT_USAGE, "Unknown command."},
        {"remove without arguments", {"remove"}, DEVCTL_EXIT_USAGE,
         "remove takes an INF path and a pattern."},
        {"remove without pattern", {"remove", "C:\\pkg\\MERVOUSB.inf"}, DEVCTL_EXIT_USAGE,
         "remove takes an INF path and a pattern."},
        {"missing closing quote joins the words", {"remove", "C:\\pkg\\MERVOUSB.inf *VID_0123*"},
         DEVCTL_EXIT_USAGE, "remove takes an INF path and a pattern."},
        {"unquoted path with a blank", {"remove", "C:\\my", "pkg\\MERVOUSB.inf", "*VID_0123*"},
         DEVCTL_EXIT_USAGE, "remove takes an INF path and a pattern."},
        {"empty path", {"remove", "", "*VID_0123*"}, DEVCTL_EXIT_USAGE,
         "The INF path and the pattern must not be empty."},
        {"empty pattern", {"remove", "C:\\pkg\\MERVOUSB.inf", ""}, DEVCTL_EXIT_USAGE,
         "The INF path and the pattern must not be empty."},
        {"long absent INF path", {"remove", LONG_WORD, "*"}, DEVCTL_EXIT_INF_UNREADABLE,
         "Cannot open the INF file "},
        {"rescan with an argument", {"rescan", "now"}, DEVCTL_EXIT_USAGE,
         "rescan takes no arguments."},
        {"help with an argument", {"/?", "x"}, DEVCTL_EXIT_USAGE, "Unknown command."},
        {"help", {"/?"}, DEVCTL_EXIT_OK, "Usage: MERVODevCtl remove \"<INF path>\" <pattern>"},
        {"help, other spelling", {"--HELP"}, DEVCTL_EXIT_OK,
         "Usage: MERVODevCtl remove \"<INF path>\" <pattern>"},
        {"rescan", {"rescan"}, DEVCTL_EXIT_OK, "Device tree rescanned OK."},
        {"rescan in capitals", {"RESCAN"}, DEVCTL_EXIT_OK, "Device tree rescanned OK."},
    };
    // clang-format on
    return cases;
}

TEST(CommandLine, WrongCommandLinesShowUsageAndEndNonzero)
{
    for (const CommandCase& c : CommandCases()) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        SimAddDevice("ROOT\\PORTS\\0000", {"USB\\VID_0123&PID_4567"});
        EXPECT_EQ(c.exitCode, SimRunWords(c.arguments));
        ASSERT_FALSE(SimTree().output.empty());
        EXPECT_EQ(0u, SimTree().output[0].find(c.firstLine)) << SimTree().output[0];
        bool usageShown = SimOutputText().find("Usage: MERVODevCtl") != std::string::npos;
        EXPECT_EQ(c.exitCode == DEVCTL_EXIT_USAGE || std::string(c.name).find("help") == 0, usageShown);
        EXPECT_EQ(1u, SimRemainingDevices().size());
    }
}

TEST(CommandLine, AbsentArgumentsAreEmptyWords)
{
    SimTreeReset();
    EXPECT_EQ(DEVCTL_EXIT_USAGE, RunDevCtl(0, nullptr));
    const char* argv[] = {"MERVODevCtl.exe", "remove", nullptr, nullptr};
    EXPECT_EQ(DEVCTL_EXIT_USAGE, RunDevCtl(4, argv));
    const char* noCommand[] = {"MERVODevCtl.exe", nullptr};
    EXPECT_EQ(DEVCTL_EXIT_USAGE, RunDevCtl(2, noCommand));
}

// The usage text and the README name every code of the tool's one list (the
// configuration manager's range as "1-63").
TEST(CommandLine, UsageAndReadmeNameEveryExitCode)
{
    SimTreeReset();
    PrintUsage();
    std::string usage = SimOutputText();
    std::ifstream readmeFile(MERVO_DEVCTL_README);
    std::string readme((std::istreambuf_iterator<char>(readmeFile)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(readme.empty());
    EXPECT_NE(std::string::npos, usage.find("0 done"));
    EXPECT_NE(std::string::npos, usage.find("19 CR_FAILURE"));
#define CHECK_DOCUMENTED(name, code, meaning)                                             \
    {                                                                                     \
        std::string number = code == DEVCTL_EXIT_CM_LAST ? "1-63" : std::to_string(code); \
        EXPECT_NE(std::string::npos, usage.find(number)) << #name;                        \
        EXPECT_NE(std::string::npos, readme.find("\n| " + number + " | ")) << #name;      \
    }
    DEVCTL_EXIT_CODES(CHECK_DOCUMENTED)
#undef CHECK_DOCUMENTED
}

TEST(CommandLine, RemoveRunsOnTheGivenInfAndPattern)
{
    SimTreeReset();
    SimTree().classInstallParamsFail = true;
    SimAddDevice("ROOT\\PORTS\\0000", {"USB\\VID_0123&PID_4567"});
    SimAddDevice("ROOT\\PORTS\\0001", {"USB\\VID_0123&PID_0001"});
    std::string inf = WriteTestFile("command.inf", "%A%=I, USB\\VID_0123&PID_4567\n");
    EXPECT_EQ(DEVCTL_EXIT_OK, SimRunWords({"Remove", inf, "*VID_0123*"}));
    EXPECT_EQ(std::vector<std::string>{"ROOT\\PORTS\\0001"}, SimRemainingDevices());
}

}  // namespace
