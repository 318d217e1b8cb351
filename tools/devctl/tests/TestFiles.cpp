#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "TempFolder.h"
#include "platform/simulated/SimulatedPlatform.h"

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

std::string WriteTestFile(const std::string& path, const std::string& bytes)
{
    std::string windowsPath = path.find(':') == std::string::npos ? "C:\\" + path : path;
    SimWriteFile(windowsPath, bytes);
    EXPECT_TRUE(SimFileExists(windowsPath)) << windowsPath;
    return windowsPath;
}

std::vector<std::string> FolderNames(const std::string& windowsFolder)
{
    std::vector<std::string> names;
    std::string host = SimHostPath(windowsFolder);
    std::error_code error;
    if (host.empty() || !std::filesystem::is_directory(host, error)) {
        return names;
    }
    for (const auto& entry : std::filesystem::directory_iterator(host)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}
