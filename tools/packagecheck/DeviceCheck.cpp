// The device lines: what the stager's first pass takes, and what it passes over.
#include <cstring>

#include "CheckParts.h"

namespace {

struct DeviceLine {
    int number;
    DeviceIdEntry entry;  // vid, pid and description key as ParseDeviceLine gives them
};

struct DeviceScan {
    std::vector<DeviceLine> firstPass;  // device lines up to the end of the first pass
    int passEndLine = 0;                // the header that ends the first pass; 0: none
    std::string passEndHeader;
    std::vector<DeviceLine> afterPass;       // device lines the first pass never reaches
    std::vector<std::string> notReadQuotes;  // device-like lines the reader does not take
};

bool InTable(const DeviceIdTable& table, const std::string& vid, const std::string& pid)
{
    for (uint16_t i = 0; i < table.count && i < DEVICE_TABLE_SIZE; ++i) {
        if (EqualsNoCase(table.entries[i].vid, vid) && EqualsNoCase(table.entries[i].pid, pid)) {
            return true;
        }
    }
    return false;
}

std::string HardwareId(const DeviceIdEntry& entry)
{
    return std::string("USB\\VID_") + entry.vid + "&PID_" + entry.pid;
}

// A line that names a USB device in any letter case, outside a comment, but
// that ParseDeviceLine rejects: quoted with its reason when its ids are not
// already in the table.
void NoteUnreadDeviceLine(const InfLine& line, const DeviceIdTable& table, DeviceScan* scan)
{
    const std::string& text = line.text;
    std::string trimmed = Trimmed(text);
    if (trimmed.empty() || trimmed[0] == ';') {
        return;
    }
    size_t vidAt = FindNoCase(text, "usb\\vid_");
    if (vidAt == std::string::npos) {
        return;
    }
    size_t pidAt = FindNoCase(text, "&pid_", vidAt + 8);
    if (pidAt == std::string::npos) {
        return;
    }
    std::string vid = WithoutNewline(text.substr(vidAt + 8, 4));
    std::string pid = WithoutNewline(text.substr(pidAt + 5, 4));
    if (InTable(table, vid, pid)) {
        return;
    }
    const char* reason;
    if (text[0] == ' ') {
        reason = "it begins with a blank";
    } else if (text.find("USB\\VID_") == std::string::npos ||
               text.find("&PID_", text.find("USB\\VID_") + 8) == std::string::npos) {
        reason = "USB\\VID_ and &PID_ must be upper case";
    } else {
        reason = "fewer than 4 characters follow VID_ or PID_";
    }
    scan->notReadQuotes.push_back("line " + std::to_string(line.number) + " " + Quote(Trimmed(text)) + ": " +
                                  reason);
}

// Walks the lines as the first pass of GetDeviceIDs does (it ends at the
// first section header after a device line) and sorts the device lines.
DeviceScan ScanDeviceLines(const std::vector<InfLine>& lines, const DeviceIdTable& table)
{
    DeviceScan scan;
    bool passEnded = false;
    for (const InfLine& line : lines) {
        const char* text = line.text.c_str();
        if (!passEnded && EndsDevicePass(text, scan.firstPass.size())) {
            passEnded = true;
            scan.passEndLine = line.number;
            scan.passEndHeader = Trimmed(line.text);
        }
        DeviceLine device{line.number, DeviceIdEntry{}};
        if (ParseDeviceLine(text, &device.entry) == 1) {
            (passEnded ? scan.afterPass : scan.firstPass).push_back(device);
        } else {
            NoteUnreadDeviceLine(line, table, &scan);
        }
    }
    return scan;
}

void CheckDeviceLines(const DeviceScan& scan, PackageReport* report)
{
    const DeviceIdTable& devices = report->table;
    if (scan.firstPass.size() > DEVICE_TABLE_SIZE) {
        std::vector<std::string> dropped;
        for (size_t i = DEVICE_TABLE_SIZE; i < scan.firstPass.size(); ++i) {
            dropped.push_back("line " + std::to_string(scan.firstPass[i].number) + " " +
                              HardwareId(scan.firstPass[i].entry));
        }
        Warn(report, "TOO_MANY_DEVICES",
             std::to_string(scan.firstPass.size()) + " device lines, but the stager's table holds " +
                 std::to_string(DEVICE_TABLE_SIZE) + ": not read are " + LineList(dropped) + ".");
    }
    std::vector<std::string> ignored;
    for (const DeviceLine& device : scan.afterPass) {
        if (!InTable(devices, device.entry.vid, device.entry.pid)) {
            ignored.push_back("line " + std::to_string(device.number) + " " + HardwareId(device.entry));
        }
    }
    if (!ignored.empty()) {
        Warn(report, "DEVICE_AFTER_FIRST_PASS",
             "The stager reads device lines only up to the section header at line " +
                 std::to_string(scan.passEndLine) + " " + Quote(scan.passEndHeader) +
                 "; devices named only later are not in its table: " + LineList(ignored) +
                 ". Put every device in the first models section.");
    }
    if (!scan.notReadQuotes.empty()) {
        Warn(report, "DEVICE_LINE_NOT_READ",
             "Lines that name a USB device are not read as device lines: " + LineList(scan.notReadQuotes) +
                 ".");
    }
}

// A description that is still its key after GetDeviceIDs found no line defining it.
void CheckDescriptions(const DeviceScan& scan, PackageReport* report)
{
    const DeviceIdTable& table = report->table;
    for (uint16_t i = 0; i < table.count && i < scan.firstPass.size(); ++i) {
        const char* key = scan.firstPass[i].entry.description;
        if (strcmp(key, kDefaultDeviceDescription) == 0 || strcmp(table.entries[i].description, key) != 0) {
            continue;
        }
        std::string message = std::string("Device ") + table.entries[i].indexText + " (" +
                              HardwareId(table.entries[i]) + "): no line defines its description key " +
                              Quote(key) + ", so its description stays " + Quote(key) + ".";
        // "%Key% = ..." (blanks before the "=", for alignment too) keeps the
        // closing "%" and the blanks in the key, which no line then defines.
        std::string stem = key;
        while (!stem.empty() && (stem.back() == ' ' || stem.back() == '\t')) {
            stem.pop_back();
        }
        if (stem.size() > 1 && stem.back() == '%') {
            stem.pop_back();
            message += " The spaced form \"%" + stem +
                       "% = ...\" leaves the closing \"%\" in the key: write \"%" + stem + "%=...\".";
        }
        Warn(report, "UNRESOLVED_DESCRIPTION", message);
    }
}

}  // namespace

void CheckDevices(const std::vector<InfLine>& lines, PackageReport* report)
{
    DeviceScan scan = ScanDeviceLines(lines, report->table);
    CheckDeviceLines(scan, report);
    if (report->deviceReadResult == 0) {
        CheckDescriptions(scan, report);
    }
}
