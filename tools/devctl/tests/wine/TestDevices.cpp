#include "TestDevices.h"

#include <windows.h>
#include <setupapi.h>

#include <cstring>

namespace {

// The Ports (COM & LPT) device class.
const GUID PORTS_CLASS = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

const size_t ID_LIST_SIZE = 4096;

// Reads an instance's hardware ids as a multi-string that always ends in two
// NULs; an absent list reads as empty.
void ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* data, char* list)
{
    memset(list, 0, ID_LIST_SIZE);
    if (!SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(list), ID_LIST_SIZE - 2, nullptr)) {
        memset(list, 0, ID_LIST_SIZE);
    }
}

int HasHardwareId(const char* list, const char* hardwareId)
{
    for (const char* id = list; *id != '\0'; id += strlen(id) + 1) {
        if (lstrcmpiA(id, hardwareId) == 0) {
            return 1;
        }
    }
    return 0;
}

// Visits every instance with a hardware id equal to `hardwareId`; `remove`
// removes each. Returns the count of instances visited (or removed), -1 when
// the list cannot be read.
int ForMatching(const char* hardwareId, int remove)
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        return -1;
    }
    static char list[ID_LIST_SIZE];
    SP_DEVINFO_DATA data;
    int count = 0;
    DWORD total = 0;
    for (;;) {
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, total, &data)) {
            break;
        }
        ++total;
    }
    // From the end, so that removals do not move the elements still to visit.
    for (DWORD index = total; index-- > 0;) {
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, index, &data)) {
            continue;
        }
        ReadHardwareIds(set, &data, list);
        if (!HasHardwareId(list, hardwareId)) {
            continue;
        }
        if (!remove || SetupDiRemoveDevice(set, &data)) {
            ++count;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

}  // namespace

int CreateTestDevice(const char* const* hardwareIds, int count, char* instanceId, size_t size)
{
    char list[2048];
    size_t used = 0;
    for (int i = 0; i < count; ++i) {
        size_t length = strlen(hardwareIds[i]);
        if (used + length + 2 > sizeof list) {
            return 5;
        }
        memcpy(list + used, hardwareIds[i], length + 1);
        used += length + 1;
    }
    if (used == 0) {
        return 5;
    }
    list[used++] = '\0';

    HDEVINFO set = SetupDiCreateDeviceInfoList(&PORTS_CLASS, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return 1;
    }
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    int result = 0;
    if (!SetupDiCreateDeviceInfoA(set, "PORTS", &PORTS_CLASS, nullptr, nullptr, DICD_GENERATE_ID, &data)) {
        result = 2;
    } else if (!SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr)) {
        result = 3;
    } else if (!SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(list),
                                                  static_cast<DWORD>(used))) {
        result = 4;
    }
    if (result == 0 && instanceId != nullptr && size > 0) {
        if (!SetupDiGetDeviceInstanceIdA(set, &data, instanceId, static_cast<DWORD>(size), nullptr)) {
            instanceId[0] = '\0';
        }
    }
    DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    SetLastError(error);
    return result;
}

int CountDevicesWithHardwareId(const char* hardwareId)
{
    return ForMatching(hardwareId, 0);
}

int RemoveDevicesWithHardwareId(const char* hardwareId)
{
    return ForMatching(hardwareId, 1);
}

int ForEachDevice(void (*visit)(const char* instanceId, const char* hardwareIds, void* context),
                  void* context)
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        return -1;
    }
    static char list[ID_LIST_SIZE];
    char instanceId[201];  // a device id holds at most 200 characters
    SP_DEVINFO_DATA data;
    int count = 0;
    for (;;) {
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, static_cast<DWORD>(count), &data)) {
            break;
        }
        ++count;
        if (!SetupDiGetDeviceInstanceIdA(set, &data, instanceId, sizeof instanceId, nullptr)) {
            lstrcpyA(instanceId, "?");
        }
        ReadHardwareIds(set, &data, list);
        visit(instanceId, list, context);
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}
