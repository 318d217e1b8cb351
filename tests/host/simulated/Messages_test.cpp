// Tests of the simulated Windows' message boxes and system message texts.
#include <cstring>

#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, MessageBoxesAreRecorded)
{
    EXPECT_EQ(
        1, Platform.MessageBoxA(nullptr, "Driver installed OK.", "MERVODriverStager", PS_MB_ICONINFORMATION));
    ASSERT_EQ(1u, Sim().boxes.size());
    EXPECT_EQ("Driver installed OK.", Sim().boxes[0].text);
    EXPECT_EQ("MERVODriverStager", Sim().boxes[0].caption);
    EXPECT_EQ(PS_MB_ICONINFORMATION, Sim().boxes[0].type);
    EXPECT_EQ("MessageBoxA MERVODriverStager", Sim().trace.back());
}

// The texts themselves are rows of the conformance table (tests/conformance).
TEST_F(SimulatedPlatformTest, FormatMessageTextsAreCountedUntilReleased)
{
    const uint32_t kFlags =
        PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_FROM_SYSTEM | PS_FORMAT_MESSAGE_IGNORE_INSERTS;
    char* first = nullptr;
    char* second = nullptr;
    ASSERT_NE(Platform.FormatMessageA(kFlags, nullptr, 5, PS_LANG_USER_DEFAULT,
                                      reinterpret_cast<char*>(&first), 0, nullptr),
              0u);
    ASSERT_NE(Platform.FormatMessageA(kFlags, nullptr, 2, PS_LANG_USER_DEFAULT,
                                      reinterpret_cast<char*>(&second), 0, nullptr),
              0u);
    EXPECT_EQ(2, Sim().openTexts);
    EXPECT_EQ(nullptr, Platform.LocalFree(first));
    EXPECT_EQ(1, Sim().openTexts);
    // Memory that is no text of the machine is handed back, with error 6.
    char other = 0;
    EXPECT_EQ(Platform.LocalFree(&other), &other);
    EXPECT_EQ(6u, Platform.GetLastError());
    EXPECT_EQ(nullptr, Platform.LocalFree(second));
    EXPECT_EQ(0, Sim().openTexts);
}

}  // namespace
