// The conformance machine of the Windows builds: the real Win32 table, each
// test in a fresh folder under the user's temporary folder.
#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Conformance.h"

const char kPresentKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

namespace {

std::string rootFolder;
char startFolder[MAX_PATH];

// Deletes `path` and, for a folder, everything in it (attributes cleared first).
void RemoveTree(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name != "." && name != "..") {
                RemoveTree(path + "\\" + name);
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

}  // namespace

std::string MachineBegin()
{
    // Wine's answers in the rows on read-only files are those of Wine run as
    // root (its user overrides a file's missing write permission).
    char user[256];
    DWORD userSize = sizeof user;
    if (MachineUnderWine() && (!GetUserNameA(user, &userSize) || strcmp(user, "root") != 0)) {
        fprintf(stderr, "the Wine rows are those of Wine run as root\n");
        return "";
    }
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        return "";
    }
    GetCurrentDirectoryA(sizeof startFolder, startFolder);
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        char name[MAX_PATH];
        snprintf(name, sizeof name, "%sconf-%lu-%u", temp, GetCurrentProcessId(), attempt);
        if (CreateDirectoryA(name, nullptr)) {
            rootFolder = name;
            SetCurrentDirectoryA(name);
            return rootFolder;
        }
    }
    return "";
}

void MachineEnd()
{
    SetCurrentDirectoryA(startFolder);
    if (!rootFolder.empty()) {
        RemoveTree(rootFolder);
        rootFolder.clear();
    }
}

bool MachineMakeFolder(const std::string& path)
{
    for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1)) {
        CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MachineWriteFile(const std::string& path, const std::string& bytes)
{
    size_t slash = path.rfind('\\');
    if (slash != std::string::npos && slash > 2) {
        MachineMakeFolder(path.substr(0, slash));
    }
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok =
        bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool MachineReadFile(const std::string& path, std::string* bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bytes->clear();
    char chunk[4096];
    DWORD count = 0;
    while (ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count > 0) {
        bytes->append(chunk, count);
    }
    CloseHandle(file);
    return true;
}

bool MachineSetAttributes(const std::string& path, uint32_t attributes)
{
    return SetFileAttributesA(path.c_str(), attributes) != 0;
}

bool MachineUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int MachineWineVersion()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    typedef const char*(CDECL * VersionFunction)(void);
    // Through the generic function pointer type, which may be cast to any other.
    VersionFunction version =
        ntdll == nullptr ? nullptr
                         : reinterpret_cast<VersionFunction>(
                               reinterpret_cast<void (*)(void)>(GetProcAddress(ntdll, "wine_get_version")));
    return version == nullptr ? 0 : atoi(version());  // NOLINT(cert-err34-c): "10.0" and the like
}

std::string MachineChildCommand(const char* behaviour)
{
    // The build names the program by its host path; Z: is the host's root.
    std::string program = MERVO_CONFORMANCE_CHILD;
    if (MachineUnderWine() && !program.empty() && program[0] == '/') {
        program = "Z:" + program;
    }
    for (char& c : program) {
        c = c == '/' ? '\\' : c;
    }
    return "\"" + program + "\" " + behaviour;
}

void MachineEndChild(PsHandle process)
{
    TerminateProcess(static_cast<HANDLE>(process), 1);
    WaitForSingleObject(static_cast<HANDLE>(process), INFINITE);
}

bool MachineChildHolds(const std::string& name)
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, (name + " held").c_str());
    if (mutex == nullptr) {
        return false;
    }
    CloseHandle(mutex);
    return true;
}

std::string MachineInfField(const std::string& path, const char* section, const char* key, int field)
{
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        return "<not opened>";
    }
    std::string answer;
    INFCONTEXT context;
    char text[4096];
    DWORD needed = 0;
    if (!SetupFindFirstLineA(inf, section, key, &context)) {
        answer = "<no line>";
    } else if (!SetupGetStringFieldA(&context, static_cast<DWORD>(field), text, sizeof text, &needed)) {
        answer = "<no field>";
    } else {
        answer = text;
    }
    SetupCloseInfFile(inf);
    return answer;
}

std::string MachineActualSection(const std::string& path, const char* section)
{
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        return "<none>";
    }
    char actual[512];
    DWORD needed = 0;
    BOOL found = SetupDiGetActualSectionToInstallA(inf, section, actual, sizeof actual, &needed, nullptr);
    SetupCloseInfFile(inf);
    return found ? std::string(actual) : "<none>";
}
