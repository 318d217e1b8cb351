// The platform conformance suite: one table of cases run through the
// `Platform` table, on the simulated Windows of the host build and on the real
// Win32 table (under Wine here). A difference between the two shows up as a
// failing row.
//
// Each side provides the machine below: how a test gets an empty folder of its
// own, how the rows' files are prepared and checked without going through the
// operations under test, and the child program of the process rows.
#pragma once

#include <cstdint>
#include <string>

#include "platform/PlatformServices.h"

// Makes an empty folder for one test, makes it the current folder and returns
// its Windows path (no trailing separator). Its drive is the current drive.
std::string MachineBegin();
// Removes the test's folder with everything in it.
void MachineEnd();

// Set-up and checks that bypass the operations under test.
bool MachineMakeFolder(const std::string& path);
bool MachineWriteFile(const std::string& path, const std::string& bytes);
bool MachineReadFile(const std::string& path, std::string* bytes);
bool MachineSetAttributes(const std::string& path, uint32_t attributes);

// Whether the real table runs under Wine (rows may hold Wine's own answer),
// and Wine's major version (0: not Wine).
bool MachineUnderWine();
int MachineWineVersion();

// The command line of the child program: "exit N" ends at once with code N,
// "block" runs until MachineEndChild ends it, "hold NAME" owns the named
// mutex NAME and then blocks, "parent ID" ends with 0 when the process that
// started it has the id ID (else 1).
std::string MachineChildCommand(const char* behaviour);
void MachineEndChild(PsHandle process);
// Whether the child of "hold NAME" owns the named mutex now.
bool MachineChildHolds(const std::string& name);

// A registry key that every machine has under HKEY_LOCAL_MACHINE.
extern const char kPresentKey[];

// The INF rows: how the machine's INF reader answers. The Windows builds ask
// the Setup API (SetupOpenInfFileA with INF_STYLE_WIN4, SetupFindFirstLineA,
// SetupGetStringFieldA, SetupDiGetActualSectionToInstallA), the host build
// the package checker's INF model.
//
// Field `field` (0: the key) of the first line keyed `key` in `section` of
// the INF at `path`, strings replaced; "<not opened>", "<no line>" or
// "<no field>" where the reader gives none.
std::string MachineInfField(const std::string& path, const char* section, const char* key, int field);
// The install section chosen for `section` on the machine's architecture;
// "<none>" when there is none.
std::string MachineActualSection(const std::string& path, const char* section);

// The same answers from the INF model, on the INF's bytes, for the
// architecture of this build ("x86" or "amd64").
std::string ModelInfField(const std::string& bytes, const char* section, const char* key, int field);
std::string ModelActualSection(const std::string& bytes, const char* section);
