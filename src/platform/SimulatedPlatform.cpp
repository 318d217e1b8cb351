// The simulated Windows machine behind the host build: every member of the
// PlatformServices table works on host folders and on the state in Sim().
//
// Paths are resolved the way Windows resolves them (see ResolvePath), files
// carry their attributes in a map of their own (the tests run as root, so host
// permission bits cannot model read-only), and streams are glibc cookie
// streams that translate line ends as the Windows C runtime's text mode does.
#include "platform/SimulatedPlatform.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace {

// Windows error codes the simulator sets beyond those of PlatformServices.h.
enum : uint32_t {
    ERR_INVALID_HANDLE = 6,
    ERR_NOT_ENOUGH_MEMORY = 8,
    ERR_SHARING_VIOLATION = 32,
    ERR_FILE_EXISTS = 80,
    ERR_PROC_NOT_FOUND = 127,
    ERR_MR_MID_NOT_FOUND = 317,
    ERR_WRONG_INF_STYLE = 0xE0000100,
};

const int ID_OK = 1;

// What a handle handed out by the simulator stands for.
enum HandleKind { HANDLE_PROCESS, HANDLE_THREAD, HANDLE_KEY };

struct HandleEntry {
    HandleKind kind;
    size_t launch;  // index into launches (process and thread handles)
};

// State that is not part of SimWindows because tests have no business with it.
struct Machine {
    std::map<char, std::string> drives;           // 'C' -> host folder
    std::map<std::string, uint32_t> attributes;   // host path -> stored attributes
    std::map<PsHandle, HandleEntry> handles;
    std::vector<SimProcessScript> scripts;        // per launch
    std::set<void*> texts;                        // FormatMessageA texts
    unsigned nextHandle = 1;
    unsigned oemCount = 0;
    unsigned generation = 0;  // bumped by SimReset; streams of an older machine are not counted
};

Machine& State()
{
    static Machine machine;
    return machine;
}

// ---------------------------------------------------------------------------
// Path resolution

struct Resolved {
    uint32_t error = 0;          // 0: resolved; else a Windows error code
    std::string host;            // host path
    std::string windows;         // "C:\dir\name" with the on-disk case of existing names
    bool exists = false;
    bool isFolder = false;
    bool parentIsFolder = false; // every component but the last exists as a folder
};

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool IsDevice(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* device : kDevices) {
        if (strcasecmp(base.c_str(), device) == 0) {
            return true;
        }
    }
    if (base.size() == 4 && (strncasecmp(base.c_str(), "COM", 3) == 0 ||
                             strncasecmp(base.c_str(), "LPT", 3) == 0)) {
        return base[3] >= '1' && base[3] <= '9';
    }
    return false;
}

// Splits `text` on separators into `parts`, folding "." and ".." and dropping
// trailing dots and blanks. Returns 0 or a Windows error code.
uint32_t FoldComponents(const std::string& text, std::vector<std::string>* parts)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && !IsSeparator(text[end])) {
            ++end;
        }
        std::string name = text.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            if (!parts->empty()) {
                parts->pop_back();
            }
            continue;
        }
        for (unsigned char c : name) {
            if (c < 32 || strchr("<>:\"|?*", c) != nullptr) {
                return PS_ERROR_INVALID_NAME;
            }
        }
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
            name.pop_back();
        }
        if (name.empty()) {
            continue;
        }
        if (IsDevice(name)) {
            return PS_ERROR_ACCESS_DENIED;
        }
        parts->push_back(name);
    }
    return 0;
}

// The entry of `folder` whose name equals `name` case-insensitively, or "".
std::string FindEntry(const std::string& folder, const std::string& name)
{
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return "";
    }
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            if (found == name) {
                break;  // an exact match wins over a case variant
            }
        }
    }
    closedir(dir);
    return found;
}

Resolved ResolvePath(const char* path)
{
    Resolved result;
    const std::string text = path == nullptr ? "" : path;
    if (text.empty() || (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1]))) {
        result.error = PS_ERROR_PATH_NOT_FOUND;  // empty, UNC or device namespace
        return result;
    }
    const std::string& current = Sim().currentDirectory;
    char drive = current.empty() ? 'C' : static_cast<char>(toupper(current[0]));
    std::string rest = text;
    std::vector<std::string> parts;
    bool hasDrive = text.size() >= 2 && text[1] == ':' && isalpha(static_cast<unsigned char>(text[0]));
    if (hasDrive) {
        drive = static_cast<char>(toupper(static_cast<unsigned char>(text[0])));
        rest = text.substr(2);
    }
    bool relative = rest.empty() ? false : !IsSeparator(rest[0]);
    if (relative && current.size() >= 2 && toupper(current[0]) == drive) {
        // A relative path (or "X:name" on the current drive) starts in the current folder.
        if (FoldComponents(current.substr(2), &parts) != 0) {
            parts.clear();
        }
    }
    result.error = FoldComponents(rest, &parts);
    if (result.error != 0) {
        return result;
    }
    auto mapping = State().drives.find(drive);
    if (mapping == State().drives.end()) {
        result.error = PS_ERROR_PATH_NOT_FOUND;
        return result;
    }
    result.host = mapping->second;
    result.windows = std::string(1, drive) + ":";
    bool walking = true;  // every component so far exists as a folder
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i + 1 == parts.size()) {
            result.parentIsFolder = walking;
        }
        std::string name = parts[i];
        if (walking) {
            std::string match = FindEntry(result.host, name);
            if (!match.empty()) {
                name = match;
            }
            else {
                walking = false;
            }
        }
        result.host += "/" + name;
        result.windows += "\\" + name;
        if (walking && i + 1 < parts.size()) {
            struct stat info;
            walking = stat(result.host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
    }
    if (parts.empty()) {
        result.windows += "\\";
        result.parentIsFolder = true;
    }
    struct stat info;
    if (walking && stat(result.host.c_str(), &info) == 0) {
        result.exists = true;
        result.isFolder = S_ISDIR(info.st_mode);
    }
    return result;
}

