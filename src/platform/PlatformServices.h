// The one seam between the stager's logic and the operating system.
//
// Every Windows operation the logic needs is a member of PlatformServices and
// is called through the process-wide table `Platform`: the core operations
// that the companion tool uses too (CoreServices.h), and the stager's own.
// The Windows build links win32/Win32Platform.cpp, which fills the table with
// the real functions; the host build links the simulated Windows of
// simulated/, for tests. Tests replace single members of the table to script
// a behaviour.
//
// The types mirror the Windows records byte for byte (checked in
// win32/Win32Platform.cpp), so the logic never includes <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/CoreServices.h"

typedef void* PsKey;

// SYSTEMTIME
struct PsSystemTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// OSVERSIONINFOEXA (156 bytes); its first 148 bytes are OSVERSIONINFOA.
struct PsOsVersionInfoEx {
    uint32_t dwOSVersionInfoSize;
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    char szCSDVersion[128];
    uint16_t wServicePackMajor;
    uint16_t wServicePackMinor;
    uint16_t wSuiteMask;
    uint8_t wProductType;
    uint8_t wReserved;
};

// STARTUPINFOA (68 bytes in a 32-bit process, 104 in a 64-bit one)
struct PsStartupInfo {
    uint32_t cb;
    char* lpReserved;
    char* lpDesktop;
    char* lpTitle;
    uint32_t dwX;
    uint32_t dwY;
    uint32_t dwXSize;
    uint32_t dwYSize;
    uint32_t dwXCountChars;
    uint32_t dwYCountChars;
    uint32_t dwFillAttribute;
    uint32_t dwFlags;
    uint16_t wShowWindow;
    uint16_t cbReserved2;
    uint8_t* lpReserved2;
    PsHandle hStdInput;
    PsHandle hStdOutput;
    PsHandle hStdError;
};

// PROCESS_INFORMATION
struct PsProcessInformation {
    PsHandle hProcess;
    PsHandle hThread;
    uint32_t dwProcessId;
    uint32_t dwThreadId;
};

// Values of the Windows API that the logic passes or tests.
enum : uint32_t {
    PS_OSVERSIONINFOEX_SIZE = 156,
    PS_OSVERSIONINFO_SIZE = 148,
    PS_VER_PLATFORM_WIN32s = 0,
    PS_VER_PLATFORM_WIN32_WINDOWS = 1,
    PS_VER_PLATFORM_WIN32_NT = 2,
    PS_FILE_ATTRIBUTE_READONLY = 0x01,
    PS_FILE_ATTRIBUTE_HIDDEN = 0x02,
    PS_FILE_ATTRIBUTE_SYSTEM = 0x04,
    PS_FILE_ATTRIBUTE_ARCHIVE = 0x20,
    PS_FILE_ATTRIBUTE_NORMAL = 0x80,
    PS_CREATE_NO_WINDOW = 0x08000000,
    PS_STILL_ACTIVE = 259,
    PS_MB_OK = 0,
    PS_MB_ICONINFORMATION = 0x40,
    PS_WSF_VISIBLE = 0x0001,
    PS_KEY_QUERY_VALUE = 0x0001,
    PS_ERROR_INVALID_PARAMETER = 87,
    PS_ERROR_INSUFFICIENT_BUFFER = 122,
    PS_ERROR_FILENAME_EXCED_RANGE = 206,
    PS_FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x0100,
    PS_FORMAT_MESSAGE_IGNORE_INSERTS = 0x0200,
    PS_FORMAT_MESSAGE_FROM_SYSTEM = 0x1000,
    PS_LANG_USER_DEFAULT = 0x0400,  // MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)
    PS_SPOST_PATH = 1,
};

// HKEY_LOCAL_MACHINE, the same value as in the Windows headers.
#define PS_HKEY_LOCAL_MACHINE ((PsKey)(intptr_t)(int32_t)0x80000002)

