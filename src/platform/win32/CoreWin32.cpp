#include "platform/win32/CoreWin32.h"

#include <windows.h>

#include <cstdio>

static_assert(PS_WAIT_OBJECT_0 == WAIT_OBJECT_0 && PS_WAIT_ABANDONED == WAIT_ABANDONED &&
                  PS_WAIT_TIMEOUT == WAIT_TIMEOUT && PS_WAIT_FAILED == WAIT_FAILED && PS_INFINITE == INFINITE,
              "wait results");
static_assert(PS_SYNCHRONIZE == SYNCHRONIZE && PS_INVALID_FILE_ATTRIBUTES == INVALID_FILE_ATTRIBUTES &&
                  PS_FILE_ATTRIBUTE_DIRECTORY == FILE_ATTRIBUTE_DIRECTORY,
              "access and attributes");
static_assert(PS_ERROR_FILE_NOT_FOUND == ERROR_FILE_NOT_FOUND &&
                  PS_ERROR_PATH_NOT_FOUND == ERROR_PATH_NOT_FOUND &&
                  PS_ERROR_ACCESS_DENIED == ERROR_ACCESS_DENIED &&
                  PS_ERROR_ALREADY_EXISTS == ERROR_ALREADY_EXISTS &&
                  PS_ERROR_ENVVAR_NOT_FOUND == ERROR_ENVVAR_NOT_FOUND &&
                  PS_ERROR_NOT_OWNER == ERROR_NOT_OWNER,
              "error codes");

uint32_t CoreWinGetModuleFileNameA(PsHandle module, char* fileName, uint32_t size)
{
    return GetModuleFileNameA(static_cast<HMODULE>(module), fileName, size);
}

uint32_t CoreWinGetFileAttributesA(const char* path)
{
    return GetFileAttributesA(path);
}

int32_t CoreWinDeleteFileA(const char* path)
{
    return DeleteFileA(path);
}

FILE* CoreWinOpenStream(const char* path, const char* mode)
{
    return fopen(path, mode);
}

// Windows 2000 has no IsWow64Process: it is looked up at run time, so that
// the programs still load there.
int32_t CoreWinIsWow64Process(int32_t* isWow64)
{
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) {
        return 0;
    }
    // Through the generic function pointer type, which may be cast to any other.
    IsWow64ProcessFunction function = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL answer = FALSE;
    if (function == nullptr || !function(GetCurrentProcess(), &answer)) {
        return 0;
    }
    *isWow64 = answer ? 1 : 0;
    return 1;
}

uint32_t CoreWinGetLastError(void)
{
    return GetLastError();
}

void CoreWinSetLastError(uint32_t code)
{
    SetLastError(code);
}

PsHandle CoreWinCreateMutexA(const char* name)
{
    return CreateMutexA(nullptr, FALSE, name);
}

PsHandle CoreWinOpenMutexA(uint32_t access, const char* name)
{
    return OpenMutexA(access, FALSE, name);
}

uint32_t CoreWinWaitForSingleObject(PsHandle handle, uint32_t milliseconds)
{
    return WaitForSingleObject(handle, milliseconds);
}

int32_t CoreWinReleaseMutex(PsHandle mutex)
{
    return ReleaseMutex(mutex);
}

int32_t CoreWinCloseHandle(PsHandle handle)
{
    return CloseHandle(handle);
}

uint32_t CoreWinGetEnvironmentVariableA(const char* name, char* value, uint32_t size)
{
    return GetEnvironmentVariableA(name, value, size);
}

int32_t CoreWinSetEnvironmentVariableA(const char* name, const char* value)
{
    return SetEnvironmentVariableA(name, value);
}

uint32_t CoreWinGetCurrentProcessId(void)
{
    return GetCurrentProcessId();
}

// NtQueryInformationProcess has no documented import library of the 8-bit
// era: it is looked up in ntdll at run time. Its basic information record
// (PROCESS_BASIC_INFORMATION) ends with the parent's id.
int32_t CoreWinGetParentProcessId(uint32_t* parentId)
{
    struct BasicInformation {
        LONG exitStatus;
        void* pebBaseAddress;
        ULONG_PTR affinityMask;
        LONG basePriority;
        ULONG_PTR uniqueProcessId;
        ULONG_PTR inheritedFromUniqueProcessId;
    };
    typedef LONG(WINAPI * QueryFunction)(HANDLE, ULONG, void*, ULONG, ULONG*);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    QueryFunction query = ntdll == nullptr ? nullptr
                                           : reinterpret_cast<QueryFunction>(reinterpret_cast<void (*)(void)>(
                                                 GetProcAddress(ntdll, "NtQueryInformationProcess")));
    BasicInformation information{};
    const ULONG kProcessBasicInformation = 0;
    if (query == nullptr ||
        query(GetCurrentProcess(), kProcessBasicInformation, &information, sizeof information, nullptr) < 0) {
        return 0;
    }
    *parentId = static_cast<uint32_t>(information.inheritedFromUniqueProcessId);
    return 1;
}

uint32_t CoreWinGetTickCount(void)
{
    return GetTickCount();
}
