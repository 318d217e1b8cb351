// The platform table of the Windows builds: thin wrappers over the real Win32
// functions. Each wrapper only converts between the table's fixed-width types
// and the Windows types (and, in the 32-bit build, from the table's default
// calling convention to __stdcall); there is no logic here.
#include "platform/PlatformServices.h"
#include "platform/win32/CoreWin32.h"

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdio>

// The table's records stand in for the Windows records: same size, same
// field offsets, so a pointer to one can be handed over as the other.
#define PS_SAME_FIELD(ps, win, psField, winField) \
    static_assert(offsetof(ps, psField) == offsetof(win, winField), #ps "." #psField)

static_assert(sizeof(PsSystemTime) == sizeof(SYSTEMTIME), "PsSystemTime size");
PS_SAME_FIELD(PsSystemTime, SYSTEMTIME, wYear, wYear);
PS_SAME_FIELD(PsSystemTime, SYSTEMTIME, wMonth, wMonth);
PS_SAME_FIELD(PsSystemTime, SYSTEMTIME, wDayOfWeek, wDayOfWeek);
PS_SAME_FIELD(PsSystemTime, SYSTEMTIME, wDay, wDay);
PS_SAME_FIELD(PsSystemTime, SYSTEMTIME, wHour, wHour);
PS_SAME_FIELD(PsSystemTime, SYSTEMTIME, wMinute, wMinute);
PS_SAME_FIELD(PsSystemTime, SYSTEMTIME, wSecond, wSecond);
PS_SAME_FIELD(PsSystemTime, SYSTEMTIME, wMilliseconds, wMilliseconds);

static_assert(sizeof(PsOsVersionInfoEx) == sizeof(OSVERSIONINFOEXA), "PsOsVersionInfoEx size");
static_assert(sizeof(PsOsVersionInfoEx) == PS_OSVERSIONINFOEX_SIZE, "extended record size");
static_assert(sizeof(OSVERSIONINFOA) == PS_OSVERSIONINFO_SIZE, "plain record size");
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, dwOSVersionInfoSize, dwOSVersionInfoSize);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, dwMajorVersion, dwMajorVersion);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, dwMinorVersion, dwMinorVersion);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, dwBuildNumber, dwBuildNumber);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, dwPlatformId, dwPlatformId);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, szCSDVersion, szCSDVersion);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, wServicePackMajor, wServicePackMajor);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, wServicePackMinor, wServicePackMinor);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, wSuiteMask, wSuiteMask);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, wProductType, wProductType);
PS_SAME_FIELD(PsOsVersionInfoEx, OSVERSIONINFOEXA, wReserved, wReserved);

static_assert(sizeof(PsStartupInfo) == sizeof(STARTUPINFOA), "PsStartupInfo size");
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, cb, cb);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, lpReserved, lpReserved);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, lpDesktop, lpDesktop);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, lpTitle, lpTitle);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, dwX, dwX);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, dwY, dwY);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, dwXSize, dwXSize);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, dwYSize, dwYSize);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, dwXCountChars, dwXCountChars);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, dwYCountChars, dwYCountChars);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, dwFillAttribute, dwFillAttribute);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, dwFlags, dwFlags);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, wShowWindow, wShowWindow);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, cbReserved2, cbReserved2);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, lpReserved2, lpReserved2);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, hStdInput, hStdInput);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, hStdOutput, hStdOutput);
PS_SAME_FIELD(PsStartupInfo, STARTUPINFOA, hStdError, hStdError);

static_assert(sizeof(PsProcessInformation) == sizeof(PROCESS_INFORMATION), "PsProcessInformation size");
PS_SAME_FIELD(PsProcessInformation, PROCESS_INFORMATION, hProcess, hProcess);
PS_SAME_FIELD(PsProcessInformation, PROCESS_INFORMATION, hThread, hThread);
PS_SAME_FIELD(PsProcessInformation, PROCESS_INFORMATION, dwProcessId, dwProcessId);
PS_SAME_FIELD(PsProcessInformation, PROCESS_INFORMATION, dwThreadId, dwThreadId);

// The constants the logic passes must be the Windows ones.
static_assert(PS_CREATE_NO_WINDOW == CREATE_NO_WINDOW, "CREATE_NO_WINDOW");
static_assert(PS_FILE_ATTRIBUTE_NORMAL == FILE_ATTRIBUTE_NORMAL, "FILE_ATTRIBUTE_NORMAL");
static_assert(PS_MB_ICONINFORMATION == MB_ICONINFORMATION, "MB_ICONINFORMATION");
static_assert(PS_WSF_VISIBLE == WSF_VISIBLE, "WSF_VISIBLE");
static_assert(PS_FORMAT_MESSAGE_ALLOCATE_BUFFER == FORMAT_MESSAGE_ALLOCATE_BUFFER,
              "FORMAT_MESSAGE_ALLOCATE_BUFFER");
