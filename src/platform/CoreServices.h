// The operations that the stager and the companion tool both use, in one
// table of their own: each program's seam (PlatformServices, DevCtlServices)
// is this table and the operations only that program needs. One Windows
// implementation (win32/CoreWin32.cpp) and one simulated one
// (simulated/, held to Windows by the conformance rows) serve both programs.
//
// The types mirror the Windows ones byte for byte, so that the logic never
// includes <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

typedef void* PsHandle;

// Values of the Windows API that the logic of both programs passes or tests.
enum : uint32_t {
    PS_FILE_ATTRIBUTE_DIRECTORY = 0x10,
    PS_INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF,
    PS_WAIT_OBJECT_0 = 0,
    PS_WAIT_ABANDONED = 0x80,
    PS_WAIT_TIMEOUT = 0x102,
    PS_WAIT_FAILED = 0xFFFFFFFF,
    PS_INFINITE = 0xFFFFFFFF,
    PS_SYNCHRONIZE = 0x00100000,
    PS_ERROR_SUCCESS = 0,
    PS_ERROR_FILE_NOT_FOUND = 2,
    PS_ERROR_PATH_NOT_FOUND = 3,
    PS_ERROR_ACCESS_DENIED = 5,
    PS_ERROR_INVALID_NAME = 123,
    PS_ERROR_BAD_PATHNAME = 161,
    PS_ERROR_ALREADY_EXISTS = 183,
    PS_ERROR_ENVVAR_NOT_FOUND = 203,
    PS_ERROR_NOT_OWNER = 288,
};

// The core operations, as X(kind, result type, name, parameter list); `kind`
// is FAILABLE for an operation that can fail (the simulator can be told to
// fail it) and SURE for one that cannot.
// clang-format off
#define CORE_OPERATIONS(X)                                                                      \
    /* Full path of a module (null: the running executable); 0 means failure,               \
       the buffer size means the path was cut. */                                           \
    X(FAILABLE, uint32_t, GetModuleFileNameA, (PsHandle module, char* fileName, uint32_t size)) \
    X(FAILABLE, uint32_t, GetFileAttributesA, (const char* path))                               \
    X(FAILABLE, int32_t, DeleteFileA, (const char* path))                                       \
    /* The C runtime's fopen on a Windows path; text mode unless the mode says              \
       "b" (a CR LF line end reads as one newline, a newline writes as CR LF). */           \
    X(FAILABLE, FILE*, OpenStream, (const char* path, const char* mode))                        \
    /* 1 and *isWow64 set when the question could be asked (the function is                 \
       looked up at run time: Windows 2000 lacks it); 0 when it could not. */                \
    X(FAILABLE, int32_t, IsWow64Process, (int32_t * isWow64))                                   \
    X(SURE, uint32_t, GetLastError, (void))                                                     \
    X(SURE, void, SetLastError, (uint32_t code))                                                \
    /* A named mutex of the machine ("Global\..."), not owned on creation, with            \
       the creator's default security; an existing one is opened (last error              \
       PS_ERROR_ALREADY_EXISTS). Null on failure. */                                       \
    X(FAILABLE, PsHandle, CreateMutexA, (const char* name))                                     \
    /* An existing named mutex, with the access asked for; null on failure. */              \
    X(FAILABLE, PsHandle, OpenMutexA, (uint32_t access, const char* name))                      \
    X(FAILABLE, uint32_t, WaitForSingleObject, (PsHandle handle, uint32_t milliseconds))        \
    X(FAILABLE, int32_t, ReleaseMutex, (PsHandle mutex))                                        \
    X(FAILABLE, int32_t, CloseHandle, (PsHandle handle))                                        \
    /* The variable's length without the terminator, or the size it needs when            \
       it does not fit `size`; 0 when it is not set (PS_ERROR_ENVVAR_NOT_FOUND). */         \
    X(FAILABLE, uint32_t, GetEnvironmentVariableA, (const char* name, char* value, uint32_t size)) \
    /* Sets the variable for this process and the processes it starts from now             \
       on (null `value`: removes it); nonzero means set. */                                \
    X(FAILABLE, int32_t, SetEnvironmentVariableA, (const char* name, const char* value))        \
    X(SURE, uint32_t, GetCurrentProcessId, (void))                                              \
    /* The id of the process that started this one: 1 and *parentId set, or 0             \
       when it cannot be asked (looked up at run time in ntdll). */                        \
    X(FAILABLE, int32_t, GetParentProcessId, (uint32_t * parentId))                             \
    /* Milliseconds since the system started (wraps after 49.7 days). */                  \
    X(SURE, uint32_t, GetTickCount, (void))
// clang-format on

// The result and parameters are types, which cannot be parenthesized.
#define CORE_MEMBER(kind, result, name, parameters) \
    result(*name) parameters;  // NOLINT(bugprone-macro-parentheses)

struct CoreServices {
    CORE_OPERATIONS(CORE_MEMBER)
};
