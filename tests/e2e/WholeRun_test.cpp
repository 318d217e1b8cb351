// Under Wine: whole runs of the real program, from the argument text to the
// exit code, with the double as the companion tool.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "StagerTest.h"

namespace {

using e2e::Entry;

class WholeRun : public StagerTest {
protected:
    // The Windows folder as a fresh system has it for this package.
    static void RemoveStagedCopies()
    {
        ASSERT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.inf")));
        ASSERT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.pnf")));
        ASSERT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::DriversFolder(), "mervousb.sys")));
        ASSERT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::DriversFolder(), "mervoser.sys")));
    }

    std::string DriverTarget(const std::string& name) const
    {
        return e2e::WindowsFolder() + "\\System32\\Drivers\\" + name;
    }

    // The lines of a complete successful run on Windows XP, without stale copies.
    std::vector<std::string> TypicalRunLog() const
    {
        std::vector<std::string> lines = {
            Entry("MERVODriverStager", "WinMain", "Log created: " + e2e::RunLogPath() + "."),
            Entry("GetOSVersion", "GetOSVersion", "OS Version: Microsoft Windows XP."),
            Entry("GetOSVersion", "GetOSVersion", "Service Pack 3 (Build 2600)"),
            "",
            SequenceEntry("Current directory: " + package_),
            Entry("MERVODriverStager", "RemoveDriverInstances", "Driver instances removed OK."),
            SequenceEntry("Pre-installing driver."),
        };
        for (const char* name : {"mervousb.sys", "mervoser.sys"}) {
            lines.push_back(
                CopyEntry("Copying file " + PackageFile(name) + " to " + DriverTarget(name) + "."));
            lines.push_back(
                CopyEntry("File " + PackageFile(name) + " copied to " + DriverTarget(name) + " OK."));
        }
        lines.push_back(SequenceEntry("Driver files copied OK."));
        lines.push_back(SequenceEntry("Driver pre-installed OK."));
        lines.push_back(Entry("MERVODriverStager", "RemountDriverInstances", "Driver instances mounted OK."));
        return lines;
    }
};

const e2e::MessageBoxSeen kSuccessBox{boxes::kStagerCaption, boxes::kSuccess};

