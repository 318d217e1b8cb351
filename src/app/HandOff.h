// The hand-off of the 32-bit stager on 64-bit Windows to its 64-bit build.
#pragma once

#include <cstdint>

enum { HANDOFF_TEXT_SIZE = 128 };

// A 32-bit stager on 64-bit Windows would have its copies into System32\Drivers
// redirected to SysWOW64 and its device changes refused, so the 64-bit build
// shipped beside it does the whole run instead.
enum { RUN_HERE, RUN_HANDED_OFF, RUN_HAND_OFF_FAILED };

// What went wrong on the way to the 64-bit build, reported once the log is
// open: a log line, then a box (none, the text, or the system error box of
// `error`), and the exit code.
enum { HAND_OFF_NO_BOX, HAND_OFF_TEXT_BOX, HAND_OFF_SYSTEM_ERROR_BOX };
struct HandOffFailure {
    const char* functionName;
    char text[HANDOFF_TEXT_SIZE];
    int box;
    uint32_t error;
    int exitCode;
    int afterStart;  // the 64-bit build ran (and may have written the log)
};

// Where the run goes: RUN_HERE (not a 32-bit process on 64-bit Windows),
// RUN_HANDED_OFF (the 64-bit build ran; `exitCode` holds its code) or
// RUN_HAND_OFF_FAILED (`failure` says what happened; nothing is reported yet).
int HandOffTo64BitStager(const char* argumentText, int* exitCode, HandOffFailure* failure);

// Logs the failure, shows its box and returns its exit code.
int ReportHandOffFailure(const HandOffFailure* failure);
