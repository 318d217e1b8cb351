// Tests of the simulated Windows' version record and name queries.
#include <cstring>

#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, GetVersionHonoursTheSizeField)
{
    SimSetVersion(PS_VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4");
    PsOsVersionInfoEx info;
    memset(&info, 0xAB, sizeof info);
    info.dwOSVersionInfoSize = PS_OSVERSIONINFO_SIZE;
    ASSERT_NE(Platform.GetVersionExA(&info), 0);
    EXPECT_EQ(info.dwOSVersionInfoSize, PS_OSVERSIONINFO_SIZE);
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
    EXPECT_EQ(info.dwBuildNumber, 2195u);
    EXPECT_EQ(info.dwPlatformId, PS_VER_PLATFORM_WIN32_NT);
    EXPECT_STREQ(info.szCSDVersion, "Service Pack 4");
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = PS_OSVERSIONINFO_SIZE; i < sizeof info; ++i) {
        EXPECT_EQ(bytes[i], 0xAB) << "byte " << i << " written";
    }

    info.dwOSVersionInfoSize = PS_OSVERSIONINFOEX_SIZE;
    ASSERT_NE(Platform.GetVersionExA(&info), 0);
    EXPECT_EQ(info.dwOSVersionInfoSize, PS_OSVERSIONINFOEX_SIZE);
    EXPECT_EQ(info.wServicePackMajor, 4);

    struct {
        uint32_t size;
        bool refuseExtended;
        bool refusePlain;
        bool accepted;
    } const cases[] = {
        {156, true, false, false}, {148, true, false, true},  {156, false, true, true},
        {148, false, true, false}, {0, false, false, false},  {152, false, false, false},
        {sizeof(PsOsVersionInfoEx) + 4, false, false, false},
    };
    for (const auto& c : cases) {
        Sim().refuseExtendedVersion = c.refuseExtended;
        Sim().refusePlainVersion = c.refusePlain;
        info.dwOSVersionInfoSize = c.size;
        Platform.SetLastError(0);
        EXPECT_EQ(Platform.GetVersionExA(&info) != 0, c.accepted) << c.size;
        EXPECT_EQ(Platform.GetLastError(), c.accepted ? 0u : PS_ERROR_INVALID_PARAMETER) << c.size;
        EXPECT_EQ(info.dwOSVersionInfoSize, c.size);
    }
}

// The name queries' answers for every buffer size are rows of the
// conformance table (tests/conformance).
TEST_F(SimulatedPlatformTest, ComparisonAndClockOfTheSimulatedMachine)
{
    EXPECT_EQ(Platform.lstrcmpiA("Service Pack 6a", "SERVICE PACK 6A"), 0);
    EXPECT_LT(Platform.lstrcmpiA("a", "B"), 0);
    EXPECT_GT(Platform.lstrcmpiA("b", "A"), 0);

    PsSystemTime now;
    Platform.GetSystemTime(&now);
    EXPECT_EQ(now.wYear, 2007);
    EXPECT_EQ(now.wMonth, 3);
    EXPECT_EQ(now.wDay, 5);
    EXPECT_EQ(now.wDayOfWeek, 1);
    EXPECT_EQ(now.wHour, 9);
    EXPECT_EQ(now.wMinute, 4);
    EXPECT_EQ(now.wSecond, 3);
    EXPECT_EQ(now.wMilliseconds, 0);
}

}  // namespace
