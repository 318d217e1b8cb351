#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/BoundedText.h"

namespace {

// A buffer with guard bytes on both sides, to see a write outside it.
struct Guarded {
    char before[8];
    char text[8];
    char after[8];
    Guarded()
    {
        memset(before, 'G', sizeof before);
        memset(text, 'x', sizeof text);
        memset(after, 'G', sizeof after);
    }
    bool GuardsIntact() const
    {
        for (size_t i = 0; i < 8; i++) {
            if (before[i] != 'G' || after[i] != 'G') {
                return false;
            }
        }
        return true;
    }
};

struct BoundCase {
    const char* source;
    int expectedResult;
    const char* expectedText;
};

TEST(BoundedText, CopyFitsUpToSizeLessOneAndCutsBeyond)
{
    const BoundCase cases[] = {
        {"", 0, ""},
        {"1234567", 0, "1234567"},   // 7 characters: exactly fits 8 bytes
        {"12345678", 1, "1234567"},  // 8 characters: cut
        {"123456789abc", 1, "1234567"},
    };
    for (const BoundCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << (&c - &cases[0]));
        Guarded buffer;
        EXPECT_EQ(c.expectedResult, CopyText(buffer.text, sizeof buffer.text, c.source)) << c.source;
        EXPECT_STREQ(c.expectedText, buffer.text);
        EXPECT_TRUE(buffer.GuardsIntact()) << c.source;
    }
}

TEST(BoundedText, FormatFitsUpToSizeLessOneAndCutsBeyond)
{
    const BoundCase cases[] = {
        {"abc", 0, "<abc>"},
        {"abcde", 0, "<abcde>"},   // 7 characters
        {"abcdef", 1, "<abcdef"},  // 8 characters: the last one goes
        {"abcdefghijklmnop", 1, "<abcdef"},
    };
    for (const BoundCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << (&c - &cases[0]));
        Guarded buffer;
        EXPECT_EQ(c.expectedResult, FormatText(buffer.text, sizeof buffer.text, "<%s>", c.source));
        EXPECT_STREQ(c.expectedText, buffer.text);
        EXPECT_TRUE(buffer.GuardsIntact()) << c.source;
    }
}

TEST(BoundedText, AppendAndRangeStayWithinTheBuffer)
{
    Guarded buffer;
    CopyText(buffer.text, sizeof buffer.text, "abc");
    EXPECT_EQ(0, AppendText(buffer.text, sizeof buffer.text, "defg"));
    EXPECT_STREQ("abcdefg", buffer.text);
    EXPECT_EQ(1, AppendText(buffer.text, sizeof buffer.text, "h"));
    EXPECT_STREQ("abcdefg", buffer.text);
    EXPECT_EQ(0, CopyTextRange(buffer.text, sizeof buffer.text, "hello world", 5));
    EXPECT_STREQ("hello", buffer.text);
    EXPECT_EQ(1, CopyTextRange(buffer.text, sizeof buffer.text, "hello world", 11));
    EXPECT_STREQ("hello w", buffer.text);
    EXPECT_TRUE(buffer.GuardsIntact());
}

TEST(BoundedText, ZeroSizeWritesNothing)
{
    Guarded buffer;
    EXPECT_EQ(1, CopyText(buffer.text, 0, "abc"));
    EXPECT_EQ(1, FormatText(buffer.text, 0, "%s", "abc"));
    EXPECT_EQ('x', buffer.text[0]);
}

}  // namespace
