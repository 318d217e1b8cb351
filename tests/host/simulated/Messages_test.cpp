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

TEST_F(SimulatedPlatformTest, FormatMessageGivesTheSystemTextsOfKnownCodes)
{
    struct {
        uint32_t code;
        const char* text;  // null: no system text
    } const cases[] = {
        {0, "The operation completed successfully.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {3, "The system cannot find the path specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {122, "The data area passed to a system call is too small.\r\n"},
        {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
        {206, "The filename or extension is too long.\r\n"},
        {0xE0000100, nullptr},
        {0xE0000000, nullptr},
        {99999, nullptr},
    };
    const uint32_t kFlags =
        PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_FROM_SYSTEM | PS_FORMAT_MESSAGE_IGNORE_INSERTS;
    for (const auto& c : cases) {
        char sentinel = 0;
        char* text = &sentinel;
        Platform.SetLastError(0);
        uint32_t length = Platform.FormatMessageA(kFlags, nullptr, c.code, PS_LANG_USER_DEFAULT,
                                                  reinterpret_cast<char*>(&text), 0, nullptr);
        if (c.text == nullptr) {
            EXPECT_EQ(length, 0u) << c.code;
            EXPECT_EQ(Platform.GetLastError(), 317u) << c.code;
            EXPECT_EQ(text, &sentinel) << c.code;
            continue;
        }
        ASSERT_NE(text, &sentinel) << c.code;
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(length, strlen(c.text));
        EXPECT_EQ(Sim().openTexts, 1);
        EXPECT_EQ(Platform.LocalFree(text), nullptr);
        EXPECT_EQ(Sim().openTexts, 0);
    }
}

}  // namespace
