// On Windows the readers run on the real platform, on the folder itself.
//
// The package is untrusted input: the check reads only regular files. A
// folder, a reparse point (a symbolic link or junction) or a device name is
// refused like a file that cannot be read.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "PackageCheck.h"
#include "platform/PlatformServices.h"

namespace {

FILE* (*platformOpenStream)(const char* path, const char* mode) = nullptr;

// The Platform table's OpenStream while a package is open: the file is opened
// once, looked at through its handle, and read through that same handle.
FILE* OpenPackageStream(const char* path, const char* mode)
{
    bool reading = path != nullptr && mode != nullptr && mode[0] == 'r' && strchr(mode, '+') == nullptr;
    if (!reading) {
        return platformOpenStream(path, mode);
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;  // the system's error stays the last error
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(file);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    bool binary = strchr(mode, 'b') != nullptr;
    int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | (binary ? _O_BINARY : _O_TEXT));
    if (descriptor < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, binary ? "rb" : "r");
    if (stream == nullptr) {
        _close(descriptor);  // closes the handle too
    }
    return stream;
}

}  // namespace

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
    if (platformOpenStream == nullptr) {
        platformOpenStream = Platform.OpenStream;
        Platform.OpenStream = OpenPackageStream;
    }
    return 0;
}

void ClosePackageFolder()
{
    if (platformOpenStream != nullptr) {
        Platform.OpenStream = platformOpenStream;
        platformOpenStream = nullptr;
    }
}

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

std::string ExecutableFolder()
{
    return std::string();
}

bool IsFolder(const std::string&)
{
    return false;
}
