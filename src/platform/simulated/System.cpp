// Names, version and clock of the simulated Windows: the module, temporary
// and System32 paths, the version record, name comparison and the time.
#include "platform/simulated/SimMachine.h"

#include <strings.h>

#include <cstring>

namespace simulated {

namespace {

uint32_t ReportText(const std::string& text, char* buffer, uint32_t size)
{
    if (text.size() < size) {
        memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<uint32_t>(text.size());
    }
    return static_cast<uint32_t>(text.size() + 1);
}

}  // namespace

uint32_t SimGetModuleFileNameA(PsHandle module, char* fileName, uint32_t size)
{
    if (Enter(SIM_GetModuleFileNameA, "GetModuleFileNameA " + std::to_string(size))) {
        return 0;
    }
    if (module != nullptr) {
        return Fail(126);  // ERROR_MOD_NOT_FOUND: the simulator knows only the program
    }
    const std::string& path = Sim().modulePath;
    if (path.size() < size) {
        memcpy(fileName, path.c_str(), path.size() + 1);
        Sim().lastError = PS_ERROR_SUCCESS;
        return static_cast<uint32_t>(path.size());
    }
    // As from Windows Vista: the name cut to the buffer and terminated.
    if (size > 0) {
        memcpy(fileName, path.c_str(), size - 1);
        fileName[size - 1] = '\0';
    }
    Sim().lastError = PS_ERROR_INSUFFICIENT_BUFFER;
    return size;
}

uint32_t SimGetTempPathA(uint32_t size, char* buffer)
{
    if (Enter(SIM_GetTempPathA, "GetTempPathA " + std::to_string(size))) {
        return 0;
    }
    return ReportText(Sim().tempPath, buffer, size);
}

uint32_t SimGetSystemDirectoryA(char* buffer, uint32_t size)
{
    if (Enter(SIM_GetSystemDirectoryA, "GetSystemDirectoryA " + std::to_string(size))) {
        return 0;
    }
    return ReportText(Sim().systemDirectory, buffer, size);
}

int32_t SimGetVersionExA(PsOsVersionInfoEx* info)
{
    uint32_t size = info == nullptr ? 0 : info->dwOSVersionInfoSize;
    if (Enter(SIM_GetVersionExA, "GetVersionExA " + std::to_string(size))) {
        return 0;
    }
    const SimWindows& sim = Sim();
    bool extended = size == PS_OSVERSIONINFOEX_SIZE && !sim.refuseExtendedVersion;
    bool plain = size == PS_OSVERSIONINFO_SIZE && !sim.refusePlainVersion;
    if (!extended && !plain) {
        return static_cast<int32_t>(Fail(PS_ERROR_INVALID_PARAMETER));
    }
    // The five fields of the plain record end exactly at byte 148.
    info->dwMajorVersion = sim.version.dwMajorVersion;
    info->dwMinorVersion = sim.version.dwMinorVersion;
    info->dwBuildNumber = sim.version.dwBuildNumber;
    info->dwPlatformId = sim.version.dwPlatformId;
    memcpy(info->szCSDVersion, sim.version.szCSDVersion, sizeof info->szCSDVersion);
    if (extended) {
        info->wServicePackMajor = sim.version.wServicePackMajor;
        info->wServicePackMinor = sim.version.wServicePackMinor;
        info->wSuiteMask = sim.version.wSuiteMask;
        info->wProductType = sim.version.wProductType;
        info->wReserved = sim.version.wReserved;
    }
    return 1;
}

int SimlstrcmpiA(const char* first, const char* second)
{
    if (first == nullptr || second == nullptr) {
        return first == second ? 0 : (first == nullptr ? -1 : 1);
    }
    int order = strcasecmp(first, second);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void SimGetSystemTime(PsSystemTime* time)
{
    *time = Sim().clock;
}

}  // namespace simulated
