/* The floor of a run that must start the companion tool twice: a GUI program
   that starts "MERVODevCtl.exe" beside itself twice, as the stager does
   (no console window, waited for), and ends. Linked with StagerImports.c it
   also loads the stager's DLLs: then it does all that a run must do apart
   from the run's own work. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "Imports.h"

static int StartAndWait(const char* folder)
{
    char commandLine[MAX_PATH + 32];
    snprintf(commandLine, sizeof commandLine, "%s\\MERVODevCtl.exe", folder);
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                        &process)) {
        return 1;
    }
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    KeepImports();
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) {
        return 1;
    }
    char* separator = strrchr(folder, '\\');
    if (separator != NULL) {
        *separator = '\0';
    }
    return StartAndWait(folder) | StartAndWait(folder);
}