// The error for a path that names nothing: 2 when its folder exists, else 3.
uint32_t MissingError(const Resolved& path)
{
    return path.parentIsFolder ? PS_ERROR_FILE_NOT_FOUND : PS_ERROR_PATH_NOT_FOUND;
}

// Resolves a path that must name something that exists; returns 0, or the
// error for a path that cannot be resolved or names nothing.
uint32_t ResolveExisting(const char* path, Resolved* file)
{
    *file = ResolvePath(path);
    if (file->error != 0) {
        return file->error;
    }
    return file->exists ? 0 : MissingError(*file);
}

uint32_t StoredAttributes(const Resolved& path)
{
    auto stored = State().attributes.find(path.host);
    uint32_t attributes = stored == State().attributes.end() ? 0 : stored->second;
    if (path.isFolder) {
        return attributes | PS_FILE_ATTRIBUTE_DIRECTORY;
    }
    return attributes == 0 ? PS_FILE_ATTRIBUTE_NORMAL : attributes;
}

bool IsReadOnly(const Resolved& path)
{
    return path.exists && (StoredAttributes(path) & PS_FILE_ATTRIBUTE_READONLY) != 0;
}

bool IsHiddenOrSystem(const Resolved& path)
{
    return (StoredAttributes(path) & (PS_FILE_ATTRIBUTE_HIDDEN | PS_FILE_ATTRIBUTE_SYSTEM)) != 0;
}

void StoreAttributes(const std::string& host, uint32_t attributes)
{
    attributes &= ~static_cast<uint32_t>(PS_FILE_ATTRIBUTE_DIRECTORY | PS_FILE_ATTRIBUTE_NORMAL);
    if (attributes == 0) {
        State().attributes.erase(host);
    }
    else {
        State().attributes[host] = attributes;
    }
}

bool ReadHostFile(const std::string& host, std::string* bytes)
{
    FILE* file = fopen(host.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bytes->clear();
    char chunk[4096];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes->append(chunk, count);
    }
    fclose(file);
    return true;
}

