// The conformance machine of the host build: the simulated Windows, its C:
// drive on a fresh host folder of each test.
#include <cstdio>
#include <memory>

#include "Conformance.h"
#include "TempFolder.h"
#include "platform/simulated/SimulatedPlatform.h"

const char kPresentKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

namespace {

const char kFolder[] = "C:\\conformance";
const char kChild[] = "C:\\conformance-child\\child.exe";

std::unique_ptr<TempFolder> hostRoot;
std::string heldMutex;  // the named mutex the child of "hold NAME" owns

// The simulator runs no programs: a command line of the child program is
// played by the script its words name.
SimProcessScript PlayChild(const std::string& commandLine)
{
    std::string quoted = std::string("\"") + kChild + "\"";
    if (commandLine.compare(0, quoted.size(), quoted) != 0 || !SimFileExists(kChild)) {
        return SimProcessScript{SIM_PROCESS_FAILS_TO_START, 0};
    }
    std::string words = commandLine.substr(quoted.size());
    unsigned code = 0;
    if (sscanf(words.c_str(), " exit %u", &code) == 1) {  // NOLINT(cert-err34-c)
        return SimProcessScript{SIM_PROCESS_ENDS, code};
    }
    unsigned parent = 0;
    if (sscanf(words.c_str(), " parent %u", &parent) == 1) {  // NOLINT(cert-err34-c)
        return SimProcessScript{SIM_PROCESS_ENDS, parent == Sim().processId ? 0u : 1u};
    }
    if (words.rfind(" hold ", 0) == 0) {
        heldMutex = words.substr(6);
        SimOtherHolderTakes({heldMutex, SIM_HOLDER_KEEPS, 0});
    }
    return SimProcessScript{SIM_PROCESS_RUNS_PAST_WAIT, 0};
}

}  // namespace

std::string MachineBegin()
{
    hostRoot.reset(new TempFolder("mervo-conformance"));
    if (hostRoot->path().empty()) {
        return "";
    }
    SimReset(hostRoot->path());
    SimMakeFolder(kFolder);
    SimWriteFile(kChild, "MZ");
    Sim().currentDirectory = kFolder;
    Sim().registryKeys.push_back(kPresentKey);
    Sim().onLaunch = PlayChild;
    return kFolder;
}

void MachineEnd()
{
    hostRoot.reset();
}

bool MachineMakeFolder(const std::string& path)
{
    SimMakeFolder(path);
    return SimAttributes(path) != PS_INVALID_FILE_ATTRIBUTES;
}

bool MachineWriteFile(const std::string& path, const std::string& bytes)
{
    SimWriteFile(path, bytes);
    return SimFileExists(path);
}

bool MachineReadFile(const std::string& path, std::string* bytes)
{
    return SimReadFile(path, bytes);
}

bool MachineSetAttributes(const std::string& path, uint32_t attributes)
{
    if (SimAttributes(path) == PS_INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    SimSetAttributes(path, attributes);
    return true;
}

bool MachineUnderWine()
{
    return false;
}

int MachineWineVersion()
{
    return 0;
}

std::string MachineChildCommand(const char* behaviour)
{
    return std::string("\"") + kChild + "\" " + behaviour;
}

void MachineEndChild(PsHandle)
{
    if (!heldMutex.empty()) {
        SimEndOtherHolder(heldMutex);
        heldMutex.clear();
    }
}

bool MachineChildHolds(const std::string& name)
{
    for (const SimOtherHolder& holder : Sim().otherHolders) {
        if (holder.name == name) {
            return true;
        }
    }
    return false;
}

// The host build has no Setup API: the INF model answers as the machine.
std::string MachineInfField(const std::string& path, const char* section, const char* key, int field)
{
    std::string bytes;
    return MachineReadFile(path, &bytes) ? ModelInfField(bytes, section, key, field) : "<not opened>";
}

std::string MachineActualSection(const std::string& path, const char* section)
{
    std::string bytes;
    return MachineReadFile(path, &bytes) ? ModelActualSection(bytes, section) : "<none>";
}
