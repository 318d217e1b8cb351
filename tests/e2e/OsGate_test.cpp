// Under Wine: the OS gate on every Windows version Wine can report. Wine's
// version setting gives the real program the version records of those
// systems; the gate's log lines, its refusal box and the exit code are read
// from the real run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BoxTexts.h"
#include "StagerHarness.h"

namespace {

struct OsCase {
    const char* wineVersion;
    std::vector<std::string> osLines;  // the gate's lines (texts), in order
    const char* refusedName;           // name in the refusal, or null when accepted
};

// What each Wine version reports (platform id, major.minor, build, service-pack
// text) decides the lines: the 9x family and Win32s have no build line; every
// NT-family system has one, followed by an empty line.
// clang-format off
const OsCase kCases[] = {
    {"win31", {"OS Version: Windows 3.1."}, "Windows 3.11"},
    {"win95", {"OS Version: Microsoft Windows 95 ."}, "Windows 95"},
    {"win98", {"OS Version: Microsoft Windows 98 SE ."}, "Windows 98 SE"},
    {"winme", {"OS Version: Microsoft Windows Millennium Edition."}, "Windows Millenium Edition"},
    {"nt351", {"OS Version: Microsoft Windows NT.", "Service Pack 5 (Build 1057)"}, "Windows NT"},
    {"nt40", {"OS Version: Microsoft Windows NT.", "Service Pack 6a (Build 1381)"}, "Windows NT"},
    {"win2k", {"OS Version: Microsoft Windows 2000.", "Service Pack 4 (Build 2195)"}, nullptr},
    {"winxp", {"OS Version: Microsoft Windows XP.", "Service Pack 3 (Build 2600)"}, nullptr},
    {"win2003",
     {"OS Version: Microsoft Windows Server 2003 family.", "Service Pack 2 (Build 3790)"},
     nullptr},
    {"vista", {"OS Version: Microsoft Windows Vista.", "Service Pack 2 (Build 6002)"}, nullptr},
    {"win7", {"OS Version: Microsoft Windows Vista.", "Service Pack 1 (Build 7601)"}, nullptr},
    {"win8", {"OS Version: Microsoft Windows Vista.", " (Build 9200)"}, nullptr},
    {"win81", {"OS Version: Microsoft Windows Vista.", " (Build 9200)"}, nullptr},
    {"win10", {"OS Version: Microsoft Windows Vista.", " (Build 9200)"}, nullptr},
};
// clang-format on

class OsGate : public ::testing::TestWithParam<OsCase> {};

TEST_P(OsGate, LogsTheSystemAndRefusesOnlyUnsupportedOnes)
{
    const OsCase& c = GetParam();
    const std::string package = e2e::PreparePackage("package");
    const std::string record = e2e::JoinPath(package, "double-record.txt");
    ASSERT_TRUE(e2e::RemoveFile(e2e::RunLogPath()));

    e2e::RunResult run;
    {
        e2e::WineVersion version(c.wineVersion);
        run = e2e::RunStager({e2e::JoinPath(package, "MERVODriverStager.exe"),
                              "nodisplay",
                              {{e2e::kDoubleRecord, record}},
                              60000});
    }
    e2e::EndDoubles(record);
    ASSERT_TRUE(run.started);

    bool present = false;
    std::vector<std::string> steps = e2e::RunLogSteps(&present);
    ASSERT_TRUE(present);
    ASSERT_FALSE(steps.empty()) << "the log lacks its banner or closing line";
    std::vector<std::string> expected = {
        e2e::Entry("MERVODriverStager", "WinMain", "Log created: " + e2e::RunLogPath() + ".")};
    expected.push_back(e2e::Entry("GetOSVersion", "GetOSVersion", c.osLines[0]));
    if (c.osLines.size() > 1) {
        expected.push_back(e2e::Entry("GetOSVersion", "GetOSVersion", c.osLines[1]));
        expected.push_back("");  // the build text's own line feed
    }

    if (c.refusedName != nullptr) {
        const std::string refusal = boxes::OsRefusal(c.refusedName);
        expected.push_back(e2e::Entry("GetOSVersion", "DisplayOSError", refusal));
        EXPECT_EQ(expected, steps);
        EXPECT_EQ(2u, run.exitCode);
        EXPECT_EQ((std::vector<e2e::MessageBoxSeen>{{boxes::kErrorCaption, refusal}}), run.boxes);
        // Refused before anything is touched: the companion tool never ran.
        EXPECT_TRUE(e2e::ReadDoubleRecord(record).empty());
    } else {
        ASSERT_GE(steps.size(), expected.size());
        EXPECT_EQ(expected, std::vector<std::string>(steps.begin(), steps.begin() + expected.size()));
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_EQ(2u, e2e::ReadDoubleRecord(record).size());
    }
}

std::string CaseName(const ::testing::TestParamInfo<OsCase>& info)
{
    return info.param.wineVersion;
}

INSTANTIATE_TEST_SUITE_P(WineVersions, OsGate, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
