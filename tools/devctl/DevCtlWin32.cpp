// The DevCtlServices table filled with the real Windows functions.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>

#include "DevCtlServices.h"
#include "platform/win32/CoreWin32.h"

// The seam's records must be the Windows records, byte for byte.
static_assert(sizeof(DcDevInfoData) == sizeof(SP_DEVINFO_DATA), "SP_DEVINFO_DATA");
static_assert(offsetof(SP_DEVINFO_DATA, DevInst) == offsetof(DcDevInfoData, devInst),
              "SP_DEVINFO_DATA.DevInst");
static_assert(offsetof(SP_DEVINFO_DATA, Reserved) == offsetof(DcDevInfoData, reserved),
              "SP_DEVINFO_DATA.Reserved");
static_assert(sizeof(DcRemoveDeviceParams) == sizeof(SP_REMOVEDEVICE_PARAMS), "SP_REMOVEDEVICE_PARAMS");
static_assert(offsetof(SP_REMOVEDEVICE_PARAMS, Scope) == offsetof(DcRemoveDeviceParams, scope),
              "SP_REMOVEDEVICE_PARAMS.Scope");
static_assert(sizeof(DcFindData) == sizeof(WIN32_FIND_DATAA), "WIN32_FIND_DATAA");
static_assert(offsetof(WIN32_FIND_DATAA, nFileSizeHigh) == offsetof(DcFindData, sizeHigh) &&
                  offsetof(WIN32_FIND_DATAA, nFileSizeLow) == offsetof(DcFindData, sizeLow) &&
                  offsetof(WIN32_FIND_DATAA, cFileName) == offsetof(DcFindData, fileName) &&
                  sizeof(WIN32_FIND_DATAA::cFileName) == sizeof(DcFindData::fileName),
              "WIN32_FIND_DATAA fields");
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == DC_CLASSINSTALL_HEADER_SIZE, "SP_CLASSINSTALL_HEADER");
static_assert(DIGCF_ALLCLASSES == DC_DIGCF_ALLCLASSES && DIF_REMOVE == DC_DIF_REMOVE &&
                  DI_REMOVEDEVICE_GLOBAL == DC_DI_REMOVEDEVICE_GLOBAL &&
                  SPDRP_HARDWAREID == DC_SPDRP_HARDWAREID && SPDRP_COMPATIBLEIDS == DC_SPDRP_COMPATIBLEIDS &&
                  ERROR_INSUFFICIENT_BUFFER == DC_ERROR_INSUFFICIENT_BUFFER &&
                  ERROR_NO_MORE_ITEMS == DC_ERROR_NO_MORE_ITEMS && CR_SUCCESS == DC_CR_SUCCESS &&
                  CR_FAILURE == DC_CR_FAILURE && CM_LOCATE_DEVNODE_NORMAL == DC_CM_LOCATE_DEVNODE_NORMAL &&
                  CM_REENUMERATE_NORMAL == DC_CM_REENUMERATE_NORMAL &&
                  ERROR_NO_MORE_FILES == DC_ERROR_NO_MORE_FILES &&
                  ERROR_CALL_NOT_IMPLEMENTED == DC_ERROR_CALL_NOT_IMPLEMENTED &&
                  SUOI_FORCEDELETE == DC_SUOI_FORCEDELETE &&
                  ERROR_INF_IN_USE_BY_DEVICES == DC_ERROR_INF_IN_USE_BY_DEVICES,
              "Windows values");

