// Folder look-ups and the bounded launch of another program.
#pragma once

#include <cstdint>

#include "platform/PlatformServices.h"

enum { DIRS_PATH_SIZE = 520 };

// Folder of the running executable, without a trailing separator, into a
// buffer of DIRS_PATH_SIZE bytes. Returns 0, or 1 when the path is unknown or
// does not fit.
int GetModuleDirectory(char* folder);

// The temporary folder, without a trailing separator, into a buffer of
// DIRS_PATH_SIZE bytes. Returns 0, or 1 when it is unknown or does not fit.
int GetTempDirectory(char* folder);

enum { LAUNCH_STARTED = 0, LAUNCH_NO_COMMAND = 1, LAUNCH_NOT_STARTED = 2 };
enum { LAUNCH_WAIT_MS = 30000 };

// Starts `commandLine` (no application name, no inherited handles, the
// program's own environment and folder, a cleared start-up record with only its
// size set). Returns nonzero when the process was started; `process` then holds
// its two handles, which the caller closes.
int StartProcess(char* commandLine, uint32_t creationFlags, PsProcessInformation* process);

// Starts `commandLine` with no console window and waits for it at most 30 s.
// Returns LAUNCH_STARTED, LAUNCH_NO_COMMAND (null command line: nothing done)
// or LAUNCH_NOT_STARTED (the failure text, if any, was shown in a box).
int LaunchAndWait(char* commandLine, const char* failureText);

// The launch-failure box ("Device Install Error") for `failureText`, if one is
// given. Returns LAUNCH_NOT_STARTED. Also used for a command line that could
// not be built.
int ReportLaunchFailure(const char* failureText);
