#include <cstring>

#include "DevCtl.h"
#include "InfHardwareIds.h"
#include "PatternMatch.h"
#include "common/BoundedText.h"

namespace {

// Guards the counting pass against a set that never reports its end.
const uint32_t MAX_INSTANCES = 1000000;

// What one device instance is, as far as removal is concerned.
struct InstanceCheck {
    char instanceId[INF_ID_SIZE];
    char servedId[INF_ID_SIZE];  // the first of its ids that the INF serves
    int matchesPattern;
};

// Reads one id list into `list` (DEVCTL_ID_LIST_SIZE bytes) as a multi-string
// that always ends in two NULs; an absent or unreadable list reads as empty.
void ReadIdList(DcHandle set, DcDevInfoData* data, uint32_t property, char* list)
{
    memset(list, 0, DEVCTL_ID_LIST_SIZE);
    uint32_t type = 0;
    uint32_t required = 0;
    if (DevCtlPlatform.SetupDiGetDeviceRegistryPropertyA(set, data, property, &type,
                                                         reinterpret_cast<uint8_t*>(list),
                                                         DEVCTL_ID_LIST_SIZE - 2, &required) == 0) {
        memset(list, 0, DEVCTL_ID_LIST_SIZE);
    }
}

void CheckIdList(const char* list, const char* pattern, const InfHardwareIds* inf, InstanceCheck* check)
{
    for (const char* id = list; *id != '\0'; id += strlen(id) + 1) {
        if (MatchPattern(pattern, id)) {
            check->matchesPattern = 1;
        }
        const char* served = FindServingId(inf, id);
        if (served != nullptr && check->servedId[0] == '\0') {
            CopyText(check->servedId, sizeof check->servedId, id);
        }
    }
}

// 1 when the instance matches the pattern and the INF serves it.
int CheckInstance(DcHandle set, DcDevInfoData* data, const char* pattern, const InfHardwareIds* inf,
                  InstanceCheck* check)
{
    static char list[DEVCTL_ID_LIST_SIZE];
    memset(check, 0, sizeof *check);
    if (DevCtlPlatform.SetupDiGetDeviceInstanceIdA(set, data, check->instanceId, sizeof check->instanceId,
                                                   nullptr) == 0) {
        CopyText(check->instanceId, sizeof check->instanceId, "(instance id unreadable)");
    }
    ReadIdList(set, data, DC_SPDRP_HARDWAREID, list);
    CheckIdList(list, pattern, inf, check);
    ReadIdList(set, data, DC_SPDRP_COMPATIBLEIDS, list);
    CheckIdList(list, pattern, inf, check);
    return check->matchesPattern && check->servedId[0] != '\0';
}

// Removes one instance the way Windows' own tools do (class-install
// parameters, then the class installer's DIF_REMOVE); when either step fails,
// removes it directly with SetupDiRemoveDevice. Under Wine the first step
// always fails, so the direct removal is what works there.
// Returns 0 removed, 1 not removed; prints one line either way.
int RemoveInstance(DcHandle set, DcDevInfoData* data, const InstanceCheck* check)
{
    char line[DEVCTL_LINE_SIZE];
    DcRemoveDeviceParams params;
    memset(&params, 0, sizeof params);
    params.headerSize = DC_CLASSINSTALL_HEADER_SIZE;
    params.installFunction = DC_DIF_REMOVE;
    params.scope = DC_DI_REMOVEDEVICE_GLOBAL;

    const char* failedStep = "SetupDiSetClassInstallParams";
    if (DevCtlPlatform.SetupDiSetClassInstallParamsA(set, data, &params, sizeof params) != 0) {
        failedStep = "SetupDiCallClassInstaller(DIF_REMOVE)";
        if (DevCtlPlatform.SetupDiCallClassInstaller(DC_DIF_REMOVE, set, data) != 0) {
            FormatText(line, sizeof line, "Removed %s (matching %s) through the class installer.",
                       check->instanceId, check->servedId);
            DevCtlPlatform.WriteLine(line);
            return 0;
        }
    }
    uint32_t stepError = DevCtlPlatform.GetLastError();
    if (DevCtlPlatform.SetupDiRemoveDevice(set, data) != 0) {
        FormatText(line, sizeof line,
                   "Removed %s (matching %s) with SetupDiRemoveDevice after %s failed "
                   "(error 0x%08X).",
                   check->instanceId, check->servedId, failedStep, stepError);
        DevCtlPlatform.WriteLine(line);
        return 0;
    }
    FormatText(line, sizeof line,
               "Failed to remove %s (matching %s): %s error 0x%08X, SetupDiRemoveDevice "
               "error 0x%08X.",
               check->instanceId, check->servedId, failedStep, stepError, DevCtlPlatform.GetLastError());
    DevCtlPlatform.WriteLine(line);
    return 1;
}

int ReadInf(const char* infPath, InfHardwareIds* inf)
{
    char line[DEVCTL_LINE_SIZE];
    int result = ReadInfHardwareIds(infPath, inf);
    if (result == INF_IDS_CANNOT_OPEN) {
        FormatText(line, sizeof line, "Cannot open the INF file %s.", infPath);
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_INF_UNREADABLE;
    }
    if (result == INF_IDS_TOO_MANY) {
        FormatText(line, sizeof line, "The INF file %s names more than %d hardware ids.", infPath,
                   static_cast<int>(INF_ID_CAPACITY));
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_INF_TOO_MANY_IDS;
    }
    if (inf->count == 0) {
        FormatText(line, sizeof line, "The INF file %s names no USB hardware id.", infPath);
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_INF_NO_IDS;
    }
    return DEVCTL_EXIT_OK;
}

}  // namespace

