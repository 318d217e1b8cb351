// Temporary files for host tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Writes `bytes` to a file in the test temporary folder; returns its path.
inline std::string WriteTempFile(const std::string& name, const std::string& bytes)
{
    std::string path = testing::TempDir() + "devctl_" + name;
    FILE* file = fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, file) << path;
    if (file != nullptr) {
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    return path;
}
