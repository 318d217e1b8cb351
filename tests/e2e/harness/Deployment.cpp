// Runs at the same time, console output and the machine's turn (Deployment.h).
#include "Deployment.h"

#include "HarnessInternal.h"

namespace e2e {

namespace {

// The machine's turn as the programs name it (src/common/Names.h).
const char kTurnName[] = "Global\\MERVODriverStager.MachineTurn";

}  // namespace

StartedProgram StartProgram(const std::string& commandLine, const std::string& desktop)
{
    StartedProgram program;
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    std::vector<char> desktopName(desktop.begin(), desktop.end());
    desktopName.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!desktop.empty()) {
        startup.lpDesktop = desktopName.data();
    }
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        Fail("CreateProcessA failed (" + std::to_string(GetLastError()) + ") for " + commandLine);
        return program;
    }
    CloseHandle(process.hThread);
    program.process = process.hProcess;
    program.processId = process.dwProcessId;
    program.startTick = GetTickCount();
    return program;
}

RunResult FinishProgram(StartedProgram* program, DWORD limitMs)
{
    RunResult result;
    if (program->process == nullptr) {
        return result;
    }
    result.started = true;
    result.processId = program->processId;
    DWORD spent = GetTickCount() - program->startTick;
    if (WaitForSingleObject(program->process, spent < limitMs ? limitMs - spent : 0) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(program->process, 0xDEAD);
        WaitForSingleObject(program->process, 5000);
        Fail("a program still ran after " + std::to_string(limitMs) + " ms and was ended");
    }
    result.elapsedMs = GetTickCount() - program->startTick;
    GetExitCodeProcess(program->process, &result.exitCode);
    CloseHandle(program->process);
    program->process = nullptr;
    return result;
}

ConsoleRun RunConsole(const std::string& commandLine, DWORD limitMs)
{
    ConsoleRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        Fail("CreatePipe failed");
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    BOOL started = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        Fail("CreateProcessA failed (" + std::to_string(GetLastError()) + ") for " + commandLine);
        CloseHandle(readEnd);
        return run;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        run.output.append(buffer, got);
    }
    CloseHandle(readEnd);
    if (WaitForSingleObject(process.hProcess, limitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 0xDEAD);
        Fail("still running after " + std::to_string(limitMs) + " ms: " + commandLine);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string text;
    for (char c : run.output) {
        if (c != '\r') {
            text += c;
        }
    }
    run.output = text;
    return run;
}

HeldTurn::HeldTurn()
{
    mutex_ = CreateMutexA(nullptr, FALSE, kTurnName);
    held_ = mutex_ != nullptr && WaitForSingleObject(mutex_, 10000) == WAIT_OBJECT_0;
}

HeldTurn::~HeldTurn()
{
    Release();
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
    }
}

void HeldTurn::Release()
{
    if (held_) {
        ReleaseMutex(mutex_);
        held_ = false;
    }
}

std::vector<std::string> StagedCopies(const std::string& inf)
{
    const std::string bytes = ReadFileBytes(inf);
    std::vector<std::string> names;
    for (const FolderEntry& entry : ListFolder(InfFolder())) {
        const std::string& name = entry.name;
        bool isInf = name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".inf") == 0;
        if (isInf && ReadFileBytes(JoinPath(InfFolder(), name)) == bytes) {
            names.push_back(name);
        }
    }
    return names;
}

void RemoveStagedCopies(const std::string& inf)
{
    for (const std::string& name : StagedCopies(inf)) {
        RemoveFile(JoinPath(InfFolder(), name));
        RemoveFile(JoinPath(InfFolder(), name.substr(0, name.size() - 4) + ".pnf"));
    }
}

}  // namespace e2e
