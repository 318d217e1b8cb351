// The seam between MERVODevCtl's logic and the operating system.
//
// Every Setup API, configuration manager and kernel call the tool makes goes
// through the process-wide table `DevCtlPlatform`: the core operations that
// the stager uses too (platform/CoreServices.h), and the tool's own. The
// Windows build links DevCtlWin32.cpp, which fills the table with the real
// functions; host tests link tests/SimulatedDevCtl.cpp, a simulated device
// tree and certificate store on the stager's simulated Windows.
//
// The records mirror the Windows ones byte for byte (checked in
// DevCtlWin32.cpp), so the logic never includes <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/CoreServices.h"

typedef PsHandle DcHandle;

// SP_DEVINFO_DATA (28 bytes in a 32-bit process, 32 in a 64-bit one)
struct DcDevInfoData {
    uint32_t cbSize;
    uint8_t classGuid[16];
    uint32_t devInst;
    uintptr_t reserved;
};

// SP_REMOVEDEVICE_PARAMS: its class-install header (size of the header, the
// install function), the scope and the hardware profile.
struct DcRemoveDeviceParams {
    uint32_t headerSize;
    uint32_t installFunction;
    uint32_t scope;
    uint32_t hwProfile;
};

// WIN32_FIND_DATAA: what FindFirstFileA and FindNextFileA report of a file.
struct DcFindData {
    uint32_t attributes;
    uint32_t times[6];  // creation, last access, last write (FILETIMEs)
    uint32_t sizeHigh;
    uint32_t sizeLow;
    uint32_t reserved0;
    uint32_t reserved1;
    char fileName[260];
    char alternateFileName[14];
};

// What the tool needs to know of a certificate, decoded by the system.
enum { DC_CERTIFICATE_SIZE = 65536 };  // the largest certificate file the tool reads
struct DcCertificate {
    int32_t isAuthority;  // the basic constraints say CA
    int32_t codeSigning;  // the extended key usage names code signing
    char sha1[41];        // the thumbprint in upper-case hexadecimal
    uint32_t derSize;
    uint8_t der[DC_CERTIFICATE_SIZE];  // the certificate's DER bytes
};

// Values of the Windows API that the logic passes or tests.
enum : uint32_t {
    DC_DIGCF_ALLCLASSES = 0x04,
    DC_DIF_REMOVE = 0x05,
    DC_DI_REMOVEDEVICE_GLOBAL = 0x01,
    DC_SPDRP_HARDWAREID = 0x01,
    DC_SPDRP_COMPATIBLEIDS = 0x02,
    DC_CLASSINSTALL_HEADER_SIZE = 8,
    DC_ERROR_INSUFFICIENT_BUFFER = 122,
    DC_ERROR_NO_MORE_ITEMS = 259,
    DC_CR_SUCCESS = 0,
    DC_CR_FAILURE = 0x13,
    DC_CM_LOCATE_DEVNODE_NORMAL = 0,
    DC_CM_REENUMERATE_NORMAL = 0,
    DC_ERROR_NO_MORE_FILES = 18,
    DC_ERROR_CALL_NOT_IMPLEMENTED = 120,
    DC_SUOI_FORCEDELETE = 0x01,
    DC_ERROR_INF_IN_USE_BY_DEVICES = 0xE000023D,
};

// INVALID_HANDLE_VALUE, what SetupDiGetClassDevsA returns on failure.
#define DC_INVALID_HANDLE_VALUE ((DcHandle)(intptr_t)-1)

