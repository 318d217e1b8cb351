// The child program of the conformance suite's process rows:
//   conformance_child exit N   ends at once with exit code N
//   conformance_child block    waits until it is ended from outside
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "exit") == 0) {
        return atoi(argv[2]);  // NOLINT(cert-err34-c): a test's own argument
    }
    if (argc == 2 && strcmp(argv[1], "block") == 0) {
        Sleep(INFINITE);
    }
    return 99;
}
