// A simulated device tree behind the DevCtlServices table, for host tests.
//
// Device instances carry hardware and compatible ids and can be made to
// refuse each removal step. The device information set is a snapshot of the
// instances present when SetupDiGetClassDevsA was called; by default a
// removal keeps its element in the set (as Windows does), optionally it
// drops it (so positions shift). Every removal step, the started process and
// every printed line are recorded.
//
// The Windows folder, with its INF store, is a host folder: paths the tool
// builds with backslashes are taken with slashes on the host.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "DevCtlServices.h"

struct SimDevice {
    std::string instanceId;
    std::vector<std::string> hardwareIds;
    std::vector<std::string> compatibleIds;
    bool classInstallerFails = false;  // SetupDiCallClassInstaller(DIF_REMOVE) fails
    bool removeFails = false;          // SetupDiRemoveDevice fails
    bool removed = false;
};

struct SimDeviceTree {
    std::vector<SimDevice> devices;
    // Wine's behaviour: SetupDiSetClassInstallParams is a stub that fails.
    bool classInstallParamsFail = false;
    bool listFails = false;              // SetupDiGetClassDevsA fails
    bool removalDropsElement = false;    // a removed element leaves the set
    uint32_t failureError = 0xE000020B;  // last error of a refused step

    // Configuration manager results.
    uint32_t locateResult = 0;
    uint32_t reenumerateResult = 0;
    std::vector<std::string> cmCalls;  // "Locate <flags>", "Reenumerate <devInst> <flags>"

    // Process: 32-bit on 64-bit Windows or not, its path, the files that exist.
    bool wow64Known = true;
    bool wow64 = false;
    std::string modulePath = "C:\\pkg\\MERVODevCtl.exe";
    bool modulePathFails = false;
    std::vector<std::string> files;  // compared case-insensitively
    std::string commandLine;
    int32_t runResult = 0;          // what RunAndWait returns
    uint32_t runExitCode = 0;       // the exit code it gives
    std::vector<std::string> runs;  // "<application>|<command line>" per RunAndWait

    // The INF store. `windowsFolder` empty: GetSystemWindowsDirectoryA fails.
    std::string windowsFolder;
    // Windows takes an INF and its .pnf out of the store, and refuses (without
    // SUOI_FORCEDELETE) an INF in use. Wine removes nothing without the flag
    // (and says it did), and with it only the .inf.
    bool uninstallLikeWine = false;
    std::vector<std::string> infsInUse;       // store file names used by present devices
    uint32_t uninstallError = 0;              // nonzero: every SetupUninstallOEMInfA fails with it
    bool findFails = false;                   // FindFirstFileA fails with access denied
    bool findNextFails = false;               // FindNextFileA fails (error 59) after the first entry
    bool deleteFails = false;                 // DeleteFileA fails with access denied
    std::vector<std::string> uninstallCalls;  // "<name> <flags>" per SetupUninstallOEMInfA

    // Certificate stores of the local machine: the DER bytes of each
    // certificate, by store name. As in Wine's registry, a store's changes
    // reach it only through the commit; one store is open at a time.
    std::map<std::string, std::vector<std::string>> stores;
    bool storeOpenFails = false;
    bool storeAddFails = false;
    bool storeDeleteFails = false;
    bool storeCommitFails = false;
    std::vector<std::string> storesOpened;  // every name asked for
    int openStores = 0;

    // Records.
    std::vector<std::string> removalSteps;  // "<step> <instance id>" in order
    std::vector<std::string> output;        // lines printed
    uint32_t lastError = 0;
    int openSets = 0;
};

SimDeviceTree& SimTree();

// An empty tree, default records, and the DevCtlPlatform table set to the
// simulated operations.
void SimTreeReset();

// Adds an instance with hardware ids and compatible ids.
SimDevice& SimAddDevice(const std::string& instanceId, std::vector<std::string> hardwareIds,
                        std::vector<std::string> compatibleIds = {});

// Instance ids of the devices not removed, in the order they were added.
std::vector<std::string> SimRemainingDevices();

// The host path of a path the tool gives (backslashes taken as slashes).
std::string SimHostPath(const std::string& path);

// The printed lines joined with '\n'.
std::string SimOutputText();

// Runs the tool on the command line "MERVODevCtl.exe" followed by
// `arguments`; gives its exit code.
int SimRunWords(const std::vector<std::string>& arguments);
