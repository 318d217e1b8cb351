#include "InfStore.h"

#include <cstring>

#include "InfHardwareIds.h"
#include "PatternMatch.h"
#include "common/BoundedText.h"
#include "inf/InfText.h"

namespace {

enum { COMPARE_CHUNK = 4096 };

int EndsWithInf(const char* name)
{
    size_t length = strlen(name);
    return length > 4 && StartsWithNoCase(name + length - 4, ".inf");
}

// 1 when the file at `path` holds exactly the bytes of the open `package`.
int SameContent(FILE* package, const char* path)
{
    FILE* other = DevCtlPlatform.OpenStream(path, "rb");
    if (other == nullptr) {
        return 0;
    }
    int same = SameBytes(package, other);
    fclose(other);
    return same;
}

// "oem", one or more digits, ".inf": a name Windows gives a staged INF.
int IsOemName(const char* name)
{
    if (!StartsWithNoCase(name, "oem")) {
        return 0;
    }
    size_t digits = strspn(name + 3, "0123456789");
    return digits > 0 && strlen(name + 3 + digits) == 4 && EndsWithInf(name);
}

// Whether the INF at `path` names one of the package's hardware ids.
int SharesAnId(const InfHardwareIds* package, const char* path)
{
    // Kept off the stack: the INF's ids.
    static InfHardwareIds ids;
    if (ReadInfHardwareIds(path, &ids) == INF_IDS_CANNOT_OPEN) {
        return 0;
    }
    for (uint16_t i = 0; i < package->count; ++i) {
        for (uint16_t k = 0; k < ids.count; ++k) {
            if (StartsWithNoCase(ids.ids[k], package->ids[i]) &&
                strlen(ids.ids[k]) == strlen(package->ids[i])) {
                return 1;
            }
        }
    }
    return 0;
}

// Whether the store's INF `name` (not a copy) is another version of the
// package: of the same name, or staged by Windows for one of its ids.
int IsOtherVersion(const char* name, const char* path, const char* packagePath, const InfHardwareIds* ids)
{
    const char* packageName = InfBaseName(packagePath);
    if (StartsWithNoCase(name, packageName) && strlen(name) == strlen(packageName)) {
        return 1;
    }
    return IsOemName(name) && SharesAnId(ids, path);
}

}  // namespace

int FindWindowsFolder(char* folder, size_t size)
{
    char windows[STORE_NAME_SIZE];
    uint32_t length = DevCtlPlatform.GetSystemWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows) {
        return 1;
    }
    windows[length] = '\0';
    if (windows[length - 1] == '\\') {
        windows[length - 1] = '\0';
    }
    return CopyText(folder, size, windows);
}

FILE* OpenPackage(const char* infPath, long* size)
{
    FILE* package = DevCtlPlatform.OpenStream(infPath, "rb");
    if (package == nullptr) {
        return nullptr;
    }
    *size = fseek(package, 0, SEEK_END) == 0 ? ftell(package) : -1;
    if (*size <= 0) {
        fclose(package);
        return nullptr;
    }
    return package;
}

int SameBytes(FILE* first, FILE* second)
{
    static unsigned char mine[COMPARE_CHUNK];
    static unsigned char theirs[COMPARE_CHUNK];
    int same = fseek(first, 0, SEEK_SET) == 0 && fseek(second, 0, SEEK_SET) == 0;
    while (same) {
        size_t mineRead = fread(mine, 1, sizeof mine, first);
        size_t theirsRead = fread(theirs, 1, sizeof theirs, second);
        same = mineRead == theirsRead && memcmp(mine, theirs, mineRead) == 0;
        if (mineRead < sizeof mine) {
            break;  // both ended at the same byte, or they differ
        }
    }
    // A read that failed part way is no proof of sameness.
    return same && !ferror(first) && !ferror(second);
}

int FindStoreCopies(const char* store, FILE* package, long size, const char* packagePath,
                    int lookForOtherVersions, StoreCopies* copies, uint32_t* error)
{
    // Kept off the stack: the package's ids, read when another version is looked for.
    static InfHardwareIds packageIds;
    packageIds.count = 0;
    if (lookForOtherVersions) {
        ReadInfHardwareIds(packagePath, &packageIds);
    }
    char path[STORE_PATH_SIZE];
    memset(copies, 0, sizeof *copies);
    FormatText(path, sizeof path, "%s\\*.inf", store);
    DcFindData found;
    memset(&found, 0, sizeof found);
    DcHandle search = DevCtlPlatform.FindFirstFileA(path, &found);
    if (search == DC_INVALID_HANDLE_VALUE) {
        *error = DevCtlPlatform.GetLastError();
        return *error == PS_ERROR_FILE_NOT_FOUND || *error == DC_ERROR_NO_MORE_FILES ? 0 : 1;
    }
    do {
        found.fileName[sizeof found.fileName - 1] = '\0';
        // "*.inf" also matches a longer extension through its short name.
        if ((found.attributes & PS_FILE_ATTRIBUTE_DIRECTORY) != 0 || !EndsWithInf(found.fileName)) {
            continue;
        }
        FormatText(path, sizeof path, "%s\\%s", store, found.fileName);
        uint64_t foundSize = static_cast<uint64_t>(found.sizeHigh) << 32 | found.sizeLow;
        if (foundSize == static_cast<uint64_t>(size) && SameContent(package, path)) {
            if (copies->count < UNSTAGE_COPY_CAPACITY) {
                CopyText(copies->names[copies->count++], STORE_NAME_SIZE, found.fileName);
            } else {
                ++copies->beyondCapacity;
            }
        } else if (lookForOtherVersions && copies->otherVersion[0] == '\0' &&
                   IsOtherVersion(found.fileName, path, packagePath, &packageIds)) {
            CopyText(copies->otherVersion, STORE_NAME_SIZE, found.fileName);
        }
    } while (DevCtlPlatform.FindNextFileA(search, &found) != 0);
    // Only "no more files" ends the listing; any other failure would leave
    // copies unseen and the store reported as cleaner than it is.
    *error = DevCtlPlatform.GetLastError();
    DevCtlPlatform.FindClose(search);
    return *error == DC_ERROR_NO_MORE_FILES ? 0 : 1;
}
