#include "inf/INFManager.h"

#include <cstring>

#include "common/BoundedText.h"
#include "common/HandOffPaths.h"
#include "common/Names.h"
#include "common/WindowsFolders.h"
#include "log/LogFile.h"
#include "platform/PlatformServices.h"

static const char kModule[] = "INFManager";
static const char kOpenFailed[] = "Error: INF file opening failed !!";
static const char kReadFailed[] = "Error: INF file reading failed !!";

// ---------------------------------------------------------------------------
// Device table

// Replaces the entry's key with the value of the first line that defines it,
// reading `inf` from its start. Without such a line the key stays.
static void ResolveDescription(FILE* inf, DeviceIdEntry* entry)
{
    char line[INF_LINE_SIZE];
    while (ReadInfLine(inf, line, sizeof line)) {
        if (line[0] == ';') {
            continue;
        }
        const char* key = strstr(line, entry->description);
        if (key == nullptr) {
            continue;
        }
        // "%Key%" refers to the key; only the first occurrence is looked at.
        if (key != line && key[-1] == '%') {
            continue;
        }
        const char* equals = strchr(line, '=');
        if (equals == nullptr || strnlen(equals, 3) < 3) {
            continue;
        }
        // The character after the "=" is skipped (the opening quote of
        // Key="Text"); the value ends before its last quote, or else loses its
        // last character (the newline).
        const char* value = equals + 2;
        const char* lastQuote = strrchr(value, '"');
        size_t length = lastQuote != nullptr ? static_cast<size_t>(lastQuote - value) : strlen(value) - 1;
        CopyTextRange(entry->description, sizeof entry->description, value, length);
        return;
    }
}

