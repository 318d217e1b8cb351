// The USB hardware ids that an INF file's device lines name.
//
// Rule: the INF is read as text; a ';' outside double quotes starts a comment
// that runs to the line end. The rest of each line is cut into words at
// commas, blanks, tabs, '=', double quotes and line ends. A word that holds
// "USB\VID_" (any case) names a hardware id: the text from that "USB\" to the
// word's end, provided it has the form USB\VID_xxxx&PID_yyyy with four hex
// digits each (more may follow, such as &MI_00 or &REV_0100). NUL bytes are
// skipped, so a UTF-16LE INF of ASCII text reads the same way.
#pragma once

#include <cstdint>
#include <cstdio>

enum {
    INF_ID_SIZE = 201,      // a device id holds at most 200 characters
    INF_ID_CAPACITY = 512,  // distinct ids one INF may name
    INF_WORD_SIZE = 512,    // longer words cannot be ids and are skipped
};

struct InfHardwareIds {
    char ids[INF_ID_CAPACITY][INF_ID_SIZE];
    uint16_t count;
};

// Results of ReadInfHardwareIds and ScanInfHardwareIds.
enum {
    INF_IDS_READ = 0,
    INF_IDS_CANNOT_OPEN = 1,
    INF_IDS_TOO_MANY = 2,
};

// Fills `table` with the distinct ids (compared without case, first spelling
// kept) that the INF names, in the order they first appear.
int ReadInfHardwareIds(const char* infPath, InfHardwareIds* table);
int ScanInfHardwareIds(FILE* inf, InfHardwareIds* table);

// The id of `table` that `deviceId` begins with (without case, and followed
// in `deviceId` by its end or a '&'), or null when the INF does not serve
// that device id.
const char* FindServingId(const InfHardwareIds* table, const char* deviceId);
