// Tests of the simulated Windows' failure injection and trace.
#include <functional>

#include "simulated/SimulatedTest.h"

namespace {

// One call of each failable operation on arguments that succeed; returns
// whether the call failed.
std::function<bool()> SucceedingCall(SimOperation operation)
{
    switch (operation) {
    case SIM_GetModuleFileNameA:
        return [] {
            char b[260];
            return Platform.GetModuleFileNameA(nullptr, b, sizeof b) == 0;
        };
    case SIM_GetTempPathA:
        return [] {
            char b[260];
            return Platform.GetTempPathA(sizeof b, b) == 0;
        };
    case SIM_GetSystemDirectoryA:
        return [] {
            char b[260];
            return Platform.GetSystemDirectoryA(b, sizeof b) == 0;
        };
    case SIM_GetVersionExA:
        return [] {
            PsOsVersionInfoEx info{};
            info.dwOSVersionInfoSize = PS_OSVERSIONINFOEX_SIZE;
            return Platform.GetVersionExA(&info) == 0;
        };
    case SIM_RegOpenKeyExA:
        return [] {
            PsKey key = nullptr;
            if (Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "SOFTWARE\\Key", 0, PS_KEY_QUERY_VALUE, &key) !=
                0) {
                return true;
            }
            Sim().failAlways[SIM_RegCloseKey] = false;
            Platform.RegCloseKey(key);
            return false;
        };
    case SIM_RegCloseKey:
        return [] {
            PsKey key = nullptr;
            bool always = Sim().failAlways[SIM_RegCloseKey];
            Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "SOFTWARE\\Key", 0, PS_KEY_QUERY_VALUE, &key);
            Sim().failAlways[SIM_RegCloseKey] = always;
            return Platform.RegCloseKey(key) != 0;
        };
    case SIM_SetFileAttributesA:
        return [] { return Platform.SetFileAttributesA("C:\\pkg\\a.txt", PS_FILE_ATTRIBUTE_NORMAL) == 0; };
    case SIM_GetFileAttributesA:
        return [] { return Platform.GetFileAttributesA("C:\\pkg\\a.txt") == PS_INVALID_FILE_ATTRIBUTES; };
    case SIM_DeleteFileA:
        return [] {
            SimWriteFile("C:\\pkg\\gone.txt", "x");
            return Platform.DeleteFileA("C:\\pkg\\gone.txt") == 0;
        };
    case SIM_CopyFileA:
        return [] { return Platform.CopyFileA("C:\\pkg\\a.txt", "C:\\Temp\\a.txt", 0) == 0; };
    case SIM_CreateProcessA:
    case SIM_WaitForSingleObject:
    case SIM_GetExitCodeProcess:
    case SIM_CloseHandle:
        return [operation] {
            PsProcessInformation process{};
            int32_t started = StartProcess("C:\\pkg\\a.txt", &process, 0);
            if (operation == SIM_CreateProcessA) {
                return started == 0;
            }
            uint32_t code = 0;
            bool failed = false;
            if (operation == SIM_WaitForSingleObject) {
                failed = Platform.WaitForSingleObject(process.hProcess, 30000) == PS_WAIT_FAILED;
            }
            if (operation == SIM_GetExitCodeProcess) {
                failed = Platform.GetExitCodeProcess(process.hProcess, &code) == 0;
            }
            failed = Platform.CloseHandle(process.hThread) == 0 || failed;
            Platform.CloseHandle(process.hProcess);
            return failed;
        };
    case SIM_MessageBoxA:
        return [] { return Platform.MessageBoxA(nullptr, "text", "caption", PS_MB_OK) == 0; };
    case SIM_GetWindowStationFlags:
        return [] {
            uint32_t flags = 0;
            return Platform.GetWindowStationFlags(&flags) == 0;
        };
    case SIM_FormatMessageA:
        return [] {
            char* text = nullptr;
            uint32_t length = Platform.FormatMessageA(
                PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_FROM_SYSTEM |
                    PS_FORMAT_MESSAGE_IGNORE_INSERTS,
                nullptr, 5, PS_LANG_USER_DEFAULT, reinterpret_cast<char*>(&text), 0, nullptr);
            Platform.LocalFree(text);
            return length == 0;
        };
    case SIM_SetupCopyOEMInfA:
        return [] {
            return Platform.SetupCopyOEMInfA("C:\\pkg\\v.inf", "C:\\pkg", PS_SPOST_PATH, 0, nullptr, 0,
                                             nullptr, nullptr) == 0;
        };
    case SIM_IsWow64Process:
        return [] {
            int32_t wow64 = 0;
            return Platform.IsWow64Process(&wow64) == 0;
        };
    case SIM_OpenStream:
        return [] {
            FILE* stream = Platform.OpenStream("C:\\pkg\\a.txt", "r");
            if (stream != nullptr) {
                fclose(stream);
            }
            return stream == nullptr;
        };
    case SIM_CreateMutexA:
    case SIM_OpenMutexA:
    case SIM_ReleaseMutex:
        return [operation] {
            PsHandle mutex = Platform.CreateMutexA("Global\\m");
            if (operation == SIM_CreateMutexA || mutex == nullptr) {
                return mutex == nullptr;
            }
            PsHandle opened = Platform.OpenMutexA(PS_SYNCHRONIZE, "Global\\m");
            bool failed = opened == nullptr;
            if (operation == SIM_ReleaseMutex) {
                Platform.WaitForSingleObject(mutex, 0);
                failed = Platform.ReleaseMutex(mutex) == 0;
            }
            uint32_t error = Platform.GetLastError();
            if (opened != nullptr) {
                Platform.CloseHandle(opened);
            }
            Platform.CloseHandle(mutex);
            Platform.SetLastError(error);
            return failed;
        };
    case SIM_GetEnvironmentVariableA:
        return [] {
            char value[8];
            return Platform.GetEnvironmentVariableA("PATH", value, sizeof value) == 0;
        };
    case SIM_SetEnvironmentVariableA:
        return [] { return Platform.SetEnvironmentVariableA("NAME", "value") == 0; };
    case SIM_GetParentProcessId:
        return [] {
            uint32_t parent = 0;
            return Platform.GetParentProcessId(&parent) == 0;
        };
    default:
        return [] { return true; };
    }
}

