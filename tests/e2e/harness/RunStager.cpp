// Starting the stager, answering its boxes and waiting (bounded) for its exit.
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
