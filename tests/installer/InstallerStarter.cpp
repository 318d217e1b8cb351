// The Windows-side starter of the setup program checks:
//
//   MERVOInstallerStarter run [unattended] <limit ms> <program> <arguments...>
//       starts the program with the arguments (one with a blank quoted, but
//       an uninstaller's _?=C:\Program Files\..., which must stay bare and
//       which wine64 would quote), optionally on the desktop
//       of a window station made without WSF_VISIBLE (as a deployment
//       agent's), waits at most <limit ms>, prints "elapsed <ms> ms, exit
//       code <code>" and ends with the program's exit code; 250 when it cannot be started, 251
//       when it was still running at the limit (it is then ended).
//   MERVOInstallerStarter hold
//       waits until it is ended: one Wine program alive for the whole check,
//       so that no start waits for Wine's services to come up again.
//   MERVOInstallerStarter hold-turn <ms>
//       takes the machine's turn, as an installation at work has it, prints
//       "turn held", keeps it for <ms> and gives it back.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// "<station>\Default" of a window station made without WSF_VISIBLE; empty
// when it cannot be made.
std::string InvisibleDesktop()
{
    HWINSTA own = GetProcessWindowStation();
    HWINSTA station = CreateWindowStationA("MERVOInstallerCheck", 0, WINSTA_ALL_ACCESS, nullptr);
    if (station == nullptr || !SetProcessWindowStation(station)) {
        return "";
    }
    HDESK desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    return desktop != nullptr ? "MERVOInstallerCheck\\Default" : "";
}

// The command line of the words from `first` on: each word with a blank in
// double quotes, except an NSIS uninstaller's "_?=<folder>", which it only
// takes unquoted (and wine64 would quote).
std::string CommandLine(int argc, char** argv, int first)
{
    std::string line;
    for (int i = first; i < argc; ++i) {
        std::string word = argv[i];
        bool quote = word.find(' ') != std::string::npos && word.rfind("_?=", 0) != 0;
        line += (line.empty() ? "" : " ") + (quote ? "\"" + word + "\"" : word);
    }
    return line;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "hold") == 0) {
        Sleep(INFINITE);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "hold-turn") == 0) {
        HANDLE turn = CreateMutexA(nullptr, FALSE, "Global\\MERVODriverStager.MachineTurn");
        if (turn == nullptr || WaitForSingleObject(turn, 10000) != WAIT_OBJECT_0) {
            fprintf(stderr, "cannot take the machine's turn\n");
            return 250;
        }
        printf("turn held\n");
        fflush(stdout);
        Sleep(static_cast<DWORD>(strtoul(argv[2], nullptr, 10)));
        ReleaseMutex(turn);
        CloseHandle(turn);
        return 0;
    }
    if (argc < 4 || strcmp(argv[1], "run") != 0) {
        fprintf(stderr,
                "usage: MERVOInstallerStarter run [unattended] <limit ms> <command line> | hold | "
                "hold-turn <ms>\n");
        return 64;
    }
    const bool unattended = strcmp(argv[2], "unattended") == 0;
    const DWORD limit = static_cast<DWORD>(strtoul(argv[unattended ? 3 : 2], nullptr, 10));
    std::string command = CommandLine(argc, argv, unattended ? 4 : 3);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    std::string desktop;
    if (unattended) {
        desktop = InvisibleDesktop();
        if (desktop.empty()) {
            fprintf(stderr, "no window station without WSF_VISIBLE\n");
            return 250;
        }
        startup.lpDesktop = &desktop[0];
    }
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    DWORD begin = GetTickCount();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fprintf(stderr, "cannot start (%lu): %s\n", GetLastError(), command.c_str());
        return 250;
    }
    DWORD code = 251;
    if (WaitForSingleObject(process.hProcess, limit) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 251);
        fprintf(stderr, "still running after %lu ms, ended: %s\n", limit, command.c_str());
    }
    // The whole code: the Linux side of wine64 sees only its low 8 bits (1618 as 82).
    printf("elapsed %lu ms, exit code %lu\n", GetTickCount() - begin, code);
    fflush(stdout);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
