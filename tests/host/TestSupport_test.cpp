// Tests of the host fixture's log readers and trace counter.
#include <gtest/gtest-spi.h>

#include "log/LogFile.h"
#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, LogEntriesReadWhatTheRunLogWrites)
{
    ASSERT_EQ(1, OpenLog("C:\\Temp\\MERVOStageLog.txt"));
    WriteLog("MERVODriverStager", "WinMain", "Log created");
    WriteLog("ModuleWithAVeryLongNameIndeed", "FunctionWithANameLongerThan25", "a - b() - c");
    WriteLog("Dirs", "LaunchAndWait", "Error text.\r\n");
    CloseLog();

    std::vector<std::string> lines = LogFileLines();
    ASSERT_EQ(9u, lines.size());
    EXPECT_EQ("\t\t-----------------------------------------", lines[0]);
    // Module right-aligned in 22 columns, function in 25.
    EXPECT_EQ(" 5- 3-2007: 9H 4mn 3'' -  " + std::string(5, ' ') + "MERVODriverStager - " +
                  std::string(18, ' ') + "WinMain() - Log created",
              lines[4]);
    EXPECT_EQ(kLogClosingLine, lines[8]);

    std::vector<LogEntry> entries = LogEntries();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(" 5- 3-2007: 9H 4mn 3'' -  ", entries[0].stamp);
    EXPECT_EQ("MERVODriverStager", entries[0].module);
    EXPECT_EQ("WinMain", entries[0].function);
    EXPECT_EQ("Log created", entries[0].text);
    EXPECT_EQ("ModuleWithAVeryLongNameIndeed", entries[1].module);
    EXPECT_EQ("FunctionWithANameLongerThan25", entries[1].function);
    EXPECT_EQ("a - b() - c", entries[1].text);
    EXPECT_EQ("Error text.\r", entries[2].text);  // text mode wrote its "\r\n" as "\r\r\n"
}

TEST_F(SimulatedPlatformTest, LogFileLinesFlagsALineFeedWithoutCarriageReturn)
{
    Write("C:\\Temp\\MERVOStageLog.txt", "one\r\ntwo\nthree\r\n");
    EXPECT_NONFATAL_FAILURE(LogFileLines(), "line end without CR");
    Write("C:\\Temp\\MERVOStageLog.txt", "one\r\n");
    EXPECT_EQ(std::vector<std::string>{"one"}, LogFileLines());
}

TEST(TestSupport, CountStartingWithCountsOnlyLinesThatBeginWithThePrefix)
{
    const std::vector<std::string> lines = {"CopyFileA a b", "CopyFile", "DeleteFileA CopyFileA",
                                            "CopyFileA"};
    struct CountCase {
        const char* prefix;
        size_t expected;
    };
    const CountCase cases[] = {
        {"CopyFileA", 2},       // a line equal to the prefix counts; one shorter or with it inside does not
        {"CopyFileA a b", 1},   // the prefix as long as the line
        {"CopyFileA a b ", 0},  // one character longer than the line it begins
        {"copyfilea", 0},       // case matters
        {"", 4},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(c.prefix);
        EXPECT_EQ(c.expected, CountStartingWith(lines, c.prefix));
    }
}

}  // namespace
