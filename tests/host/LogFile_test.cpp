#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"
#include "log/LogFile.h"
#include "platform/simulated/SimulatedPlatform.h"

namespace {

const char kLogPath[] = "C:\\Temp\\MERVOStageLog.txt";
const std::string kBanner =
    "\t\t-----------------------------------------\r\n"
    "\t\t|       MERVODriverStager Log file      |\r\n"
    "\t\t-----------------------------------------\r\n"
    "\r\n";
const std::string kClosing = std::string(kLogClosingLine) + "\r\n";

class LogFileTest : public SimTest {};

// Each line is on disk before the log is closed: a run ended from outside keeps it.
TEST_F(LogFileTest, LinesAreStampedInUtcWithBlankPaddedFieldsAndNamesAlignedOrWhole)
{
    struct LineRow {
        const char* name;
        PsSystemTime clock;  // year, month, day of the week, day, hour, minute, second, ms
        std::string module, function, text;
        std::string line;
    };
    const LineRow rows[] = {
        {"names aligned",
         {2007, 3, 3, 7, 14, 5, 3, 0},
         "Dirs",
         "LaunchAndWait",
         "Process timed out.",
         " 7- 3-2007:14H 5mn 3'' -  " + std::string(18, ' ') + "Dirs - " + std::string(12, ' ') +
             "LaunchAndWait() - Process timed out."},
        {"single digits blank padded",
         {2007, 3, 1, 5, 9, 4, 3, 0},
         "M",
         "F",
         "t",
         " 5- 3-2007: 9H 4mn 3'' -  " + std::string(21, ' ') + "M - " + std::string(24, ' ') + "F() - t"},
        {"long names whole, the line shifted",
         {2007, 3, 1, 5, 9, 4, 3, 0},
         std::string(30, 'm'),
         std::string(40, 'f'),
         "text",
         " 5- 3-2007: 9H 4mn 3'' -  " + std::string(30, 'm') + " - " + std::string(40, 'f') + "() - text"},
    };
    for (const LineRow& row : rows) {
        SCOPED_TRACE(row.name);
        FreshMachine();
        Sim().clock = row.clock;
        ASSERT_EQ(1, OpenLog(kLogPath));
        EXPECT_EQ(0, WriteLog(row.module.c_str(), row.function.c_str(), row.text.c_str()));
        EXPECT_EQ(kBanner + row.line + "\r\n", Read(kLogPath));
        EXPECT_EQ(0, CloseLog());
        EXPECT_EQ(kBanner + row.line + "\r\n" + kClosing, Read(kLogPath));
    }
}

TEST_F(LogFileTest, WritingWithoutAnOpenLogDoesNothing)
{
    EXPECT_EQ(1, WriteLog("M", "F", "before any open"));
    EXPECT_FALSE(SimFileExists(kLogPath));
    ASSERT_EQ(1, OpenLog(kLogPath));
    EXPECT_EQ(0, CloseLog());
    EXPECT_EQ(1, WriteLog("M", "F", "after close"));
    EXPECT_EQ(1, CloseLog());  // a second close writes nothing more
    EXPECT_EQ(kBanner + kClosing, Read(kLogPath));
}

TEST_F(LogFileTest, ReadOnlyPreviousLogIsClearedAndReplaced)
{
    Write(kLogPath, "old content of an earlier run\r\n");
    SimSetAttributes(kLogPath, PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(1, OpenLog(kLogPath));
    CloseLog();
    EXPECT_EQ(kBanner + kClosing, Read(kLogPath));
    // Cleared to normal, then written anew: marked for archiving.
    EXPECT_EQ(static_cast<uint32_t>(PS_FILE_ATTRIBUTE_ARCHIVE), SimAttributes(kLogPath));
}

TEST_F(LogFileTest, OpeningAgainClosesTheOpenLogFirst)
{
    ASSERT_EQ(1, OpenLog("C:\\Temp\\first.txt"));
    WriteLog("M", "F", "one");
    ASSERT_EQ(1, OpenLog("C:\\Temp\\second.txt"));
    CloseLog();
    std::vector<std::string> first = LogFileLines("C:\\Temp\\first.txt");
    ASSERT_EQ(6u, first.size());
    EXPECT_EQ(kLogClosingLine, first[5]);
    EXPECT_EQ(kBanner + kClosing, Read("C:\\Temp\\second.txt"));

    // The same path again: the new file replaces the old content.
    ASSERT_EQ(1, OpenLog(kLogPath));
    WriteLog("M", "F", "old");
    ASSERT_EQ(1, OpenLog(kLogPath));
    CloseLog();
    EXPECT_EQ(kBanner + kClosing, Read(kLogPath));
}

TEST_F(LogFileTest, MissingFolderLeavesTheLogClosed)
{
    EXPECT_EQ(0, OpenLog("C:\\NoSuchFolder\\log.txt"));
    EXPECT_EQ(0, RunLog.isOpen);
    EXPECT_EQ(nullptr, RunLog.stream);
    EXPECT_EQ(1, WriteLog("M", "F", "lost"));
    EXPECT_EQ(1, CloseLog());
}

// The C runtime may change the thread's last error while a line is written;
// the error a box is about to explain must survive the line.
TEST_F(LogFileTest, WritingALineKeepsTheLastError)
{
    ASSERT_EQ(1, OpenLog(kLogPath));
    Platform.GetSystemTime = [](PsSystemTime* time) {
        Platform.SetLastError(0);
        *time = Sim().clock;
    };
    Platform.SetLastError(0xE0000100);
    WriteLog("M", "F", "text");
    EXPECT_EQ(0xE0000100u, Platform.GetLastError());
    CloseLog();
}

}  // namespace
