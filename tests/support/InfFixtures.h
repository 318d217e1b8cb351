// INF texts and encodings shared by the test programs of the stager, the
// package check and the companion tool.
#pragma once

#include <string>
#include <vector>

// A typical package's INF: one device line (vendor 0123, product 4567), two
// driver files in [SourceDisksFiles] and a [Strings] section.
extern const char kTypicalInf[];

// The worked example of two device lines of vendor 0123 (products 4567 and
// 89AB&MI_00) and their strings, with the first device line and the two
// string lines given.
std::string TwoDeviceInf(const std::string& line3 = "%DevDesc%=Install, USB\\VID_0123&PID_4567",
                         const std::string& line6 = "DevDesc=\"Some Device\"",
                         const std::string& line7 = "DevDesc2=\"Other Device\"");

// 8-bit text as UTF-16LE with its byte order mark.
std::string Utf16(const std::string& text);

// The names of the .inf files in the host folder `folder`, sorted; empty when
// it cannot be listed.
std::vector<std::string> InfNamesIn(const std::string& folder);