namespace {

DcHandle WinSetupDiGetClassDevsA(const void* classGuid, const char* enumerator, DcHandle parent,
                                 uint32_t flags)
{
    return SetupDiGetClassDevsA(static_cast<const GUID*>(classGuid), enumerator, static_cast<HWND>(parent),
                                flags);
}

SP_DEVINFO_DATA* Win(DcDevInfoData* data)
{
    return reinterpret_cast<SP_DEVINFO_DATA*>(data);
}

int32_t WinSetupDiEnumDeviceInfo(DcHandle set, uint32_t index, DcDevInfoData* data)
{
    return SetupDiEnumDeviceInfo(set, index, Win(data));
}

int32_t WinSetupDiGetDeviceInstanceIdA(DcHandle set, DcDevInfoData* data, char* id, uint32_t size,
                                       uint32_t* requiredSize)
{
    DWORD required = 0;
    BOOL done = SetupDiGetDeviceInstanceIdA(set, Win(data), id, size, &required);
    if (requiredSize != nullptr) {
        *requiredSize = required;
    }
    return done;
}

int32_t WinSetupDiGetDeviceRegistryPropertyA(DcHandle set, DcDevInfoData* data, uint32_t property,
                                             uint32_t* valueType, uint8_t* buffer, uint32_t size,
                                             uint32_t* requiredSize)
{
    DWORD type = 0;
    DWORD required = 0;
    BOOL done = SetupDiGetDeviceRegistryPropertyA(set, Win(data), property, &type, buffer, size, &required);
    if (valueType != nullptr) {
        *valueType = type;
    }
    if (requiredSize != nullptr) {
        *requiredSize = required;
    }
    return done;
}

int32_t WinSetupDiSetClassInstallParamsA(DcHandle set, DcDevInfoData* data, DcRemoveDeviceParams* params,
                                         uint32_t size)
{
    return SetupDiSetClassInstallParamsA(set, Win(data), reinterpret_cast<SP_CLASSINSTALL_HEADER*>(params),
                                         size);
}

int32_t WinSetupDiCallClassInstaller(uint32_t installFunction, DcHandle set, DcDevInfoData* data)
{
    return SetupDiCallClassInstaller(installFunction, set, Win(data));
}

int32_t WinSetupDiRemoveDevice(DcHandle set, DcDevInfoData* data)
{
    return SetupDiRemoveDevice(set, Win(data));
}

int32_t WinSetupDiDestroyDeviceInfoList(DcHandle set)
{
    return SetupDiDestroyDeviceInfoList(set);
}

// Looked up at run time: Windows 2000's Setup API has no
// SetupUninstallOEMInfA, and importing it would keep the tool from starting
// there at all.
int32_t WinSetupUninstallOEMInfA(const char* infFileName, uint32_t flags)
{
    typedef BOOL(WINAPI * UninstallFunction)(PCSTR, DWORD, PVOID);
    HMODULE setupApi = GetModuleHandleA("setupapi.dll");
    UninstallFunction uninstall =
        setupApi == nullptr ? nullptr
                            : reinterpret_cast<UninstallFunction>(
                                  reinterpret_cast<void*>(GetProcAddress(setupApi, "SetupUninstallOEMInfA")));
    if (uninstall == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    return uninstall(infFileName, flags, nullptr);
}

uint32_t WinCM_Locate_DevNodeA(uint32_t* devInst, char* deviceId, uint32_t flags)
{
    DEVINST node = 0;
    CONFIGRET result = CM_Locate_DevNodeA(&node, deviceId, flags);
    *devInst = node;
    return result;
}

uint32_t WinCM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags)
{
    return CM_Reenumerate_DevNode(devInst, flags);
}

uint32_t WinGetSystemWindowsDirectoryA(char* folder, uint32_t size)
{
    return GetSystemWindowsDirectoryA(folder, size);
}

WIN32_FIND_DATAA* Win(DcFindData* found)
{
    return reinterpret_cast<WIN32_FIND_DATAA*>(found);
}

DcHandle WinFindFirstFileA(const char* pattern, DcFindData* found)
{
    return FindFirstFileA(pattern, Win(found));
}

int32_t WinFindNextFileA(DcHandle search, DcFindData* found)
{
    return FindNextFileA(search, Win(found));
}

int32_t WinFindClose(DcHandle search)
{
    return FindClose(search);
}

const char* WinGetCommandLineA(void)
{
    return GetCommandLineA();
}

// The child shares this process's console (none is made for it) and its
// standard handles, so its report reaches whoever reads this one's.
int32_t WinRunAndWait(const char* applicationName, char* commandLine, uint32_t* exitCode)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    fflush(stdout);
    if (!CreateProcessA(applicationName, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 1;
    }
    DWORD code = 0;
    BOOL known = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                 GetExitCodeProcess(process.hProcess, &code);
    DWORD error = GetLastError();
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    SetLastError(error);
    *exitCode = code;
    return known ? 0 : 2;
}

// PEM text to DER through CryptStringToBinaryA, which Windows 2000 lacks: it
// is looked up at run time, and without it only DER files are taken.
typedef BOOL(WINAPI* StringToBinaryFunction)(LPCSTR, DWORD, DWORD, BYTE*, DWORD*, DWORD*, DWORD*);

int PemToDer(const uint8_t* bytes, uint32_t size, uint8_t* der, DWORD* derSize)
{
    // As OpenSSL's reader does, text before the header (a comment, a byte
    // order mark) is passed over.
    static const char kPemStart[] = "-----BEGIN CERTIFICATE-----";
    const uint32_t startLength = sizeof kPemStart - 1;
    uint32_t start = 0;
    while (start + startLength <= size && memcmp(bytes + start, kPemStart, startLength) != 0) {
        ++start;
    }
    if (start + startLength > size) {
        return 0;
    }
    HMODULE crypt32 = GetModuleHandleA("crypt32.dll");
    StringToBinaryFunction function =
        crypt32 == nullptr ? nullptr
                           : reinterpret_cast<StringToBinaryFunction>(reinterpret_cast<void (*)(void)>(
                                 GetProcAddress(crypt32, "CryptStringToBinaryA")));
    return function != nullptr && function(reinterpret_cast<LPCSTR>(bytes + start), size - start,
                                           CRYPT_STRING_BASE64HEADER, der, derSize, nullptr, nullptr);
}

// Whether the certificate's basic constraints say CA.
int IsAuthority(PCCERT_CONTEXT context)
{
    PCERT_EXTENSION extension = CertFindExtension(szOID_BASIC_CONSTRAINTS2, context->pCertInfo->cExtension,
                                                  context->pCertInfo->rgExtension);
    if (extension == nullptr) {
        return 0;
    }
    CERT_BASIC_CONSTRAINTS2_INFO info;
    DWORD size = sizeof info;
    // A constraint that cannot be read is taken as the stricter answer.
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS2, extension->Value.pbData,
                             extension->Value.cbData, 0, nullptr, &info, &size)) {
        return 1;
    }
    return info.fCA ? 1 : 0;
}

