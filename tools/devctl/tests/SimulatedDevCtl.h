// The tool's own part of the simulated Windows, for host tests: a device
// tree, the INF store's Setup API calls, folder listings, the command line,
// started processes and certificate stores. The core operations (module
// path, file attributes, delete, streams, the WOW64 question, last error,
// the machine's turn) are the stager's simulated Windows
// (platform/simulated/SimulatedPlatform.h): Sim() sets them up, with C: on
// the running test's own folder.
//
// Device instances carry hardware and compatible ids and can be made to
// refuse each removal step. The device information set is a snapshot of the
// instances present when SetupDiGetClassDevsA was called; by default a
// removal keeps its element in the set (as Windows does), optionally it
// drops it (so positions shift). Every removal step, the started process and
// every printed line are recorded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "DevCtlServices.h"
#include "platform/simulated/SimulatedPlatform.h"

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

    // The process's whole command line, and the processes it runs.
    std::string commandLine;
    int32_t runResult = 0;          // what RunAndWait returns
    uint32_t runExitCode = 0;       // the exit code it gives
    std::vector<std::string> runs;  // "<application>|<command line>" per RunAndWait

    // The Windows folder, whose "inf" folder is the INF store; empty:
    // GetSystemWindowsDirectoryA fails.
    std::string windowsFolder = "C:\\WINDOWS";
    // Windows takes an INF and its .pnf out of the store, and refuses (without
    // SUOI_FORCEDELETE) an INF in use. Wine removes nothing without the flag
    // (and says it did), and with it only the .inf.
    bool uninstallLikeWine = false;
    std::vector<std::string> infsInUse;       // store file names used by present devices
    uint32_t uninstallError = 0;              // nonzero: every SetupUninstallOEMInfA fails with it
    bool findFails = false;                   // FindFirstFileA fails with access denied
    bool findNextFails = false;               // FindNextFileA fails (error 59) after the first entry
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
    int openSets = 0;                       // device sets and folder listings not closed
};

SimDeviceTree& SimTree();

// A fresh simulated Windows on the running test's folder (the tool as
// C:\pkg\MERVODevCtl.exe), an empty tree, default records, and the
// DevCtlPlatform table set to the simulated operations.
void SimTreeReset();

// Adds an instance with hardware ids and compatible ids.
SimDevice& SimAddDevice(const std::string& instanceId, std::vector<std::string> hardwareIds,
                        std::vector<std::string> compatibleIds = {});

// Instance ids of the devices not removed, in the order they were added.
std::vector<std::string> SimRemainingDevices();

// The printed lines joined with '\n'.
std::string SimOutputText();

// Runs the tool on the command line "MERVODevCtl.exe" followed by
// `arguments`; gives its exit code.
int SimRunWords(const std::vector<std::string>& arguments);
