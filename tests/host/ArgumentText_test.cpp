#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/MERVODriverStager.h"

namespace {

struct ArgumentCase {
    const char* text;  // null: an absent argument text
    const char* infFileName;
    int noDisplay;
    int noLog;
};

TEST(ArgumentText, NameAndFlagsComeFromPlainCaseSensitiveSearches)
{
    const ArgumentCase cases[] = {
        {nullptr, "MERVOUSB.inf", 0, 0},
        {"", "MERVOUSB.inf", 0, 0},
        {"MyDriver.inf", "MyDriver.inf", 0, 0},
        {"MyDriver.inf nodisplay nolog", "MyDriver.inf", 1, 1},
        {"nodisplay MyDriver.inf", "nodisplay MyDriver.inf", 1, 0},
        {"MYDRIVER.INF", "MERVOUSB.inf", 0, 0},
        {"setup.info", "setup.inf", 0, 0},
        {"NoDisplay NoLog", "MERVOUSB.inf", 0, 0},
        {"NODISPLAY NOLOG", "MERVOUSB.inf", 1, 1},
        {"nologger.inf", "nologger.inf", 0, 1},
        {"a.inf b.inf", "a.inf", 0, 0},
        {"..\\System32\\x.inf", "..\\System32\\x.inf", 0, 0},
        // One leading double quote is dropped, so a quoted name with blanks
        // names its file; the closing quote lies after ".inf".
        {"\"My Driver.inf\"", "My Driver.inf", 0, 0},
        {"\"My Driver.inf\" nodisplay", "My Driver.inf", 1, 0},
        {"\"\"x.inf", "\"x.inf", 0, 0},
        {"nolog \"My Driver.inf\"", "nolog \"My Driver.inf", 0, 1},
        {"\"nodisplay", "MERVOUSB.inf", 1, 0},
    };
    for (const ArgumentCase& c : cases) {
        SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
        EXPECT_EQ(0, ReadArgumentText(c.text));
        EXPECT_STREQ(c.infFileName, InfFileName);
        EXPECT_EQ(c.noDisplay, noDisplay);
        EXPECT_EQ(c.noLog, noLog);
    }
}

// InfFileName holds at most 499 characters. A longer name is refused, not cut:
// a cut name could name another file.
TEST(ArgumentText, NameOf499CharactersFitsAndOf500IsRefused)
{
    const std::string fits = std::string(495, 'n') + ".inf";
    ASSERT_EQ(499u, fits.size());
    EXPECT_EQ(0, ReadArgumentText((fits + " nolog").c_str()));
    EXPECT_EQ(fits, InfFileName);
    EXPECT_EQ(1, noLog);

    const std::string tooLong = std::string(496, 'n') + ".inf";
    EXPECT_EQ(1, ReadArgumentText((tooLong + " nodisplay").c_str()));
    EXPECT_STREQ("", InfFileName);
    EXPECT_EQ(1, noDisplay);

    // The dropped quote does not count.
    EXPECT_EQ(0, ReadArgumentText(("\"" + fits + "\"").c_str()));
    EXPECT_EQ(fits, InfFileName);
    EXPECT_EQ(1, ReadArgumentText(("\"" + tooLong + "\"").c_str()));
}

}  // namespace
