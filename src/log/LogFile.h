// The run log: one time-stamped plain-text line per step of the run.
#pragma once

#include <cstdio>

// The size of one log line's text and of one message box's text: at most
// 511 characters.
enum { LOG_TEXT_SIZE = 512 };

struct RunLogState {
    int isOpen;    // 1 while a log file is open
    FILE* stream;  // the open log file; null while closed
};

extern RunLogState RunLog;

// Opens (replaces) the log file at `path` and writes the banner. Returns 1 when
// the log is open, 0 when the file cannot be created. An open log is closed first.
int OpenLog(const char* path);

// Opens the log file at `path` to add lines at its end (created when
// missing), without a banner. Returns 1 when the log is open, else 0.
int ContinueLog(const char* path);

// Writes "<UTC time stamp><module> - <function>() - <text>" as one line.
// Returns 0 when written, 1 when no log is open. Leaves the thread's last error
// code as it found it, so that a failure logged just before its error box is
// still the one the box explains.
int WriteLog(const char* moduleName, const char* functionName, const char* text);

// Writes the closing line and closes the file. Returns 1 when no log was open,
// else the result of closing the stream (0, or EOF on failure).
int CloseLog();
