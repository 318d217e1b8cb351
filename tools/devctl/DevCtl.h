// MERVODevCtl: removes the device instances that a driver package's INF serves,
// and makes the system rescan its devices.
//
//   MERVODevCtl remove "<INF path>" <pattern>
//   MERVODevCtl rescan
//   MERVODevCtl unstage "<INF path>" [force]
//   MERVODevCtl trust "<certificate file>"
//   MERVODevCtl untrust "<certificate file>"
//   MERVODevCtl status "<INF path>"
//
// Exit codes: DEVCTL_EXIT_CODES below, the one list of them. The usage text
// prints them in short and README.md in full; a host test holds both to it.
#pragma once

#include <cstddef>

#include "DevCtlServices.h"
#include "common/HandOffPaths.h"

// Every exit code as X(name, code, meaning).
// clang-format off
#define DEVCTL_EXIT_CODES(X)                                                                        \
    X(DEVCTL_EXIT_OK, 0, "done: every matching instance removed (also when none matched), or the "   \
      "rescan was accepted")                                                                        \
    /* 1 to 63: rescan, the configuration manager's code (19 is CR_FAILURE; a code above 63 is     \
       reported as 63) */                                                                           \
    X(DEVCTL_EXIT_CM_LAST, 63, "the highest configuration manager code that rescan passes on")      \
    X(DEVCTL_EXIT_USAGE, 64, "wrong command line (usage shown)")                                    \
    X(DEVCTL_EXIT_INF_UNREADABLE, 65, "the INF file cannot be opened")                              \
    X(DEVCTL_EXIT_INF_NO_IDS, 66, "the INF names no USB hardware id")                               \
    X(DEVCTL_EXIT_INF_TOO_MANY_IDS, 67, "the INF names more hardware ids than the tool holds")      \
    X(DEVCTL_EXIT_NO_DEVICE_LIST, 68, "the list of device instances cannot be read")                \
    X(DEVCTL_EXIT_REMOVE_FAILED, 69, "one or more matching instances could not be removed")         \
    X(DEVCTL_EXIT_64BIT_MISSING, 70, "64-bit Windows, and the 64-bit build beside this one is "     \
      "missing")                                                                                    \
    X(DEVCTL_EXIT_64BIT_NOT_RUN, 71, "the 64-bit build could not be started or gave no exit code")  \
    X(DEVCTL_EXIT_ARGUMENTS_TOO_LONG, 72, "the argument text is too long to hand to the 64-bit "    \
      "build")                                                                                      \
    /* unstage (0 when every copy was removed; when copies end differently, the highest of these   \
       codes is given) */                                                                           \
    X(DEVCTL_EXIT_NOT_STAGED, 73, "nothing staged: no copy of the INF in the INF store")            \
    X(DEVCTL_EXIT_IN_USE, 74, "a copy is used by a present device and was left (without force)")    \
    X(DEVCTL_EXIT_LEFT_IN_STORE, 75, "the system reported a copy removed, but it is still there")   \
    X(DEVCTL_EXIT_UNSTAGE_FAILED, 76, "a copy could not be removed (other error), its .pnf could "  \
      "not be deleted, or more copies were found than one run takes")                               \
    X(DEVCTL_EXIT_STORE_UNREADABLE, 77, "the INF store cannot be found or listed")                  \
    /* trust and untrust */                                                                         \
    X(DEVCTL_EXIT_CERTIFICATE_UNREADABLE, 78, "the certificate file cannot be read")                \
    X(DEVCTL_EXIT_NOT_A_CERTIFICATE, 79, "the file holds no certificate (or is larger than any "    \
      "certificate)")                                                                               \
    X(DEVCTL_EXIT_AUTHORITY_CERTIFICATE, 80, "a CA certificate: only a publisher's own "           \
      "certificate is trusted")                                                                     \
    X(DEVCTL_EXIT_NOT_CODE_SIGNING, 81, "no code-signing extended key usage")                       \
    X(DEVCTL_EXIT_NO_PUBLISHER_STORE, 82, "the local machine's TrustedPublisher store cannot be "   \
      "opened")                                                                                     \
    X(DEVCTL_EXIT_STORE_REFUSED, 83, "the store refused the change or its commit")                  \
    X(DEVCTL_EXIT_NOT_TRUSTED, 84, "untrust: the certificate was not in the store (nothing to do)")     \
    /* remove, unstage, trust and untrust */                                                        \
    X(DEVCTL_EXIT_NO_TURN, 85, "another installation was at work for the whole wait, or the "        \
      "machine's turn could not be taken: nothing was done")                                        \
    /* status (0: staged, every driver file in place; also 65, 73 not staged, 77) */                \
    X(DEVCTL_EXIT_OTHER_VERSION_STAGED, 86, "status: another version of the INF is staged, not "     \
      "this one")                                                                                   \
    X(DEVCTL_EXIT_DRIVER_FILE_NOT_WHOLE, 87, "status: staged, but a driver file is missing from "    \
      "System32\\Drivers or differs from the package's")                                           \
    X(DEVCTL_EXIT_PACKAGE_FILE_UNREADABLE, 88, "status: a driver file of the package cannot be "     \
      "read (the package folder is incomplete)")
