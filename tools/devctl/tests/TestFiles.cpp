#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "TempFolder.h"

namespace {

std::unique_ptr<TempFolder>& CurrentFolder()
{
    static std::unique_ptr<TempFolder> folder;
    return folder;
}

// Removes the folder of each test when it ends, whatever its outcome.
class FolderRemover : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override { CurrentFolder().reset(); }
};

[[maybe_unused]] const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FolderRemover);
    return true;
}();

}  // namespace

const std::string& TestFolder()
{
    std::unique_ptr<TempFolder>& folder = CurrentFolder();
    if (folder == nullptr) {
        folder.reset(new TempFolder("mervo-devctl"));
        EXPECT_FALSE(folder->path().empty()) << "cannot create a temporary folder";
    }
    return folder->path();
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
