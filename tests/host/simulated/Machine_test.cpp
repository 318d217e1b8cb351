// Tests of the simulated Windows' reset.
#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, ResetRestoresTheTableAndAFreshMachine)
{
    Platform.GetTempPathA = [](uint32_t, char*) -> uint32_t { return 0; };
    Sim().failAlways[SIM_DeleteFileA] = true;
    Sim().boxes.push_back(SimMessageBox{"t", "c", 0});
    Write("C:\\pkg\\a.txt", "a");
    SimSetAttributes("C:\\pkg\\a.txt", PS_FILE_ATTRIBUTE_READONLY);
    FILE* stream = Platform.OpenStream("C:\\pkg\\a.txt", "r");
    ASSERT_NE(stream, nullptr);

    SimReset(root);
    char buffer[260];
    EXPECT_EQ(Platform.GetTempPathA(sizeof buffer, buffer), 8u);
    EXPECT_FALSE(Sim().failAlways[SIM_DeleteFileA]);
    EXPECT_TRUE(Sim().boxes.empty());
    EXPECT_EQ(SimAttributes("C:\\pkg\\a.txt"), PS_FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(Sim().version.dwBuildNumber, 2600u);
    EXPECT_STREQ(Sim().version.szCSDVersion, "Service Pack 3");
    for (const char* folder : {"C:\\WINDOWS\\system32\\drivers", "C:\\WINDOWS\\inf", "C:\\Temp", "C:\\pkg"}) {
        EXPECT_EQ(SimAttributes(folder), PS_FILE_ATTRIBUTE_DIRECTORY) << folder;
    }
    // A stream of the old machine does not disturb the new one's count.
    fclose(stream);
    EXPECT_EQ(Sim().openStreams, 0);
}

}  // namespace
