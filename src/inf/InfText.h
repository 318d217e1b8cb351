// The INF text rules that the stager, the package checker and the benchmarks
// share: reading a line, parsing a device line, walking [SourceDisksFiles],
// and the file names the copy step accepts or derives. Nothing here writes
// the log or calls the platform; the streams are opened by the callers. (The
// companion tool keeps a reader of its own: it reads ids word by word, in any
// case and in UTF-16 too, which these rules do not.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum {
    INF_LINE_SIZE = 500,  // one read: at most 499 characters
    INF_PATH_SIZE = 500,
    DEVICE_TABLE_SIZE = 10,
};

struct DeviceIdEntry {
    char vid[5];
    char pid[5];
    char indexText[5];
    uint16_t index;
    char description[INF_LINE_SIZE];
};

struct DeviceIdTable {
    DeviceIdEntry entries[DEVICE_TABLE_SIZE];
    uint16_t count;
};

// Reads one line of an INF stream into `line` (`size` bytes, INF_LINE_SIZE for
// the readers below): at most size - 1 characters, the newline kept; a longer
// line comes in pieces. Returns 1 when something was read, 0 at the end of the
// file, on a read error or for a size below 2 (no room for a character).
int ReadInfLine(FILE* inf, char* line, size_t size);

// The first pass over the device lines reads from the top of the file and
// ends at the first section header after a device line: 1 when `line` ends
// it, `devicesRead` device lines having been read before it.
int EndsDevicePass(const char* line, size_t devicesRead);

// When `line` is a device line, fills `entry`'s vid, pid and description key
// (not its index) and returns 1; otherwise returns 0 and leaves `entry` alone.
int ParseDeviceLine(const char* line, DeviceIdEntry* entry);

// Walk over the [SourceDisksFiles] section of an open INF stream:
// FindSourceDisksFiles reads up to the line that holds the header and returns 1,
// or 0 when the file ends first; NextSourceDisksFile then yields each entry's file
// name in `line` (INF_LINE_SIZE bytes; the name is everything before the line's
// first "=") and returns 1, or 0 when the section or the file ends.
int FindSourceDisksFiles(FILE* inf, char* line);
int NextSourceDisksFile(FILE* inf, char* line);

// The copies of the INF that the stager deletes from the Windows INF folder
// before staging: the INF's own file name and, when it has one, its compiled
// form. Writes them into `names` (each INF_PATH_SIZE bytes) and returns how
// many (1 or 2); 0, with nothing to delete, when the name does not fit.
size_t StaleInfCopyNames(const char* infFileName, char names[2][INF_PATH_SIZE]);

// The [Version] signatures with which Windows stages an INF (any letter case).
enum { INF_SIGNATURE_COUNT = 3 };
extern const char* const kInfSignatures[INF_SIGNATURE_COUNT];
// 1 when `value` (unquoted) is one of them.
int IsAcceptedInfSignature(const char* value);

// 1 when `name` can be joined to a folder without leaving it: no "\", "/" or ":",
// not "." or ".." (or empty) once trailing dots and blanks are dropped, and not a
// reserved device name such as NUL or COM1.
int IsPlainFileName(const char* name);

// The part of `infFileName` after its last "\", "/" or ":".
const char* InfBaseName(const char* infFileName);

// The position in `name` of the letter that its compiled form (the .pnf that
// Windows keeps beside a staged INF) has as "p": the letter after the last
// ".", when at least two characters follow that "." (.inf gives .pnf). 0 when
// the name has no compiled form.
size_t CompiledFormLetter(const char* name);

// Turns the path of an INF into the path of its compiled form, in place:
// the letter CompiledFormLetter names in its last name becomes "p". 1 done,
// 0 when the name has no compiled form (the path is left alone).
int ToCompiledFormPath(char* path);
