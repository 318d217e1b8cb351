// Tests of the simulated Windows' file records. What the file operations
// answer (results, last errors, attributes, bytes) is checked on both
// machines by the conformance table (tests/conformance).
#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, FileOperationsRecordOnlyWhatTheyDid)
{
    Write("C:\\pkg\\drv.sys", "driver");
    Write("C:\\WINDOWS\\system32\\drivers\\locked.sys", "old");
    SimSetAttributes("C:\\WINDOWS\\system32\\drivers\\locked.sys", PS_FILE_ATTRIBUTE_READONLY);
    Write("C:\\WINDOWS\\system32\\drivers\\present.sys", "old");
    EXPECT_EQ(0, Platform.CopyFileA("C:\\pkg\\none.sys", "C:\\WINDOWS\\system32\\drivers\\none.sys", 0));
    EXPECT_EQ(0, Platform.CopyFileA("C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\locked.sys", 0));
    EXPECT_NE(Platform.CopyFileA("C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\PRESENT.SYS", 0), 0);
    EXPECT_NE(Platform.CopyFileA("c:\\PKG\\DRV.SYS", "C:\\WINDOWS\\system32\\drivers\\new.sys", 1), 0);
    EXPECT_EQ(0, Platform.DeleteFileA("C:\\WINDOWS\\system32\\drivers\\locked.sys"));
    EXPECT_NE(Platform.DeleteFileA("c:/windows/system32/drivers/./NEW.sys"), 0);
    // Records hold the resolved names with their case on disk.
    EXPECT_EQ((std::vector<std::string>{"C:\\pkg\\drv.sys", "C:\\pkg\\drv.sys"}), Sim().filesRead);
    EXPECT_EQ((std::vector<std::string>{"C:\\WINDOWS\\system32\\drivers\\present.sys",
                                        "C:\\WINDOWS\\system32\\drivers\\new.sys"}),
              Sim().filesWritten);
    EXPECT_EQ(std::vector<std::string>{"C:\\WINDOWS\\system32\\drivers\\new.sys"}, Sim().filesDeleted);

    // The helpers see what the operations left.
    EXPECT_EQ("driver", Read("C:\\WINDOWS\\system32\\drivers\\present.sys"));
    EXPECT_EQ(PS_FILE_ATTRIBUTE_READONLY, SimAttributes("C:\\WINDOWS\\system32\\drivers\\locked.sys"));
    EXPECT_EQ(PS_INVALID_FILE_ATTRIBUTES, SimAttributes("C:\\WINDOWS\\system32\\drivers\\new.sys"));
    Write("C:\\WINDOWS\\system32\\drivers\\locked.sys", "written anew");
    EXPECT_EQ(PS_FILE_ATTRIBUTE_ARCHIVE, SimAttributes("C:\\WINDOWS\\system32\\drivers\\locked.sys"));
}

}  // namespace
