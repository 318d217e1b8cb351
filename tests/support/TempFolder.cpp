#include "TempFolder.h"

#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW* where)
{
    return where->level == 0 ? 0 : remove(path);  // the folder itself is kept here
}

}  // namespace

TempFolder::TempFolder(const std::string& prefix)
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) != nullptr) {
        path_ = name.data();
    }
}

TempFolder::~TempFolder()
{
    if (!path_.empty()) {
        Empty();
        rmdir(path_.c_str());
    }
}

void TempFolder::Empty() const
{
    if (!path_.empty()) {
        nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
}
