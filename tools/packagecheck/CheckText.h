// The checker's small text helpers, shared by its source files.
#pragma once

#include <string>
#include <vector>

std::string Quote(const std::string& text);     // the text in double quotes
std::string Trimmed(const std::string& text);   // blanks, tabs and line ends dropped at both ends
std::string HexText(const std::string& bytes);  // lower-case hex of raw bytes
// The items joined with `separator` between them.
std::string Joined(const std::vector<std::string>& items, const char* separator);
bool Contains(const std::vector<std::string>& items, const std::string& item);
// The pieces of a comma-separated list, as they are (blank and empty ones too).
std::vector<std::string> SplitList(const std::string& text);
