// On Windows the readers run on the real platform, on the folder itself.
#include <windows.h>

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
{
}