TEST_F(SimulatedPlatformTest, EveryFailableOperationFailsWhenAskedTo)
{
    for (int index = 0; index < SIM_OPERATION_COUNT; ++index) {
        SimOperation operation = static_cast<SimOperation>(index);
        FreshMachine();
        Write("C:\\pkg\\a.txt", "a");
        Write("C:\\pkg\\v.inf", "[Version]\nSignature=$Chicago$\n");
        Sim().registryKeys.push_back("SOFTWARE\\Key");
        Sim().environment["PATH"] = "C:\\";
        Sim().onLaunch = [](const std::string&) { return SimProcessScript{SIM_PROCESS_ENDS, 0}; };
        std::function<bool()> call = SucceedingCall(operation);
        EXPECT_FALSE(call()) << SimOperationName(operation) << " fails without injection";

        Sim().failAlways[operation] = true;
        Sim().trace.clear();
        EXPECT_TRUE(call()) << SimOperationName(operation);
        bool traced = false;
        for (const std::string& entry : Sim().trace) {
            if (entry.rfind(SimOperationName(operation), 0) == 0) {
                traced = traced || (entry.size() >= 7 && entry.compare(entry.size() - 7, 7, " FAILED") == 0);
            }
        }
        EXPECT_TRUE(traced) << SimOperationName(operation) << " has no FAILED trace entry";

        Sim().failError[operation] = 1234;
        EXPECT_TRUE(call()) << SimOperationName(operation);
        if (operation != SIM_CloseHandle && operation != SIM_RegCloseKey) {
            // (the helpers of these two call more operations after the failing one)
            EXPECT_EQ(1234u, Platform.GetLastError()) << SimOperationName(operation);
        }
    }
}

TEST_F(SimulatedPlatformTest, TheNthFailableCallFailsWithItsDefaultError)
{
    Write("C:\\pkg\\a.txt", "a");
    Sim().failCallNumber = 3;
    char buffer[260];
    EXPECT_NE(Platform.GetTempPathA(sizeof buffer, buffer), 0u);
    EXPECT_EQ(0, Platform.lstrcmpiA("a", "A"));  // never counted
    Platform.SetLastError(0);
    EXPECT_EQ(0u, Platform.GetLastError());
    PsSystemTime now;
    Platform.GetSystemTime(&now);
    Platform.LocalFree(nullptr);
    EXPECT_NE(Platform.SetFileAttributesA("C:\\pkg\\a.txt", PS_FILE_ATTRIBUTE_READONLY), 0);
    EXPECT_EQ(0, Platform.DeleteFileA("C:\\pkg\\a.txt"));  // the third
    EXPECT_EQ(PS_ERROR_ACCESS_DENIED, Platform.GetLastError());
    EXPECT_EQ(3, Sim().failableCalls);
    SimSetAttributes("C:\\pkg\\a.txt", PS_FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(Platform.DeleteFileA("C:\\pkg\\a.txt"), 0);
    EXPECT_EQ(4, Sim().failableCalls);
    EXPECT_EQ((std::vector<std::string>{
                  "GetTempPathA 260",
                  "LocalFree",
                  "SetFileAttributesA C:\\pkg\\a.txt 0x1",
                  "DeleteFileA C:\\pkg\\a.txt FAILED",
                  "DeleteFileA C:\\pkg\\a.txt",
              }),
              Sim().trace);

    // Failures of the result-code and special-value operations.
    Sim().failCallNumber = 0;
    Sim().failAlways[SIM_RegOpenKeyExA] = true;
    Sim().failAlways[SIM_WaitForSingleObject] = true;
    Sim().failAlways[SIM_GetFileAttributesA] = true;
    PsKey key = nullptr;
    EXPECT_EQ(5, Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "X", 0, PS_KEY_QUERY_VALUE, &key));
    EXPECT_EQ(PS_WAIT_FAILED, Platform.WaitForSingleObject(nullptr, 1));
    EXPECT_EQ(PS_INVALID_FILE_ATTRIBUTES, Platform.GetFileAttributesA("C:\\pkg"));
}

TEST_F(SimulatedPlatformTest, TraceShowsTheCallersArguments)
{
    Write("C:\\pkg\\MERVOUSB.inf", "x");
    Platform.CopyFileA("c:/pkg/mervousb.inf", "C:\\Temp\\copy.inf", 0);
    FILE* stream = Platform.OpenStream("C:\\Temp\\..\\pkg\\MERVOUSB.inf", "rb");
    ASSERT_NE(stream, nullptr);
    fclose(stream);
    Platform.DeleteFileA("C:\\WINDOWS\\inf\\MERVOUSB.inf");
    EXPECT_EQ((std::vector<std::string>{
                  "CopyFileA c:/pkg/mervousb.inf C:\\Temp\\copy.inf",
                  "OpenStream C:\\Temp\\..\\pkg\\MERVOUSB.inf rb",
                  "DeleteFileA C:\\WINDOWS\\inf\\MERVOUSB.inf",
              }),
              Sim().trace);
}

}  // namespace
