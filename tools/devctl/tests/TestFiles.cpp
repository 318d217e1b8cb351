#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

std::string& CurrentFolder()
{
    static std::string folder;
    return folder;
}

// Removes the folder of each test when it ends, whatever its outcome.
class FolderRemover : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override
    {
        std::string& folder = CurrentFolder();
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
            folder.clear();
        }
    }
};

[[maybe_unused]] const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FolderRemover);
    return true;
}();

}  // namespace

const std::string& TestFolder()
{
    std::string& folder = CurrentFolder();
    if (folder.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "mervo-devctl-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) != nullptr) {
            folder = name.data();
        }
        EXPECT_FALSE(folder.empty()) << "cannot create " << pattern;
    }
    return folder;
}

std::string WriteTempFile(const std::string& name, const std::string& bytes)
{
    std::string path = TestFolder() + "/" + name;
    FILE* file = fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, file) << path;
    if (file != nullptr) {
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    return path;
}
