// Files of host tests, each test in a folder of its own.
#pragma once

#include <string>

// The running test's own folder (made on its first use, removed when the test
// ends), so that tests run in parallel or side by side never share a file.
const std::string& TestFolder();

// Writes `bytes` to `name` in the running test's folder; returns its path.
std::string WriteTempFile(const std::string& name, const std::string& bytes);
