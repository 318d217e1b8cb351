#include "system/GetOSVersion.h"

#include <cstring>

#include "common/BoundedText.h"
#include "common/Names.h"
#include "log/LogFile.h"
#include "system/Boxes.h"
#include "platform/PlatformServices.h"

const char OsNameTable[OS_CODE_COUNT][OS_NAME_SIZE] = {
    "Windows 3.11",        "Windows 95",   "Windows 98", "Windows 98 SE",       "Windows Millenium Edition",
    "Windows NT",          "Windows 2000", "Windows XP", "Windows Server 2003", "Windows Vista",
    "Unknown OS version.",
};

static const char kModule[] = "GetOSVersion";
static const char kHotfixKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";

static OsCode ClassifyWindows9x(const PsOsVersionInfoEx& info, char* text)
{
    if (info.dwMajorVersion != 4) {
        return OS_UNKNOWN;
    }
    char servicePackLetter = info.szCSDVersion[1];
    switch (info.dwMinorVersion) {
    case 0:
        FormatText(text, LOG_TEXT_SIZE, "OS Version: Microsoft Windows 95 %s.",
                   (servicePackLetter == 'C' || servicePackLetter == 'B') ? "OSR2 " : "");
        WriteLog(kModule, "GetOSVersion", text);
        return OS_WIN95;
    case 10:
        FormatText(text, LOG_TEXT_SIZE, "OS Version: Microsoft Windows 98 %s.",
                   servicePackLetter == 'A' ? "SE " : "");
        WriteLog(kModule, "GetOSVersion", text);
        return servicePackLetter == 'A' ? OS_WIN98SE : OS_WIN98;
    case 90:
        WriteLog(kModule, "GetOSVersion", "OS Version: Microsoft Windows Millennium Edition.");
        return OS_WINME;
    default:
        return OS_UNKNOWN;
    }
}

static OsCode NameWindowsNT(const PsOsVersionInfoEx& info)
{
    const char* line = nullptr;
    OsCode code = OS_UNKNOWN;
    if (info.dwMajorVersion == 6) {
        line = "OS Version: Microsoft Windows Vista.";
        code = OS_WINVISTA;
    } else if (info.dwMajorVersion == 5) {
        static const char* const kLines[] = {
            "OS Version: Microsoft Windows 2000.",
            "OS Version: Microsoft Windows XP.",
            "OS Version: Microsoft Windows Server 2003 family.",
        };
        if (info.dwMinorVersion <= 2) {
            line = kLines[info.dwMinorVersion];
            code = OS_WIN2000 + static_cast<OsCode>(info.dwMinorVersion);
        }
    } else if (info.dwMajorVersion <= 4) {
        line = "OS Version: Microsoft Windows NT.";
        code = OS_WINNT;
    }
    if (line != nullptr) {
        WriteLog(kModule, "GetOSVersion", line);
    }
    return code;
}

// The build line: the service-pack text and the low 16 bits of the build
// number, with a line feed of its own. On NT 4 "Service Pack 6" the hotfix key
// tells whether it is really 6a.
static void LogWindowsNTBuild(const PsOsVersionInfoEx& info, char* text)
{
    int build = static_cast<int>(info.dwBuildNumber & 0xFFFF);
    int servicePack6a = 0;
    if (info.dwMajorVersion == 4 && Platform.lstrcmpiA(info.szCSDVersion, "Service Pack 6") == 0) {
        PsKey key = nullptr;
        if (Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, kHotfixKey, 0, PS_KEY_QUERY_VALUE, &key) ==
            PS_ERROR_SUCCESS) {
            servicePack6a = 1;
            FormatText(text, LOG_TEXT_SIZE, "Service Pack 6a (Build %d)\n", build);
            WriteLog(kModule, "GetOSVersion", text);
            Platform.RegCloseKey(key);
        }
    }
    if (!servicePack6a) {
        FormatText(text, LOG_TEXT_SIZE, "%s (Build %d)\n", info.szCSDVersion, build);
        WriteLog(kModule, "GetOSVersion", text);
    }
}

OsCode GetOSVersion()
{
    OsCode code = OS_UNKNOWN;
    char text[LOG_TEXT_SIZE];
    PsOsVersionInfoEx info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = PS_OSVERSIONINFOEX_SIZE;
    if (Platform.GetVersionExA(&info) == 0) {
        // Systems before NT 4 SP6 know only the plain record; the storage is
        // reused as it is.
        info.dwOSVersionInfoSize = PS_OSVERSIONINFO_SIZE;
        if (Platform.GetVersionExA(&info) == 0) {
            return code;
        }
    }
    // The service-pack text is read as a C string; make sure it ends in its field.
    info.szCSDVersion[sizeof info.szCSDVersion - 1] = '\0';
    switch (info.dwPlatformId) {
    case PS_VER_PLATFORM_WIN32s:
        WriteLog(kModule, "GetOSVersion", "OS Version: Windows 3.1.");
        code = OS_WIN32S;
        break;
    case PS_VER_PLATFORM_WIN32_WINDOWS:
        code = ClassifyWindows9x(info, text);
        break;
    case PS_VER_PLATFORM_WIN32_NT:
        code = NameWindowsNT(info);
        LogWindowsNTBuild(info, text);
        break;
    default:
        break;
    }
    return code;
}

void DisplayOSError(OsCode code)
{
    if (code < 0 || code >= OS_CODE_COUNT) {
        code = OS_UNKNOWN;
    }
    char text[LOG_TEXT_SIZE];
    FormatText(text, sizeof text, "MERVODriverStager can not be run with %s operating system.",
               OsNameTable[code]);
    WriteLog(kModule, "DisplayOSError", text);
    ShowBox(text, kStagerErrorCaption, PS_MB_OK);
}
