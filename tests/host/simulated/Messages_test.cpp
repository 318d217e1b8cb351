// Tests of the simulated Windows' message boxes and system message texts.
#include <cstring>

#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, MessageBoxesAreRecorded)
{
    EXPECT_EQ(Platform.MessageBoxA(nullptr, "Driver installed OK.", "MERVODriverStager", PS_MB_ICONINFORMATION), 1);
    ASSERT_EQ(Sim().boxes.size(), 1u);
    EXPECT_EQ(Sim().boxes[0].text, "Driver installed OK.");
    EXPECT_EQ(Sim().boxes[0].caption, "MERVODriverStager");
    EXPECT_EQ(Sim().boxes[0].type, PS_MB_ICONINFORMATION);
    EXPECT_EQ(Sim().trace.back(), "MessageBoxA MERVODriverStager");
}

// The texts themselves are rows of the conformance table (tests/conformance).
TEST_F(SimulatedPlatformTest, FormatMessageTextsAreCountedUntilReleased)
{
    const uint32_t kFlags =
        PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_FROM_SYSTEM | PS_FORMAT_MESSAGE_IGNORE_INSERTS;
    char* first = nullptr;
    char* second = nullptr;
    ASSERT_NE(Platform.FormatMessageA(kFlags, nullptr, 5, PS_LANG_USER_DEFAULT, reinterpret_cast<char*>(&first), 0,
                                      nullptr), 0u);
    ASSERT_NE(Platform.FormatMessageA(kFlags, nullptr, 2, PS_LANG_USER_DEFAULT, reinterpret_cast<char*>(&second), 0,
                                      nullptr), 0u);
    EXPECT_EQ(Sim().openTexts, 2);
    EXPECT_EQ(Platform.LocalFree(first), nullptr);
    EXPECT_EQ(Sim().openTexts, 1);
    // Memory that is no text of the machine is handed back, with error 6.
    char other = 0;
    EXPECT_EQ(Platform.LocalFree(&other), &other);
    EXPECT_EQ(Platform.GetLastError(), 6u);
    EXPECT_EQ(Platform.LocalFree(second), nullptr);
    EXPECT_EQ(Sim().openTexts, 0);
}

}  // namespace