// The tool's own operations, in the table's order, as X(result type, name,
// parameter list). The table's members and both implementations'
// initializers are all made from this list (and the core one), so they
// cannot drift apart or be swapped.
// clang-format off
#define DEVCTL_OWN_OPERATIONS(X)                                                                     \
    /* Setup API: the device information set of every device instance                            \
       (present or not) and the operations on its elements. */                                   \
    X(DcHandle, SetupDiGetClassDevsA,                                                            \
      (const void* classGuid, const char* enumerator, DcHandle parent, uint32_t flags))          \
    X(int32_t, SetupDiEnumDeviceInfo, (DcHandle set, uint32_t index, DcDevInfoData* data))       \
    X(int32_t, SetupDiGetDeviceInstanceIdA,                                                      \
      (DcHandle set, DcDevInfoData* data, char* id, uint32_t size, uint32_t* requiredSize))      \
    X(int32_t, SetupDiGetDeviceRegistryPropertyA,                                                \
      (DcHandle set, DcDevInfoData* data, uint32_t property, uint32_t* valueType,                \
       uint8_t* buffer, uint32_t size, uint32_t* requiredSize))                                  \
    X(int32_t, SetupDiSetClassInstallParamsA,                                                    \
      (DcHandle set, DcDevInfoData* data, DcRemoveDeviceParams* params, uint32_t size))          \
    X(int32_t, SetupDiCallClassInstaller,                                                        \
      (uint32_t installFunction, DcHandle set, DcDevInfoData* data))                             \
    X(int32_t, SetupDiRemoveDevice, (DcHandle set, DcDevInfoData* data))                         \
    X(int32_t, SetupDiDestroyDeviceInfoList, (DcHandle set))                                     \
    /* Takes an INF of the system's INF store (its file name, no folder) out                     \
       of the store; `flags` 0 or DC_SUOI_FORCEDELETE. */                                        \
    X(int32_t, SetupUninstallOEMInfA, (const char* infFileName, uint32_t flags))                 \
    /* Configuration manager: results are CONFIGRET codes (0 is CR_SUCCESS). */                  \
    X(uint32_t, CM_Locate_DevNodeA, (uint32_t* devInst, char* deviceId, uint32_t flags))         \
    X(uint32_t, CM_Reenumerate_DevNode, (uint32_t devInst, uint32_t flags))                      \
    /* The system's Windows folder (the INF store is its "inf" folder): its                      \
       length, 0 on failure, the size needed when `size` is too small. */                        \
    X(uint32_t, GetSystemWindowsDirectoryA, (char* folder, uint32_t size))                       \
    /* Listing a folder: `pattern` is a path whose last part may hold * and ?.                   \
       FindFirstFileA gives DC_INVALID_HANDLE_VALUE when nothing is found                        \
       (last error PS_ERROR_FILE_NOT_FOUND) or the folder cannot be listed. */                   \
    X(DcHandle, FindFirstFileA, (const char* pattern, DcFindData* found))                        \
    X(int32_t, FindNextFileA, (DcHandle search, DcFindData* found))                              \
    X(int32_t, FindClose, (DcHandle search))                                                     \
    /* The process's whole command line, program name included, as it was given. */              \
    X(const char*, GetCommandLineA, (void))                                                      \
    /* Starts `applicationName` with `commandLine` (the console and standard                     \
       handles are shared), waits until it ends and gives its exit code.                         \
       0 done, 1 it could not be started, 2 its exit code could not be read. */                  \
    X(int32_t, RunAndWait, (const char* applicationName, char* commandLine, uint32_t* exitCode)) \
    /* Decodes one X.509 certificate from DER bytes or from PEM text                             \
       ("-----BEGIN CERTIFICATE-----"): 1 and *certificate filled, 0 when the                    \
       bytes hold no certificate. */                                                             \
    X(int32_t, DecodeCertificate, (const uint8_t* bytes, uint32_t size, DcCertificate* certificate)) \
    /* A system certificate store of the local machine, by name; null when it                    \
       cannot be opened. */                                                                      \
    X(DcHandle, CertOpenLocalMachineStore, (const char* storeName))                              \
    /* Adds an encoded certificate (an equal one is replaced); nonzero: added. */                \
    X(int32_t, CertAddEncodedCertificateToStore, (DcHandle store, const uint8_t* der, uint32_t size)) \
    /* Deletes the store's certificate with exactly these bytes: 0 deleted, 1                    \
       none there, 2 the store refused. */                                                       \
    X(int32_t, CertDeleteEncodedCertificate, (DcHandle store, const uint8_t* der, uint32_t size)) \
    /* Commits the store's changes and closes it (a deletion reaches Wine's                      \
       registry only through the commit); nonzero: committed. */                                 \
    X(int32_t, CertCommitAndCloseStore, (DcHandle store))                                        \
    /* One line of the tool's report on standard output (the newline is added). */               \
    X(void, WriteLine, (const char* text))
// clang-format on

// The result and parameters are types, which cannot be parenthesized.
#define DEVCTL_MEMBER(result, name, parameters) \
    result(*name) parameters;  // NOLINT(bugprone-macro-parentheses)

// The core operations are the base's members (DevCtlPlatform.<name>), and
// code shared with the stager takes the table as a CoreServices.
struct DevCtlServices : CoreServices {
    DEVCTL_OWN_OPERATIONS(DEVCTL_MEMBER)
};

#undef DEVCTL_MEMBER

extern DevCtlServices DevCtlPlatform;
