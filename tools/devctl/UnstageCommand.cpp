// unstage: takes every copy of a driver package's INF out of the system's INF
// store. A copy is told by its content, not its name: Windows stores the INF
// as oem<N>.inf, other systems under its own name, and the same INF may have
// been stored twice under two names.
#include <cstring>

#include "DevCtl.h"
#include "PatternMatch.h"
#include "common/BoundedText.h"
#include "common/WindowsFolders.h"
#include "inf/InfText.h"

namespace {

enum {
    NAME_SIZE = 260,  // a file name in a folder listing, terminator included
    // The Windows folder (less than NAME_SIZE), "\inf\" and a file name.
    STORE_PATH_SIZE = 2 * NAME_SIZE + 16,
    COMPARE_CHUNK = 4096,
};

struct StoreCopies {
    char names[UNSTAGE_COPY_CAPACITY][NAME_SIZE];
    uint32_t count;
    uint32_t beyondCapacity;  // further copies found and not taken
};

int IsPresent(const char* path)
{
    return DevCtlPlatform.GetFileAttributesA(path) != PS_INVALID_FILE_ATTRIBUTES;
}

int EndsWithInf(const char* name)
{
    size_t length = strlen(name);
    return length > 4 && StartsWithNoCase(name + length - 4, ".inf");
}

// 1 when the file at `path` holds exactly the bytes of the open `package`.
int SameContent(FILE* package, const char* path)
{
    static unsigned char mine[COMPARE_CHUNK];
    static unsigned char theirs[COMPARE_CHUNK];
    FILE* other = DevCtlPlatform.OpenStream(path, "rb");
    if (other == nullptr) {
        return 0;
    }
    int same = fseek(package, 0, SEEK_SET) == 0;
    while (same) {
        size_t mineRead = fread(mine, 1, sizeof mine, package);
        size_t theirsRead = fread(theirs, 1, sizeof theirs, other);
        same = mineRead == theirsRead && memcmp(mine, theirs, mineRead) == 0;
        if (mineRead < sizeof mine) {
            break;  // both ended at the same byte, or they differ
        }
    }
    fclose(other);
    return same;
}

// Lists the INF store and keeps the names of the files that hold the
// package's bytes. 0 listed (also when the store is empty), 1 not listable,
// or the listing broke off: `*error` then holds the system's code.
int FindCopies(const char* store, FILE* package, long size, StoreCopies* copies, uint32_t* error)
{
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
        uint64_t foundSize = static_cast<uint64_t>(found.sizeHigh) << 32 | found.sizeLow;
        if ((found.attributes & PS_FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            foundSize != static_cast<uint64_t>(size) || !EndsWithInf(found.fileName)) {
            continue;
        }
        FormatText(path, sizeof path, "%s\\%s", store, found.fileName);
        if (!SameContent(package, path)) {
            continue;
        }
        if (copies->count < UNSTAGE_COPY_CAPACITY) {
            CopyText(copies->names[copies->count++], NAME_SIZE, found.fileName);
        } else {
            ++copies->beyondCapacity;
        }
    } while (DevCtlPlatform.FindNextFileA(search, &found) != 0);
    // Only "no more files" ends the listing; any other failure would leave
    // copies unseen and the store reported as cleaner than it is.
    *error = DevCtlPlatform.GetLastError();
    DevCtlPlatform.FindClose(search);
    return *error == DC_ERROR_NO_MORE_FILES ? 0 : 1;
}

// Takes one copy out of the store and looks whether it is really gone.
// Returns the copy's exit code: 0 removed, or the code of what went wrong.
int UnstageCopy(const char* store, const char* name, int force)
{
    char path[STORE_PATH_SIZE];
    char pnf[STORE_PATH_SIZE];
    char line[DEVCTL_LINE_SIZE];
    FormatText(path, sizeof path, "%s\\%s", store, name);
    int32_t done =
        DevCtlPlatform.SetupUninstallOEMInfA(name, force ? static_cast<uint32_t>(DC_SUOI_FORCEDELETE) : 0u);
    uint32_t error = DevCtlPlatform.GetLastError();

    if (IsPresent(path)) {
        int code = DEVCTL_EXIT_UNSTAGE_FAILED;
        if (done != 0) {
            FormatText(line, sizeof line,
                       "Not removed: SetupUninstallOEMInfA reported %s removed, but it is still "
                       "there%s.",
                       path, force ? "" : " (without force some systems remove nothing)");
            code = DEVCTL_EXIT_LEFT_IN_STORE;
        } else if (error == DC_ERROR_INF_IN_USE_BY_DEVICES) {
            FormatText(line, sizeof line,
                       "Refused: %s is used by a present device (\"force\" removes it anyway).", path);
            code = DEVCTL_EXIT_IN_USE;
        } else if (error == DC_ERROR_CALL_NOT_IMPLEMENTED) {
            FormatText(line, sizeof line, "Not removed: %s; this system has no SetupUninstallOEMInfA.", path);
        } else {
            FormatText(line, sizeof line, "Not removed: %s; SetupUninstallOEMInfA failed (error 0x%08X).",
                       path, error);
        }
        DevCtlPlatform.WriteLine(line);
        return code;
    }

    // The compiled .pnf of the same name, which some systems leave behind.
    CopyText(pnf, sizeof pnf, path);
    int code = DEVCTL_EXIT_OK;
    if (!ToCompiledFormPath(pnf) || !IsPresent(pnf)) {
        FormatText(line, sizeof line, "Removed %s.", path);
    } else if (DevCtlPlatform.DeleteFileA(pnf) != 0) {
        FormatText(line, sizeof line, "Removed %s, and deleted %s left beside it.", path, pnf);
    } else {
        FormatText(line, sizeof line,
                   "Removed %s, but %s left beside it cannot be deleted "
                   "(error 0x%08X).",
                   path, pnf, DevCtlPlatform.GetLastError());
        code = DEVCTL_EXIT_UNSTAGE_FAILED;
    }
    DevCtlPlatform.WriteLine(line);
    return code;
}

// The INF store: the "inf" folder of the system's Windows folder.
int StoreFolder(char* store, size_t size)
{
    char windows[NAME_SIZE];
    uint32_t length = DevCtlPlatform.GetSystemWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows) {
        return 1;
    }
    windows[length] = '\0';
    if (windows[length - 1] == '\\') {
        windows[length - 1] = '\0';
    }
    return FormatInfStoreFolder(store, size, windows);
}

