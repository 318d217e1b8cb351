// Starting the stager, answering its boxes and waiting (bounded) for its exit.
#include <map>
#include <set>

#include "HarnessInternal.h"

namespace e2e {

const char* const kUnset = "\x01unset";

namespace {

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

        for (HWND box : OpenBoxes(process.dwProcessId)) {
            if (answered.count(box))
                continue;
            Sleep(50);  // let the box finish painting its texts
            MessageBoxSeen seen = ReadBox(box);
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

}  // namespace e2e
