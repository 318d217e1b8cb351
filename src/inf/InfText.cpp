#include "inf/InfText.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "common/BoundedText.h"
#include "common/Names.h"

static const char kVidTag[] = "USB\\VID_";
static const char kPidTag[] = "&PID_";

int ReadInfLine(FILE* inf, char* line, size_t size)
{
    // fgets needs room for one character and the terminator to read at all.
    if (size < 2 || size > INT_MAX) {
        return 0;
    }
    return fgets(line, static_cast<int>(size), inf) != nullptr ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Device lines

int EndsDevicePass(const char* line, size_t devicesRead)
{
    return devicesRead > 0 && line[0] == '[' ? 1 : 0;
}

int ParseDeviceLine(const char* line, DeviceIdEntry* entry)
{
    if (line[0] == ';' || line[0] == ' ') {
        return 0;
    }
    const char* vid = strstr(line, kVidTag);
    if (vid == nullptr) {
        return 0;
    }
    vid += sizeof kVidTag - 1;
    // The newline counts as one of the four characters.
    if (strnlen(vid, 4) < 4) {
        return 0;
    }
    const char* pid = strstr(vid, kPidTag);
    if (pid == nullptr) {
        return 0;
    }
    pid += sizeof kPidTag - 1;
    if (strnlen(pid, 4) < 4) {
        return 0;
    }
    CopyTextRange(entry->vid, sizeof entry->vid, vid, 4);
    CopyTextRange(entry->pid, sizeof entry->pid, pid, 4);

    // The description key lies between the line's first character and the
    // character before its first "=": "%DevDesc%=..." names DevDesc.
    const char* equals = strchr(line, '=');
    size_t position = equals != nullptr ? static_cast<size_t>(equals - line) : 0;
    if (position <= 2) {
        CopyText(entry->description, sizeof entry->description, kDefaultDeviceDescription);
    } else {
        CopyTextRange(entry->description, sizeof entry->description, line + 1, position - 2);
    }
    return 1;
}

// ---------------------------------------------------------------------------
// [SourceDisksFiles] and file names

int FindSourceDisksFiles(FILE* inf, char* line)
{
    while (ReadInfLine(inf, line, INF_LINE_SIZE)) {
        if (strstr(line, "[SourceDisksFiles]") != nullptr) {
            return 1;
        }
    }
    return 0;
}

int NextSourceDisksFile(FILE* inf, char* line)
{
    while (ReadInfLine(inf, line, INF_LINE_SIZE)) {
        if (line[0] == '[') {
            return 0;
        }
        if (line[0] == ';' || line[0] == ' ') {
            continue;
        }
        char* equals = strchr(line, '=');
        if (equals == nullptr || equals == line) {
            continue;
        }
        *equals = '\0';  // the name is everything before the "=", untrimmed
        return 1;
    }
    return 0;
}

// ASCII comparison of `length` characters, case ignored.
static int SameLetters(const char* text, const char* upper, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != upper[i]) {
            return 0;
        }
    }
    return 1;
}

static int IsReservedDeviceName(const char* name, size_t length)
{
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (length == strlen(device) && SameLetters(name, device, length)) {
            return 1;
        }
    }
    // COM and LPT followed by 1 to 9, or by the ANSI code page's superscript
    // 1, 2 or 3 (bytes 0xB9, 0xB2, 0xB3), which Windows reserves alike.
    if (length != 4 || !(SameLetters(name, "COM", 3) || SameLetters(name, "LPT", 3))) {
        return 0;
    }
    unsigned char digit = static_cast<unsigned char>(name[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

int IsPlainFileName(const char* name)
{
    if (strpbrk(name, "\\/:") != nullptr) {
        return 0;
    }
    // Windows drops trailing dots and blanks: "..", ". " and "" all name the
    // folder itself.
    size_t length = strlen(name);
    while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) {
        length--;
    }
    if (length == 0) {
        return 0;
    }
    // A device name stays a device whatever extension follows it.
    size_t stem = strcspn(name, ".");
    while (stem > 0 && name[stem - 1] == ' ') {
        stem--;
    }
    return !IsReservedDeviceName(name, stem < length ? stem : length);
}

const char* InfBaseName(const char* infFileName)
{
    const char* base = infFileName;
    for (const char* p = infFileName; *p != '\0'; p++) {
        if (*p == '\\' || *p == '/' || *p == ':') {
            base = p + 1;
        }
    }
    return base;
}

size_t CompiledFormLetter(const char* name)
{
    const char* dot = strrchr(name, '.');
    if (dot == nullptr || strlen(dot) <= 2) {
        return 0;
    }
    return static_cast<size_t>(dot - name) + 1;
}

int ToCompiledFormPath(char* path)
{
    size_t name = static_cast<size_t>(InfBaseName(path) - path);
    size_t letter = CompiledFormLetter(path + name);
    if (letter == 0) {
        return 0;
    }
    path[name + letter] = 'p';
    return 1;
}

size_t StaleInfCopyNames(const char* infFileName, char names[2][INF_PATH_SIZE])
{
    if (CopyText(names[0], INF_PATH_SIZE, InfBaseName(infFileName)) != 0) {
        return 0;
    }
    size_t letter = CompiledFormLetter(names[0]);
    if (letter == 0) {
        return 1;
    }
    CopyText(names[1], INF_PATH_SIZE, names[0]);
    names[1][letter] = 'p';
    return 2;
}

const char* const kInfSignatures[INF_SIGNATURE_COUNT] = {"$Chicago$", "$Windows NT$", "$Windows 95$"};

// Windows compares the signature without regard to letter case (ASCII).
static int EqualsIgnoringCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b))) {
            return 0;
        }
    }
    return *a == *b ? 1 : 0;
}

int IsAcceptedInfSignature(const char* value)
{
    for (const char* signature : kInfSignatures) {
        if (EqualsIgnoringCase(value, signature)) {
            return 1;
        }
    }
    return 0;
}
