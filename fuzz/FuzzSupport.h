// Shared by the fuzz targets: a fresh simulated Windows machine per input on
// one temporary host folder of the process, invariant checks that abort, and
// the path tests on the simulator's records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/simulated/SimulatedPlatform.h"

// Aborts (so that libFuzzer keeps the input) when `condition` is false.
#define FUZZ_CHECK(condition) FuzzCheck((condition), #condition, __FILE__, __LINE__)
void FuzzCheck(bool condition, const char* text, const char* file, int line);

// Empties the process's machine folder and resets the simulated machine onto
// it; the first call creates the folder (removed again at exit).
void FuzzFreshMachine();

// The host tests' package in C:\pkg (WritePackage: driver files and companion
// tool) with `inf` as C:\pkg\MERVOUSB.inf, stale copies in C:\WINDOWS\inf, and bait files
// outside every folder the program may touch.
void FuzzWritePackage(const std::string& inf);

// Whether `path` (a resolved Windows path) names a file directly inside
// `folder`, compared without regard to case.
bool FuzzIsDirectlyIn(const std::string& path, const std::string& folder);

// Whether every recorded write is in the driver folder or is the log (or is a
// staged INF, when `wholeRun`), every read in the program folder or of the INF
// at `infPath` itself (its name may lead elsewhere: it is the user's choice),
// every deletion in the Windows INF folder.
void FuzzCheckFileRecords(bool wholeRun, const std::string& infPath);
