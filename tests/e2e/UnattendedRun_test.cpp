// Under Wine: the stager started in a window station that is not visible, as
// a service or a deployment agent starts it. A box there could never be
// answered (the harness cannot see it either), so a run that showed one
// would be ended at the limit and fail; instead each box is one log line and
// the run ends with the code of the answered run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StagerTest.h"

namespace {

const std::string kNotShown = "Message box not shown (no interactive desktop): ";

struct UnattendedCase {
    const char* name;
    const char* argumentText;
    bool breakVersionSection;  // the Setup API refuses the INF: 22 and its error box
    DWORD exitCode;
    std::string boxLine;  // the box's log line after kNotShown
};

class UnattendedRun : public StagerTest, public ::testing::WithParamInterface<UnattendedCase> {};

TEST_P(UnattendedRun, EndsAsIfTheBoxWereAnsweredWithTheBoxInTheLog)
{
    const UnattendedCase& c = GetParam();
    if (c.breakVersionSection) {
        PrepareWithoutVersionSection();
    }
    e2e::WineVersion version("winxp");
    const std::string desktop = e2e::InvisibleDesktop("MERVOUnattended");
    ASSERT_FALSE(desktop.empty()) << "no window station without WSF_VISIBLE";

    e2e::RunRequest request{
        PackageFile("MERVODriverStager.exe"), c.argumentText, {{e2e::kDoubleRecord, record_}}, 15000};
    request.desktop = desktop;
    e2e::RunResult run = e2e::RunStager(request);

    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    std::vector<std::string> steps = e2e::RunLogSteps();
    std::vector<std::string> boxLines;
    for (const std::string& step : steps) {
        if (step.find(kNotShown) != std::string::npos) {
            boxLines.push_back(step);
        }
    }
    // The Setup API's code in the box: see WholeRun's note on Wine 8.
    const std::string expected = e2e::Entry("Boxes", "ShowBox", kNotShown + c.boxLine);
    const std::string wine8 = e2e::Entry("Boxes", "ShowBox", kNotShown + "Error: Insufficient buffer.");
    ASSERT_EQ(1u, boxLines.size());
    EXPECT_TRUE(boxLines[0] == expected || (c.breakVersionSection && boxLines[0] == wine8)) << boxLines[0];
    // Everything after the box ran, as after an answer.
    EXPECT_EQ(c.exitCode == 0 ? 2u : 1u, ToolCommandLines().size());
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, UnattendedRun,
    ::testing::Values(
        UnattendedCase{"success", "", false, 0,
                       "MERVODriverStager: Driver Pre-install OK: you can now plug your device."},
        UnattendedCase{"staging refused", "nodisplay", true, 22, "Error: System error 0xE0000100."}),
    [](const ::testing::TestParamInfo<UnattendedCase>& param) {
        return std::string(param.param.name) == "success" ? std::string("SuccessBox")
                                                          : std::string("StagingRefusedBox");
    });

}  // namespace
