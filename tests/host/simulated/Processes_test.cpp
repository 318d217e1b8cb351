// Tests of the simulated Windows' registry and processes: keys, launches
// and waits.

#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, RegistryKnowsOnlyListedKeysOfTheLocalMachine)
{
    const char* kHotfix = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
    Sim().registryKeys.push_back(kHotfix);
    PsKey key = nullptr;
    ASSERT_EQ(0, Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE,
                                        "software\\microsoft\\windows nt\\currentversion\\hotfix\\q246009", 0,
                                        PS_KEY_QUERY_VALUE, &key));
    EXPECT_EQ(1, Sim().openHandles);
    EXPECT_EQ(0, Platform.RegCloseKey(key));
    EXPECT_EQ(0, Sim().openHandles);
    EXPECT_NE(Platform.RegCloseKey(key), 0);

    PsKey currentUser = reinterpret_cast<PsKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001)));
    PsKey none = nullptr;
    EXPECT_EQ(2, Platform.RegOpenKeyExA(currentUser, kHotfix, 0, PS_KEY_QUERY_VALUE, &none));
    EXPECT_EQ(2,
              Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", 0, PS_KEY_QUERY_VALUE, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(0, Sim().openHandles);
}

// ---------------------------------------------------------------------------
// Processes

TEST_F(SimulatedPlatformTest, LaunchesNeedAnExistingProgramUnlessScripted)
{
    Write("C:\\pkg\\MERVODevCtl.exe", "MZ");
    Write("C:\\Program Files\\Tool\\tool.exe", "MZ");
    struct {
        const char* commandLine;
        bool starts;
    } const cases[] = {
        {"C:\\pkg\\MERVODevCtl.exe remove 0123", true},
        {"\"C:\\pkg\\MERVODevCtl.exe\" rescan", true},
        {"C:\\pkg\\mervodevctl rescan", true},
        {"\"C:\\Program Files\\Tool\\tool.exe\" /x", true},
        {"C:\\pkg\\Missing.exe rescan", false},
        {"\"C:\\pkg\\MERVODevCtl.exe rescan\"", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        PsProcessInformation process{};
        Platform.SetLastError(0);
        int32_t started = StartProcess(c.commandLine, &process);
        EXPECT_EQ(c.starts, started != 0) << c.commandLine;
        if (started) {
            EXPECT_NE(Platform.CloseHandle(process.hThread), 0);
            EXPECT_NE(Platform.CloseHandle(process.hProcess), 0);
        } else {
            EXPECT_EQ(PS_ERROR_FILE_NOT_FOUND, Platform.GetLastError()) << c.commandLine;
        }
        ASSERT_FALSE(Sim().launches.empty());
        EXPECT_EQ(c.commandLine, Sim().launches.back().commandLine);
        EXPECT_EQ(PS_CREATE_NO_WINDOW, Sim().launches.back().creationFlags);
        EXPECT_EQ(sizeof(PsStartupInfo), Sim().launches.back().startupInfo.cb);
    }
    EXPECT_EQ(0, Sim().openHandles);

    // A callback decides alone, also for a program that is not there.
    Sim().onLaunch = [](const std::string& commandLine) {
        return SimProcessScript{SIM_PROCESS_ENDS, commandLine.find("rescan") != std::string::npos ? 7u : 0u};
    };
    PsProcessInformation process{};
    ASSERT_NE(StartProcess("C:\\pkg\\Missing.exe rescan", &process, 0), 0);
    uint32_t code = 0;
    EXPECT_EQ(PS_WAIT_OBJECT_0, Platform.WaitForSingleObject(process.hProcess, 30000));
    EXPECT_NE(Platform.GetExitCodeProcess(process.hProcess, &code), 0);
    EXPECT_EQ(7u, code);
    Platform.CloseHandle(process.hThread);
    Platform.CloseHandle(process.hProcess);
}

TEST_F(SimulatedPlatformTest, WaitsAreRecordedAndFollowTheScript)
{
    Write("C:\\pkg\\MERVODevCtl.exe", "MZ");
    struct {
        SimProcessScript script;
        uint32_t waitResult;
        uint32_t exitCode;
    } const cases[] = {
        {{SIM_PROCESS_ENDS, 0}, PS_WAIT_OBJECT_0, 0},
        {{SIM_PROCESS_ENDS, 42}, PS_WAIT_OBJECT_0, 42},
        {{SIM_PROCESS_RUNS_PAST_WAIT, 0}, PS_WAIT_TIMEOUT, PS_STILL_ACTIVE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << (&c - &cases[0]));
        Sim().process = c.script;
        PsProcessInformation process{};
        ASSERT_NE(StartProcess("C:\\pkg\\MERVODevCtl.exe rescan", &process, 0), 0);
        EXPECT_EQ(2, Sim().openHandles);
        EXPECT_EQ(c.waitResult, Platform.WaitForSingleObject(process.hProcess, 30000));
        uint32_t code = 12345;
        EXPECT_NE(Platform.GetExitCodeProcess(process.hProcess, &code), 0);
        EXPECT_EQ(c.exitCode, code);
        EXPECT_EQ(std::vector<uint32_t>{30000}, Sim().launches.back().waits);
        EXPECT_NE(Platform.CloseHandle(process.hProcess), 0);
        EXPECT_NE(Platform.CloseHandle(process.hThread), 0);
        EXPECT_EQ(0, Sim().openHandles);
        // A closed handle is no longer valid.
        EXPECT_EQ(0, Platform.CloseHandle(process.hProcess));
        EXPECT_EQ(6u, Platform.GetLastError());
        EXPECT_EQ(PS_WAIT_FAILED, Platform.WaitForSingleObject(process.hProcess, 10));
    }

    Sim().process = SimProcessScript{SIM_PROCESS_FAILS_TO_START, 0};
    PsProcessInformation process{};
    EXPECT_EQ(0, StartProcess("C:\\pkg\\MERVODevCtl.exe rescan", &process, 0));
    EXPECT_EQ(PS_ERROR_FILE_NOT_FOUND, Platform.GetLastError());
    EXPECT_EQ(0, Sim().openHandles);
}

}  // namespace
