// MERVOTestDevices: a command-line front end to TestDevices, for checking
// MERVODevCtl by hand in a Wine prefix.
//
//   MERVOTestDevices create <hardware id> [<hardware id> ...]
//   MERVOTestDevices count <hardware id>
//   MERVOTestDevices remove <hardware id>
//   MERVOTestDevices list
//   MERVOTestDevices run <command line>
//
// Exit code 0 when done (count: the count is printed), 1 on failure or a
// wrong command line. `run` starts the command line given as one argument
// exactly as the stager starts its tool (no application name, no console
// window) and ends with its exit code, so a hand-written command line can be
// checked under Wine, whose own start-up quotes each argument.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "TestDevices.h"

namespace {

void PrintDevice(const char* instanceId, const char* hardwareIds, void*)
{
    printf("%s", instanceId);
    for (const char* id = hardwareIds; *id != '\0'; id += strlen(id) + 1) {
        printf(" | %s", id);
    }
    printf("\n");
}

int Usage()
{
    printf(
        "Usage: MERVOTestDevices create <hardware id>... | count <hardware id> |"
        " remove <hardware id> | list | run <command line>\n");
    return 1;
}

int Run(const char* commandLine)
{
    static char line[32768];
    lstrcpynA(line, commandLine, sizeof line);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        printf("cannot start (error %lu)\n", GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    printf("exit code %lu\n", code);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return Usage();
    }
    if (strcmp(argv[1], "create") == 0 && argc >= 3) {
        char instanceId[MAX_PATH] = "";
        int result = CreateTestDevice(argv + 2, argc - 2, instanceId, sizeof instanceId);
        if (result != 0) {
            printf("create failed at step %d (error 0x%08lX)\n", result, GetLastError());
            return 1;
        }
        printf("%s\n", instanceId);
        return 0;
    }
    if ((strcmp(argv[1], "count") == 0 || strcmp(argv[1], "remove") == 0) && argc == 3) {
        int count =
            argv[1][0] == 'c' ? CountDevicesWithHardwareId(argv[2]) : RemoveDevicesWithHardwareId(argv[2]);
        printf("%d\n", count);
        return count < 0 ? 1 : 0;
    }
    if (strcmp(argv[1], "run") == 0 && argc == 3) {
        return Run(argv[2]);
    }
    if (strcmp(argv[1], "list") == 0 && argc == 2) {
        return ForEachDevice(PrintDevice, nullptr) < 0 ? 1 : 0;
    }
    return Usage();
}
