// Generated INF files for the reader benchmarks, and what each reader reads of
// them (the line counts of its passes), so that the floor can read exactly the
// same lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct BenchInf {
    std::string bytes;  // the file, CR LF line ends
    int devices = 0;    // device lines in the models section
    // Lines read by GetDeviceIDs: the first pass, then one reading per device
    // (from the top to the line that defines its description).
    std::vector<size_t> deviceTableReads;
    // Lines read by FindSourceDisksFiles + NextSourceDisksFile: from the top
    // to the header that ends the section.
    size_t sourceDisksFilesLines = 0;
    size_t sourceDisksFilesEntries = 0;
};

// An INF of about `targetBytes` bytes: the device lines near the top, a
// [SourceDisksFiles] section that takes up most of the file, and the
// [Strings] section that defines the descriptions at its very end.
BenchInf MakeBenchInf(size_t targetBytes, int devices);

// The bytes of the first `lines` lines of `text` (the whole text when it has
// fewer), as a text-mode stream delivers them (CR LF counted as one byte).
size_t TextModeBytes(const std::string& text, size_t lines);
