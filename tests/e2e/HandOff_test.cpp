// Under the WoW64 root only: the shipped 32-bit stager hands each run to the
// 64-bit build beside it. Here that build cannot be started or crashes, and
// the argument text is carried to it with an INF name at its bound.
#include <cstdlib>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "StagerTest.h"

namespace {

using e2e::Entry;
using e2e::kLogClosingLine;

const e2e::MessageBoxSeen kRemoveFailureBox{boxes::kLaunchErrorCaption, boxes::kRemoveFailed};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class HandOff : public StagerTest {
protected:
    void SetUp() override
    {
        if (!e2e::HandOffLayout())
            GTEST_SKIP() << "only with the 32-bit stager and its 64-bit build (label wow64)";
        StagerTest::SetUp();
    }

    // The package in `folder` (outside the test folder: the INF name's bound
    // needs a short one), with the INF bytes `inf` only at `infName` below it.
    void PrepareAt(const std::string& folder, const std::string& infName, const std::string& inf)
    {
        e2e::EndDoubles(record_);
        RemoveNested(folder, infName);
        e2e::PackageOptions options;
        options.examplePackage = false;
        options.files = {{"mervousb.sys", Example("mervousb.sys")},
                         {"mervoser.sys", Example("mervoser.sys")}};
        package_ = e2e::PreparePackageAt(folder, options);
        record_ = PackageFile("double-record.txt");
        ASSERT_TRUE(WriteNested(folder, infName, inf));
    }

    static std::string Example(const char* name)
    {
        return e2e::ReadFileBytes(e2e::JoinPath(e2e::ExamplePackage(), name));
    }

    // Paths of more than 260 characters: the wide file functions take them,
    // the ANSI ones (and so the harness's) do not.
    static bool WriteNested(const std::string& folder, const std::string& relative, const std::string& bytes)
    {
        for (size_t at = relative.find('\\'); at != std::string::npos; at = relative.find('\\', at + 1))
            CreateDirectoryW(Wide(e2e::JoinPath(folder, relative.substr(0, at))).c_str(), nullptr);
        return e2e::WriteAndClose(CreateFileW(Wide(e2e::JoinPath(folder, relative)).c_str(), GENERIC_WRITE, 0,
                                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                                  bytes);
    }
    static void RemoveNested(const std::string& folder, std::string relative)
    {
        DeleteFileW(Wide(e2e::JoinPath(folder, relative)).c_str());
        for (size_t at = relative.rfind('\\'); at != std::string::npos; at = relative.rfind('\\')) {
            relative.resize(at);
            RemoveDirectoryW(Wide(e2e::JoinPath(folder, relative)).c_str());
        }
    }
};

// Beside the 32-bit program lies something under the 64-bit build's name
// that does not run to its end: the run logs its own line, shows a box and
// ends with 23, never with a code the stager does not give.
TEST_F(HandOff, A64BitBuildThatCannotStartOrCrashesEndsWith23)
{
    const char* crasher = getenv("MERVO_E2E_CRASHING_STAGER64");
    ASSERT_NE(nullptr, crasher) << "MERVO_E2E_CRASHING_STAGER64 names no program";
    e2e::WineVersion version("winxp");
    struct Case {
        const char* name;
        // The crashing program runs under the 64-bit build's name; else a
        // folder of that name is there. A run that started it adds its line
        // to what the 64-bit build logged (here nothing), one that did not
        // writes a fresh log.
        bool started;
        const char* logLine;
        e2e::MessageBoxSeen box;
    };
    const Case cases[] = {
        {"a folder named MERVODriverStager64.exe",
         false,
         "Error: 64-bit stager cannot be started !!",
         {"Error", "Access denied.\r\n"}},
        {"a 64-bit program that crashes",
         true,
         "Error: 64-bit stager ended with 0xC0000005 !!",
         {boxes::kErrorCaption, "Error: 64-bit stager ended with 0xC0000005 !!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(e2e::PackageOptions());
        const std::string stager64 = PackageFile("MERVODriverStager64.exe");
        ASSERT_TRUE(e2e::RemoveFile(stager64));
        if (c.started) {
            ASSERT_TRUE(e2e::CopyOneFile(e2e::HostToWindowsPath(crasher), stager64));
        } else {
            ASSERT_TRUE(e2e::MakeFolders(stager64));
        }
        ASSERT_TRUE(e2e::RemoveFile(e2e::RunLogPath()));

        e2e::RunResult run = Run("nodisplay");

        EXPECT_EQ(23u, run.exitCode);
        EXPECT_EQ(std::vector<e2e::MessageBoxSeen>{c.box}, run.boxes);
        std::vector<std::string> expected;
        if (!c.started) {
            expected = {e2e::kLogBanner1,
                        e2e::kLogBanner2,
                        e2e::kLogBanner1,
                        "",
                        Entry("MERVODriverStager", "WinMain", "Log created: " + e2e::RunLogPath() + "."),
                        Entry("GetOSVersion", "GetOSVersion", "OS Version: Microsoft Windows XP."),
                        Entry("GetOSVersion", "GetOSVersion", "Service Pack 3 (Build 2600)"),
                        ""};
        }
        expected.push_back(Entry("MERVODriverStager", "WinMain", c.logLine));
        expected.push_back(kLogClosingLine);
        EXPECT_EQ(expected, e2e::RunLogEntries());
        EXPECT_TRUE(ToolCommandLines().empty());
    }
}

// The INF name keeps 499 characters, and the program folder and the name
// together 519. A name at both bounds (in folders: no single name on the file
// system is that long) reaches the 64-bit build whole: it finds the INF there
// and reads it; one character more of either is refused by the 64-bit build
// with its own text. The exit codes (stager codes) are passed on.
//
// The INF has no [Version] section, so the Setup API refuses it: staging a
// valid INF from a path of more than 260 characters crashes Wine's Setup API
// in the 64-bit build (its heap is overrun with the path). For a path that
// long its last error is ERROR_INSUFFICIENT_BUFFER, not the 0xE0000100 of a
// short one; the stager shows whichever the system gives.
TEST_F(HandOff, InfNameAtItsBoundReachesThe64BitBuildWhole)
{
    e2e::WineVersion version("winxp");
    struct Case {
        const char* name;
        size_t folderLength;
        size_t nameLength;  // of the INF name, ".inf" included
        bool infRead;       // the 64-bit build found and read the INF
        DWORD exitCode;
        const char* lastStep;
        std::vector<e2e::MessageBoxSeen> boxes;
    };
    const Case cases[] = {
        // The tool's "remove" command line holds the folder twice and does
        // not fit its 520 bytes: refused like a tool that cannot start.
        {"name of 499, path of 519",
         19,
         499,
         true,
         22,
         "Error while pre-installing driver !!",
         {kRemoveFailureBox, {"Error", "Insufficient buffer.\r\n"}}},
        {"name of 499, path of 520",
         20,
         499,
         false,
         15,
         boxes::kInfPathTooLong,
         {{boxes::kErrorCaption, boxes::kInfPathTooLong}}},
        {"name of 500",
         19,
         500,
         false,
         15,
         boxes::kInfNameTooLong,
         {{boxes::kErrorCaption, boxes::kInfNameTooLong}}},
    };
    const std::string inf = e2e::ExampleInfWithoutVersionSection();
    ASSERT_FALSE(inf.empty());
    const std::string stagedInf = e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.inf");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = "C:\\MERVOHandOff" + std::string(c.folderLength - 15, '_');
        ASSERT_EQ(c.folderLength, folder.size());
        // Two folders of about half the rest each, then the INF's own name.
        const size_t inner = c.nameLength - 2 - 12;
        const std::string infName =
            std::string((inner + 1) / 2, 'a') + "\\" + std::string(inner / 2, 'b') + "\\MERVOUSB.inf";
        ASSERT_EQ(c.nameLength, infName.size());
        PrepareAt(folder, infName, inf);
        // No copies of earlier runs (whose deletion the run would log).
        for (const std::string& copy : {stagedInf, e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.pnf"),
                                        e2e::JoinPath(e2e::DriversFolder(), "mervousb.sys"),
                                        e2e::JoinPath(e2e::DriversFolder(), "mervoser.sys")})
            ASSERT_TRUE(e2e::RemoveFile(copy));

        e2e::RunResult run = Run(infName + " nodisplay");

        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_EQ(c.boxes, run.boxes);
        std::vector<std::string> expected = {SequenceEntry("Current directory: " + folder)};
        if (c.infRead) {
            expected.push_back(Entry("MERVODriverStager", "RemoveDriverInstances",
                                     "Error: Driver instances remove failed !!"));
            expected.push_back(SequenceEntry("Pre-installing driver."));
            for (const char* name : {"mervousb.sys", "mervoser.sys"}) {
                const std::string target = e2e::WindowsFolder() + "\\System32\\Drivers\\" + name;
                expected.push_back(CopyEntry("Copying file " + PackageFile(name) + " to " + target + "."));
                expected.push_back(CopyEntry("File " + PackageFile(name) + " copied to " + target + " OK."));
            }
            expected.push_back(SequenceEntry("Driver files copied OK."));
        }
        expected.push_back(SequenceEntry(c.lastStep));
        std::vector<std::string> steps = e2e::RunLogSteps();
        // The run's own lines, after its start-up record (log, OS version).
        ASSERT_LE(expected.size(), steps.size());
        EXPECT_EQ(expected, std::vector<std::string>(steps.end() - expected.size(), steps.end()));
        for (const char* name : {"mervousb.sys", "mervoser.sys"})
            EXPECT_EQ(c.infRead, e2e::FileExists(e2e::JoinPath(e2e::DriversFolder(), name))) << name;
        EXPECT_FALSE(e2e::FileExists(stagedInf));
        EXPECT_TRUE(ToolCommandLines().empty());

        e2e::EndDoubles(record_);
        RemoveNested(folder, infName);
        EXPECT_TRUE(e2e::RemoveTree(folder));
    }
    for (const char* name : {"mervousb.sys", "mervoser.sys"})
        EXPECT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::DriversFolder(), name)));
}

}  // namespace