// clang-format on

#define DEVCTL_EXIT_ENUMERATOR(name, code, meaning) name = code,
enum { DEVCTL_EXIT_CODES(DEVCTL_EXIT_ENUMERATOR) };
#undef DEVCTL_EXIT_ENUMERATOR

enum {
    DEVCTL_PATH_SIZE = 520,
    DEVCTL_LINE_SIZE = 1024,
    DEVCTL_COMMAND_LINE_SIZE = HANDOFF_COMMAND_LINE_SIZE,
    DEVCTL_ID_LIST_SIZE = 4096,  // a hardware or compatible id list
    UNSTAGE_COPY_CAPACITY = 64,  // copies of one INF that unstage takes in one run
};

// The whole program: hands the run to the 64-bit build when that is due,
// else runs the command that `argv` names. Returns the exit code.
int RunDevCtl(int argc, const char* const* argv);

// remove: the instances whose hardware or compatible ids match `pattern` and
// which the INF at `infPath` serves. Returns an exit code.
int RemoveMatchingInstances(const char* infPath, const char* pattern);

// unstage: takes every copy of the INF at `infPath` (found by its content)
// out of the system's INF store, with SUOI_FORCEDELETE when `force` is
// nonzero, checks that each is gone and deletes a .pnf left beside it.
// Returns an exit code.
int UnstageInf(const char* infPath, int force);

// trust (`add` nonzero) and untrust: adds the publisher's certificate in the
// file at `path` (DER or PEM) to the local machine's TrustedPublisher store,
// or takes it out. Only an end-entity certificate with the code-signing
// extended key usage is taken; no other store is ever opened. Returns an
// exit code.
int ChangePublisherTrust(const char* path, int add);

// rescan: re-enumerates the device tree from its root. Returns an exit code.
int RescanDevices(void);

// status: whether the package of the INF at `infPath` is in place (its INF
// staged, every driver file in System32\Drivers with the package's bytes).
// Prints one line; returns an exit code.
int ShowPackageStatus(const char* infPath);

// Results of DecideHandOff.
enum {
    HANDOFF_RUN_HERE = 0,       // not a 32-bit process on 64-bit Windows
    HANDOFF_TO_64BIT = 1,       // `path64` holds the 64-bit build's path
    HANDOFF_64BIT_MISSING = 2,  // `path64` holds the path looked at (empty
                                // when the own path could not be found)
};

// Whether this process must hand its run to the 64-bit build beside it:
// only a 32-bit process on 64-bit Windows does, and only when the file
// MERVODevCtl64.exe lies in its own folder.
int DecideHandOff(char* path64, size_t size);

// Runs the 64-bit build at `path64` with this process's exact argument text,
// waits for it and returns its exit code (or one of this tool's codes).
int HandOffTo64Bit(const char* path64);

// The argument text of a whole command line: what follows the program name
// (quoted or not) and the blanks after it.
const char* ArgumentText(const char* commandLine);

// The usage text, printed line by line.
void PrintUsage(void);
