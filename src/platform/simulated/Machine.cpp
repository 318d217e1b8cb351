// The simulated Windows machine's table and its reset: the PlatformServices
// table of the host build, the machine's state, and the test helpers that
// bypass failure injection and records.
#include "platform/simulated/SimMachine.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "common/BoundedText.h"

namespace simulated {

Machine& State()
{
    static Machine machine;
    return machine;
}

}  // namespace simulated

using namespace simulated;

namespace {

// Entry N of the table is Sim<name of member N>: the initializer is made
// from the same list as the table's members, so no two members of the same
// type can be swapped.
#define SIM_ENTRY(kind, result, name, parameters) Sim##name,
const PlatformServices kSimulatedServices = {SIM_CORE_TABLE, PS_OWN_OPERATIONS(SIM_ENTRY)};
#undef SIM_ENTRY

}  // namespace

PlatformServices Platform = kSimulatedServices;

const char* SimOperationName(SimOperation operation)
{
#define SIM_NAME_FAILABLE(name) #name,
#define SIM_NAME_SURE(name)
#define SIM_NAME(kind, result, name, parameters) SIM_NAME_##kind(name)
    static const char* const kNames[SIM_OPERATION_COUNT] = {PS_OPERATIONS(SIM_NAME)};
#undef SIM_NAME
#undef SIM_NAME_SURE
#undef SIM_NAME_FAILABLE
    int index = static_cast<int>(operation);
    return index >= 0 && index < SIM_OPERATION_COUNT ? kNames[index] : "?";
}

SimWindows& Sim()
{
    static SimWindows sim;
    return sim;
}

void SimReset(const std::string& hostRoot)
{
    Machine& machine = State();
    for (void* text : machine.texts) {
        free(text);
    }
    machine.texts.clear();
    machine.drives.clear();
    machine.attributes.clear();
    machine.handles.clear();
    machine.scripts.clear();
    machine.mutexes.clear();
    machine.oemCount = 0;
    ++machine.generation;

    Sim() = SimWindows();
    SimSetVersion(PS_VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3");
    Sim().clock = PsSystemTime{2007, 3, 1, 5, 9, 4, 3, 0};

    std::string root = hostRoot;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    machine.drives['C'] = root;
    SimMakeFolder("C:\\WINDOWS\\system32\\drivers");
    SimMakeFolder("C:\\WINDOWS\\inf");
    SimMakeFolder("C:\\Temp");
    SimMakeFolder("C:\\pkg");
    Platform = kSimulatedServices;
}

void SimMapDrive(char letter, const std::string& hostRoot)
{
    std::string root = hostRoot;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    State().drives[static_cast<char>(toupper(static_cast<unsigned char>(letter)))] = root;
}

void SimSetVersion(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                   const char* servicePack)
{
    PsOsVersionInfoEx& version = Sim().version;
    version = PsOsVersionInfoEx{};
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.dwBuildNumber = build;
    version.dwPlatformId = platformId;
    CopyText(version.szCSDVersion, sizeof version.szCSDVersion, servicePack == nullptr ? "" : servicePack);
    unsigned servicePackNumber = 0;
    // A test's own version text; a number that does not convert leaves 0.
    if (servicePack != nullptr &&
        sscanf(servicePack, "Service Pack %u", &servicePackNumber) == 1) {  // NOLINT(cert-err34-c)
        version.wServicePackMajor = static_cast<uint16_t>(servicePackNumber);
    }
    version.wProductType = 1;  // VER_NT_WORKSTATION
}

std::string SimHostPath(const std::string& windowsPath)
{
    Resolved path = ResolvePath(windowsPath.c_str(), NO_LIMIT);
    return path.error == 0 ? path.host : "";
}

void SimWriteFile(const std::string& windowsPath, const std::string& bytes)
{
    size_t slash = windowsPath.find_last_of("\\/");
    if (slash != std::string::npos && slash > 2) {
        MakeFolders(windowsPath.substr(0, slash));
    }
    Resolved path = ResolvePath(windowsPath.c_str(), NO_LIMIT);
    if (path.error != 0 || !WriteHostFile(path.host, bytes)) {
        fprintf(stderr, "SimWriteFile: cannot write %s\n", windowsPath.c_str());
    }
}

bool SimReadFile(const std::string& windowsPath, std::string* bytes)
{
    Resolved path = ResolvePath(windowsPath.c_str(), NO_LIMIT);
    return path.error == 0 && path.exists && !path.isFolder && ReadHostFile(path.host, bytes);
}

bool SimFileExists(const std::string& windowsPath)
{
    Resolved path = ResolvePath(windowsPath.c_str(), NO_LIMIT);
    return path.error == 0 && path.exists && !path.isFolder;
}

void SimMakeFolder(const std::string& windowsPath)
{
    if (!MakeFolders(windowsPath)) {
        fprintf(stderr, "SimMakeFolder: cannot create %s\n", windowsPath.c_str());
    }
}

void SimSetAttributes(const std::string& windowsPath, uint32_t attributes)
{
    Resolved path = ResolvePath(windowsPath.c_str(), NO_LIMIT);
    if (path.error == 0 && path.exists) {
        StoreAttributes(path.host, attributes);
    }
}

uint32_t SimAttributes(const std::string& windowsPath)
{
    Resolved path = ResolvePath(windowsPath.c_str(), NO_LIMIT);
    if (path.error != 0 || !path.exists) {
        return PS_INVALID_FILE_ATTRIBUTES;
    }
    return StoredAttributes(path);
}
