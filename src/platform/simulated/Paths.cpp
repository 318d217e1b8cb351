// Path resolution and attributes of the simulated Windows: Windows paths
// resolve onto the host folders of the mapped drives; files carry their
// attributes in a map of their own (the tests run as root, so host permission
// bits cannot model read-only).
#include "platform/simulated/SimMachine.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace simulated {

namespace {

// The 8-bit file functions convert a path into a buffer of 261 wide
// characters: a longer path is refused before it is looked at.
const size_t kLongestPath = 260;

// Whether `name` (with any extension) names a device: "NUL" and "CON" are on
// every machine; the ports (COM1-9, LPT1-9, AUX and PRN, which stand for
// COM1 and LPT1) are absent from the simulated one.
enum DeviceKind { NOT_A_DEVICE, PRESENT_DEVICE, ABSENT_PORT };

DeviceKind DeviceOf(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    if (strcasecmp(base.c_str(), "CON") == 0 || strcasecmp(base.c_str(), "NUL") == 0) {
        return PRESENT_DEVICE;
    }
    if (strcasecmp(base.c_str(), "AUX") == 0 || strcasecmp(base.c_str(), "PRN") == 0) {
        return ABSENT_PORT;
    }
    if (base.size() == 4 &&
        (strncasecmp(base.c_str(), "COM", 3) == 0 || strncasecmp(base.c_str(), "LPT", 3) == 0) &&
        base[3] >= '1' && base[3] <= '9') {
        return ABSENT_PORT;
    }
    return NOT_A_DEVICE;
}

// Splits `text` on separators into `parts`, folding "." and "..". The last
// name (one that no separator follows) loses all its trailing dots and
// blanks, a name before a separator only one trailing dot: "pkg.\x" is
// "pkg\x", while "pkg \x" and "...\x" name folders of those names. A device
// as the last name makes the whole path that device (`device`). Returns 0 or
// a Windows error code.
uint32_t FoldComponents(const std::string& text, std::vector<std::string>* parts, DeviceKind* device)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && !IsSeparator(text[end])) {
            ++end;
        }
        std::string name = text.substr(start, end - start);
        bool last = end == text.size();
        start = end + 1;
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            if (!parts->empty()) {
                parts->pop_back();
            }
            continue;
        }
        for (unsigned char c : name) {
            if (c < 32 || strchr("<>:\"|?*", c) != nullptr) {
                return PS_ERROR_INVALID_NAME;
            }
        }
        if (last) {
            while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
                name.pop_back();
            }
        } else if (name.back() == '.' && name.compare(name.size() - 2, 2, "..") != 0) {
            name.pop_back();
        }
        if (name.empty()) {
            continue;
        }
        DeviceKind kind = DeviceOf(name);
        if (kind != NOT_A_DEVICE) {
            if (!last) {
                return PS_ERROR_ACCESS_DENIED;
            }
            *device = kind;
            return kind == PRESENT_DEVICE ? PS_ERROR_ACCESS_DENIED : PS_ERROR_FILE_NOT_FOUND;
        }
        parts->push_back(name);
    }
    return 0;
}

// The entry of `folder` whose name equals `name` case-insensitively, or "".
std::string FindEntry(const std::string& folder, const std::string& name)
{
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return "";
    }
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            if (found == name) {
                break;  // an exact match wins over a case variant
            }
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

