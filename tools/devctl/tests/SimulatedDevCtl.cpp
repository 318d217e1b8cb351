#include "SimulatedDevCtl.h"

#include <dirent.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "DevCtl.h"
#include "TestFiles.h"
#include "platform/simulated/SimMachine.h"

namespace {

using simulated::Fail;

SimDeviceTree tree;

// One device information set: the positions of the devices it holds.
struct SimSet {
    std::vector<size_t> devices;
};

SimSet* AsSet(DcHandle set)
{
    return static_cast<SimSet*>(set);
}

SimDevice* Element(DcHandle set, DcDevInfoData* data)
{
    SimSet* simSet = AsSet(set);
    size_t device = data->reserved;
    for (size_t position : simSet->devices) {
        if (position == device) {
            return &tree.devices[device];
        }
    }
    return nullptr;
}

DcHandle SimSetupDiGetClassDevsA(const void* classGuid, const char* enumerator, DcHandle parent,
                                 uint32_t flags)
{
    if (tree.listFails || classGuid != nullptr || enumerator != nullptr || parent != nullptr ||
        flags != DC_DIGCF_ALLCLASSES) {
        Fail(87);
        return DC_INVALID_HANDLE_VALUE;
    }
    SimSet* set = new SimSet;
    for (size_t i = 0; i < tree.devices.size(); ++i) {
        if (!tree.devices[i].removed) {
            set->devices.push_back(i);
        }
    }
    ++tree.openSets;
    return set;
}

int32_t SimSetupDiEnumDeviceInfo(DcHandle set, uint32_t index, DcDevInfoData* data)
{
    SimSet* simSet = AsSet(set);
    if (data->cbSize != sizeof(DcDevInfoData)) {
        return Fail(1784);  // ERROR_INVALID_USER_BUFFER
    }
    if (index >= simSet->devices.size()) {
        return Fail(DC_ERROR_NO_MORE_ITEMS);
    }
    data->devInst = static_cast<uint32_t>(simSet->devices[index] + 1);
    data->reserved = simSet->devices[index];
    return 1;
}

int32_t SimSetupDiGetDeviceInstanceIdA(DcHandle set, DcDevInfoData* data, char* id, uint32_t size,
                                       uint32_t* requiredSize)
{
    SimDevice* device = Element(set, data);
    if (device == nullptr) {
        return Fail(13);
    }
    uint32_t needed = static_cast<uint32_t>(device->instanceId.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (size < needed) {
        return Fail(DC_ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(id, device->instanceId.c_str(), needed);
    return 1;
}

int32_t SimSetupDiGetDeviceRegistryPropertyA(DcHandle set, DcDevInfoData* data, uint32_t property,
                                             uint32_t* valueType, uint8_t* buffer, uint32_t size,
                                             uint32_t* requiredSize)
{
    SimDevice* device = Element(set, data);
    if (device == nullptr) {
        return Fail(13);
    }
    const std::vector<std::string>* ids = nullptr;
    if (property == DC_SPDRP_HARDWAREID) {
        ids = &device->hardwareIds;
    } else if (property == DC_SPDRP_COMPATIBLEIDS) {
        ids = &device->compatibleIds;
    } else {
        return Fail(13);
    }
    if (ids->empty()) {
        return Fail(13);  // ERROR_INVALID_DATA: the property is absent
    }
    std::string value;
    for (const std::string& id : *ids) {
        value += id;
        value += '\0';
    }
    value += '\0';
    if (valueType != nullptr) {
        *valueType = 7;  // REG_MULTI_SZ
    }
    if (requiredSize != nullptr) {
        *requiredSize = static_cast<uint32_t>(value.size());
    }
    if (size < value.size()) {
        return Fail(DC_ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(buffer, value.data(), value.size());
    return 1;
}

int32_t SimSetupDiSetClassInstallParamsA(DcHandle set, DcDevInfoData* data, DcRemoveDeviceParams* params,
                                         uint32_t size)
{
    SimDevice* device = Element(set, data);
    tree.removalSteps.push_back("SetClassInstallParams " + (device ? device->instanceId : std::string("?")));
    if (device == nullptr || tree.classInstallParamsFail || size != sizeof *params ||
        params->headerSize != DC_CLASSINSTALL_HEADER_SIZE || params->installFunction != DC_DIF_REMOVE ||
        params->scope != DC_DI_REMOVEDEVICE_GLOBAL) {
        return Fail(tree.failureError);
    }
    return 1;
}

void Remove(DcHandle set, SimDevice* device)
{
    device->removed = true;
    if (tree.removalDropsElement) {
        std::vector<size_t>& devices = AsSet(set)->devices;
        for (size_t i = 0; i < devices.size(); ++i) {
            if (&tree.devices[devices[i]] == device) {
                devices.erase(devices.begin() + static_cast<long>(i));
                break;
            }
        }
    }
}

int32_t SimSetupDiCallClassInstaller(uint32_t installFunction, DcHandle set, DcDevInfoData* data)
{
    SimDevice* device = Element(set, data);
    tree.removalSteps.push_back("CallClassInstaller " + (device ? device->instanceId : std::string("?")));
    if (device == nullptr || device->removed || installFunction != DC_DIF_REMOVE ||
        device->classInstallerFails) {
        return Fail(tree.failureError);
    }
    Remove(set, device);
    return 1;
}

int32_t SimSetupDiRemoveDevice(DcHandle set, DcDevInfoData* data)
{
    SimDevice* device = Element(set, data);
    tree.removalSteps.push_back("RemoveDevice " + (device ? device->instanceId : std::string("?")));
    if (device == nullptr || device->removed || device->removeFails) {
        return Fail(tree.failureError);
    }
    Remove(set, device);
    return 1;
}

int32_t SimSetupDiDestroyDeviceInfoList(DcHandle set)
{
    delete AsSet(set);
    --tree.openSets;
    return 1;
}

// The host path of a file of the store, empty when the store cannot be
// resolved.
std::string StoreHostPath(const std::string& name)
{
    std::string store = SimHostPath(tree.windowsFolder + "\\inf");
    return store.empty() ? "" : store + "/" + name;
}

bool HostFileExists(const std::string& host)
{
    struct stat status;
    return !host.empty() && stat(host.c_str(), &status) == 0;
}

int32_t SimSetupUninstallOEMInfA(const char* infFileName, uint32_t flags)
{
    std::string name = infFileName;
    tree.uninstallCalls.push_back(name + " " + std::to_string(flags));
    if (tree.uninstallError != 0) {
        return static_cast<int32_t>(Fail(tree.uninstallError));
    }
    std::string inf = StoreHostPath(name);
    if (name.find_first_of("\\/") != std::string::npos || !HostFileExists(inf)) {
        return static_cast<int32_t>(Fail(PS_ERROR_FILE_NOT_FOUND));
    }
    bool forced = (flags & DC_SUOI_FORCEDELETE) != 0;
    std::string pnf = StoreHostPath(name.substr(0, name.size() - 4) + ".pnf");
    if (tree.uninstallLikeWine) {
        if (forced) {
            unlink(inf.c_str());
        }
        return 1;
    }
    for (const std::string& used : tree.infsInUse) {
        if (strcasecmp(used.c_str(), name.c_str()) == 0 && !forced) {
            return static_cast<int32_t>(Fail(DC_ERROR_INF_IN_USE_BY_DEVICES));
        }
    }
    unlink(inf.c_str());
    unlink(pnf.c_str());
    return 1;
}

uint32_t SimCM_Locate_DevNodeA(uint32_t* devInst, char* deviceId, uint32_t flags)
{
    tree.cmCalls.push_back(std::string("Locate ") + (deviceId ? deviceId : "(root)") + " " +
                           std::to_string(flags));
    *devInst = tree.locateResult == 0 ? 4242 : 0;
    return tree.locateResult;
}

uint32_t SimCM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags)
{
    tree.cmCalls.push_back("Reenumerate " + std::to_string(devInst) + " " + std::to_string(flags));
    return tree.reenumerateResult;
}

uint32_t SimGetSystemWindowsDirectoryA(char* folder, uint32_t size)
{
    if (tree.windowsFolder.empty()) {
        return 0;
    }
    uint32_t length = static_cast<uint32_t>(tree.windowsFolder.size());
    if (length >= size) {
        return length + 1;
    }
    memcpy(folder, tree.windowsFolder.c_str(), length + 1);
    return length;
}

// One listing: the matching entries of a folder, handed out in turn.
struct SimSearch {
    std::string folder;
    std::vector<std::string> names;
    size_t next = 0;
};

int32_t SimFindNextFileA(DcHandle search, DcFindData* found)
{
    SimSearch* simSearch = static_cast<SimSearch*>(search);
    if (tree.findNextFails && simSearch->next > 0) {
        return static_cast<int32_t>(Fail(59));  // ERROR_UNEXP_NET_ERR: a listing that breaks off
    }
    if (simSearch->next >= simSearch->names.size()) {
        return static_cast<int32_t>(Fail(DC_ERROR_NO_MORE_FILES));
    }
    const std::string& name = simSearch->names[simSearch->next++];
    struct stat status;
    memset(found, 0, sizeof *found);
    if (stat((simSearch->folder + "/" + name).c_str(), &status) == 0) {
        found->attributes = S_ISDIR(status.st_mode) ? uint32_t{PS_FILE_ATTRIBUTE_DIRECTORY} : 0x20u;
        found->sizeLow = static_cast<uint32_t>(status.st_size);
        found->sizeHigh = static_cast<uint32_t>(static_cast<uint64_t>(status.st_size) >> 32);
    }
    memcpy(found->fileName, name.c_str(), std::min(name.size() + 1, sizeof found->fileName - 1));
    return 1;
}

// Whether a folder entry matches the last part of a listing's pattern: without
// case, and, as through Windows' 8.3 short names, a pattern "*.xyz" also
// matches a longer extension that begins with xyz.
bool ListingMatches(const std::string& part, const char* name)
{
    if (fnmatch(part.c_str(), name, FNM_CASEFOLD) == 0) {
        return true;
    }
    const char* extension = strrchr(name, '.');
    return part.size() == 5 && part.compare(0, 2, "*.") == 0 && extension != nullptr &&
           strncasecmp(extension, part.c_str() + 1, 4) == 0;
}
DcHandle SimFindFirstFileA(const char* pattern, DcFindData* found)
{
    std::string path = pattern == nullptr ? "" : pattern;
    size_t separator = path.rfind('\\');
    if (tree.findFails || separator == std::string::npos) {
        Fail(PS_ERROR_ACCESS_DENIED);
        return DC_INVALID_HANDLE_VALUE;
    }
    simulated::Resolved folderPath = simulated::ResolvePath(path.substr(0, separator).c_str());
    if (path.size() > 260 || folderPath.error != 0 || !folderPath.isFolder) {
        Fail(PS_ERROR_PATH_NOT_FOUND);
        return DC_INVALID_HANDLE_VALUE;
    }
    SimSearch* search = new SimSearch;
    search->folder = folderPath.host;
    std::string part = path.substr(separator + 1);
    DIR* folder = opendir(search->folder.c_str());
    if (folder == nullptr) {
        delete search;
        Fail(PS_ERROR_PATH_NOT_FOUND);
        return DC_INVALID_HANDLE_VALUE;
    }
    while (dirent* entry = readdir(folder)) {
        if (ListingMatches(part, entry->d_name)) {
            search->names.push_back(entry->d_name);
        }
    }
    closedir(folder);
    if (SimFindNextFileA(search, found) == 0) {
        delete search;
        Fail(PS_ERROR_FILE_NOT_FOUND);
        return DC_INVALID_HANDLE_VALUE;
    }
    ++tree.openSets;
    return search;
}

int32_t SimFindClose(DcHandle search)
{
    delete static_cast<SimSearch*>(search);
    --tree.openSets;
    return 1;
}

const char* SimGetCommandLineA(void)
{
    return tree.commandLine.c_str();
}

int32_t SimRunAndWait(const char* applicationName, char* commandLine, uint32_t* exitCode)
{
    tree.runs.push_back(std::string(applicationName ? applicationName : "(null)") + "|" + commandLine);
    if (tree.runResult != 0) {
        Fail(PS_ERROR_FILE_NOT_FOUND);
        return tree.runResult;
    }
    *exitCode = tree.runExitCode;
    return 0;
}

// The simulated system decodes certificates with OpenSSL, as the real one
// does with its own library: DER, or PEM text.
int32_t SimDecodeCertificate(const uint8_t* bytes, uint32_t size, DcCertificate* certificate)
{
    X509* x509 = nullptr;
    BIO* bio = BIO_new_mem_buf(bytes, static_cast<int>(size));
    if (bio != nullptr) {
        x509 = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
    }
    if (x509 == nullptr) {
        const unsigned char* cursor = bytes;
        x509 = d2i_X509(nullptr, &cursor, static_cast<long>(size));
    }
    if (x509 == nullptr) {
        return 0;
    }
    uint32_t flags = X509_get_extension_flags(x509);
    certificate->isAuthority = (flags & EXFLAG_CA) != 0;
    certificate->codeSigning =
        (flags & EXFLAG_XKUSAGE) != 0 && (X509_get_extended_key_usage(x509) & XKU_CODE_SIGN) != 0;
    unsigned char* der = certificate->der;
    certificate->derSize = static_cast<uint32_t>(i2d_X509(x509, &der));
    unsigned char hash[20];
    unsigned int hashSize = 0;
    X509_digest(x509, EVP_sha1(), hash, &hashSize);
    for (unsigned i = 0; i < hashSize && i < 20; ++i) {
        snprintf(certificate->sha1 + 2 * i, 3, "%02X", hash[i]);
    }
    X509_free(x509);
    return 1;
}

// The open store: its name and its contents with the changes not yet committed.
std::string openStoreName;
std::vector<std::string> openStoreContents;
char storeToken;

DcHandle SimCertOpenLocalMachineStore(const char* storeName)
{
    tree.storesOpened.push_back(storeName);
    if (tree.storeOpenFails) {
        return nullptr;
    }
    ++tree.openStores;
    openStoreName = storeName;
    openStoreContents = tree.stores[storeName];
    return &storeToken;
}

int32_t SimCertAddEncodedCertificateToStore(DcHandle store, const uint8_t* der, uint32_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(der), size);
    if (store != &storeToken || tree.storeAddFails) {
        return 0;
    }
    if (std::find(openStoreContents.begin(), openStoreContents.end(), bytes) == openStoreContents.end()) {
        openStoreContents.push_back(bytes);
    }
    return 1;
}

int32_t SimCertDeleteEncodedCertificate(DcHandle store, const uint8_t* der, uint32_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(der), size);
    auto found = std::find(openStoreContents.begin(), openStoreContents.end(), bytes);
    if (found == openStoreContents.end()) {
        return 1;
    }
    if (store != &storeToken || tree.storeDeleteFails) {
        return 2;
    }
    openStoreContents.erase(found);
    return 0;
}

int32_t SimCertCommitAndCloseStore(DcHandle store)
{
    if (store != &storeToken) {
        return 0;
    }
    --tree.openStores;
    if (tree.storeCommitFails) {
        return 0;
    }
    tree.stores[openStoreName] = openStoreContents;
    return 1;
}

void SimWriteLine(const char* text)
{
    tree.output.push_back(text);
}

// Entry N is Sim<name of member N>: made from the same list as the table's
// members, so no two members of the same type can be swapped.
#define DEVCTL_SIM_ENTRY(result, name, parameters) Sim##name,
const DevCtlServices kSimulatedServices = {SIM_CORE_TABLE, DEVCTL_OWN_OPERATIONS(DEVCTL_SIM_ENTRY)};
#undef DEVCTL_SIM_ENTRY

}  // namespace

DevCtlServices DevCtlPlatform;

SimDeviceTree& SimTree()
{
    return tree;
}

void SimTreeReset()
{
    // A fresh machine: nothing of an earlier reset's files is left.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(TestFolder(), error)) {
        std::filesystem::remove_all(entry.path(), error);
    }
    SimReset(TestFolder());
    Sim().modulePath = "C:\\pkg\\MERVODevCtl.exe";
    tree = SimDeviceTree();
    DevCtlPlatform = kSimulatedServices;
}

SimDevice& SimAddDevice(const std::string& instanceId, std::vector<std::string> hardwareIds,
                        std::vector<std::string> compatibleIds)
{
    SimDevice device;
    device.instanceId = instanceId;
    device.hardwareIds = std::move(hardwareIds);
    device.compatibleIds = std::move(compatibleIds);
    tree.devices.push_back(device);
    return tree.devices.back();
}

std::vector<std::string> SimRemainingDevices()
{
    std::vector<std::string> remaining;
    for (const SimDevice& device : tree.devices) {
        if (!device.removed) {
            remaining.push_back(device.instanceId);
        }
    }
    return remaining;
}

std::string SimOutputText()
{
    std::string text;
    for (const std::string& line : tree.output) {
        text += line;
        text += '\n';
    }
    return text;
}

int SimRunWords(const std::vector<std::string>& arguments)
{
    std::vector<const char*> argv = {"MERVODevCtl.exe"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return RunDevCtl(static_cast<int>(argv.size()), argv.data());
}