bool WriteHostFile(const std::string& host, const std::string& bytes)
{
    FILE* file = fopen(host.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

// Creates every missing folder of `path` (a Windows path), including itself.
bool MakeFolders(const std::string& windowsPath)
{
    Resolved path = ResolvePath(windowsPath.c_str());
    if (path.error != 0) {
        return false;
    }
    // The resolved host path keeps the case of existing folders, so creating
    // each prefix in turn adds exactly the missing ones.
    for (size_t slash = path.host.find('/', 1); ; slash = path.host.find('/', slash + 1)) {
        std::string prefix = path.host.substr(0, slash);
        mkdir(prefix.c_str(), 0755);
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info;
    return stat(path.host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// ---------------------------------------------------------------------------
// Failure injection and trace

std::string Text(const char* text)
{
    return text == nullptr ? "(null)" : text;
}

uint32_t DefaultError(SimOperation operation)
{
    switch (operation) {
    case SIM_GetVersionExA:
        return PS_ERROR_INVALID_PARAMETER;
    case SIM_WaitForSingleObject:
    case SIM_GetExitCodeProcess:
    case SIM_CloseHandle:
        return ERR_INVALID_HANDLE;
    case SIM_FormatMessageA:
        return ERR_NOT_ENOUGH_MEMORY;
    default:
        return PS_ERROR_ACCESS_DENIED;
    }
}

// Counts a failable call, traces it and tells whether it is to fail; a
// failing call has its error code set already.
bool Enter(SimOperation operation, const std::string& entry)
{
    SimWindows& sim = Sim();
    ++sim.failableCalls;
    bool fail = sim.failAlways[operation] || sim.failableCalls == sim.failCallNumber;
    sim.trace.push_back(fail ? entry + " FAILED" : entry);
    if (fail) {
        uint32_t code = sim.failError[operation];
        sim.lastError = code != 0 ? code : DefaultError(operation);
    }
    return fail;
}

uint32_t Fail(uint32_t code)
{
    Sim().lastError = code;
    return 0;
}

std::string Hex(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// ---------------------------------------------------------------------------
// Names and versions

uint32_t ReportText(const std::string& text, char* buffer, uint32_t size)
{
    if (text.size() < size) {
        memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<uint32_t>(text.size());
    }
    return static_cast<uint32_t>(text.size() + 1);
}

uint32_t SimGetModuleFileNameA(PsHandle module, char* fileName, uint32_t size)
{
    if (Enter(SIM_GetModuleFileNameA, "GetModuleFileNameA " + std::to_string(size))) {
        return 0;
    }
    if (module != nullptr) {
        return Fail(126);  // ERROR_MOD_NOT_FOUND: the simulator knows only the program
    }
    const std::string& path = Sim().modulePath;
    if (path.size() < size) {
        memcpy(fileName, path.c_str(), path.size() + 1);
        return static_cast<uint32_t>(path.size());
    }
    if (size > 0) {
        memcpy(fileName, path.c_str(), size - 1);
        fileName[size - 1] = '\0';
    }
    Sim().lastError = PS_ERROR_INSUFFICIENT_BUFFER;
    return size;
}

uint32_t SimGetTempPathA(uint32_t size, char* buffer)
{
    if (Enter(SIM_GetTempPathA, "GetTempPathA " + std::to_string(size))) {
        return 0;
    }
    return ReportText(Sim().tempPath, buffer, size);
}

uint32_t SimGetSystemDirectoryA(char* buffer, uint32_t size)
{
    if (Enter(SIM_GetSystemDirectoryA, "GetSystemDirectoryA " + std::to_string(size))) {
        return 0;
    }
    return ReportText(Sim().systemDirectory, buffer, size);
}

int32_t SimGetVersionExA(PsOsVersionInfoEx* info)
{
    uint32_t size = info == nullptr ? 0 : info->dwOSVersionInfoSize;
    if (Enter(SIM_GetVersionExA, "GetVersionExA " + std::to_string(size))) {
        return 0;
    }
    const SimWindows& sim = Sim();
    bool extended = size == PS_OSVERSIONINFOEX_SIZE && !sim.refuseExtendedVersion;
    bool plain = size == PS_OSVERSIONINFO_SIZE && !sim.refusePlainVersion;
    if (!extended && !plain) {
        return static_cast<int32_t>(Fail(PS_ERROR_INVALID_PARAMETER));
    }
    // The five fields of the plain record end exactly at byte 148.
    info->dwMajorVersion = sim.version.dwMajorVersion;
    info->dwMinorVersion = sim.version.dwMinorVersion;
    info->dwBuildNumber = sim.version.dwBuildNumber;
    info->dwPlatformId = sim.version.dwPlatformId;
    memcpy(info->szCSDVersion, sim.version.szCSDVersion, sizeof info->szCSDVersion);
    if (extended) {
        info->wServicePackMajor = sim.version.wServicePackMajor;
        info->wServicePackMinor = sim.version.wServicePackMinor;
        info->wSuiteMask = sim.version.wSuiteMask;
        info->wProductType = sim.version.wProductType;
        info->wReserved = sim.version.wReserved;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Handles and registry

PsHandle NewHandle(HandleKind kind, size_t launch)
{
    Machine& machine = State();
    PsHandle handle = reinterpret_cast<PsHandle>(static_cast<intptr_t>(0x1000 + 4 * machine.nextHandle++));
    machine.handles[handle] = HandleEntry{kind, launch};
    ++Sim().openHandles;
    return handle;
}

// The entry of a live handle of one of the given kinds, or null.
HandleEntry* FindHandle(PsHandle handle, bool keys)
{
    auto found = State().handles.find(handle);
    if (found == State().handles.end() || (found->second.kind == HANDLE_KEY) != keys) {
        return nullptr;
    }
    return &found->second;
}

void ReleaseHandle(PsHandle handle)
{
    State().handles.erase(handle);
    --Sim().openHandles;
}

int32_t SimRegOpenKeyExA(PsKey root, const char* subKey, uint32_t, uint32_t, PsKey* result)
{
    if (Enter(SIM_RegOpenKeyExA, "RegOpenKeyExA " + Text(subKey))) {
        uint32_t code = Sim().failError[SIM_RegOpenKeyExA];
        return static_cast<int32_t>(code != 0 ? code : PS_ERROR_ACCESS_DENIED);
    }
    if (root == PS_HKEY_LOCAL_MACHINE && subKey != nullptr) {
        for (const std::string& key : Sim().registryKeys) {
            if (strcasecmp(key.c_str(), subKey) == 0) {
                *result = NewHandle(HANDLE_KEY, 0);
                return 0;
            }
        }
    }
    return PS_ERROR_FILE_NOT_FOUND;
}

int32_t SimRegCloseKey(PsKey key)
{
    if (Enter(SIM_RegCloseKey, "RegCloseKey")) {
        uint32_t code = Sim().failError[SIM_RegCloseKey];
        return static_cast<int32_t>(code != 0 ? code : PS_ERROR_ACCESS_DENIED);
    }
    if (FindHandle(key, true) == nullptr) {
        return ERR_INVALID_HANDLE;
    }
    ReleaseHandle(key);
    return 0;
}

int SimLstrcmpiA(const char* first, const char* second)
{
    if (first == nullptr || second == nullptr) {
        return first == second ? 0 : (first == nullptr ? -1 : 1);
    }
    int order = strcasecmp(first, second);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void SimGetSystemTime(PsSystemTime* time)
{
    *time = Sim().clock;
}

// ---------------------------------------------------------------------------
// Files

int32_t SimSetFileAttributesA(const char* path, uint32_t attributes)
{
    if (Enter(SIM_SetFileAttributesA, "SetFileAttributesA " + Text(path) + " " + Hex(attributes))) {
        return 0;
    }
    Resolved file;
    if (uint32_t error = ResolveExisting(path, &file)) {
        return static_cast<int32_t>(Fail(error));
    }
    StoreAttributes(file.host, attributes);
    return 1;
}

uint32_t SimGetFileAttributesA(const char* path)
{
    if (Enter(SIM_GetFileAttributesA, "GetFileAttributesA " + Text(path))) {
        return PS_INVALID_FILE_ATTRIBUTES;
    }
    Resolved file;
    if (uint32_t error = ResolveExisting(path, &file)) {
        Fail(error);
        return PS_INVALID_FILE_ATTRIBUTES;
    }
    return StoredAttributes(file);
}

int32_t SimDeleteFileA(const char* path)
{
    if (Enter(SIM_DeleteFileA, "DeleteFileA " + Text(path))) {
        return 0;
    }
    Resolved file;
    if (uint32_t error = ResolveExisting(path, &file)) {
        return static_cast<int32_t>(Fail(error));
    }
    if (file.isFolder || IsReadOnly(file) || unlink(file.host.c_str()) != 0) {
        return static_cast<int32_t>(Fail(PS_ERROR_ACCESS_DENIED));
    }
    State().attributes.erase(file.host);
    Sim().filesDeleted.push_back(file.windows);
    return 1;
}

// Copies `source` onto `target` after the checks Windows makes; 0 or an error code.
uint32_t CopyChecked(const Resolved& source, const Resolved& target, bool failIfExists)
{
    if (source.error != 0) {
        return source.error;
    }
    if (!source.exists) {
        return MissingError(source);
    }
    if (source.isFolder) {
        return PS_ERROR_ACCESS_DENIED;
    }
    if (target.error != 0) {
        return target.error;
    }
    if (!target.parentIsFolder) {
        return PS_ERROR_PATH_NOT_FOUND;
    }
    if (target.exists) {
        if (failIfExists) {
            return ERR_FILE_EXISTS;
        }
        if (target.isFolder || IsReadOnly(target)) {
            return PS_ERROR_ACCESS_DENIED;
        }
        if (target.host == source.host) {
            return ERR_SHARING_VIOLATION;
        }
    }
    std::string bytes;
    if (!ReadHostFile(source.host, &bytes)) {
        return PS_ERROR_ACCESS_DENIED;
    }
    if (!WriteHostFile(target.host, bytes)) {
        return PS_ERROR_ACCESS_DENIED;
    }
    auto stored = State().attributes.find(source.host);
    StoreAttributes(target.host, stored == State().attributes.end() ? 0 : stored->second);
    return 0;
}

int32_t SimCopyFileA(const char* existing, const char* target, int32_t failIfExists)
{
    if (Enter(SIM_CopyFileA, "CopyFileA " + Text(existing) + " " + Text(target))) {
        return 0;
    }
    Resolved from = ResolvePath(existing);
    Resolved to = ResolvePath(target);
    uint32_t error = CopyChecked(from, to, failIfExists != 0);
    if (error != 0) {
        return static_cast<int32_t>(Fail(error));
    }
    Sim().filesRead.push_back(from.windows);
    Sim().filesWritten.push_back(to.windows);
    return 1;
}

// ---------------------------------------------------------------------------
// Text-mode streams

struct StreamCookie {
    FILE* host;
    bool text;
    bool atEnd;  // a Ctrl-Z was read in text mode
    unsigned generation;
};

ssize_t StreamRead(void* cookie, char* buffer, size_t size)
{
    StreamCookie* stream = static_cast<StreamCookie*>(cookie);
    if (!stream->text) {
        size_t count = fread(buffer, 1, size, stream->host);
        return ferror(stream->host) ? -1 : static_cast<ssize_t>(count);
    }
    size_t count = 0;
    while (count < size && !stream->atEnd) {
        int c = fgetc(stream->host);
        if (c == EOF) {
            break;
        }
        if (c == 0x1A) {
            stream->atEnd = true;  // Ctrl-Z ends a text file
            break;
        }
        if (c == '\r') {
            // Reading byte by byte from the buffered host stream means a CR
            // always sees its successor, wherever the caller's chunks end.
            int next = fgetc(stream->host);
            if (next == '\n') {
                c = '\n';
            }
            else if (next != EOF) {
                ungetc(next, stream->host);
            }
        }
        buffer[count++] = static_cast<char>(c);
    }
    return static_cast<ssize_t>(count);
}

ssize_t StreamWrite(void* cookie, const char* buffer, size_t size)
{
    StreamCookie* stream = static_cast<StreamCookie*>(cookie);
    size_t written = 0;
    if (!stream->text) {
        written = fwrite(buffer, 1, size, stream->host);
    }
    else {
        while (written < size && (buffer[written] != '\n' || fputc('\r', stream->host) != EOF) &&
               fputc(buffer[written], stream->host) != EOF) {
            ++written;
        }
    }
    // The stream calls this only when it flushes its own buffer: pass the
    // bytes on to the file at once, so that a flushed stream is on disk.
    if (fflush(stream->host) != 0 || written == 0) {
        return size == 0 ? 0 : -1;
    }
    return static_cast<ssize_t>(written);
}

int StreamSeek(void* cookie, off64_t* offset, int whence)
{
    StreamCookie* stream = static_cast<StreamCookie*>(cookie);
    if (fseeko(stream->host, static_cast<off_t>(*offset), whence) != 0) {
        return -1;
    }
    stream->atEnd = false;
    *offset = ftello(stream->host);
    return 0;
}

int StreamClose(void* cookie)
{
    StreamCookie* stream = static_cast<StreamCookie*>(cookie);
    int result = fclose(stream->host);
    if (stream->generation == State().generation) {
        --Sim().openStreams;
    }
    delete stream;
    return result == 0 ? 0 : -1;
}

FILE* SimOpenStream(const char* path, const char* mode)
{
    if (Enter(SIM_OpenStream, "OpenStream " + Text(path) + " " + Text(mode))) {
        return nullptr;
    }
    const std::string modeText = mode == nullptr ? "" : mode;
    if (modeText.empty() || strchr("rwa", modeText[0]) == nullptr) {
        Fail(PS_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool update = modeText.find('+') != std::string::npos;
    bool binary = modeText.find('b') != std::string::npos;
    bool reading = modeText[0] == 'r';
    bool writing = !reading || update;
    Resolved file = ResolvePath(path);
    uint32_t error = file.error;
    // Several refusals share a code but not a reason.
    if (error == 0 && file.isFolder) {  // NOLINT(bugprone-branch-clone)
        error = PS_ERROR_ACCESS_DENIED;
    }
    else if (error == 0 && reading && !file.exists) {
        error = MissingError(file);
    }
    else if (error == 0 && !file.parentIsFolder) {
        error = PS_ERROR_PATH_NOT_FOUND;
    }
    else if (error == 0 && writing && IsReadOnly(file)) {
        error = PS_ERROR_ACCESS_DENIED;
    }
    else if (error == 0 && modeText[0] == 'w' && file.exists && IsHiddenOrSystem(file)) {
        // The C runtime replaces a file with CREATE_ALWAYS and normal
        // attributes, which Windows refuses for a hidden or system file.
        error = PS_ERROR_ACCESS_DENIED;
    }
    std::string hostMode = std::string(1, modeText[0]) + (update ? "+" : "") + "b";
    FILE* host = error == 0 ? fopen(file.host.c_str(), hostMode.c_str()) : nullptr;
    if (host == nullptr) {
        Fail(error != 0 ? error : PS_ERROR_ACCESS_DENIED);
        return nullptr;
    }
    StreamCookie* cookie = new StreamCookie{host, !binary, false, State().generation};
    cookie_io_functions_t functions = {StreamRead, StreamWrite, StreamSeek, StreamClose};
    std::string cookieMode = std::string(1, modeText[0]) + (update ? "+" : "");
    FILE* stream = fopencookie(cookie, cookieMode.c_str(), functions);
    if (stream == nullptr) {
        fclose(host);
        delete cookie;
        Fail(ERR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    ++Sim().openStreams;
    (writing ? Sim().filesWritten : Sim().filesRead).push_back(file.windows);
    return stream;
}

// ---------------------------------------------------------------------------
// Processes

// The program a command line starts: its first token, quoted or up to a blank.
std::string ProgramOf(const char* applicationName, const char* commandLine)
{
    if (applicationName != nullptr) {
        return applicationName;
    }
    std::string line = commandLine == nullptr ? "" : commandLine;
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return "";
    }
    if (line[start] == '"') {
        size_t end = line.find('"', start + 1);
        return line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    }
    size_t end = line.find_first_of(" \t", start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool ProgramExists(const std::string& program)
{
    Resolved file = ResolvePath(program.c_str());
    if (file.error == 0 && file.exists && !file.isFolder) {
        return true;
    }
    // Windows adds ".exe" to a program name without an extension.
    size_t slash = program.find_last_of("\\/");
    std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
    if (program.empty() || name.find('.') != std::string::npos) {
        return false;
    }
    Resolved withExe = ResolvePath((program + ".exe").c_str());
    return withExe.error == 0 && withExe.exists && !withExe.isFolder;
}

int32_t SimCreateProcessA(const char* applicationName, char* commandLine, void*, void*,
                          int32_t inheritHandles, uint32_t creationFlags, void* environment,
                          const char* currentDirectory, PsStartupInfo* startupInfo,
                          PsProcessInformation* processInformation)
{
    std::string line = commandLine == nullptr ? Text(applicationName) : commandLine;
    bool injected = Enter(SIM_CreateProcessA, "CreateProcessA " + line);
    SimWindows& sim = Sim();
    SimLaunch launch{};
    launch.applicationName = applicationName == nullptr ? "" : applicationName;
    launch.commandLine = commandLine == nullptr ? "" : commandLine;
    launch.creationFlags = creationFlags;
    launch.inheritHandles = inheritHandles;
    launch.environmentGiven = environment != nullptr;
    launch.currentDirectoryGiven = currentDirectory != nullptr;
    if (startupInfo != nullptr) {
        launch.startupInfo = *startupInfo;
    }
    sim.launches.push_back(launch);
    if (injected) {
        State().scripts.push_back(SimProcessScript{SIM_PROCESS_FAILS_TO_START, 0});
        return 0;
    }
    SimProcessScript script = sim.process;
    if (sim.onLaunch) {
        script = sim.onLaunch(launch.commandLine);
    }
    else if (!ProgramExists(ProgramOf(applicationName, commandLine))) {
        script.behaviour = SIM_PROCESS_FAILS_TO_START;
    }
    State().scripts.push_back(script);
    if (script.behaviour == SIM_PROCESS_FAILS_TO_START) {
        return static_cast<int32_t>(Fail(PS_ERROR_FILE_NOT_FOUND));
    }
    if (processInformation == nullptr) {
        return static_cast<int32_t>(Fail(PS_ERROR_INVALID_PARAMETER));
    }
    size_t index = sim.launches.size() - 1;
    processInformation->hProcess = NewHandle(HANDLE_PROCESS, index);
    processInformation->hThread = NewHandle(HANDLE_THREAD, index);
    processInformation->dwProcessId = static_cast<uint32_t>(1000 + 4 * index);
    processInformation->dwThreadId = static_cast<uint32_t>(1002 + 4 * index);
    return 1;
}

uint32_t SimWaitForSingleObject(PsHandle handle, uint32_t milliseconds)
{
    if (Enter(SIM_WaitForSingleObject, "WaitForSingleObject " + std::to_string(milliseconds))) {
        return PS_WAIT_FAILED;
    }
    HandleEntry* entry = FindHandle(handle, false);
    if (entry == nullptr) {
        Fail(ERR_INVALID_HANDLE);
        return PS_WAIT_FAILED;
    }
    Sim().launches[entry->launch].waits.push_back(milliseconds);
    bool ends = State().scripts[entry->launch].behaviour == SIM_PROCESS_ENDS;
    return ends ? PS_WAIT_OBJECT_0 : PS_WAIT_TIMEOUT;
}

int32_t SimGetExitCodeProcess(PsHandle process, uint32_t* exitCode)
{
    if (Enter(SIM_GetExitCodeProcess, "GetExitCodeProcess")) {
        return 0;
    }
    HandleEntry* entry = FindHandle(process, false);
    if (entry == nullptr || entry->kind != HANDLE_PROCESS) {
        return static_cast<int32_t>(Fail(ERR_INVALID_HANDLE));
    }
    const SimProcessScript& script = State().scripts[entry->launch];
    *exitCode = script.behaviour == SIM_PROCESS_ENDS ? script.exitCode : PS_STILL_ACTIVE;
    return 1;
}

int32_t SimCloseHandle(PsHandle handle)
{
    if (Enter(SIM_CloseHandle, "CloseHandle")) {
        return 0;
    }
    if (FindHandle(handle, false) == nullptr) {
        return static_cast<int32_t>(Fail(ERR_INVALID_HANDLE));
    }
    ReleaseHandle(handle);
    return 1;
}

// ---------------------------------------------------------------------------
// Messages

int SimMessageBoxA(PsHandle, const char* text, const char* caption, uint32_t type)
{
    // Windows shows "Error" as the caption of a box that was given none.
    std::string title = caption == nullptr ? "Error" : caption;
    if (Enter(SIM_MessageBoxA, "MessageBoxA " + title)) {
        return 0;
    }
    Sim().boxes.push_back(SimMessageBox{text == nullptr ? "" : text, title, type});
    return ID_OK;
}

uint32_t SimGetLastError()
{
    return Sim().lastError;
}

void SimSetLastError(uint32_t code)
{
    Sim().lastError = code;
}

const char* SystemText(uint32_t code)
{
    switch (code) {
    case 0: return "The operation completed successfully.\r\n";
    case 2: return "The system cannot find the file specified.\r\n";
    case 3: return "The system cannot find the path specified.\r\n";
    case 5: return "Access is denied.\r\n";
    case 6: return "The handle is invalid.\r\n";
    case 32: return "The process cannot access the file because it is being used by another process.\r\n";
    case 80: return "The file exists.\r\n";
    case 87: return "The parameter is incorrect.\r\n";
    case 122: return "The data area passed to a system call is too small.\r\n";
    case 123: return "The filename, directory name, or volume label syntax is incorrect.\r\n";
    case 206: return "The filename or extension is too long.\r\n";
    default: return nullptr;
    }
}

uint32_t SimFormatMessageA(uint32_t flags, const void*, uint32_t messageId, uint32_t,
                           char* buffer, uint32_t size, void*)
{
    if (Enter(SIM_FormatMessageA, "FormatMessageA " + Hex(messageId))) {
        return 0;
    }
    if ((flags & PS_FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        return Fail(PS_ERROR_INVALID_PARAMETER);  // only system texts are simulated
    }
    const char* text = SystemText(messageId);
    if (text == nullptr) {
        return Fail(ERR_MR_MID_NOT_FOUND);
    }
    size_t length = strlen(text);
    if ((flags & PS_FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        char* copy = static_cast<char*>(malloc(length + 1));
        memcpy(copy, text, length + 1);
        State().texts.insert(copy);
        ++Sim().openTexts;
        *reinterpret_cast<char**>(buffer) = copy;
        return static_cast<uint32_t>(length);
    }
    if (length >= size) {
        return Fail(PS_ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(buffer, text, length + 1);
    return static_cast<uint32_t>(length);
}

PsHandle SimLocalFree(PsHandle memory)
{
    Sim().trace.push_back("LocalFree");
    if (memory == nullptr) {
        return nullptr;
    }
    if (State().texts.erase(memory) == 0) {
        Sim().lastError = ERR_INVALID_HANDLE;
        return memory;
    }
    free(memory);
    --Sim().openTexts;
    return nullptr;
}

// ---------------------------------------------------------------------------
// INF staging

std::string Trim(const std::string& text)
{
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        return "";
    }
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

// Whether the INF text has a [Version] section with a known signature.
bool HasValidSignature(const std::string& inf)
{
    bool inVersion = false;
    size_t start = 0;
    while (start < inf.size()) {
        size_t end = inf.find('\n', start);
        std::string line = inf.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? inf.size() : end + 1;
        size_t comment = line.find(';');
        line = Trim(line.substr(0, comment));
        if (!line.empty() && line[0] == '[') {
            size_t close = line.find(']');
            std::string section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inVersion = strcasecmp(section.c_str(), "Version") == 0;
            continue;
        }
        size_t equals = line.find('=');
        if (!inVersion || equals == std::string::npos ||
            strcasecmp(Trim(line.substr(0, equals)).c_str(), "Signature") != 0) {
            continue;
        }
        std::string value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        static const char* const kSignatures[] = {"$Chicago$", "$Windows NT$", "$Windows 95$"};
        for (const char* signature : kSignatures) {
            if (strcasecmp(value.c_str(), signature) == 0) {
                return true;
            }
        }
    }
    return false;
}

// Stores the INF as C:\WINDOWS\inf\oem<N>.inf; returns 0 or an error code.
uint32_t StageInf(const char* sourceInf, SimStagedInf* record)
{
    Resolved source = ResolvePath(sourceInf);
    if (source.error != 0) {
        return source.error;
    }
    std::string bytes;
    if (!source.exists || source.isFolder || !ReadHostFile(source.host, &bytes)) {
        return source.isFolder ? PS_ERROR_ACCESS_DENIED : MissingError(source);
    }
    // Read as text: a Ctrl-Z ends it.
    std::string text = bytes.substr(0, bytes.find('\x1a'));
    if (!HasValidSignature(text)) {
        return ERR_WRONG_INF_STYLE;
    }
    std::string name = "C:\\WINDOWS\\inf\\oem" + std::to_string(State().oemCount) + ".inf";
    Resolved target = ResolvePath(name.c_str());
    if (target.error != 0 || !target.parentIsFolder) {
        return PS_ERROR_PATH_NOT_FOUND;
    }
    if (!WriteHostFile(target.host, bytes)) {
        return PS_ERROR_ACCESS_DENIED;
    }
    ++State().oemCount;
    record->storedAs = target.windows;
    Sim().filesRead.push_back(source.windows);
    Sim().filesWritten.push_back(target.windows);
    return 0;
}

int32_t SimSetupCopyOEMInfA(const char* sourceInfFileName, const char* sourceMediaLocation,
                            uint32_t sourceMediaType, uint32_t copyStyle,
                            char* destinationInfFileName, uint32_t destinationInfFileNameSize,
                            uint32_t* requiredSize, char** destinationInfFileNameComponent)
{
    bool injected = Enter(SIM_SetupCopyOEMInfA, "SetupCopyOEMInfA " + Text(sourceInfFileName));
    SimStagedInf record{};
    record.sourceInf = sourceInfFileName == nullptr ? "" : sourceInfFileName;
    record.mediaLocation = Text(sourceMediaLocation);
    record.mediaType = sourceMediaType;
    record.copyStyle = copyStyle;
    record.destinationSize = destinationInfFileNameSize;
    record.requiredSizeGiven = requiredSize != nullptr;
    record.componentGiven = destinationInfFileNameComponent != nullptr;
    SimWindows& sim = Sim();
    if (injected) {
        sim.stagedInfs.push_back(record);
        return 0;
    }
    if (sim.onSetupCopyOEMInf) {
        sim.stagedInfs.push_back(record);
        return sim.onSetupCopyOEMInf(sourceInfFileName);
    }
    uint32_t error = StageInf(sourceInfFileName, &record);
    sim.stagedInfs.push_back(record);
    if (error != 0) {
        return static_cast<int32_t>(Fail(error));
    }
    const std::string& stored = record.storedAs;
    if (destinationInfFileName != nullptr && stored.size() < destinationInfFileNameSize) {
        memcpy(destinationInfFileName, stored.c_str(), stored.size() + 1);
        if (destinationInfFileNameComponent != nullptr) {
            *destinationInfFileNameComponent = destinationInfFileName + stored.rfind('\\') + 1;
        }
    }
    if (requiredSize != nullptr) {
        *requiredSize = static_cast<uint32_t>(stored.size() + 1);
    }
    return 1;
}

int32_t SimIsWow64Process(int32_t* isWow64)
{
    if (Enter(SIM_IsWow64Process, "IsWow64Process")) {
        return 0;
    }
    if (!Sim().wow64Known) {
        return static_cast<int32_t>(Fail(ERR_PROC_NOT_FOUND));
    }
    *isWow64 = Sim().wow64 ? 1 : 0;
    return 1;
}

const PlatformServices kSimulatedServices = {
    SimGetModuleFileNameA,
    SimGetTempPathA,
    SimGetSystemDirectoryA,
    SimGetVersionExA,
    SimRegOpenKeyExA,
    SimRegCloseKey,
    SimLstrcmpiA,
    SimGetSystemTime,
    SimSetFileAttributesA,
    SimGetFileAttributesA,
    SimDeleteFileA,
    SimCopyFileA,
    SimCreateProcessA,
    SimWaitForSingleObject,
    SimGetExitCodeProcess,
    SimCloseHandle,
    SimMessageBoxA,
    SimGetLastError,
    SimSetLastError,
    SimFormatMessageA,
    SimLocalFree,
    SimSetupCopyOEMInfA,
    SimIsWow64Process,
    SimOpenStream,
};

}  // namespace

PlatformServices Platform = kSimulatedServices;

const char* SimOperationName(SimOperation operation)
{
    static const char* const kNames[SIM_OPERATION_COUNT] = {
        "GetModuleFileNameA", "GetTempPathA",     "GetSystemDirectoryA", "GetVersionExA",
        "RegOpenKeyExA",      "RegCloseKey",      "SetFileAttributesA",  "GetFileAttributesA",
        "DeleteFileA",        "CopyFileA",        "CreateProcessA",      "WaitForSingleObject",
        "GetExitCodeProcess", "CloseHandle",      "MessageBoxA",         "FormatMessageA",
        "SetupCopyOEMInfA",   "IsWow64Process",   "OpenStream",
    };
    int index = static_cast<int>(operation);
    return index >= 0 && index < SIM_OPERATION_COUNT ? kNames[index] : "?";
}

SimWindows& Sim()
{
    static SimWindows sim;
    return sim;
}

void SimReset(const std::string& hostRoot)
{
    Machine& machine = State();
    for (void* text : machine.texts) {
        free(text);
    }
    machine.texts.clear();
    machine.drives.clear();
    machine.attributes.clear();
    machine.handles.clear();
    machine.scripts.clear();
    machine.oemCount = 0;
    ++machine.generation;

    Sim() = SimWindows();
    SimSetVersion(PS_VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3");
    Sim().clock = PsSystemTime{2007, 3, 1, 5, 9, 4, 3, 0};

    std::string root = hostRoot;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    machine.drives['C'] = root;
    SimMakeFolder("C:\\WINDOWS\\system32\\drivers");
    SimMakeFolder("C:\\WINDOWS\\inf");
    SimMakeFolder("C:\\Temp");
    SimMakeFolder("C:\\pkg");
    Platform = kSimulatedServices;
}

void SimMapDrive(char letter, const std::string& hostRoot)
{
    std::string root = hostRoot;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    State().drives[static_cast<char>(toupper(static_cast<unsigned char>(letter)))] = root;
}

void SimSetVersion(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                   const char* servicePack)
{
    PsOsVersionInfoEx& version = Sim().version;
    version = PsOsVersionInfoEx{};
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.dwBuildNumber = build;
    version.dwPlatformId = platformId;
    snprintf(version.szCSDVersion, sizeof version.szCSDVersion, "%s",
             servicePack == nullptr ? "" : servicePack);
    unsigned servicePackNumber = 0;
    // A test's own version text; a number that does not convert leaves 0.
    if (servicePack != nullptr &&
        sscanf(servicePack, "Service Pack %u", &servicePackNumber) == 1) {  // NOLINT(cert-err34-c)
        version.wServicePackMajor = static_cast<uint16_t>(servicePackNumber);
    }
    version.wProductType = 1;  // VER_NT_WORKSTATION
}

std::string SimHostPath(const std::string& windowsPath)
{
    Resolved path = ResolvePath(windowsPath.c_str());
    return path.error == 0 ? path.host : "";
}

void SimWriteFile(const std::string& windowsPath, const std::string& bytes)
{
    size_t slash = windowsPath.find_last_of("\\/");
    if (slash != std::string::npos && slash > 2) {
        MakeFolders(windowsPath.substr(0, slash));
    }
    Resolved path = ResolvePath(windowsPath.c_str());
    if (path.error != 0 || !WriteHostFile(path.host, bytes)) {
        fprintf(stderr, "SimWriteFile: cannot write %s\n", windowsPath.c_str());
    }
}

bool SimReadFile(const std::string& windowsPath, std::string* bytes)
{
    Resolved path = ResolvePath(windowsPath.c_str());
    return path.error == 0 && path.exists && !path.isFolder && ReadHostFile(path.host, bytes);
}

bool SimFileExists(const std::string& windowsPath)
{
    Resolved path = ResolvePath(windowsPath.c_str());
    return path.error == 0 && path.exists && !path.isFolder;
}

void SimMakeFolder(const std::string& windowsPath)
{
    if (!MakeFolders(windowsPath)) {
        fprintf(stderr, "SimMakeFolder: cannot create %s\n", windowsPath.c_str());
    }
}

void SimSetAttributes(const std::string& windowsPath, uint32_t attributes)
{
    Resolved path = ResolvePath(windowsPath.c_str());
    if (path.error == 0 && path.exists) {
        StoreAttributes(path.host, attributes);
    }
}

uint32_t SimAttributes(const std::string& windowsPath)
{
    Resolved path = ResolvePath(windowsPath.c_str());
    if (path.error != 0 || !path.exists) {
        return PS_INVALID_FILE_ATTRIBUTES;
    }
    return StoredAttributes(path);
}