// The typical run: Windows XP, "nodisplay", a package with the INF, two
// driver files and the companion tool.
TEST_F(WholeRun, TypicalRunOnWindowsXpWithNodisplay)
{
    RemoveStagedCopies();
    e2e::WineVersion version("winxp");

    e2e::RunResult run = Run("nodisplay");

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    bool present = false;
    std::string bytes = e2e::ReadFileBytes(e2e::RunLogPath(), &present);
    ASSERT_TRUE(present);
    EXPECT_EQ(bytes.find('\n'), bytes.find("\r\n") + 1) << "line ends must be CR LF";
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), std::count(bytes.begin(), bytes.end(), '\r'));
    EXPECT_EQ(e2e::RunLogSteps(), TypicalRunLog());

    for (const char* name : {"mervousb.sys", "mervoser.sys"}) {
        EXPECT_EQ(e2e::ReadFileBytes(e2e::JoinPath(e2e::DriversFolder(), name)),
                  e2e::ReadFileBytes(PackageFile(name)))
            << name;
    }
    EXPECT_EQ(e2e::ReadFileBytes(e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.inf")),
              e2e::ReadFileBytes(PackageFile("MERVOUSB.inf")));
    EXPECT_TRUE(e2e::FileExists(e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.pnf")));
    EXPECT_EQ((std::vector<std::string>{RemoveCommand(), RescanCommand()}), ToolCommandLines());
}

// Without "nodisplay" the same run ends with the success box.
TEST_F(WholeRun, SuccessBoxWithoutNodisplay)
{
    RemoveStagedCopies();
    e2e::WineVersion version("winxp");
    e2e::RunResult run = Run("");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(std::vector<e2e::MessageBoxSeen>{kSuccessBox}, run.boxes);
    EXPECT_EQ(e2e::RunLogSteps(), TypicalRunLog());
}

// An INF without [Version] is refused by the Setup API with 0xE0000100, a
// code without system text: exit 22, the box names the code, no rescan.
TEST_F(WholeRun, InfWithoutVersionSectionEndsWith22AndTheCodeInTheBox)
{
    PrepareWithoutVersionSection();
    e2e::WineVersion version("winxp");

    e2e::RunResult run = Run("");

    EXPECT_EQ(22u, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("Error", run.boxes[0].caption);
    // Wine 8's SetupCopyOEMInfA compares the caller's buffer size with a size
    // it never set when the copy fails early, and then may replace the real
    // error by ERROR_INSUFFICIENT_BUFFER (it depends on what lies on the
    // stack). Windows keeps the Setup API's code. Either way the box must
    // explain a code, never be empty.
    if (run.boxes[0].text != "System error 0xE0000100.") {
        EXPECT_EQ("Insufficient buffer.\r\n", run.boxes[0].text);
        std::cout << "note: Wine replaced the Setup API's error code by ERROR_INSUFFICIENT_BUFFER\n";
    }
    std::vector<std::string> steps = e2e::RunLogSteps();
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(SequenceEntry("Error while pre-installing driver !!"), steps.back());
    EXPECT_TRUE(InOrder(steps, {SequenceEntry("Driver files copied OK."),
                                SequenceEntry("Error while pre-installing driver !!")}));
    EXPECT_EQ(std::vector<std::string>{RemoveCommand()}, ToolCommandLines());
}

// An INF without any device line: exit 15 before anything is removed,
// copied or staged; no box.
TEST_F(WholeRun, InfWithoutDeviceLineEndsWith15)
{
    RemoveStagedCopies();
    e2e::PackageOptions options;
    options.files = {{"MERVOUSB.inf",
                      "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
                      "[SourceDisksFiles]\r\nmervousb.sys=1\r\n[Strings]\r\nDevDesc=\"x\"\r\n"}};
    Prepare(options);
    e2e::WineVersion version("winxp");

    e2e::RunResult run = Run("");

    EXPECT_EQ(15u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    std::vector<std::string> steps = e2e::RunLogSteps();
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(SequenceEntry("Current directory: " + package_), steps.back());
    EXPECT_TRUE(ToolCommandLines().empty());
    EXPECT_FALSE(e2e::FileExists(e2e::JoinPath(e2e::DriversFolder(), "mervousb.sys")));
    EXPECT_FALSE(e2e::FileExists(e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.inf")));
}

// A program folder and an INF name with blanks, the name given plain and
// between double quotes: both runs use the whole name.
TEST_F(WholeRun, BlanksInFolderAndInfNameQuotedAndUnquoted)
{
    for (const char* argumentText : {"My Driver.inf nodisplay", "\"My Driver.inf\" nodisplay"}) {
        SCOPED_TRACE(argumentText);
        e2e::PackageOptions options;
        options.files = {
            {"My Driver.inf", e2e::ReadFileBytes(e2e::JoinPath(e2e::ExamplePackage(), "MERVOUSB.inf"))}};
        Prepare(options, "package with blanks");
        ASSERT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::InfFolder(), "My Driver.inf")));
        e2e::WineVersion version("winxp");

        e2e::RunResult run = Run(argumentText);

        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_EQ((std::vector<std::string>{RemoveCommand("My Driver.inf"), RescanCommand()}),
                  ToolCommandLines());
        EXPECT_TRUE(InOrder(e2e::RunLogSteps(), {SequenceEntry("Current directory: " + package_),
                                                 SequenceEntry("Driver pre-installed OK.")}));
        EXPECT_EQ(e2e::ReadFileBytes(e2e::JoinPath(e2e::InfFolder(), "My Driver.inf")),
                  e2e::ReadFileBytes(PackageFile("My Driver.inf")));
    }
    // The stored copy has the example INF's bytes: left there, the Setup API
    // would return it for every later run of the example package instead of
    // storing MERVOUSB.inf under its own name.
    EXPECT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::InfFolder(), "My Driver.inf")));
    EXPECT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::InfFolder(), "My Driver.pnf")));
}

// TMP and TEMP naming a folder that does not exist: the log cannot be
// created, and the run goes on silently and ends as it would with a log.
TEST_F(WholeRun, MissingTempFolderRunsOnWithoutLog)
{
    const std::string missing = "C:\\mervo-no-such-folder";
    ASSERT_TRUE(e2e::RemoveTree(missing));
    e2e::WineVersion version("winxp");

    e2e::RunResult run = Run("nodisplay", {{"TMP", missing}, {"TEMP", missing}});

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(e2e::FileExists(e2e::JoinPath(missing, "MERVOStageLog.txt")));
    EXPECT_FALSE(e2e::FileExists(e2e::RunLogPath()));
    EXPECT_EQ((std::vector<std::string>{RemoveCommand(), RescanCommand()}), ToolCommandLines());
}

}  // namespace