static_assert(PS_FORMAT_MESSAGE_FROM_SYSTEM == FORMAT_MESSAGE_FROM_SYSTEM, "FORMAT_MESSAGE_FROM_SYSTEM");
static_assert(PS_FORMAT_MESSAGE_IGNORE_INSERTS == FORMAT_MESSAGE_IGNORE_INSERTS,
              "FORMAT_MESSAGE_IGNORE_INSERTS");
static_assert(PS_SPOST_PATH == SPOST_PATH, "SPOST_PATH");

namespace {

uint32_t WinGetTempPathA(uint32_t size, char* buffer)
{
    return GetTempPathA(size, buffer);
}

uint32_t WinGetSystemDirectoryA(char* buffer, uint32_t size)
{
    return GetSystemDirectoryA(buffer, size);
}

int32_t WinGetVersionExA(PsOsVersionInfoEx* info)
{
    return GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(info));
}

int32_t WinRegOpenKeyExA(PsKey root, const char* subKey, uint32_t options, uint32_t access, PsKey* result)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(static_cast<HKEY>(root), subKey, options, access, &key);
    *result = key;
    return status;
}

int32_t WinRegCloseKey(PsKey key)
{
    return RegCloseKey(static_cast<HKEY>(key));
}

int WinlstrcmpiA(const char* first, const char* second)
{
    return lstrcmpiA(first, second);
}

void WinGetSystemTime(PsSystemTime* time)
{
    GetSystemTime(reinterpret_cast<SYSTEMTIME*>(time));
}

int32_t WinSetFileAttributesA(const char* path, uint32_t attributes)
{
    return SetFileAttributesA(path, attributes);
}

int32_t WinCopyFileA(const char* existing, const char* target, int32_t failIfExists)
{
    return CopyFileA(existing, target, failIfExists);
}

int32_t WinCreateProcessA(const char* applicationName, char* commandLine, void* processAttributes,
                          void* threadAttributes, int32_t inheritHandles, uint32_t creationFlags,
                          void* environment, const char* currentDirectory, PsStartupInfo* startupInfo,
                          PsProcessInformation* processInformation)
{
    return CreateProcessA(applicationName, commandLine, static_cast<SECURITY_ATTRIBUTES*>(processAttributes),
                          static_cast<SECURITY_ATTRIBUTES*>(threadAttributes), inheritHandles, creationFlags,
                          environment, currentDirectory, reinterpret_cast<STARTUPINFOA*>(startupInfo),
                          reinterpret_cast<PROCESS_INFORMATION*>(processInformation));
}

int32_t WinGetExitCodeProcess(PsHandle process, uint32_t* exitCode)
{
    DWORD code = 0;
    BOOL ok = GetExitCodeProcess(process, &code);
    *exitCode = code;
    return ok;
}

int WinMessageBoxA(PsHandle owner, const char* text, const char* caption, uint32_t type)
{
    return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

int32_t WinGetWindowStationFlags(uint32_t* flags)
{
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS objectFlags{};
    if (station == nullptr ||
        !GetUserObjectInformationA(station, UOI_FLAGS, &objectFlags, sizeof objectFlags, nullptr)) {
        return 0;
    }
    *flags = objectFlags.dwFlags;
    return 1;
}

uint32_t WinFormatMessageA(uint32_t flags, const void* source, uint32_t messageId, uint32_t languageId,
                           char* buffer, uint32_t size, void* arguments)
{
    return FormatMessageA(flags, source, messageId, languageId, buffer, size,
                          static_cast<va_list*>(arguments));
}

PsHandle WinLocalFree(PsHandle memory)
{
    return LocalFree(memory);
}

int32_t WinSetupCopyOEMInfA(const char* sourceInfFileName, const char* sourceMediaLocation,
                            uint32_t sourceMediaType, uint32_t copyStyle, char* destinationInfFileName,
                            uint32_t destinationInfFileNameSize, uint32_t* requiredSize,
                            char** destinationInfFileNameComponent)
{
    DWORD needed = 0;
    BOOL ok = SetupCopyOEMInfA(sourceInfFileName, sourceMediaLocation, sourceMediaType, copyStyle,
                               destinationInfFileName, destinationInfFileNameSize,
                               requiredSize != nullptr ? &needed : nullptr, destinationInfFileNameComponent);
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    return ok;
}

}  // namespace

// Entry N of the table is Win<name of member N>: the initializer is made
// from the same list as the table's members, so no two members of the same
// type can be swapped.
#define PS_WIN32_ENTRY(kind, result, name, parameters) Win##name,

PlatformServices Platform = {CORE_WIN32_TABLE, PS_OWN_OPERATIONS(PS_WIN32_ENTRY)};

#undef PS_WIN32_ENTRY
