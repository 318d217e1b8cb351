// MERVODevCtlHandOffCheck: the tool with the real Windows table, except that
// IsWow64Process always answers "32-bit process on 64-bit Windows". Under
// 64-bit Wine (where no 32-bit program runs) it exercises the real hand-off:
// finding MERVODevCtl64.exe beside itself, starting it with the exact
// argument text, waiting, and passing its exit code on.
#include "DevCtl.h"

namespace {

int32_t AlwaysWow64(int32_t* isWow64)
{
    *isWow64 = 1;
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    DevCtlPlatform.IsWow64Process = AlwaysWow64;
    return RunDevCtl(argc, argv);
}
