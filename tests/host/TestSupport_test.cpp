// Tests of the host fixture's log readers.
#include <gtest/gtest-spi.h>

#include "log/LogFile.h"
#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, LogEntriesReadWhatTheRunLogWrites)
{
    ASSERT_EQ(OpenLog("C:\\Temp\\MERVOStageLog.txt"), 1);
    WriteLog("MERVODriverStager", "WinMain", "Log created");
    WriteLog("ModuleWithAVeryLongNameIndeed", "FunctionWithANameLongerThan25", "a - b() - c");
    WriteLog("Dirs", "LaunchAndWait", "Error text.\r\n");
    CloseLog();

    std::vector<std::string> lines = LogFileLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "\t\t-----------------------------------------");
    // Module right-aligned in 22 columns, function in 25.
    EXPECT_EQ(lines[4], " 5- 3-2007: 9H 4mn 3'' -  " + std::string(5, ' ') + "MERVODriverStager - " +
                            std::string(18, ' ') + "WinMain() - Log created");
    EXPECT_EQ(lines[8], "\t\t--------------- LOG CLOSED --------------");

    std::vector<LogEntry> entries = LogEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].stamp, " 5- 3-2007: 9H 4mn 3'' -  ");
    EXPECT_EQ(entries[0].module, "MERVODriverStager");
    EXPECT_EQ(entries[0].function, "WinMain");
    EXPECT_EQ(entries[0].text, "Log created");
    EXPECT_EQ(entries[1].module, "ModuleWithAVeryLongNameIndeed");
    EXPECT_EQ(entries[1].function, "FunctionWithANameLongerThan25");
    EXPECT_EQ(entries[1].text, "a - b() - c");
    EXPECT_EQ(entries[2].text, "Error text.\r");  // text mode wrote its "\r\n" as "\r\r\n"
}

TEST_F(SimulatedPlatformTest, LogFileLinesFlagsALineFeedWithoutCarriageReturn)
{
    Write("C:\\Temp\\MERVOStageLog.txt", "one\r\ntwo\nthree\r\n");
    EXPECT_NONFATAL_FAILURE(LogFileLines(), "line end without CR");
    Write("C:\\Temp\\MERVOStageLog.txt", "one\r\n");
    EXPECT_EQ(LogFileLines(), std::vector<std::string>{"one"});
}

}  // namespace
