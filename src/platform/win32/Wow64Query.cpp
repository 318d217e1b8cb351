#include "platform/win32/Wow64Query.h"

#include <windows.h>

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, PBOOL);

int32_t QueryIsWow64Process(int32_t* isWow64)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) {
        return 0;
    }
    // Through the generic function pointer type, which may be cast to any other.
    IsWow64ProcessFunction function = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "IsWow64Process")));
    if (function == nullptr) {
        return 0;
    }
    BOOL answer = FALSE;
    if (!function(GetCurrentProcess(), &answer)) {
        return 0;
    }
    *isWow64 = answer ? 1 : 0;
    return 1;
}
