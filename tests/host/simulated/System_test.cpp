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
    EXPECT_EQ(PS_OSVERSIONINFO_SIZE, info.dwOSVersionInfoSize);
    EXPECT_EQ(5u, info.dwMajorVersion);
    EXPECT_EQ(0u, info.dwMinorVersion);
    EXPECT_EQ(2195u, info.dwBuildNumber);
    EXPECT_EQ(PS_VER_PLATFORM_WIN32_NT, info.dwPlatformId);
    EXPECT_STREQ("Service Pack 4", info.szCSDVersion);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = PS_OSVERSIONINFO_SIZE; i < sizeof info; ++i) {
        EXPECT_EQ(0xAB, bytes[i]) << "byte " << i << " written";
    }

    info.dwOSVersionInfoSize = PS_OSVERSIONINFOEX_SIZE;
    ASSERT_NE(Platform.GetVersionExA(&info), 0);
    EXPECT_EQ(PS_OSVERSIONINFOEX_SIZE, info.dwOSVersionInfoSize);
    EXPECT_EQ(4, info.wServicePackMajor);

    struct {
        uint32_t size;
        bool refuseExtended;
        bool refusePlain;
        bool accepted;
        // clang-format off
    } const cases[] = {
        {156, true, false, false}, {148, true, false, true},  {156, false, true, true},
        {148, false, true, false}, {0, false, false, false},  {152, false, false, false},
        {sizeof(PsOsVersionInfoEx) + 4, false, false, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << (&c - &cases[0]));
        Sim().refuseExtendedVersion = c.refuseExtended;
        Sim().refusePlainVersion = c.refusePlain;
        info.dwOSVersionInfoSize = c.size;
        Platform.SetLastError(0);
        EXPECT_EQ(c.accepted, Platform.GetVersionExA(&info) != 0) << c.size;
        EXPECT_EQ(c.accepted ? 0u : PS_ERROR_INVALID_PARAMETER, Platform.GetLastError()) << c.size;
        EXPECT_EQ(c.size, info.dwOSVersionInfoSize);
    }
}

// The name queries' answers for every buffer size are rows of the
// conformance table (tests/conformance).
TEST_F(SimulatedPlatformTest, ComparisonAndClockOfTheSimulatedMachine)
{
    EXPECT_EQ(0, Platform.lstrcmpiA("Service Pack 6a", "SERVICE PACK 6A"));
    EXPECT_LT(Platform.lstrcmpiA("a", "B"), 0);
    EXPECT_GT(Platform.lstrcmpiA("b", "A"), 0);

    PsSystemTime now;
    Platform.GetSystemTime(&now);
    EXPECT_EQ(2007, now.wYear);
    EXPECT_EQ(3, now.wMonth);
    EXPECT_EQ(5, now.wDay);
    EXPECT_EQ(1, now.wDayOfWeek);
    EXPECT_EQ(9, now.wHour);
    EXPECT_EQ(4, now.wMinute);
    EXPECT_EQ(3, now.wSecond);
    EXPECT_EQ(0, now.wMilliseconds);
}

}  // namespace