// The open package INF and its size; 0 when it cannot be read or is empty.
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

}  // namespace

int UnstageInf(const char* infPath, int force)
{
    // Kept off the stack: the names of the copies found.
    static StoreCopies copies;
    char line[DEVCTL_LINE_SIZE];
    char store[STORE_PATH_SIZE];
    long size = 0;
    FILE* package = OpenPackage(infPath, &size);
    if (package == nullptr) {
        FormatText(line, sizeof line, "Cannot read the INF file %s (absent, unreadable or empty).", infPath);
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_INF_UNREADABLE;
    }
    if (StoreFolder(store, sizeof store) != 0) {
        fclose(package);
        DevCtlPlatform.WriteLine("Cannot find the system's INF store (no Windows folder).");
        return DEVCTL_EXIT_STORE_UNREADABLE;
    }
    uint32_t listError = 0;
    int listed = FindCopies(store, package, size, &copies, &listError);
    fclose(package);
    if (listed != 0) {
        FormatText(line, sizeof line, "Cannot list the INF store %s (error 0x%08X).", store, listError);
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_STORE_UNREADABLE;
    }
    if (copies.count == 0) {
        FormatText(line, sizeof line, "Nothing to remove: no copy of %s is staged in %s.", infPath, store);
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_NOT_STAGED;
    }

    // The worst outcome decides the exit code (the codes rise with it).
    int result = DEVCTL_EXIT_OK;
    uint32_t removed = 0;
    for (uint32_t i = 0; i < copies.count; ++i) {
        int code = UnstageCopy(store, copies.names[i], force);
        removed += code == DEVCTL_EXIT_OK ? 1u : 0u;
        result = code > result ? code : result;
    }
    if (copies.beyondCapacity != 0) {
        FormatText(line, sizeof line,
                   "%u further copies not handled (at most %d in one run): run unstage again.",
                   copies.beyondCapacity, static_cast<int>(UNSTAGE_COPY_CAPACITY));
        DevCtlPlatform.WriteLine(line);
        result = DEVCTL_EXIT_UNSTAGE_FAILED;
    }
    FormatText(line, sizeof line, "%u copy(ies) of %s found in %s: %u removed, %u not.",
               copies.count + copies.beyondCapacity, infPath, store, removed,
               copies.count + copies.beyondCapacity - removed);
    DevCtlPlatform.WriteLine(line);
    return result;
}