// The entry point's calling convention: the C runtime of the 32-bit Windows
// build calls WinMain as __stdcall; elsewhere there is only one convention.
#if defined(_WIN32) && !defined(_WIN64)
#define PS_WINAPI __stdcall
#else
#define PS_WINAPI
#endif

// The stager's own operations, in the table's order, as
// X(kind, result type, name, parameter list) like CORE_OPERATIONS. The
// table's members, both implementations' initializers and the simulator's
// operation names are all made from these lists, so they cannot drift apart
// or be swapped.
// clang-format off
#define PS_OWN_OPERATIONS(X)                                                                    \
    /* The temporary folder with its trailing separator; 0 means failure, a                 \
       value >= size is the size the path needs. */                                         \
    X(FAILABLE, uint32_t, GetTempPathA, (uint32_t size, char* buffer))                          \
    /* The System32 folder; 0 means failure, a value >= size is the size needed. */         \
    X(FAILABLE, uint32_t, GetSystemDirectoryA, (char* buffer, uint32_t size))                   \
    /* Fills the record whose size field is set (156 or 148); 0 means refused. */           \
    X(FAILABLE, int32_t, GetVersionExA, (PsOsVersionInfoEx * info))                             \
    X(FAILABLE, int32_t, RegOpenKeyExA,                                                         \
      (PsKey root, const char* subKey, uint32_t options, uint32_t access, PsKey* result))       \
    X(FAILABLE, int32_t, RegCloseKey, (PsKey key))                                              \
    X(SURE, int, lstrcmpiA, (const char* first, const char* second))                            \
    X(SURE, void, GetSystemTime, (PsSystemTime * time))                                         \
    X(FAILABLE, int32_t, SetFileAttributesA, (const char* path, uint32_t attributes))           \
    X(FAILABLE, int32_t, CopyFileA, (const char* existing, const char* target, int32_t failIfExists)) \
    X(FAILABLE, int32_t, CreateProcessA,                                                        \
      (const char* applicationName, char* commandLine, void* processAttributes,                 \
       void* threadAttributes, int32_t inheritHandles, uint32_t creationFlags,                  \
       void* environment, const char* currentDirectory, PsStartupInfo* startupInfo,             \
       PsProcessInformation* processInformation))                                               \
    X(FAILABLE, int32_t, GetExitCodeProcess, (PsHandle process, uint32_t* exitCode))            \
    X(FAILABLE, int, MessageBoxA,                                                               \
      (PsHandle owner, const char* text, const char* caption, uint32_t type))                   \
    /* The flags of the process's window station (PS_WSF_VISIBLE: its boxes can             \
       be seen and answered); 1 and *flags set when asked, 0 when not. */                   \
    X(FAILABLE, int32_t, GetWindowStationFlags, (uint32_t * flags))                             \
    /* With PS_FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really a char** that             \
       receives a text to release with LocalFree. */                                        \
    X(FAILABLE, uint32_t, FormatMessageA,                                                       \
      (uint32_t flags, const void* source, uint32_t messageId, uint32_t languageId,             \
       char* buffer, uint32_t size, void* arguments))                                           \
    X(SURE, PsHandle, LocalFree, (PsHandle memory))                                             \
    X(FAILABLE, int32_t, SetupCopyOEMInfA,                                                      \
      (const char* sourceInfFileName, const char* sourceMediaLocation, uint32_t sourceMediaType, \
       uint32_t copyStyle, char* destinationInfFileName, uint32_t destinationInfFileNameSize,   \
       uint32_t* requiredSize, char** destinationInfFileNameComponent))
// clang-format on

// Every operation of the table, in the table's order.
#define PS_OPERATIONS(X) CORE_OPERATIONS(X) PS_OWN_OPERATIONS(X)

// The core operations are the base's members: the stager's logic calls
// every operation as Platform.<name>, and code shared with the companion tool
// takes the table as a CoreServices.
struct PlatformServices : CoreServices {
    PS_OWN_OPERATIONS(CORE_MEMBER)
};

extern PlatformServices Platform;
