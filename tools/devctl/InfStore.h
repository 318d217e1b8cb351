// The system's INF store as unstage and status read it: where it is, and
// which of its INFs are copies of a package's INF. A copy is told by its
// content, not its name: Windows stores the INF as oem<N>.inf, other systems
// under its own name, and the same INF may have been stored twice under two
// names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "DevCtl.h"

enum {
    STORE_NAME_SIZE = 260,  // a file name in a folder listing, terminator included
    // The Windows folder (less than STORE_NAME_SIZE), "\inf\" or
    // "\System32\Drivers\" and a file name.
    STORE_PATH_SIZE = 2 * STORE_NAME_SIZE + 32,
};

struct StoreCopies {
    char names[UNSTAGE_COPY_CAPACITY][STORE_NAME_SIZE];
    uint32_t count;
    uint32_t beyondCapacity;  // further copies found and not taken
    // Asked for only: the first INF of the store that is another version of
    // the package (not its bytes, but its name, or an oem<N>.inf naming one
    // of its USB hardware ids); empty when there is none.
    char otherVersion[STORE_NAME_SIZE];
};

// The system's Windows folder, without a trailing backslash. 0 found, 1 not.
int FindWindowsFolder(char* folder, size_t size);

// The open package INF (binary) and its size; null when it cannot be read
// or is empty.
FILE* OpenPackage(const char* infPath, long* size);

// 1 when the two open streams hold the same bytes from their starts.
int SameBytes(FILE* first, FILE* second);

// Lists the INF store and keeps the names of the files that hold the bytes of
// the open `package` (`size` bytes, at `packagePath`); with
// `lookForOtherVersions`, also the first other version. 0 listed (also when
// the store is empty), 1 not listable, or the listing broke off: `*error`
// then holds the system's code.
int FindStoreCopies(const char* store, FILE* package, long size, const char* packagePath,
                    int lookForOtherVersions, StoreCopies* copies, uint32_t* error);
