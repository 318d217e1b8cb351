// Where the programs under test, the work root and the Windows folders are.
#include <cstdlib>

#include "HarnessInternal.h"

namespace e2e {

std::string HostToWindowsPath(const std::string& hostPath)
{
    std::string path = "Z:" + hostPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

namespace {

// A host path from the environment, else the built-in one ("" for none).
std::string HostPathSetting(const char* name, const char* builtIn)
{
    const char* value = getenv(name);
    if (value != nullptr && value[0] != '\0')
        return HostToWindowsPath(value);
    return builtIn[0] != '\0' ? HostToWindowsPath(builtIn) : std::string();
}

}  // namespace

std::string StagerExePath()
{
    return HostPathSetting("MERVO_E2E_STAGER", MERVO_E2E_STAGER);
}
std::string Stager64ExePath()
{
    return HostPathSetting("MERVO_E2E_STAGER64", "");
}
std::string DevCtlExePath()
{
    return HostPathSetting("MERVO_E2E_DEVCTL", MERVO_E2E_DEVCTL);
}
std::string DevCtl64ExePath()
{
    return HostPathSetting("MERVO_E2E_DEVCTL64", "");
}
std::string DoubleExePath()
{
    return HostToWindowsPath(MERVO_E2E_DOUBLE);
}
std::string ExamplePackage()
{
    return HostToWindowsPath(MERVO_E2E_EXAMPLE_PACKAGE);
}
std::string WorkRoot()
{
    return HostPathSetting("MERVO_E2E_WORK_ROOT", MERVO_E2E_WORK_ROOT);
}
bool HandOffLayout()
{
    return !Stager64ExePath().empty();
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

namespace {

std::string WithoutTrailingSeparator(std::string path)
{
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

}  // namespace

std::string TempFolder()
{
    char buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer)
        Fail("GetTempPathA failed in the test");
    return WithoutTrailingSeparator(buffer);
}

std::string RunLogPath()
{
    return JoinPath(TempFolder(), "MERVOStageLog.txt");
}

std::string SystemFolder()
{
    char buffer[MAX_PATH + 1] = {};
    GetSystemDirectoryA(buffer, sizeof buffer);
    return WithoutTrailingSeparator(buffer);
}

std::string WindowsFolder()
{
    char buffer[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(buffer, sizeof buffer);
    return WithoutTrailingSeparator(buffer);
}

std::string DriversFolder()
{
    return JoinPath(SystemFolder(), "drivers");
}
std::string SysWow64Folder()
{
    return JoinPath(WindowsFolder(), "syswow64");
}
std::string InfFolder()
{
    return JoinPath(WindowsFolder(), "inf");
}

}  // namespace e2e
