// Tests of the simulated Windows' path rules: resolution, current folder,
// drives and the case of new names.
#include "simulated/SimulatedTest.h"

namespace {

// The path rules that the conformance table (tests/conformance) checks on both
// machines are not repeated here; these rows need the simulated machine's own
// drives and folders.
struct PathCase {
    const char* path;
    uint32_t attributes;  // expected result of GetFileAttributesA
    uint32_t error;       // expected last error when INVALID_FILE_ATTRIBUTES
};

TEST_F(SimulatedPlatformTest, PathsOfTheSimulatedMachine)
{
    Write("C:\\pkg\\Driver.SYS", "x");
    const uint32_t kFolder = PS_FILE_ATTRIBUTE_DIRECTORY;
    const uint32_t kNone = PS_INVALID_FILE_ATTRIBUTES;
    const PathCase cases[] = {
        {"C:\\..\\..\\pkg\\Driver.SYS", PS_FILE_ATTRIBUTE_ARCHIVE, 0},
        {"C:", kFolder, 0},
        {"\\\\server\\share\\Driver.SYS", kNone, PS_ERROR_PATH_NOT_FOUND},
        {"Q:\\pkg\\Driver.SYS", kNone, PS_ERROR_PATH_NOT_FOUND},
        {"C:\\pkg\\a:b", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\a?\\..\\pkg", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\con\\Driver.SYS", kNone, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\LPT9.inf", kNone, PS_ERROR_FILE_NOT_FOUND},  // no such port here
        {"C:\\pkg\\Aux", kNone, PS_ERROR_FILE_NOT_FOUND},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.path);
        Platform.SetLastError(0);
        EXPECT_EQ(c.attributes, Platform.GetFileAttributesA(c.path));
        if (c.attributes == kNone) {
            EXPECT_EQ(c.error, Platform.GetLastError());
        }
    }
    // The machine's own set-up takes paths longer than the calls do.
    std::string deep = "C:\\" + std::string(200, 'd') + "\\" + std::string(200, 'e');
    SimMakeFolder(deep);
    EXPECT_NE(SimAttributes(deep), kNone);
    EXPECT_EQ(kNone, Platform.GetFileAttributesA(deep.c_str()));
    EXPECT_EQ(PS_ERROR_FILENAME_EXCED_RANGE, Platform.GetLastError());
}

TEST_F(SimulatedPlatformTest, RelativePathsStartInTheCurrentFolderAndDrivesMapToFolders)
{
    Write("C:\\pkg\\MERVOUSB.inf", "x");
    Sim().currentDirectory = "C:\\pkg";
    EXPECT_EQ(PS_FILE_ATTRIBUTE_ARCHIVE, Platform.GetFileAttributesA("mervousb.inf"));
    EXPECT_EQ(PS_FILE_ATTRIBUTE_ARCHIVE, Platform.GetFileAttributesA("..\\pkg\\MERVOUSB.inf"));
    EXPECT_EQ(PS_INVALID_FILE_ATTRIBUTES, Platform.GetFileAttributesA("\\MERVOUSB.inf"));

    std::string other = root + "/d-drive";
    SimMakeFolder("C:\\d-drive");
    SimMapDrive('d', other);
    Write("D:\\Setup\\MERVOUSB.inf", "d");
    EXPECT_EQ("d", Read("C:\\d-drive\\setup\\mervousb.inf"));
    EXPECT_EQ(SimHostPath("d:/SETUP/mervousb.inf"), other + "/Setup/MERVOUSB.inf");
    EXPECT_EQ("", SimHostPath("E:\\x"));
}

TEST_F(SimulatedPlatformTest, RecordsHoldResolvedPathsAndNewNamesKeepTheirCase)
{
    Write("C:\\WINDOWS\\inf\\MERVOUSB.inf", "old");
    ASSERT_NE(Platform.DeleteFileA("c:/windows/INF/./mervousb.INF"), 0);
    ASSERT_EQ(1u, Sim().filesDeleted.size());
    EXPECT_EQ("C:\\WINDOWS\\inf\\MERVOUSB.inf", Sim().filesDeleted[0]);

    WriteStream("c:\\temp\\New Log.TXT. . ", "w", "x");
    ASSERT_EQ(1u, Sim().filesWritten.size());
    EXPECT_EQ("C:\\Temp\\New Log.TXT", Sim().filesWritten[0]);
    EXPECT_EQ(SimHostPath("C:\\TEMP\\new log.txt"), root + "/Temp/New Log.TXT");

    // Overwriting an existing file keeps its on-disk name.
    WriteStream("C:\\TEMP\\NEW LOG.txt", "w", "y");
    EXPECT_EQ("C:\\Temp\\New Log.TXT", Sim().filesWritten.back());
    EXPECT_EQ("y", ReadStream("c:\\temp\\new log.txt", "r"));
    EXPECT_EQ("C:\\Temp\\New Log.TXT", Sim().filesRead.back());
}

}  // namespace
