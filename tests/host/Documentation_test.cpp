// The documents that name the stager's codes and names hold to the one list
// of them (common/Names.h): the README's exit-code table, the device makers'
// README, and the example setup program, which takes the machine's turn by
// its names.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "common/Names.h"

namespace {

std::string SourceFile(const std::string& name)
{
    std::ifstream file(std::string(MERVO_SOURCE_DIR) + "/" + name, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(text.empty()) << name;
    return text;
}

TEST(Documentation, EveryExitCodeOfTheStagerIsDocumented)
{
    const std::string readme = SourceFile("README.md");
    const std::string makers = SourceFile("dist/README-DEVICE-MAKERS.txt");
#define CHECK_DOCUMENTED(name, code, meaning)                                                      \
    {                                                                                              \
        char row[16];                                                                              \
        snprintf(row, sizeof row, "\n%4d  ", code);                                                \
        EXPECT_NE(std::string::npos, readme.find("\n| " + std::to_string(code) + " | ")) << #name; \
        EXPECT_NE(std::string::npos, makers.find(row)) << #name;                                   \
    }
    STAGER_EXIT_CODES(CHECK_DOCUMENTED)
#undef CHECK_DOCUMENTED
}

TEST(Documentation, TheSetupProgramTakesTheMachinesTurnByItsNames)
{
    const std::string script = SourceFile("examples/installer/MERVOSetup.nsi");
    EXPECT_NE(std::string::npos, script.find(std::string("!define TURN_NAME \"") + kMachineTurnName + "\""));
    EXPECT_NE(std::string::npos,
              script.find(std::string("!define TURN_VARIABLE \"") + kMachineTurnVariable + "\""));
}

}  // namespace