Resolved ResolvePath(const char* path, PathLimit limit)
{
    Resolved result;
    const std::string text = path == nullptr ? "" : path;
    if (text.empty() || (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1]))) {
        result.error = PS_ERROR_PATH_NOT_FOUND;  // empty, UNC or device namespace
        return result;
    }
    if (limit == CALL_LIMIT && text.size() > kLongestPath) {
        result.error = PS_ERROR_FILENAME_EXCED_RANGE;
        return result;
    }
    const std::string& current = Sim().currentDirectory;
    char drive = current.empty() ? 'C' : static_cast<char>(toupper(current[0]));
    std::string rest = text;
    std::vector<std::string> parts;
    bool hasDrive = text.size() >= 2 && text[1] == ':' && isalpha(static_cast<unsigned char>(text[0]));
    if (hasDrive) {
        drive = static_cast<char>(toupper(static_cast<unsigned char>(text[0])));
        rest = text.substr(2);
    }
    bool relative = rest.empty() ? false : !IsSeparator(rest[0]);
    if (relative && current.size() >= 2 && toupper(current[0]) == drive) {
        // A relative path (or "X:name" on the current drive) starts in the current folder.
        DeviceKind ignored = NOT_A_DEVICE;
        if (FoldComponents(current.substr(2) + "\\", &parts, &ignored) != 0) {
            parts.clear();
        }
    }
    DeviceKind device = NOT_A_DEVICE;
    result.error = FoldComponents(rest, &parts, &device);
    result.device = device == PRESENT_DEVICE;
    if (result.error != 0) {
        return result;
    }
    auto mapping = State().drives.find(drive);
    if (mapping == State().drives.end()) {
        result.error = PS_ERROR_PATH_NOT_FOUND;
        return result;
    }
    result.host = mapping->second;
    result.windows = std::string(1, drive) + ":";
    bool walking = true;  // every component so far exists as a folder
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i + 1 == parts.size()) {
            result.parentIsFolder = walking;
        }
        std::string name = parts[i];
        if (walking) {
            std::string match = FindEntry(result.host, name);
            if (!match.empty()) {
                name = match;
            } else {
                walking = false;
            }
        }
        result.host += "/" + name;
        result.windows += "\\" + name;
        if (walking && i + 1 < parts.size()) {
            struct stat info;
            walking = stat(result.host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
    }
    if (parts.empty()) {
        result.windows += "\\";
        result.parentIsFolder = true;
    }
    struct stat info;
    if (walking && stat(result.host.c_str(), &info) == 0) {
        result.exists = true;
        result.isFolder = S_ISDIR(info.st_mode);
    }
    return result;
}

uint32_t MissingError(const Resolved& path)
{
    return path.parentIsFolder ? PS_ERROR_FILE_NOT_FOUND : PS_ERROR_PATH_NOT_FOUND;
}

uint32_t ResolveExisting(const char* path, Resolved* file)
{
    *file = ResolvePath(path);
    if (file->error != 0) {
        return file->error;
    }
    return file->exists ? 0 : MissingError(*file);
}

uint32_t StoredAttributes(const Resolved& path)
{
    auto stored = State().attributes.find(path.host);
    bool kept = stored != State().attributes.end();
    if (path.isFolder) {
        return (kept ? stored->second & ~static_cast<uint32_t>(PS_FILE_ATTRIBUTE_NORMAL) : 0) |
               PS_FILE_ATTRIBUTE_DIRECTORY;
    }
    // A file written anew is marked for archiving until its attributes are set.
    return kept ? stored->second : PS_FILE_ATTRIBUTE_ARCHIVE;
}

bool IsReadOnly(const Resolved& path)
{
    return path.exists && (StoredAttributes(path) & PS_FILE_ATTRIBUTE_READONLY) != 0;
}

bool IsHiddenOrSystem(const Resolved& path)
{
    return (StoredAttributes(path) & (PS_FILE_ATTRIBUTE_HIDDEN | PS_FILE_ATTRIBUTE_SYSTEM)) != 0;
}

void StoreAttributes(const std::string& host, uint32_t attributes)
{
    // "Normal" stands alone: with any other attribute it is dropped, and no
    // attribute at all means normal.
    attributes &= ~(static_cast<uint32_t>(PS_FILE_ATTRIBUTE_DIRECTORY) |
                    static_cast<uint32_t>(PS_FILE_ATTRIBUTE_NORMAL));
    State().attributes[host] = attributes == 0 ? PS_FILE_ATTRIBUTE_NORMAL : attributes;
}

bool ReadHostFile(const std::string& host, std::string* bytes)
{
    FILE* file = fopen(host.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bytes->clear();
    char chunk[4096];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes->append(chunk, count);
    }
    fclose(file);
    return true;
}

bool WriteHostFile(const std::string& host, const std::string& bytes)
{
    State().attributes.erase(host);  // written anew
    FILE* file = fopen(host.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

// Creates every missing folder of `path` (a Windows path), including itself.
bool MakeFolders(const std::string& windowsPath)
{
    Resolved path = ResolvePath(windowsPath.c_str(), NO_LIMIT);
    if (path.error != 0) {
        return false;
    }
    // The resolved host path keeps the case of existing folders, so creating
    // each prefix in turn adds exactly the missing ones.
    for (size_t slash = path.host.find('/', 1);; slash = path.host.find('/', slash + 1)) {
        std::string prefix = path.host.substr(0, slash);
        mkdir(prefix.c_str(), 0755);
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info;
    return stat(path.host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace simulated
