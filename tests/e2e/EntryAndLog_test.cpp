// Under Wine: the usage box and the run log of the real program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "StagerHarness.h"

namespace {

using e2e::MessageBoxSeen;

const char* const kUsageCaption = "MERVODriverStager Usage";
const std::string kUsageText =
    "-----------------  MERVODriverStager [Options]  -----------------\n"
    "\n"
    "      Options = {infFilename} {nodisplay} {nolog}                \n"
    "\t\t\t  infFilename: The name of the inf file to use. If none use default MERVOUSB.inf\n"
    "             nodisplay: No final dialog box will be displayed. \n"
    "             nolog: No log file will be generated.         \n"
    "\n";

using e2e::kLogBanner1;
using e2e::kLogBanner2;
using e2e::kLogClosingLine;
const MessageBoxSeen kSuccessBox{boxes::kStagerCaption, boxes::kSuccess};

// Every line end of the file is CR LF, and there is no CR anywhere else.
void ExpectCrLfOnly(const std::string& bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at byte " << i;
        } else if (bytes[i] == '\r') {
            EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "lone CR at byte " << i;
        }
    }
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ("\r\n", bytes.substr(bytes.size() - 2)) << "the log must end with a line end";
}

// --- The usage box -------------------------------------------------------------------------

// "/?" anywhere in the argument text: only the usage box, exit code 0, and the
// previous run's log is left as it was.
class UsageBox : public ::testing::TestWithParam<const char*> {};

TEST_P(UsageBox, ShowsTheUsageTextAndLeavesThePreviousLogAlone)
{
    const std::string package = e2e::PreparePackage("package");
    const std::string previousLog = "previous run's log\r\nleft alone\r\n";
    ASSERT_TRUE(e2e::WriteFileBytes(e2e::RunLogPath(), previousLog));

    e2e::RunResult run =
        e2e::RunStager({e2e::JoinPath(package, "MERVODriverStager.exe"), GetParam(), {}, 20000});

    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size()) << ::testing::PrintToString(run.boxes);
    EXPECT_EQ(kUsageCaption, run.boxes[0].caption);
    EXPECT_EQ(e2e::Visible(run.boxes[0].text), e2e::Visible(kUsageText));
    EXPECT_EQ(e2e::ReadFileBytes(e2e::RunLogPath()), previousLog);
}

INSTANTIATE_TEST_SUITE_P(ArgumentTexts, UsageBox,
                         ::testing::Values("/?", "nodisplay /? nolog", "MERVOUSB.inf /?", "x/?y",
                                           "/? NOLOG"));

// --- The run log of a normal run ---------------------------------------------------------------

class RunLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(e2e::RemoveFile(e2e::RunLogPath()));
        package_ = e2e::PreparePackage("package");
        record_ = e2e::JoinPath(package_, "double-record.txt");
    }
    void TearDown() override { e2e::EndDoubles(record_); }

    e2e::RunResult Run(const std::string& argumentText)
    {
        return e2e::RunStager({e2e::JoinPath(package_, "MERVODriverStager.exe"),
                               argumentText,
                               {{e2e::kDoubleRecord, record_}},
                               90000});
    }

    std::string package_;
    std::string record_;
};

// A normal run on a supported system writes the banner, the "Log created" line
// naming the log's own path, one time-stamped line per step and the closing
// line, every line ended by CR LF.
TEST_F(RunLog, NormalRunWritesBannerCreatedLineAndClosingLineWithCrLf)
{
    e2e::WineVersion version("winxp");
    long long before = e2e::NowUtcSeconds();
    e2e::RunResult run = Run("nodisplay");
    long long after = e2e::NowUtcSeconds();
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty()) << ::testing::PrintToString(run.boxes);

    bool present = false;
    std::string bytes = e2e::ReadFileBytes(e2e::RunLogPath(), &present);
    ASSERT_TRUE(present) << "no run log at " << e2e::RunLogPath();
    ExpectCrLfOnly(bytes);
    std::vector<std::string> lines = e2e::SplitLines(bytes);
    ASSERT_GE(lines.size(), 6u) << bytes;
    EXPECT_EQ(kLogBanner1, lines[0]);
    EXPECT_EQ(kLogBanner2, lines[1]);
    EXPECT_EQ(kLogBanner1, lines[2]);
    EXPECT_EQ("", lines[3]);
    EXPECT_EQ(kLogClosingLine, lines.back());

    e2e::LogLine created = e2e::ParseLogLine(lines[4]);
    ASSERT_TRUE(created.stamped) << e2e::Visible(lines[4]);
    EXPECT_EQ(created.entry,
              e2e::Entry("MERVODriverStager", "WinMain", "Log created: " + e2e::RunLogPath() + "."));

    // Every line between the banner and the closing line is a time-stamped
    // step, except the empty line that follows the OS build line; the stamps
    // are UTC and lie within the run.
    for (size_t i = 4; i + 1 < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        e2e::LogLine line = e2e::ParseLogLine(lines[i]);
        ASSERT_TRUE(line.stamped) << "line " << i << ": " << e2e::Visible(lines[i]);
        EXPECT_EQ(" - ", line.entry.substr(22, 3)) << lines[i];
        EXPECT_EQ("() - ", line.entry.substr(22 + 3 + 25, 5)) << lines[i];
        long long stamp =
            e2e::UtcSeconds(line.year, line.month, line.day, line.hour, line.minute, line.second);
        EXPECT_GE(stamp, before - 1) << lines[i];
        EXPECT_LE(stamp, after + 1) << lines[i];
    }
}

// "nolog" (and "NOLOG") switch the log off: no file is created, the run is
// otherwise the same.
TEST_F(RunLog, NologCreatesNoLogFile)
{
    e2e::WineVersion version("winxp");
    for (const char* text : {"nolog nodisplay", "NOLOG nodisplay"}) {
        ASSERT_TRUE(e2e::RemoveFile(e2e::RunLogPath()));
        e2e::RunResult run = Run(text);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode) << text;
        EXPECT_TRUE(run.boxes.empty()) << text << ": " << ::testing::PrintToString(run.boxes);
        EXPECT_FALSE(e2e::FileExists(e2e::RunLogPath())) << text;
    }
}

// A read-only, hidden log left by an earlier run is replaced all the same.
TEST_F(RunLog, ReadOnlyOldLogIsReplaced)
{
    e2e::WineVersion version("winxp");
    ASSERT_TRUE(e2e::WriteFileBytes(e2e::RunLogPath(), "old content\r\n"));
    ASSERT_TRUE(
        SetFileAttributesA(e2e::RunLogPath().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    e2e::RunResult run = Run("nodisplay");
    ASSERT_TRUE(run.started);
    std::string bytes = e2e::ReadFileBytes(e2e::RunLogPath());
    EXPECT_EQ(std::string::npos, bytes.find("old content"));
    std::vector<std::string> lines = e2e::SplitLines(bytes);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(kLogBanner1, lines[0]);
    EXPECT_EQ(kLogClosingLine, lines.back());
}

}  // namespace
