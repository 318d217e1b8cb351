#include <gtest/gtest.h>

#include <string>

#include "PatternMatch.h"

namespace {

struct MatchCase {
    const char* pattern;
    const char* text;
    int expected;
};

const MatchCase MATCH_CASES[] = {
    // The stager's pattern against hardware and compatible ids.
    {"*VID_0123*", "USB\\VID_0123&PID_4567", 1},
    {"*VID_0123*", "USB\\VID_0123&PID_4567&REV_0100", 1},
    {"*VID_0123*", "usb\\vid_0123&pid_4567", 1},
    {"*vid_abcd*", "USB\\VID_ABCD&PID_0001", 1},
    {"*VID_0123*", "USB\\VID_0124&PID_0123", 0},
    {"*VID_0123*", "USB\\Class_02&SubClass_02", 0},
    {"*VID_0123*", "VID_0123", 1},
    {"*VID_0123*", "", 0},
    // Whole-text matching: no implicit leading or trailing run.
    {"VID_0123", "USB\\VID_0123", 0},
    {"USB\\VID_0123", "USB\\VID_0123&PID_4567", 0},
    {"USB\\VID_0123*", "USB\\VID_0123&PID_4567", 1},
    {"*PID_4567", "USB\\VID_0123&PID_4567", 1},
    {"*PID_4567", "USB\\VID_0123&PID_4567&MI_00", 0},
    // '?' is exactly one character.
    {"USB\\VID_012?&PID_4567", "USB\\VID_0123&PID_4567", 1},
    {"USB\\VID_012?&PID_4567", "USB\\VID_012&PID_4567", 0},
    {"????", "abcd", 1},
    {"????", "abc", 0},
    {"????", "abcde", 0},
    {"?", "", 0},
    // Runs of '*', and back-tracking over repeated parts.
    {"*", "", 1},
    {"**", "anything", 1},
    {"", "", 1},
    {"", "a", 0},
    {"a*b*c", "aXbYc", 1},
    {"a*b*c", "aXbYcZ", 0},
    {"*aab", "aaaab", 1},
    {"*ab*ab", "xabyabab", 1},
    {"*&MI_0?", "USB\\VID_0123&PID_4567&MI_01", 1},
    {"*?VID*", "VID_0123", 0},
    // Other characters compare exactly.
    {"USB\\VID_0123", "USB/VID_0123", 0},
    {"[ab]", "a", 0},
};

TEST(PatternMatch, MatchesWholeIdWithoutCase)
{
    for (const MatchCase& c : MATCH_CASES) {
        EXPECT_EQ(c.expected, MatchPattern(c.pattern, c.text))
            << "pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
    }
}

TEST(PatternMatch, LongPatternsAndTextsStayFast)
{
    // Many stars against a long text that almost matches: a recursive matcher
    // would take exponential time here.
    std::string pattern;
    for (int i = 0; i < 200; ++i) {
        pattern += "*a";
    }
    pattern += "b";
    std::string text(5000, 'a');
    EXPECT_EQ(0, MatchPattern(pattern.c_str(), text.c_str()));
    text += "b";
    EXPECT_EQ(1, MatchPattern(pattern.c_str(), text.c_str()));
}

struct PrefixCase {
    const char* text;
    const char* prefix;
    int expected;
};

const PrefixCase PREFIX_CASES[] = {
    {"USB\\VID_0123&PID_4567&REV_0100", "USB\\VID_0123&PID_4567", 1},
    {"usb\\vid_0123&pid_4567", "USB\\VID_0123&PID_4567", 1},
    {"USB\\VID_0123&PID_456", "USB\\VID_0123&PID_4567", 0},
    {"USB\\VID_0123&PID_4568", "USB\\VID_0123&PID_4567", 0},
    {"anything", "", 1},
    {"", "a", 0},
};

TEST(PatternMatch, PrefixComparesWithoutCase)
{
    for (const PrefixCase& c : PREFIX_CASES) {
        EXPECT_EQ(c.expected, StartsWithNoCase(c.text, c.prefix))
            << "text \"" << c.text << "\" prefix \"" << c.prefix << "\"";
    }
}

}  // namespace
