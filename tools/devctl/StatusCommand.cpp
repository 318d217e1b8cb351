// status: whether a driver package is in place, for a deployment system's
// detection rule and for a setup program that would install it again: its
// INF staged (a copy with the same bytes in the INF store) and every driver
// file the stager copies (the plain names of its [SourceDisksFiles]) in
// System32\Drivers with the package's bytes. One line says which; the exit
// code says it too. Nothing is changed.
#include <cstring>

#include "DevCtl.h"
#include "InfStore.h"
#include "common/BoundedText.h"
#include "common/HandOffPaths.h"
#include "common/WindowsFolders.h"
#include "inf/InfText.h"

namespace {

// What one driver file is like: the same bytes in the driver folder (0), or
// the exit code of what is wrong, with its line.
int CheckDriverFile(const char* packageFolder, const char* driverFolder, const char* name, char* line,
                    size_t size)
{
    char source[STORE_PATH_SIZE];
    char target[STORE_PATH_SIZE];
    FormatText(source, sizeof source, "%s\\%s", packageFolder, name);
    FormatText(target, sizeof target, "%s\\%s", driverFolder, name);
    FILE* package = DevCtlPlatform.OpenStream(source, "rb");
    if (package == nullptr) {
        FormatText(line, size, "Cannot read the package's driver file %s.", source);
        return DEVCTL_EXIT_PACKAGE_FILE_UNREADABLE;
    }
    FILE* installed = DevCtlPlatform.OpenStream(target, "rb");
    int code = DEVCTL_EXIT_OK;
    if (installed == nullptr) {
        FormatText(line, size, "Not whole: the driver file %s is missing.", target);
        code = DEVCTL_EXIT_DRIVER_FILE_NOT_WHOLE;
    } else {
        if (!SameBytes(package, installed)) {
            FormatText(line, size, "Not whole: the driver file %s is not the package's %s.", target, source);
            code = DEVCTL_EXIT_DRIVER_FILE_NOT_WHOLE;
        }
        fclose(installed);
    }
    fclose(package);
    return code;
}

// Checks every driver file the stager copies; 0 when all are in place (their
// number in `*files`), else the first one's code and line.
int CheckDriverFiles(const char* infPath, const char* driverFolder, uint32_t* files, char* line, size_t size)
{
    char packageFolder[STORE_PATH_SIZE];
    if (CopyText(packageFolder, sizeof packageFolder, infPath) != 0 || !CutAtLastBackslash(packageFolder)) {
        CopyText(packageFolder, sizeof packageFolder, ".");
    }
    FILE* inf = DevCtlPlatform.OpenStream(infPath, "r");
    if (inf == nullptr) {
        FormatText(line, size, "Cannot read the INF file %s (absent, unreadable or empty).", infPath);
        return DEVCTL_EXIT_INF_UNREADABLE;
    }
    char name[INF_LINE_SIZE];
    int code = DEVCTL_EXIT_OK;
    *files = 0;
    if (FindSourceDisksFiles(inf, name)) {
        while (code == DEVCTL_EXIT_OK && NextSourceDisksFile(inf, name)) {
            // The stager copies plain file names only.
            if (IsPlainFileName(name)) {
                code = CheckDriverFile(packageFolder, driverFolder, name, line, size);
                ++*files;
            }
        }
    }
    if (code == DEVCTL_EXIT_OK && ferror(inf)) {
        FormatText(line, size, "Cannot read the INF file %s (absent, unreadable or empty).", infPath);
        code = DEVCTL_EXIT_INF_UNREADABLE;
    }
    fclose(inf);
    return code;
}

}  // namespace

int ShowPackageStatus(const char* infPath)
{
    // Kept off the stack: the names of the copies found.
    static StoreCopies copies;
    char line[DEVCTL_LINE_SIZE];
    char windows[STORE_NAME_SIZE];
    char store[STORE_PATH_SIZE];
    char drivers[STORE_PATH_SIZE];
    long size = 0;
    FILE* package = OpenPackage(infPath, &size);
    int code = DEVCTL_EXIT_OK;
    uint32_t listError = 0;
    if (package == nullptr) {
        FormatText(line, sizeof line, "Cannot read the INF file %s (absent, unreadable or empty).", infPath);
        code = DEVCTL_EXIT_INF_UNREADABLE;
    } else if (FindWindowsFolder(windows, sizeof windows) != 0 ||
               FormatInfStoreFolder(store, sizeof store, windows) != 0 ||
               FormatDriverFolder(drivers, sizeof drivers, windows) != 0) {
        CopyText(line, sizeof line, "Cannot find the system's INF store (no Windows folder).");
        code = DEVCTL_EXIT_STORE_UNREADABLE;
    } else if (FindStoreCopies(store, package, size, infPath, 1, &copies, &listError) != 0) {
        FormatText(line, sizeof line, "Cannot list the INF store %s (error 0x%08X).", store, listError);
        code = DEVCTL_EXIT_STORE_UNREADABLE;
    } else if (copies.count == 0 && copies.otherVersion[0] != '\0') {
        FormatText(line, sizeof line, "Another version is staged: %s\\%s is not %s.", store,
                   copies.otherVersion, infPath);
        code = DEVCTL_EXIT_OTHER_VERSION_STAGED;
    } else if (copies.count == 0) {
        FormatText(line, sizeof line, "Not staged: no copy of %s is in %s.", infPath, store);
        code = DEVCTL_EXIT_NOT_STAGED;
    } else {
        uint32_t files = 0;
        code = CheckDriverFiles(infPath, drivers, &files, line, sizeof line);
        if (code == DEVCTL_EXIT_OK) {
            FormatText(line, sizeof line, "Staged as %s\\%s, and its %u driver file(s) are in %s.", store,
                       copies.names[0], static_cast<unsigned>(files), drivers);
        }
    }
    if (package != nullptr) {
        fclose(package);
    }
    DevCtlPlatform.WriteLine(line);
    return code;
}