int GetDeviceIDs(const char* infPath, DeviceIdTable* table)
{
    table->count = 0;
    if (infPath == nullptr) {
        return 1;
    }
    FILE* inf = Platform.OpenStream(infPath, "r");
    if (inf == nullptr) {
        WriteLog(kModule, "GetDeviceIDs", kOpenFailed);
        return 2;
    }
    // First pass: the device lines from the top of the file to the first
    // section header after a device line. Once the table is full the pass
    // ends: later device lines are not read at all.
    char line[INF_LINE_SIZE];
    while (table->count < DEVICE_TABLE_SIZE && ReadInfLine(inf, line, sizeof line)) {
        if (EndsDevicePass(line, table->count)) {
            break;
        }
        DeviceIdEntry* entry = &table->entries[table->count];
        if (!ParseDeviceLine(line, entry)) {
            continue;
        }
        entry->index = table->count;
        FormatText(entry->indexText, sizeof entry->indexText, "%04u", table->count);
        table->count++;
    }
    fclose(inf);

    // Second pass: one reading per entry, from the top, for its description.
    for (uint16_t k = 0; k < table->count; k++) {
        inf = Platform.OpenStream(infPath, "r");
        if (inf == nullptr) {
            WriteLog(kModule, "GetDeviceIDs", kOpenFailed);
            return 3;
        }
        ResolveDescription(inf, &table->entries[k]);
        fclose(inf);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Driver file staging

static void DeleteStaleFile(const char* path)
{
    Platform.SetFileAttributesA(path, PS_FILE_ATTRIBUTE_NORMAL);
    if (Platform.DeleteFileA(path)) {
        char message[LOG_TEXT_SIZE];
        FormatText(message, sizeof message, "File %s deleted OK.", path);
        WriteLog(kModule, "CopyDriverFiles", message);
    }
}

// Deletes <Windows>\inf\<INF name> and its compiled form <name>.pnf. Only the
// INF's own file name is used, so an argument text with folders in it cannot
// reach outside the INF folder. A path that does not fit is not cut: the step
// is skipped.
static void DeleteStaleInfCopies(const char* windowsFolder, const char* infName)
{
    char names[2][INF_PATH_SIZE];
    size_t count = StaleInfCopyNames(infName, names);
    for (size_t i = 0; i < count; i++) {
        char path[INF_PATH_SIZE];
        if (FormatInfStoreFolder(path, sizeof path, windowsFolder) != 0 ||
            AppendText(path, sizeof path, "\\") != 0 || AppendText(path, sizeof path, names[i]) != 0) {
            return;
        }
        DeleteStaleFile(path);
    }
}

// The copy step's two-path log texts hold two paths of the longest size that
// is used (INF_PATH_SIZE - 1 characters) and the longest text around them, so
// the texts of every file that is copied, or fails to copy, are never cut.
// Only a path too long to use at all (refused without a copy) can be cut.
static const char kCopyErrorText[] = "Error while copying file %s\\%s to %s\\%s !!";
static const size_t kCopyTextSize =
    2 * (static_cast<size_t>(INF_PATH_SIZE) - 1) + sizeof "Error while copying file  to  !!";

static void CopyDriverFile(const char* programFolder, const char* driverFolder, const char* name)
{
    char message[kCopyTextSize];
    char source[INF_PATH_SIZE];
    char target[INF_PATH_SIZE];
    // A name that is not a plain file name, or a path that does not fit, is
    // reported like a failed copy and nothing is touched: a cut or climbing
    // path would name another file.
    int usable = IsPlainFileName(name) &&
                 FormatText(source, sizeof source, "%s\\%s", programFolder, name) == 0 &&
                 FormatText(target, sizeof target, "%s\\%s", driverFolder, name) == 0;

    FormatText(message, sizeof message, "Copying file %s\\%s to %s\\%s.", programFolder, name, driverFolder,
               name);
    WriteLog(kModule, "CopyDriverFiles", message);
    int copied = 0;
    if (usable) {
        Platform.SetFileAttributesA(target, PS_FILE_ATTRIBUTE_NORMAL);
        copied = Platform.CopyFileA(source, target, 0) != 0;
    }
    FormatText(message, sizeof message, copied ? "File %s\\%s copied to %s\\%s OK." : kCopyErrorText,
               programFolder, name, driverFolder, name);
    WriteLog(kModule, "CopyDriverFiles", message);
    if (usable) {
        // CopyFileA gives the copy the source's attributes.
        Platform.SetFileAttributesA(target, PS_FILE_ATTRIBUTE_NORMAL);
    }
}

// The Windows folder (the system folder less its last name) and the driver
// folder in it, or 2 with the last error saying why.
static int FindWindowsFolders(char* windowsFolder, char* driverFolder)
{
    uint32_t length = Platform.GetSystemDirectoryA(windowsFolder, INF_PATH_SIZE);
    if (length == 0) {
        return 2;
    }
    // A system folder that does not fit holds nothing usable; no system call
    // failed, so the last error is set to say why.
    if (length >= INF_PATH_SIZE) {
        Platform.SetLastError(PS_ERROR_FILENAME_EXCED_RANGE);
        return 2;
    }
    CutAtLastBackslash(windowsFolder);
    if (FormatDriverFolder(driverFolder, INF_PATH_SIZE, windowsFolder) != 0) {
        Platform.SetLastError(PS_ERROR_FILENAME_EXCED_RANGE);
        return 2;
    }
    return 0;
}

int CopyDriverFiles(const char* infPath, const char* infName, const char* programFolder, char* driverFolder)
{
    char ownFolder[INF_PATH_SIZE];
    char* folder = driverFolder != nullptr ? driverFolder : ownFolder;
    folder[0] = '\0';
    if (infPath == nullptr || infName == nullptr) {
        return 1;
    }
    char windowsFolder[INF_PATH_SIZE];
    if (FindWindowsFolders(windowsFolder, folder) != 0) {
        folder[0] = '\0';
        return 2;
    }
    DeleteStaleInfCopies(windowsFolder, infName);

    FILE* inf = Platform.OpenStream(infPath, "r");
    if (inf == nullptr) {
        WriteLog(kModule, "CopyDriverFiles", kOpenFailed);
        return 3;
    }
    char line[INF_LINE_SIZE];
    if (FindSourceDisksFiles(inf, line)) {
        while (NextSourceDisksFile(inf, line)) {
            CopyDriverFile(programFolder, folder, line);
        }
    }
    // A read error would end the section early: driver files named after it
    // would be missing while the step reported success. It fails the step
    // like an INF that cannot be opened; the read's error code stays the
    // thread's last error for the box.
    int readFailed = ferror(inf);
    fclose(inf);
    if (readFailed != 0) {
        WriteLog(kModule, "CopyDriverFiles", kReadFailed);
        return 3;
    }
    return 0;
}
