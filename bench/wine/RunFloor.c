/* The true floor of a whole run: what the stager must do at least on
   examples/package, with none of its own logic. It starts, loads the
   stager's system DLLs (linked with StagerImports.c), starts the companion
   tool as the stager does ("remove" with the INF and the vendor pattern),
   deletes the stale INF and .pnf from the Windows INF folder, copies the
   package's two driver files into System32\Drivers, stages the INF with
   SetupCopyOEMInfA, starts the tool again ("rescan") and ends. No argument
   text, no log, no OS check, no INF reading: the names are fixed. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <setupapi.h>

#include "Imports.h"

static char folder[MAX_PATH];

static void StartTool(const char* arguments)
{
    char commandLine[3 * MAX_PATH];
    snprintf(commandLine, sizeof commandLine, "\"%s\\MERVODevCtl.exe\" %s", folder, arguments);
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 30000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
}

static void DeleteStale(const char* windows, const char* name)
{
    char path[2 * MAX_PATH];
    snprintf(path, sizeof path, "%s\\inf\\%s", windows, name);
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
}

static void Copy(const char* drivers, const char* name)
{
    char source[2 * MAX_PATH];
    char target[2 * MAX_PATH];
    snprintf(source, sizeof source, "%s\\%s", folder, name);
    snprintf(target, sizeof target, "%s\\%s", drivers, name);
    SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    CopyFileA(source, target, FALSE);
    SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    KeepImports();
    DWORD length = GetModuleFileNameA(NULL, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) {
        return 1;
    }
    char* separator = strrchr(folder, '\\');
    if (separator != NULL) {
        *separator = '\0';
    }
    char inf[2 * MAX_PATH];
    char arguments[3 * MAX_PATH];
    snprintf(inf, sizeof inf, "%s\\MERVOUSB.inf", folder);
    snprintf(arguments, sizeof arguments, "remove \"%s\" *VID_1A2B*", inf);
    StartTool(arguments);

    char windows[MAX_PATH];
    char drivers[MAX_PATH + 16];
    GetWindowsDirectoryA(windows, sizeof windows);
    GetSystemDirectoryA(drivers, MAX_PATH);
    strcat(drivers, "\\Drivers");
    DeleteStale(windows, "MERVOUSB.inf");
    DeleteStale(windows, "MERVOUSB.pnf");
    Copy(drivers, "mervousb.sys");
    Copy(drivers, "mervoser.sys");
    char staged[MAX_PATH];
    DWORD required = 0;
    BOOL done = SetupCopyOEMInfA(inf, drivers, SPOST_PATH, 0, staged, sizeof staged, &required, NULL);
    StartTool("rescan");
    return done ? 0 : 22;
}
