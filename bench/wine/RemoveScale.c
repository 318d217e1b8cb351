/* The device instances of the remove command's scale measurement, and its
   floor.

     RemoveScale populate N   creates N instances ROOT\MERVOBENCH\<n>, one
                              list for all: the even ones with the hardware
                              ids of a product that the bench INF names
                              (served), the odd ones of the same vendor's
                              product that it does not; every fourth one also
                              gets a compatible id list (so both id lists are
                              read as on a real machine)
     RemoveScale floor ID     what the remove command must do at least: lists
                              every instance, reads each one's instance id,
                              hardware ids and compatible ids, and removes
                              those whose first hardware id is exactly ID
                              through the same calls (class-install
                              parameters, then the class installer or, when a
                              step fails, SetupDiRemoveDevice), counting
                              the instances first and visiting them from
                              the last, as the command does, without any
                              matching of its own
     RemoveScale count        prints the number of ROOT\MERVOBENCH instances
     RemoveScale clear        removes every ROOT\MERVOBENCH instance

   Exit code 0 when done. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <setupapi.h>

#define ID_LIST_SIZE 4096

static const char SERVED[] = "USB\\VID_0123&PID_4567&REV_0100\0USB\\VID_0123&PID_4567\0";
static const char NOT_SERVED[] = "USB\\VID_0123&PID_9999&REV_0100\0USB\\VID_0123&PID_9999\0";
static const char COMPATIBLE[] = "USB\\Class_02&SubClass_02\0USB\\Class_02\0";
static const char PREFIX[] = "ROOT\\MERVOBENCH\\";

/* The Ports (COM & LPT) device class. */
static const GUID PORTS_CLASS = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

static int Populate(int count)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&PORTS_CLASS, NULL);
    if (set == INVALID_HANDLE_VALUE) {
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        char name[64];
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        snprintf(name, sizeof name, "%s%05d", PREFIX, i);
        const char* ids = i % 2 == 0 ? SERVED : NOT_SERVED;
        DWORD idsSize = (DWORD)(i % 2 == 0 ? sizeof SERVED : sizeof NOT_SERVED);
        if (!SetupDiCreateDeviceInfoA(set, name, &PORTS_CLASS, NULL, NULL, 0, &data) ||
            !SetupDiRegisterDeviceInfo(set, &data, 0, NULL, NULL, NULL) ||
            !SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, (const BYTE*)ids, idsSize) ||
            (i % 4 == 1 && !SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_COMPATIBLEIDS,
                                                              (const BYTE*)COMPATIBLE, sizeof COMPATIBLE))) {
            printf("populate: instance %d failed (error 0x%08lX)\n", i, GetLastError());
            SetupDiDestroyDeviceInfoList(set);
            return 1;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

static void ReadIds(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, char* list)
{
    memset(list, 0, ID_LIST_SIZE);
    if (!SetupDiGetDeviceRegistryPropertyA(set, data, property, NULL, (BYTE*)list, ID_LIST_SIZE - 2, NULL)) {
        memset(list, 0, ID_LIST_SIZE);
    }
}

static int RemoveOne(HDEVINFO set, SP_DEVINFO_DATA* data)
{
    SP_REMOVEDEVICE_PARAMS params;
    memset(&params, 0, sizeof params);
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    params.Scope = DI_REMOVEDEVICE_GLOBAL;
    if (SetupDiSetClassInstallParamsA(set, data, &params.ClassInstallHeader, sizeof params) &&
        SetupDiCallClassInstaller(DIF_REMOVE, set, data)) {
        return 1;
    }
    return SetupDiRemoveDevice(set, data) ? 1 : 0;
}

/* mode 0: floor (remove those whose first hardware id is `id`); 1: count
   the bench's instances; 2: remove all of them. */
static int Walk(int mode, const char* id)
{
    static char hardware[ID_LIST_SIZE];
    static char compatible[ID_LIST_SIZE];
    char instance[201];
    HDEVINFO set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        return -1;
    }
    SP_DEVINFO_DATA data;
    int hits = 0;
    DWORD total = 0;
    for (;;) {
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, total, &data)) {
            break;
        }
        ++total;
    }
    /* From the last element to the first, as the remove command goes: under
       Wine a removal from the end of the device keys is the cheaper one. */
    for (DWORD index = total; index-- > 0;) {
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, index, &data)) {
            continue;
        }
        if (!SetupDiGetDeviceInstanceIdA(set, &data, instance, sizeof instance, NULL)) {
            instance[0] = '\0';
        }
        if (mode == 0) {
            ReadIds(set, &data, SPDRP_HARDWAREID, hardware);
            ReadIds(set, &data, SPDRP_COMPATIBLEIDS, compatible);
            if (strcmp(hardware, id) == 0) {
                hits += RemoveOne(set, &data);
            }
        } else if (_strnicmp(instance, PREFIX, sizeof PREFIX - 1) == 0) {
            hits += mode == 1 ? 1 : SetupDiRemoveDevice(set, &data) ? 1 : 0;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return hits;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "populate") == 0) {
        return Populate(atoi(argv[2]));
    }
    int hits = -1;
    if (argc == 3 && strcmp(argv[1], "floor") == 0) {
        hits = Walk(0, argv[2]);
    } else if (argc == 2 && strcmp(argv[1], "count") == 0) {
        hits = Walk(1, NULL);
    } else if (argc == 2 && strcmp(argv[1], "clear") == 0) {
        hits = Walk(2, NULL);
    } else {
        printf("usage: RemoveScale populate N | floor ID | count | clear\n");
        return 2;
    }
    printf("%d\n", hits);
    return hits < 0 ? 1 : 0;
}
