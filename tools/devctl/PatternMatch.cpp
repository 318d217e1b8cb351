#include "PatternMatch.h"

char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Greedy matching with one back-tracking point: when a later part fails,
// the most recent '*' takes one more character and matching resumes after it.
// This runs in time proportional to pattern times text length and never
// recurses, so any pattern from the command line is safe.
int MatchPattern(const char* pattern, const char* text)
{
    const char* p = pattern;
    const char* t = text;
    const char* starPattern = nullptr;  // just after the last '*' seen
    const char* starText = nullptr;     // where that '*' run currently ends

    while (*t != '\0') {
        if (*p == '*') {
            starPattern = ++p;
            starText = t;
        } else if (*p != '\0' && (*p == '?' || FoldCase(*p) == FoldCase(*t))) {
            ++p;
            ++t;
        } else if (starPattern != nullptr) {
            p = starPattern;
            t = ++starText;
        } else {
            return 0;
        }
    }
    while (*p == '*') {
        ++p;
    }
    return *p == '\0' ? 1 : 0;
}

int StartsWithNoCase(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++prefix, ++text) {
        if (*text == '\0' || FoldCase(*text) != FoldCase(*prefix)) {
            return 0;
        }
    }
    return 1;
}
