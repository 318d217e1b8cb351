// Files of host tests, each test in a folder of its own, which is the C:
// drive of the simulated Windows (SimTreeReset).
#pragma once

#include <string>
#include <vector>

// The running test's own host folder (made on its first use, removed when
// the test ends), so that tests run in parallel or side by side never share
// a file.
const std::string& TestFolder();

// Writes `bytes` to the Windows path `path` ("C:\pkg\x.inf": its folders are
// made) and returns the path; a name without a drive is taken in C:\.
std::string WriteTestFile(const std::string& path, const std::string& bytes);

// The names in a folder of the simulated Windows, sorted; empty when it is
// missing.
std::vector<std::string> FolderNames(const std::string& windowsFolder);