// Whether the certificate's extended key usage extension names code signing.
int NamesCodeSigning(PCCERT_CONTEXT context)
{
    PCERT_EXTENSION extension = CertFindExtension(szOID_ENHANCED_KEY_USAGE, context->pCertInfo->cExtension,
                                                  context->pCertInfo->rgExtension);
    if (extension == nullptr) {
        return 0;
    }
    CERT_ENHKEY_USAGE* usage = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ENHANCED_KEY_USAGE, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &usage, &size)) {
        return 0;
    }
    int found = 0;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) {
            found = 1;
        }
    }
    LocalFree(usage);
    return found;
}

int32_t WinDecodeCertificate(const uint8_t* bytes, uint32_t size, DcCertificate* certificate)
{
    DWORD derSize = sizeof certificate->der;
    if (PemToDer(bytes, size, certificate->der, &derSize)) {
        certificate->derSize = derSize;
    } else {
        if (size > sizeof certificate->der) {
            return 0;
        }
        memcpy(certificate->der, bytes, size);
        certificate->derSize = size;
    }
    PCCERT_CONTEXT context =
        CertCreateCertificateContext(X509_ASN_ENCODING, certificate->der, certificate->derSize);
    if (context == nullptr) {
        return 0;
    }
    // Bytes after the certificate are not part of it.
    certificate->derSize = context->cbCertEncoded;
    certificate->isAuthority = IsAuthority(context);
    certificate->codeSigning = NamesCodeSigning(context);
    BYTE hash[20];
    DWORD hashSize = sizeof hash;
    certificate->sha1[0] = '\0';
    if (CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, &hashSize) &&
        hashSize == sizeof hash) {
        for (DWORD i = 0; i < hashSize; ++i) {
            snprintf(certificate->sha1 + 2 * i, 3, "%02X", hash[i]);
        }
    }
    CertFreeCertificateContext(context);
    return 1;
}

DcHandle WinCertOpenLocalMachineStore(const char* storeName)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, storeName);
}

int32_t WinCertAddEncodedCertificateToStore(DcHandle store, const uint8_t* der, uint32_t size)
{
    return CertAddEncodedCertificateToStore(static_cast<HCERTSTORE>(store), X509_ASN_ENCODING, der, size,
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

int32_t WinCertDeleteEncodedCertificate(DcHandle store, const uint8_t* der, uint32_t size)
{
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der, size);
    if (wanted == nullptr) {
        return 2;
    }
    PCCERT_CONTEXT found = CertFindCertificateInStore(static_cast<HCERTSTORE>(store), X509_ASN_ENCODING, 0,
                                                      CERT_FIND_EXISTING, wanted, nullptr);
    CertFreeCertificateContext(wanted);
    if (found == nullptr) {
        return 1;
    }
    // Frees `found`, also when it fails.
    return CertDeleteCertificateFromStore(found) ? 0 : 2;
}

int32_t WinCertCommitAndCloseStore(DcHandle store)
{
    BOOL committed = CertControlStore(static_cast<HCERTSTORE>(store), 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(static_cast<HCERTSTORE>(store), 0);
    return committed;
}

void WinWriteLine(const char* text)
{
    fputs(text, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

}  // namespace

// Entry N of the table is Win<name of member N>: the initializer is made
// from the same list as the table's members, so no two members of the same
// type can be swapped.
#define DEVCTL_WIN32_ENTRY(result, name, parameters) Win##name,

DevCtlServices DevCtlPlatform = {CORE_WIN32_TABLE, DEVCTL_OWN_OPERATIONS(DEVCTL_WIN32_ENTRY)};

#undef DEVCTL_WIN32_ENTRY
