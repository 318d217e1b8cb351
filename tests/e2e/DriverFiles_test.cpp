// Under Wine: the driver files land in C:\windows\system32\drivers with their
// bytes, stale copies of the INF and its .pnf are deleted first, and a
// [SourceDisksFiles] name that climbs out of the package writes nothing
// outside the driver folder.
#include <string>
#include <vector>

#include "StagerTest.h"

namespace {

class DriverFiles : public StagerTest {};

const char* const kDriverFiles[] = {"mervousb.sys", "mervoser.sys"};

TEST_F(DriverFiles, AreCopiedIntoTheDriverFolderWithTheirBytes)
{
    for (const char* name : kDriverFiles) {
        ASSERT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::DriversFolder(), name)));
    }
    e2e::WineVersion version("winxp");
    e2e::RunResult run = Run("nodisplay");
    EXPECT_EQ(0u, run.exitCode);
    for (const char* name : kDriverFiles) {
        bool copied = false;
        std::string bytes = e2e::ReadFileBytes(e2e::JoinPath(e2e::DriversFolder(), name), &copied);
        EXPECT_TRUE(copied) << name;
        EXPECT_EQ(e2e::ReadFileBytes(e2e::JoinPath(e2e::ExamplePackage(), name)), bytes) << name;
    }
}

// A read-only stale INF and its compiled form are deleted (a line each) before
// the files are copied; the INF store then holds the package's INF.
TEST_F(DriverFiles, StaleInfAndPnfAreDeletedFirst)
{
    const std::string staleInf = e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.inf");
    const std::string stalePnf = e2e::JoinPath(e2e::InfFolder(), "MERVOUSB.pnf");
    ASSERT_TRUE(e2e::WriteFileBytes(staleInf, "; stale INF\r\n"));
    ASSERT_TRUE(e2e::WriteFileBytes(stalePnf, "stale PNF"));
    ASSERT_TRUE(SetFileAttributesA(staleInf.c_str(), FILE_ATTRIBUTE_READONLY));
    e2e::WineVersion version("winxp");

    e2e::RunResult run = Run("nodisplay");

    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> steps = e2e::RunLogSteps();
    EXPECT_TRUE(InOrder(
        steps, {SequenceEntry("Pre-installing driver."), CopyEntry("File " + staleInf + " deleted OK."),
                CopyEntry("File " + stalePnf + " deleted OK."),
                CopyEntry("Copying file " + PackageFile("mervousb.sys") + " to " + e2e::WindowsFolder() +
                          "\\System32\\Drivers\\mervousb.sys."),
                SequenceEntry("Driver pre-installed OK.")}))
        << ::testing::PrintToString(steps);
    EXPECT_EQ(e2e::ReadFileBytes(staleInf), e2e::ReadFileBytes(PackageFile("MERVOUSB.inf")));
    EXPECT_NE(e2e::ReadFileBytes(stalePnf), "stale PNF");
}

// Whether `name` lies anywhere under `folder`.
bool FoundUnder(const std::string& folder, const std::string& name)
{
    for (const e2e::FolderEntry& entry : e2e::ListFolder(folder)) {
        if (lstrcmpiA(entry.name.c_str(), name.c_str()) == 0 ||
            ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
             !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
             FoundUnder(e2e::JoinPath(folder, entry.name), name))) {
            return true;
        }
    }
    return false;
}

// "..\..\evil.txt" in [SourceDisksFiles] would read from outside the package
// and write C:\windows\evil.txt: it is refused with the copy error line, the
// other files are still copied and the run ends well.
TEST_F(DriverFiles, NameClimbingOutOfThePackageWritesNothingOutside)
{
    std::string inf = e2e::ReadFileBytes(e2e::JoinPath(e2e::ExamplePackage(), "MERVOUSB.inf"));
    const std::string section = "[SourceDisksFiles]\r\n";
    size_t at = inf.find(section);
    ASSERT_NE(at, std::string::npos);
    inf.insert(at + section.size(), "..\\..\\evil.txt=1\r\n");
    e2e::PackageOptions options;
    options.files = {{"MERVOUSB.inf", inf}};
    Prepare(options);
    // The file the name points at exists, two folders above the package.
    const std::string source = PackageFile("..\\..\\evil.txt");
    ASSERT_TRUE(e2e::WriteFileBytes(source, "evil"));
    ASSERT_TRUE(e2e::RemoveFile(e2e::JoinPath(e2e::DriversFolder(), "mervousb.sys")));
    e2e::WineVersion version("winxp");

    e2e::RunResult run = Run("nodisplay");
    e2e::RemoveFile(source);

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(FoundUnder(e2e::WindowsFolder(), "evil.txt")) << "evil.txt written under C:\\windows";
    EXPECT_FALSE(e2e::FileExists("C:\\evil.txt"));
    EXPECT_TRUE(e2e::FileExists(e2e::JoinPath(e2e::DriversFolder(), "mervousb.sys")));
    std::vector<std::string> steps = e2e::RunLogSteps();
    EXPECT_TRUE(InOrder(steps, {CopyEntry("Error while copying file " + source + " to " +
                                          e2e::WindowsFolder() + "\\System32\\Drivers\\..\\..\\evil.txt !!"),
                                SequenceEntry("Driver files copied OK.")}))
        << ::testing::PrintToString(steps);
}

}  // namespace
