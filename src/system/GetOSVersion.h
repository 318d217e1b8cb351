// Classification of the running Windows system.
#pragma once

typedef int OsCode;

enum {
    OS_WIN32S = 0,
    OS_WIN95 = 1,
    OS_WIN98 = 2,
    OS_WIN98SE = 3,
    OS_WINME = 4,
    OS_WINNT = 5,
    OS_WIN2000 = 6,
    OS_WINXP = 7,
    OS_WIN2003 = 8,
    OS_WINVISTA = 9,
    OS_UNKNOWN = 10,
    OS_CODE_COUNT = 11,
    OS_NAME_SIZE = 26,
};

extern const char OsNameTable[OS_CODE_COUNT][OS_NAME_SIZE];

// Reads the version record, logs what it recognised and returns its code.
OsCode GetOSVersion();

// Logs and shows the refusal of the system `code` (a code outside 0 to 10 is
// named as the unknown system).
void DisplayOSError(OsCode code);