int RemoveMatchingInstances(const char* infPath, const char* pattern)
{
    // Kept off the stack: about 100 KB.
    static InfHardwareIds inf;
    char line[DEVCTL_LINE_SIZE];
    int result = ReadInf(infPath, &inf);
    if (result != DEVCTL_EXIT_OK) {
        return result;
    }

    DcHandle set = DevCtlPlatform.SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DC_DIGCF_ALLCLASSES);
    if (set == DC_INVALID_HANDLE_VALUE || set == nullptr) {
        FormatText(line, sizeof line, "Cannot list the device instances (error 0x%08X).",
                   DevCtlPlatform.GetLastError());
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_NO_DEVICE_LIST;
    }

    DcDevInfoData data;
    uint32_t total = 0;
    for (;;) {
        memset(&data, 0, sizeof data);
        data.cbSize = sizeof data;
        if (total >= MAX_INSTANCES || DevCtlPlatform.SetupDiEnumDeviceInfo(set, total, &data) == 0) {
            break;
        }
        ++total;
    }

    // From the last element to the first: whether or not a removal drops its
    // element from the set, the positions still to visit stay the same.
    uint32_t matching = 0;
    uint32_t failed = 0;
    InstanceCheck check;
    for (uint32_t index = total; index-- > 0;) {
        memset(&data, 0, sizeof data);
        data.cbSize = sizeof data;
        if (DevCtlPlatform.SetupDiEnumDeviceInfo(set, index, &data) == 0 ||
            !CheckInstance(set, &data, pattern, &inf, &check)) {
            continue;
        }
        ++matching;
        failed += static_cast<uint32_t>(RemoveInstance(set, &data, &check));
    }
    DevCtlPlatform.SetupDiDestroyDeviceInfoList(set);

    FormatText(line, sizeof line, "%u device instance(s) listed, %u matching: %u removed, %u failed.", total,
               matching, matching - failed, failed);
    DevCtlPlatform.WriteLine(line);
    return failed == 0 ? DEVCTL_EXIT_OK : DEVCTL_EXIT_REMOVE_FAILED;
}
