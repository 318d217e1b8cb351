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
    EXPECT_EQ(8u, Platform.GetTempPathA(sizeof buffer, buffer));
    EXPECT_FALSE(Sim().failAlways[SIM_DeleteFileA]);
    EXPECT_TRUE(Sim().boxes.empty());
    EXPECT_EQ(PS_FILE_ATTRIBUTE_ARCHIVE, SimAttributes("C:\\pkg\\a.txt"));
    EXPECT_EQ(2600u, Sim().version.dwBuildNumber);
    EXPECT_STREQ("Service Pack 3", Sim().version.szCSDVersion);
    for (const char* folder : {"C:\\WINDOWS\\system32\\drivers", "C:\\WINDOWS\\inf", "C:\\Temp", "C:\\pkg"}) {
        EXPECT_EQ(PS_FILE_ATTRIBUTE_DIRECTORY, SimAttributes(folder)) << folder;
    }
    // A stream of the old machine does not disturb the new one's count.
    fclose(stream);
    EXPECT_EQ(0, Sim().openStreams);
}

}  // namespace
