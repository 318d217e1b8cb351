// Tests of the simulated Windows' file operations: attributes, deleting and
// copying.
#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, AttributesAreKeptByTheSimulator)
{
    Write("C:\\Temp\\a.txt", "a");
    EXPECT_EQ(Platform.GetFileAttributesA("C:\\Temp\\a.txt"), PS_FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(Platform.SetFileAttributesA("C:\\Temp\\a.txt", PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_HIDDEN), 0);
    EXPECT_EQ(Platform.GetFileAttributesA("c:\\temp\\A.TXT"), PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(SimAttributes("C:\\Temp\\a.txt"), PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(Platform.SetFileAttributesA("C:\\Temp\\a.txt", PS_FILE_ATTRIBUTE_NORMAL), 0);
    EXPECT_EQ(Platform.GetFileAttributesA("C:\\Temp\\a.txt"), PS_FILE_ATTRIBUTE_NORMAL);

    SimSetAttributes("C:\\Temp", PS_FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Platform.GetFileAttributesA("C:\\Temp"), PS_FILE_ATTRIBUTE_DIRECTORY | PS_FILE_ATTRIBUTE_HIDDEN);

    EXPECT_EQ(Platform.SetFileAttributesA("C:\\Temp\\none.txt", PS_FILE_ATTRIBUTE_NORMAL), 0);
    EXPECT_EQ(Platform.GetLastError(), PS_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SimAttributes("C:\\Temp\\none.txt"), PS_INVALID_FILE_ATTRIBUTES);
}

TEST_F(SimulatedPlatformTest, DeleteFileRefusesFoldersReadOnlyAndMissingFiles)
{
    Write("C:\\Temp\\locked.txt", "x");
    SimSetAttributes("C:\\Temp\\locked.txt", PS_FILE_ATTRIBUTE_READONLY);
    struct {
        const char* path;
        uint32_t error;
    } const refused[] = {
        {"C:\\Temp\\missing.txt", PS_ERROR_FILE_NOT_FOUND},
        {"C:\\Nowhere\\missing.txt", PS_ERROR_PATH_NOT_FOUND},
        {"C:\\Temp", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp\\locked.txt", PS_ERROR_ACCESS_DENIED},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(Platform.DeleteFileA(c.path), 0) << c.path;
        EXPECT_EQ(Platform.GetLastError(), c.error) << c.path;
    }
    EXPECT_TRUE(SimFileExists("C:\\Temp\\locked.txt"));
    EXPECT_TRUE(Sim().filesDeleted.empty());

    // Once writable again it goes, and a file made anew under its name is plain.
    Platform.SetFileAttributesA("C:\\Temp\\locked.txt", PS_FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(Platform.DeleteFileA("C:\\Temp\\locked.txt"), 0);
    EXPECT_FALSE(SimFileExists("C:\\Temp\\locked.txt"));
    Write("C:\\Temp\\locked.txt", "y");
    EXPECT_EQ(SimAttributes("C:\\Temp\\locked.txt"), PS_FILE_ATTRIBUTE_NORMAL);
}

TEST_F(SimulatedPlatformTest, CopyFileChecksLikeWindows)
{
    Write("C:\\pkg\\drv.sys", "driver");
    Write("C:\\WINDOWS\\system32\\drivers\\locked.sys", "old");
    SimSetAttributes("C:\\WINDOWS\\system32\\drivers\\locked.sys", PS_FILE_ATTRIBUTE_READONLY);
    Write("C:\\WINDOWS\\system32\\drivers\\present.sys", "old");
    struct {
        const char* source;
        const char* target;
        int32_t failIfExists;
        uint32_t error;  // 0: copied
    } const cases[] = {
        {"C:\\pkg\\none.sys", "C:\\WINDOWS\\system32\\drivers\\none.sys", 0, PS_ERROR_FILE_NOT_FOUND},
        {"C:\\nowhere\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\drv.sys", 0, PS_ERROR_PATH_NOT_FOUND},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\nowhere\\drv.sys", 0, PS_ERROR_PATH_NOT_FOUND},
        {"C:\\pkg", "C:\\WINDOWS\\system32\\drivers\\pkg", 0, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers", 0, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\locked.sys", 0, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\present.sys", 1, 80},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\a|b.sys", 0, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\PRESENT.SYS", 0, 0},
        {"c:\\PKG\\DRV.SYS", "C:\\WINDOWS\\system32\\drivers\\new.sys", 1, 0},
    };
    for (const auto& c : cases) {
        Platform.SetLastError(0);
        int32_t copied = Platform.CopyFileA(c.source, c.target, c.failIfExists);
        EXPECT_EQ(copied != 0, c.error == 0) << c.source << " -> " << c.target;
        EXPECT_EQ(Platform.GetLastError(), c.error) << c.source << " -> " << c.target;
    }
    EXPECT_EQ(Read("C:\\WINDOWS\\system32\\drivers\\locked.sys"), "old");
    EXPECT_EQ(Read("C:\\WINDOWS\\system32\\drivers\\present.sys"), "driver");
    EXPECT_EQ(Read("C:\\WINDOWS\\system32\\drivers\\new.sys"), "driver");
    EXPECT_EQ(Sim().filesRead, (std::vector<std::string>{"C:\\pkg\\drv.sys", "C:\\pkg\\drv.sys"}));
    EXPECT_EQ(Sim().filesWritten, (std::vector<std::string>{"C:\\WINDOWS\\system32\\drivers\\present.sys",
                                                           "C:\\WINDOWS\\system32\\drivers\\new.sys"}));
}

TEST_F(SimulatedPlatformTest, CopyFileGivesTheTargetTheSourceAttributes)
{
    Write("C:\\pkg\\drv.sys", "driver");
    SimSetAttributes("C:\\pkg\\drv.sys", PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_SYSTEM);
    Write("C:\\WINDOWS\\system32\\drivers\\drv.sys", "old");
    SimSetAttributes("C:\\WINDOWS\\system32\\drivers\\drv.sys", PS_FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(Platform.CopyFileA("C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\drv.sys", 0), 0);
    EXPECT_EQ(SimAttributes("C:\\WINDOWS\\system32\\drivers\\drv.sys"),
              PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_SYSTEM);
    // ... so a second copy onto the now read-only target is refused.
    EXPECT_EQ(Platform.CopyFileA("C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\drv.sys", 0), 0);
    EXPECT_EQ(Platform.GetLastError(), PS_ERROR_ACCESS_DENIED);

    Write("C:\\pkg\\plain.sys", "plain");
    SimSetAttributes("C:\\WINDOWS\\system32\\drivers\\drv.sys", PS_FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(Platform.CopyFileA("C:\\pkg\\plain.sys", "C:\\WINDOWS\\system32\\drivers\\drv.sys", 0), 0);
    EXPECT_EQ(SimAttributes("C:\\WINDOWS\\system32\\drivers\\drv.sys"), PS_FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
