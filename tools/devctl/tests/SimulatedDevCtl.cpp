#include "SimulatedDevCtl.h"

#include <strings.h>

#include <cstring>

namespace {

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

int32_t Fail(uint32_t error)
{
    tree.lastError = error;
    return 0;
}

DcHandle GetClassDevs(const void* classGuid, const char* enumerator, DcHandle parent,
                      uint32_t flags)
{
    if (tree.listFails || classGuid != nullptr || enumerator != nullptr || parent != nullptr ||
        flags != DC_DIGCF_ALLCLASSES) {
        tree.lastError = 87;
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

int32_t EnumDeviceInfo(DcHandle set, uint32_t index, DcDevInfoData* data)
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

int32_t GetDeviceInstanceId(DcHandle set, DcDevInfoData* data, char* id, uint32_t size,
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

int32_t GetDeviceRegistryProperty(DcHandle set, DcDevInfoData* data, uint32_t property,
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

int32_t SetClassInstallParams(DcHandle set, DcDevInfoData* data, DcRemoveDeviceParams* params,
                              uint32_t size)
{
    SimDevice* device = Element(set, data);
    tree.removalSteps.push_back("SetClassInstallParams " +
                                (device ? device->instanceId : std::string("?")));
    if (device == nullptr || tree.classInstallParamsFail || size != sizeof *params ||
        params->headerSize != DC_CLASSINSTALL_HEADER_SIZE ||
        params->installFunction != DC_DIF_REMOVE || params->scope != DC_DI_REMOVEDEVICE_GLOBAL) {
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

int32_t CallClassInstaller(uint32_t installFunction, DcHandle set, DcDevInfoData* data)
{
    SimDevice* device = Element(set, data);
    tree.removalSteps.push_back("CallClassInstaller " +
                                (device ? device->instanceId : std::string("?")));
    if (device == nullptr || device->removed || installFunction != DC_DIF_REMOVE ||
        device->classInstallerFails) {
        return Fail(tree.failureError);
    }
    Remove(set, device);
    return 1;
}

int32_t RemoveDevice(DcHandle set, DcDevInfoData* data)
{
    SimDevice* device = Element(set, data);
    tree.removalSteps.push_back("RemoveDevice " + (device ? device->instanceId : std::string("?")));
    if (device == nullptr || device->removed || device->removeFails) {
        return Fail(tree.failureError);
    }
    Remove(set, device);
    return 1;
}

int32_t DestroyDeviceInfoList(DcHandle set)
{
    delete AsSet(set);
    --tree.openSets;
    return 1;
}

uint32_t LocateDevNode(uint32_t* devInst, char* deviceId, uint32_t flags)
{
    tree.cmCalls.push_back(std::string("Locate ") + (deviceId ? deviceId : "(root)") + " " +
                           std::to_string(flags));
    *devInst = tree.locateResult == 0 ? 4242 : 0;
    return tree.locateResult;
}

uint32_t ReenumerateDevNode(uint32_t devInst, uint32_t flags)
{
    tree.cmCalls.push_back("Reenumerate " + std::to_string(devInst) + " " + std::to_string(flags));
    return tree.reenumerateResult;
}

uint32_t LastError(void)
{
    return tree.lastError;
}

int32_t AskWow64(int32_t* isWow64)
{
    if (!tree.wow64Known) {
        return 0;
    }
    *isWow64 = tree.wow64 ? 1 : 0;
    return 1;
}

uint32_t ModuleFileName(char* fileName, uint32_t size)
{
    if (tree.modulePathFails || size == 0) {
        return 0;
    }
    size_t length = tree.modulePath.size();
    if (length >= size) {
        // As Windows XP does: cut, unterminated, and the size returned.
        memcpy(fileName, tree.modulePath.data(), size);
        return size;
    }
    memcpy(fileName, tree.modulePath.c_str(), length + 1);
    return static_cast<uint32_t>(length);
}

uint32_t FileAttributes(const char* path)
{
    for (const std::string& file : tree.files) {
        if (strcasecmp(file.c_str(), path) == 0) {
            return 0x20;  // FILE_ATTRIBUTE_ARCHIVE
        }
    }
    return DC_INVALID_FILE_ATTRIBUTES;
}

const char* CommandLine(void)
{
    return tree.commandLine.c_str();
}

int32_t RunAndWait(const char* applicationName, char* commandLine, uint32_t* exitCode)
{
    tree.runs.push_back(std::string(applicationName ? applicationName : "(null)") + "|" +
                        commandLine);
    if (tree.runResult != 0) {
        tree.lastError = 2;
        return tree.runResult;
    }
    *exitCode = tree.runExitCode;
    return 0;
}

FILE* OpenStream(const char* path, const char* mode)
{
    return fopen(path, mode);
}

void WriteLine(const char* text)
{
    tree.output.push_back(text);
}

}  // namespace

DevCtlServices DevCtlPlatform;

SimDeviceTree& SimTree()
{
    return tree;
}

void SimTreeReset()
{
    tree = SimDeviceTree();
    DevCtlPlatform = DevCtlServices{
        GetClassDevs,   EnumDeviceInfo, GetDeviceInstanceId, GetDeviceRegistryProperty,
        SetClassInstallParams, CallClassInstaller, RemoveDevice, DestroyDeviceInfoList,
        LocateDevNode,  ReenumerateDevNode, LastError, AskWow64, ModuleFileName, FileAttributes,
        CommandLine,    RunAndWait,     OpenStream,  WriteLine,
    };
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
