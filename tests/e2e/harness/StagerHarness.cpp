// Windows-side harness of the end-to-end tests (see StagerHarness.h).
#include "StagerHarness.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <map>
#include <set>

namespace e2e {

const char* const kUnset = "\x01unset";
const char* const kDoubleRecord = "MERVO_DOUBLE_RECORD";
const char* const kDoubleSleepRemove = "MERVO_DOUBLE_SLEEP_REMOVE";
const char* const kDoubleSleepRescan = "MERVO_DOUBLE_SLEEP_RESCAN";
const char* const kDoubleExit = "MERVO_DOUBLE_EXIT";

// --- Paths ------------------------------------------------------------------------

std::string HostToWindowsPath(const std::string& hostPath)
{
    std::string path = "Z:" + hostPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

namespace {

// A host path from the environment, else the built-in one ("" for none).
std::string HostPathSetting(const char* name, const char* builtIn)
{
    const char* value = getenv(name);
    if (value != nullptr && value[0] != '\0')
        return HostToWindowsPath(value);
    return builtIn[0] != '\0' ? HostToWindowsPath(builtIn) : std::string();
}

}  // namespace

std::string StagerExePath()
{
    return HostPathSetting("MERVO_E2E_STAGER", MERVO_E2E_STAGER);
}
std::string Stager64ExePath()
{
    return HostPathSetting("MERVO_E2E_STAGER64", "");
}
std::string DevCtlExePath()
{
    return HostPathSetting("MERVO_E2E_DEVCTL", MERVO_E2E_DEVCTL);
}
std::string DevCtl64ExePath()
{
    return HostPathSetting("MERVO_E2E_DEVCTL64", "");
}
std::string DoubleExePath()
{
    return HostToWindowsPath(MERVO_E2E_DOUBLE);
}
std::string ExamplePackage()
{
    return HostToWindowsPath(MERVO_E2E_EXAMPLE_PACKAGE);
}
std::string WorkRoot()
{
    return HostPathSetting("MERVO_E2E_WORK_ROOT", MERVO_E2E_WORK_ROOT);
}
bool HandOffLayout()
{
    return !Stager64ExePath().empty();
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

namespace {

std::string WithoutTrailingSeparator(std::string path)
{
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

void Fail(const std::string& message)
{
    ADD_FAILURE() << message;
}

}  // namespace

std::string TempFolder()
{
    char buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer)
        Fail("GetTempPathA failed in the test");
    return WithoutTrailingSeparator(buffer);
}

std::string RunLogPath()
{
    return JoinPath(TempFolder(), "MERVOStageLog.txt");
}

std::string SystemFolder()
{
    char buffer[MAX_PATH + 1] = {};
    GetSystemDirectoryA(buffer, sizeof buffer);
    return WithoutTrailingSeparator(buffer);
}

std::string WindowsFolder()
{
    char buffer[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(buffer, sizeof buffer);
    return WithoutTrailingSeparator(buffer);
}

std::string DriversFolder()
{
    return JoinPath(SystemFolder(), "drivers");
}
std::string SysWow64Folder()
{
    return JoinPath(WindowsFolder(), "syswow64");
}
std::string InfFolder()
{
    return JoinPath(WindowsFolder(), "inf");
}

// --- Files ----------------------------------------------------------------------------

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::string& path, bool* ok)
{
    std::string bytes;
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ok != nullptr)
        *ok = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return WriteAndClose(file, bytes);
}

bool WriteAndClose(HANDLE file, const std::string& bytes)
{
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool RemoveFile(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool CopyOneFile(const std::string& from, const std::string& to)
{
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(JoinPath(folder, "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = JoinPath(folder, name);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                RemoveFile(path);
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
    return GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool MakeFolders(const std::string& folder)
{
    for (size_t i = 3; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '\\') {
            CreateDirectoryA(folder.substr(0, i).c_str(), nullptr);
        }
    }
    DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> SplitLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        size_t stop = (end > start && bytes[end - 1] == '\r') ? end - 1 : end;
        lines.push_back(bytes.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

// --- Package folders ---------------------------------------------------------------------

std::string TestFolder()
{
    std::string name = "runner";
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (test != nullptr)
        name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ':')
            c = '_';
    }
    std::string folder = JoinPath(WorkRoot(), name);
    MakeFolders(folder);
    return folder;
}

namespace {

// Wine 10 also keeps every staged package in the driver store, and staging a
// package that is there again fails with "file not found" once the stager
// has deleted the INF folder's copy that the store entry names. Every run
// starts with an empty store (Wine 8 keeps none), the 32-bit programs' one
// (in SysWOW64) included.
void EmptyDriverStore(const std::string& systemFolder)
{
    const std::string store = JoinPath(systemFolder, "driverstore\\filerepository");
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(JoinPath(store, "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == ".." || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (!RemoveTree(JoinPath(store, name)))
            Fail("cannot empty the driver store entry " + name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

}  // namespace

std::string PreparePackage(const std::string& name, const PackageOptions& options)
{
    return PreparePackageAt(JoinPath(TestFolder(), name), options);
}

std::string PreparePackageAt(const std::string& folder, const PackageOptions& options)
{
    if (!RemoveTree(folder))
        Fail("cannot empty " + folder);
    if (!MakeFolders(folder))
        Fail("cannot create " + folder);
    if (options.examplePackage) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(JoinPath(ExamplePackage(), "*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            Fail("no example package at " + ExamplePackage());
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    continue;
                if (!CopyOneFile(JoinPath(ExamplePackage(), entry.cFileName),
                                 JoinPath(folder, entry.cFileName))) {
                    Fail(std::string("cannot copy ") + entry.cFileName);
                }
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    if (options.stager && !CopyOneFile(StagerExePath(), JoinPath(folder, "MERVODriverStager.exe"))) {
        Fail("cannot copy the stager from " + StagerExePath());
    }
    if (options.stager && HandOffLayout() &&
        !CopyOneFile(Stager64ExePath(), JoinPath(folder, "MERVODriverStager64.exe"))) {
        Fail("cannot copy the 64-bit stager from " + Stager64ExePath());
    }
    if (options.companionDouble && !CopyOneFile(DoubleExePath(), JoinPath(folder, "MERVODevCtl.exe"))) {
        Fail("cannot copy the double from " + DoubleExePath());
    }
    for (const auto& file : options.files) {
        if (!WriteFileBytes(JoinPath(folder, file.first), file.second)) {
            Fail("cannot write " + file.first);
        }
    }
    return folder;
}

bool CopyCompanionTool(const std::string& folder)
{
    bool ok = CopyOneFile(DevCtlExePath(), JoinPath(folder, "MERVODevCtl.exe"));
    if (!DevCtl64ExePath().empty()) {
        ok = CopyOneFile(DevCtl64ExePath(), JoinPath(folder, "MERVODevCtl64.exe")) && ok;
    }
    return ok;
}

// --- Windows version reported by Wine -----------------------------------------------------

namespace {
const char* const kWineKey = "Software\\Wine";
const char* const kVersionValue = "Version";
}  // namespace

WineVersion::WineVersion(const char* version)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kWineKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        Fail("cannot open HKCU\\Software\\Wine");
        return;
    }
    char previous[256] = {};
    DWORD size = sizeof previous - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, kVersionValue, nullptr, &type, reinterpret_cast<BYTE*>(previous), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        hadValue_ = true;
        previous_ = previous;
    }
    if (RegSetValueExA(key, kVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(strlen(version) + 1)) != ERROR_SUCCESS) {
        Fail(std::string("cannot set the Wine version ") + version);
    }
    RegCloseKey(key);
}

WineVersion::~WineVersion()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kWineKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (hadValue_) {
        RegSetValueExA(key, kVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_.c_str()),
                       static_cast<DWORD>(previous_.size() + 1));
    } else {
        RegDeleteValueA(key, kVersionValue);
    }
    RegCloseKey(key);
}

// --- Running the stager --------------------------------------------------------------------

std::string Visible(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void PrintTo(const MessageBoxSeen& box, std::ostream* out)
{
    *out << "{\"" << Visible(box.caption) << "\", \"" << Visible(box.text) << "\"}";
}

namespace {

struct BoxSearch {
    std::set<DWORD> processIds;  // the started process and its descendants
    std::vector<HWND> boxes;
};

// The process and every process it started, directly or through others,
// that still run.
std::set<DWORD> ProcessTree(DWORD root)
{
    std::set<DWORD> tree{root};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return tree;
    std::vector<std::pair<DWORD, DWORD>> parents;  // process, parent
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        parents.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
    }
    CloseHandle(snapshot);
    for (bool grown = true; grown;) {
        grown = false;
        for (const auto& process : parents) {
            if (tree.count(process.second) && tree.insert(process.first).second)
                grown = true;
        }
    }
    return tree;
}

BOOL CALLBACK CollectBoxes(HWND window, LPARAM parameter)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (!search->processIds.count(owner) || !IsWindowVisible(window))
        return TRUE;
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0)
        search->boxes.push_back(window);
    return TRUE;
}

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    int got = GetWindowTextA(window, &text[0], static_cast<int>(text.size()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::string BoxText(HWND box)
{
    // The message of a standard box is its static control with id 0xFFFF.
    HWND item = GetDlgItem(box, 0xFFFF);
    int length = item != nullptr ? GetWindowTextLengthA(item) : 0;
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 2, '\0');
    UINT got = GetDlgItemTextA(box, 0xFFFF, &text[0], static_cast<int>(text.size()));
    text.resize(got);
    return text;
}

// Sets environment variables for a child and puts the old values back.
class EnvironmentChange {
public:
    explicit EnvironmentChange(const std::vector<std::pair<std::string, std::string>>& changes)
    {
        for (const auto& change : changes) {
            Saved saved{change.first, false, {}};
            DWORD size = GetEnvironmentVariableA(change.first.c_str(), nullptr, 0);
            if (size > 0) {
                std::string value(size, '\0');
                DWORD got = GetEnvironmentVariableA(change.first.c_str(), &value[0], size);
                value.resize(got);
                saved.existed = true;
                saved.value = value;
            }
            saved_.push_back(saved);
            SetEnvironmentVariableA(change.first.c_str(),
                                    change.second == kUnset ? nullptr : change.second.c_str());
        }
    }
    ~EnvironmentChange()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            SetEnvironmentVariableA(it->name.c_str(), it->existed ? it->value.c_str() : nullptr);
        }
    }

private:
    struct Saved {
        std::string name;
        bool existed;
        std::string value;
    };
    std::vector<Saved> saved_;
};

}  // namespace

std::string InvisibleDesktop(const std::string& station)
{
    static std::map<std::string, std::string> made;
    auto known = made.find(station);
    if (known != made.end()) {
        return known->second;
    }
    std::string& desktopName = made[station];
    HWINSTA own = GetProcessWindowStation();
    // Flags 0: not WSF_VISIBLE.
    HWINSTA stationHandle = CreateWindowStationA(station.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    if (stationHandle == nullptr || !SetProcessWindowStation(stationHandle)) {
        return desktopName;
    }
    HDESK desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    // Both stay open for the process's life, so that the station lasts.
    if (desktop != nullptr) {
        desktopName = station + "\\Default";
    }
    return desktopName;
}

RunResult RunStager(const RunRequest& request)
{
    EmptyDriverStore(SystemFolder());
    EmptyDriverStore(SysWow64Folder());
    RunResult result;
    std::string commandLine = "\"" + request.exePath + "\" " + request.argumentText;
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    std::vector<char> desktop(request.desktop.begin(), request.desktop.end());
    desktop.push_back('\0');
    if (!request.desktop.empty()) {
        startup.lpDesktop = desktop.data();
    }
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    BOOL started;
    {
        EnvironmentChange environment(request.environment);
        started = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process);
    }
    if (!started) {
        Fail("CreateProcessA failed (" + std::to_string(GetLastError()) + ") for " + commandLine);
        return result;
    }
    result.started = true;
    result.processId = process.dwProcessId;

    DWORD begin = GetTickCount();
    std::set<HWND> answered;
    for (;;) {
        DWORD wait = WaitForSingleObject(process.hProcess, 20);
        result.elapsedMs = GetTickCount() - begin;
        if (wait != WAIT_TIMEOUT)
            break;

        BoxSearch search{ProcessTree(process.dwProcessId), {}};
        EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.boxes) {
            if (answered.count(box))
                continue;
            Sleep(50);  // let the box finish painting its texts
            MessageBoxSeen seen{WindowText(box), BoxText(box)};
            result.boxes.push_back(seen);
            if (request.onBox != nullptr)
                request.onBox(seen);
            answered.insert(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        // Forget boxes that are gone, so that a reused handle counts again.
        for (auto it = answered.begin(); it != answered.end();) {
            it = IsWindow(*it) ? std::next(it) : answered.erase(it);
        }

        if (result.elapsedMs > request.limitMs) {
            result.timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            Fail("the stager still ran after " + std::to_string(request.limitMs) +
                 " ms and was ended: " + commandLine);
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

// --- The run log ------------------------------------------------------------------------------

const char* const kLogBanner1 = "\t\t-----------------------------------------";
const char* const kLogBanner2 = "\t\t|       MERVODriverStager Log file      |";
const char* const kLogClosingLine = "\t\t--------------- LOG CLOSED --------------";

LogLine ParseLogLine(const std::string& line)
{
    // "%2d-%2d-%4d:%2dH%2dmn%2d'' -  " with blank-padded fields.
    static const std::regex stamp(
        "([ 0-9][0-9])-([ 0-9][0-9])-([0-9]{4}):([ 0-9][0-9])H([ 0-9][0-9])mn([ 0-9][0-9])'' -  "
        "(.*)");
    std::smatch m;
    LogLine parsed;
    if (!std::regex_match(line, m, stamp)) {
        parsed.entry = line;
        return parsed;
    }
    parsed.stamped = true;
    parsed.day = atoi(m[1].str().c_str());
    parsed.month = atoi(m[2].str().c_str());
    parsed.year = atoi(m[3].str().c_str());
    parsed.hour = atoi(m[4].str().c_str());
    parsed.minute = atoi(m[5].str().c_str());
    parsed.second = atoi(m[6].str().c_str());
    parsed.entry = m[7].str();
    return parsed;
}

std::string Entry(const std::string& module, const std::string& function, const std::string& text)
{
    char head[128];
    snprintf(head, sizeof head, "%22s - %25s() - ", module.c_str(), function.c_str());
    return head + text;
}

std::vector<std::string> RunLogEntries(bool* present)
{
    std::vector<std::string> entries;
    for (const std::string& line : SplitLines(ReadFileBytes(RunLogPath(), present))) {
        entries.push_back(ParseLogLine(line).entry);
    }
    return entries;
}

std::vector<std::string> RunLogSteps(bool* present)
{
    std::vector<std::string> entries = RunLogEntries(present);
    if (entries.size() < 5 || entries[0] != kLogBanner1 || entries[1] != kLogBanner2 ||
        entries[2] != kLogBanner1 || !entries[3].empty() || entries.back() != kLogClosingLine) {
        return {};
    }
    return std::vector<std::string>(entries.begin() + 4, entries.end() - 1);
}

long long UtcSeconds(int year, int month, int day, int hour, int minute, int second)
{
    static const int daysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    long long days = (year - 2000) * 365LL + (year - 1997) / 4 + daysBefore[(month + 11) % 12] + day;
    if (month > 2 && year % 4 == 0)
        ++days;
    return ((days * 24 + hour) * 60 + minute) * 60LL + second;
}

long long NowUtcSeconds()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return UtcSeconds(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

// --- The companion-tool double ----------------------------------------------------------------

std::vector<DoubleLaunch> ReadDoubleRecord(const std::string& recordPath)
{
    std::vector<DoubleLaunch> launches;
    std::string bytes = ReadFileBytes(recordPath);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        size_t tab = line.find('\t');
        DoubleLaunch launch;
        if (tab != std::string::npos) {
            launch.processId = static_cast<DWORD>(strtoul(line.substr(0, tab).c_str(), nullptr, 10));
            launch.commandLine = line.substr(tab + 1);
        } else {
            launch.commandLine = line;
        }
        launches.push_back(launch);
        start = end + 1;
    }
    return launches;
}

void EndDoubles(const std::string& recordPath)
{
    for (const DoubleLaunch& launch : ReadDoubleRecord(recordPath)) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, launch.processId);
        if (process == nullptr)
            continue;
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 0xDEAD);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
}

}  // namespace e2e
