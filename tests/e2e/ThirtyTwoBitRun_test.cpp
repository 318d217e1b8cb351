// Under the WoW64 root: the 32-bit sequence itself, run by the i686 test
// program whose platform table answers "not WOW64" (MERVO_E2E_STAGER_NOT_WOW64).
// Its launches of the companion tool and its log work as in any run, but its
// copies into System32\drivers are redirected to SysWOW64\drivers, or fail
// where that folder does not exist (each failed copy is logged and the run
// goes on, as on any system): what the hand-off to the 64-bit build prevents.
#include <cstdlib>
#include <string>
#include <vector>

#include "StagerTest.h"

namespace {

class ThirtyTwoBitRun : public StagerTest {};

TEST_F(ThirtyTwoBitRun, CopiesAreRedirectedToSysWow64WhileLaunchesAndLogWork)
{
    const char* program = getenv("MERVO_E2E_STAGER_NOT_WOW64");
    ASSERT_NE(program, nullptr) << "MERVO_E2E_STAGER_NOT_WOW64 names no program";
    ASSERT_TRUE(e2e::CopyOneFile(e2e::HostToWindowsPath(program), PackageFile("MERVODriverStager.exe")));
    ASSERT_TRUE(e2e::RemoveFile(PackageFile("MERVODriverStager64.exe")));
    const std::string redirected = e2e::JoinPath(e2e::SysWow64Folder(), "drivers");
    const std::vector<std::string> names = {"mervousb.sys", "mervoser.sys"};
    e2e::WineVersion version("winxp");

    struct Case {
        const char* name;
        bool redirectedFolderExists;
    };
    const Case cases[] = {
        {"no SysWOW64\\drivers", false},
        {"SysWOW64\\drivers present", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(e2e::RemoveTree(redirected));
        if (c.redirectedFolderExists) {
            ASSERT_TRUE(e2e::MakeFolders(redirected));
        }
        for (const std::string& name : names) {
            ASSERT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::DriversFolder(), name)));
        }
        ASSERT_TRUE(e2e::RemoveFile(record_));

        e2e::RunResult run = Run("nodisplay");

        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.boxes.empty()) << ::testing::PrintToString(run.boxes);
        std::vector<std::string> copyLines;
        for (const std::string& name : names) {
            EXPECT_FALSE(e2e::FileExists(e2e::JoinPath(e2e::DriversFolder(), name))) << name;
            EXPECT_EQ(c.redirectedFolderExists, e2e::FileExists(e2e::JoinPath(redirected, name))) << name;
            const std::string target = e2e::WindowsFolder() + "\\System32\\Drivers\\" + name;
            copyLines.push_back(
                CopyEntry(c.redirectedFolderExists
                              ? "File " + PackageFile(name) + " copied to " + target + " OK."
                              : "Error while copying file " + PackageFile(name) + " to " + target + " !!"));
        }
        // The 32-bit start-up record (68 bytes) starts the tool both times.
        EXPECT_EQ((std::vector<std::string>{RemoveCommand(), RescanCommand()}), ToolCommandLines());
        std::vector<std::string> steps = e2e::RunLogSteps();
        EXPECT_TRUE(InOrder(steps, {SequenceEntry("Pre-installing driver."), copyLines[0], copyLines[1],
                                    SequenceEntry("Driver pre-installed OK.")}))
            << ::testing::PrintToString(steps);
    }
    // No redirected copy is left for the other tests' check.
    EXPECT_TRUE(e2e::RemoveTree(redirected));
}

}  // namespace
