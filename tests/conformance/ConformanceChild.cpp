// The child program of the conformance suite's process rows:
//   conformance_child exit N       ends at once with exit code N
//   conformance_child block        waits until it is ended from outside
//   conformance_child hold NAME    owns the named mutex NAME, makes the mutex
//                                  "NAME held" to say so, and waits until it
//                                  is ended from outside
//   conformance_child parent ID    ends with 0 when the process that started it
//                                  has the id ID (asked through the core
//                                  table's Windows implementation), else 1
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/win32/CoreWin32.h"

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "exit") == 0) {
        return atoi(argv[2]);  // NOLINT(cert-err34-c): a test's own argument
    }
    if (argc == 2 && strcmp(argv[1], "block") == 0) {
        Sleep(INFINITE);
    }
    if (argc >= 3 && strcmp(argv[1], "hold") == 0) {
        // The name may hold blanks: the rest of the words.
        char name[260] = "";
        for (int i = 2; i < argc; ++i) {
            strncat(name, argv[i], sizeof name - strlen(name) - 2);
            if (i + 1 < argc) {
                strcat(name, " ");
            }
        }
        // An existing mutex is not owned by being opened: it is waited for.
        // Then "<NAME> held" tells the suite that it is owned.
        HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
        if (mutex != nullptr && WaitForSingleObject(mutex, 10000) == WAIT_OBJECT_0) {
            strncat(name, " held", sizeof name - strlen(name) - 1);
            CreateMutexA(nullptr, FALSE, name);
            Sleep(INFINITE);
        }
        return 98;
    }
    if (argc == 3 && strcmp(argv[1], "parent") == 0) {
        uint32_t parent = 0;
        return CoreWinGetParentProcessId(&parent) && parent == strtoul(argv[2], nullptr, 10) ? 0 : 1;
    }
    return 99;
}
