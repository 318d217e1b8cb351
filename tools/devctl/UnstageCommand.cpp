// unstage: takes every copy of a driver package's INF (InfStore.h) out of the
// system's INF store.
#include <cstring>

#include "DevCtl.h"
#include "InfStore.h"
#include "common/BoundedText.h"
#include "common/WindowsFolders.h"
#include "inf/InfText.h"

namespace {

int IsPresent(const char* path)
{
    return DevCtlPlatform.GetFileAttributesA(path) != PS_INVALID_FILE_ATTRIBUTES;
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
    char windows[STORE_NAME_SIZE];
    if (FindWindowsFolder(windows, sizeof windows) != 0 ||
        FormatInfStoreFolder(store, sizeof store, windows) != 0) {
        fclose(package);
        DevCtlPlatform.WriteLine("Cannot find the system's INF store (no Windows folder).");
        return DEVCTL_EXIT_STORE_UNREADABLE;
    }
    uint32_t listError = 0;
    int listed = FindStoreCopies(store, package, size, infPath, 0, &copies, &listError);
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
