// Case-insensitive text comparisons used to pick device instances.
#pragma once

// 1 when the whole of `text` matches `pattern`, 0 otherwise. Letters are
// compared without case (ASCII only: device ids are ASCII); '*' matches any
// run of characters, also an empty one, and '?' exactly one character.
int MatchPattern(const char* pattern, const char* text);

// 1 when `text` begins with `prefix`, letters compared without case.
int StartsWithNoCase(const char* text, const char* prefix);

// The ASCII letter in lower case; any other byte unchanged.
char FoldCase(char c);
