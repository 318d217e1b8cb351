// Readers of the driver package's INF file.
#pragma once

#include "inf/InfText.h"

// Fills `table` from the INF file: 0 read (count may be 0), 1 no path,
// 2 the file cannot be opened, 3 it cannot be opened again for the descriptions.
int GetDeviceIDs(const char* infPath, DeviceIdTable* table);

// Deletes the stale INF and PNF from the Windows INF folder (looked for under
// the base name of `infName`, the INF's name as the argument text gave it) and
// copies the files of [SourceDisksFiles] of the INF at `infPath` from
// `programFolder` into System32\Drivers; `driverFolder` (INF_PATH_SIZE
// bytes, if given) receives that folder, empty when it is unknown.
// 0 done (failed copies included), 1 no INF path or name, 2 no usable system
// folder, 3 the INF cannot be opened or reading it failed.
int CopyDriverFiles(const char* infPath, const char* infName, const char* programFolder,
                    char* driverFolder = nullptr);
