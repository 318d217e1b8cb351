// On Windows the readers run on the real platform, on the folder itself.
#include <windows.h>

#include <algorithm>

#include "PackageCheck.h"

int OpenPackageFolder(const char* folder, std::string* programFolder, std::string* error)
{
    char fullPath[MAX_PATH];
    DWORD length = GetFullPathNameA(folder, sizeof fullPath, fullPath, nullptr);
    if (length == 0 || length >= sizeof fullPath) {
        *error = std::string("cannot resolve the folder ") + folder;
        return 1;
    }
    DWORD attributes = GetFileAttributesA(fullPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *error = std::string("no such folder: ") + folder;
        return 1;
    }
    // Folders are joined to names with one backslash, so drop trailing separators.
    std::string path = fullPath;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    *programFolder = path;
    return 0;
}

void ClosePackageFolder()
{}

namespace {

void ListFolder(const std::string& folder, const std::string& prefix, int depth,
                std::vector<std::string>* names)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names->push_back(prefix + name);
        } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && depth < 32) {
            ListFolder(folder + "\\" + name, prefix + name + "\\", depth + 1, names);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

std::vector<std::string> ListPackageFiles(const std::string& programFolder)
{
    std::vector<std::string> names;
    ListFolder(programFolder, "", 0, &names);
    std::sort(names.begin(), names.end());
    return names;
}
