// Under Wine, as a deployment system runs the stager: several runs at once on
// one machine (one at a time get the machine's turn; the log afterwards is
// one whole run's), the processes a run starts running under its turn, the
// companion tool's status as a detection rule through a package's life, and
// a run stopped while it copies a large driver file.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Deployment.h"
#include "StagerTest.h"

namespace {

using e2e::Entry;

const std::string kLogCreated = "Log created: ";
const std::string kWaitedPrefix = "Waited ";

class Deployment : public StagerTest {
protected:
    void SetUp() override
    {
        StagerTest::SetUp();
        PrepareWithCompanionTool();
        NothingInstalled();
    }
    void TearDown() override
    {
        NothingInstalled();
        StagerTest::TearDown();
    }

    // No copy of the package's INF staged, none of its driver files in place.
    void NothingInstalled()
    {
        e2e::RemoveStagedCopies(PackageFile("MERVOUSB.inf"));
        for (const char* name : {"mervousb.sys", "mervoser.sys", "big.sys"}) {
            e2e::RemoveFile(e2e::JoinPath(e2e::DriversFolder(), name));
        }
    }

    std::string Stager() const { return "\"" + PackageFile("MERVODriverStager.exe") + "\""; }

    // MERVODevCtl status on the package's INF: its exit code and its one line.
    e2e::ConsoleRun Status()
    {
        e2e::ConsoleRun run = e2e::RunConsole("\"" + PackageFile("MERVODevCtl.exe") + "\" status \"" +
                                              PackageFile("MERVOUSB.inf") + "\"");
        EXPECT_EQ(1, std::count(run.output.begin(), run.output.end(), '\n')) << run.output;
        return run;
    }

    bool DriverFileWhole(const std::string& name) const
    {
        bool read = false;
        return e2e::ReadFileBytes(e2e::JoinPath(e2e::DriversFolder(), name), &read) ==
                   e2e::ReadFileBytes(PackageFile(name)) &&
               read;
    }

    // Starts `commandLine` while `turn` is held, shows that it waits, gives
    // the turn back after 1.5 s and gives the program's exit code.
    static DWORD WaitsForTheTurn(e2e::HeldTurn* turn, const std::string& commandLine)
    {
        e2e::StartedProgram program = e2e::StartProgram(commandLine);
        Sleep(1500);
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(program.process, 0)) << "did not wait: " << commandLine;
        turn->Release();
        e2e::RunResult run = e2e::FinishProgram(&program, 60000);
        EXPECT_GE(run.elapsedMs, 1400u);
        return run.exitCode;
    }

    // The steps of the run log, time stamps removed.
    static std::vector<std::string> Steps()
    {
        bool present = false;
        std::vector<std::string> steps = e2e::RunLogSteps(&present);
        EXPECT_TRUE(present);
        return steps;
    }
};

size_t CountEntries(const std::vector<std::string>& entries, const std::string& module,
                    const std::string& function, const std::string& textStart)
{
    const std::string start = Entry(module, function, textStart);
    return static_cast<size_t>(std::count_if(entries.begin(), entries.end(), [&](const std::string& entry) {
        return entry.rfind(start, 0) == 0;
    }));
}

TEST_F(Deployment, EightRunsAtOnceEndWith0AndLeaveOneWholeRun)
{
    const std::string desktop = e2e::InvisibleDesktop("MERVODeployment");
    ASSERT_FALSE(desktop.empty());
    std::vector<e2e::StartedProgram> programs;
    for (int i = 0; i < 8; ++i) {
        programs.push_back(e2e::StartProgram(Stager() + " nodisplay", desktop));
    }
    DWORD longest = 0;
    for (e2e::StartedProgram& program : programs) {
        e2e::RunResult run = e2e::FinishProgram(&program, 240000);
        EXPECT_EQ(0u, run.exitCode);
        longest = std::max(longest, run.elapsedMs);
    }

    // The log is the last run's, whole: the banner, the steps of one run in
    // their order, the closing line. That run waited for the seven others.
    std::vector<std::string> entries = e2e::RunLogEntries();
    ASSERT_GE(entries.size(), 6u);
    EXPECT_EQ(e2e::kLogBanner1, entries[0]);
    EXPECT_EQ(e2e::kLogClosingLine, entries.back());
    EXPECT_EQ(1, std::count(entries.begin(), entries.end(), e2e::kLogBanner2));
    EXPECT_EQ(1, std::count(entries.begin(), entries.end(), e2e::kLogClosingLine));
    std::vector<std::string> steps = Steps();
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(0u, steps[0].rfind(Entry("MERVODriverStager", "WinMain", kLogCreated), 0)) << steps[0];
    ASSERT_EQ(0u, steps[1].rfind(Entry("MERVODriverStager", "WinMain", kWaitedPrefix), 0)) << steps[1];
    for (const char* once : {"Driver files copied OK.", "Driver pre-installed OK."}) {
        EXPECT_EQ(1u, CountEntries(steps, "MERVODriverStager", "Default_Pre_Installer", once)) << once;
    }
    EXPECT_EQ(1u, CountEntries(steps, "MERVODriverStager", "RemoveDriverInstances",
                               "Driver instances removed OK."));
    EXPECT_EQ(1u, CountEntries(steps, "MERVODriverStager", "RemountDriverInstances",
                               "Driver instances mounted OK."));
    EXPECT_EQ(1u, CountEntries(steps, "MERVODriverStager", "WinMain", kLogCreated));
    // The companion tool ran under each run's turn: it never waited for it.
    EXPECT_EQ(0u, CountEntries(steps, "Dirs", "LaunchAndWait", "Process timed out."));
    EXPECT_EQ(0u, CountEntries(steps, "MERVODriverStager", "WinMain", "The installation before"));

    // One staged copy, whole driver files.
    EXPECT_EQ(1u, e2e::StagedCopies(PackageFile("MERVOUSB.inf")).size());
    EXPECT_TRUE(DriverFileWhole("mervousb.sys"));
    EXPECT_TRUE(DriverFileWhole("mervoser.sys"));
    EXPECT_EQ(0u, Status().exitCode);

    // The figures for the notes: how long the eighth run waited for its turn.
    const std::string waited = steps[1].substr(steps[1].find(kWaitedPrefix) + kWaitedPrefix.size());
    printf("[deployment] eight runs at once: the eighth waited %s; the longest run took %lu ms\n",
           waited.substr(0, waited.find(' ')).c_str(), static_cast<unsigned long>(longest));
}

// A program started by the holder of the machine's turn, which names itself,
// runs under that turn; started by anyone else, it waits for it.
TEST_F(Deployment, OnlyTheHoldersOwnProgramsRunUnderItsTurn)
{
    e2e::HeldTurn turn;
    ASSERT_TRUE(turn.Held());
    const std::string self = std::to_string(GetCurrentProcessId());
    // Named by this process, its parent: no wait, the tool under the same turn.
    e2e::RunResult named = Run("nodisplay", {{"MERVO_MACHINE_TURN", self}});
    EXPECT_EQ(0u, named.exitCode);
    std::vector<std::string> steps = Steps();
    EXPECT_EQ(0u, CountEntries(steps, "MERVODriverStager", "WinMain", kWaitedPrefix));
    EXPECT_EQ(0u, CountEntries(steps, "Dirs", "LaunchAndWait", "Process timed out."));
    EXPECT_EQ(1u, CountEntries(steps, "MERVODriverStager", "RemountDriverInstances",
                               "Driver instances mounted OK."));

    // Not named: the run waits until this process gives the turn back.
    EXPECT_EQ(0u, WaitsForTheTurn(&turn, Stager() + " nodisplay"));
    steps = Steps();
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(0u, steps[1].rfind(Entry("MERVODriverStager", "WinMain", kWaitedPrefix), 0)) << steps[1];

    // The companion tool started on its own waits the same way.
    e2e::HeldTurn again;
    ASSERT_TRUE(again.Held());
    EXPECT_EQ(0u, WaitsForTheTurn(&again, "\"" + PackageFile("MERVODevCtl.exe") + "\" unstage \"" +
                                              PackageFile("MERVOUSB.inf") + "\" force"));
}

TEST_F(Deployment, StatusFollowsThePackageThroughItsLife)
{
    const std::string drivers = e2e::DriversFolder();
    struct Step {
        const char* name;
        std::function<void()> change;
        DWORD exitCode;
        const char* lineStart;
    };
    const Step steps[] = {
        {"before any run", [] {}, 73, "Not staged: no copy of "},
        {"after a run", [this] { EXPECT_EQ(0u, Run("nodisplay").exitCode); }, 0, "Staged as "},
        {"a driver file changed",
         [&] { EXPECT_TRUE(e2e::WriteFileBytes(e2e::JoinPath(drivers, "mervoser.sys"), "changed")); }, 87,
         "Not whole: the driver file "},
        {"a driver file removed",
         [&] {
             EXPECT_TRUE(
                 e2e::CopyOneFile(PackageFile("mervoser.sys"), e2e::JoinPath(drivers, "mervoser.sys")));
             EXPECT_TRUE(e2e::RemoveFile(e2e::JoinPath(drivers, "mervousb.sys")));
         },
         87, "Not whole: the driver file "},
        {"put back",
         [&] {
             EXPECT_TRUE(
                 e2e::CopyOneFile(PackageFile("mervousb.sys"), e2e::JoinPath(drivers, "mervousb.sys")));
         },
         0, "Staged as "},
        {"after unstage",
         [&] {
             e2e::ConsoleRun unstage =
                 e2e::RunConsole("\"" + PackageFile("MERVODevCtl.exe") + "\" unstage \"" +
                                 PackageFile("MERVOUSB.inf") + "\" force");
             EXPECT_EQ(0u, unstage.exitCode) << unstage.output;
         },
         73, "Not staged: no copy of "},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        e2e::ConsoleRun status = Status();
        EXPECT_EQ(step.exitCode, status.exitCode) << status.output;
        EXPECT_EQ(0u, status.output.rfind(step.lineStart, 0)) << status.output;
    }
}

// A run stopped while it copies a large driver file leaves the package not
// whole, and status says so; the next run makes it whole again.
TEST_F(Deployment, ARunStoppedWhileCopyingIsMadeWholeByTheNext)
{
    // 192 MiB: long enough to be caught in the middle of its copy.
    const std::string bigName = "big.sys";
    {
        std::string block(1 << 20, '\0');
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i * 7 + i / 4096);
        }
        HANDLE file =
            CreateFileA(PackageFile(bigName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        for (int i = 0; i < 192; ++i) {
            block[0] = static_cast<char>(i);
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr));
        }
        CloseHandle(file);
    }
    std::string inf = e2e::ReadFileBytes(PackageFile("MERVOUSB.inf"));
    const size_t section = inf.find("[SourceDisksFiles]");
    ASSERT_NE(std::string::npos, section);
    inf.insert(inf.find('\n', section) + 1, bigName + "=1\r\n");
    ASSERT_TRUE(e2e::WriteFileBytes(PackageFile("MERVOUSB.inf"), inf));
    const std::string target = e2e::JoinPath(e2e::DriversFolder(), bigName);
    const ULONGLONG fullSize = 192ull << 20;

    // Stopped in the middle of the copy (tried again should the copy be over first).
    const std::string desktop = e2e::InvisibleDesktop("MERVODeployment");
    bool caught = false;
    for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
        e2e::RemoveFile(target);
        e2e::StartedProgram run = e2e::StartProgram(Stager() + " nodisplay", desktop);
        ASSERT_NE(nullptr, run.process);
        while (WaitForSingleObject(run.process, 0) == WAIT_TIMEOUT) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data)) {
                ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
                if (size > 0 && size < fullSize) {
                    caught = TerminateProcess(run.process, 0xDEAD) != 0;
                    break;
                }
            }
        }
        e2e::FinishProgram(&run, 10000);
    }
    ASSERT_TRUE(caught) << "every copy was over before the run could be stopped";

    e2e::ConsoleRun stopped = Status();
    EXPECT_NE(0u, stopped.exitCode) << stopped.output;
    EXPECT_TRUE(stopped.exitCode == 73 || stopped.exitCode == 87) << stopped.output;
    printf("[deployment] after a run stopped while copying %s: status %lu: %s", bigName.c_str(),
           static_cast<unsigned long>(stopped.exitCode), stopped.output.c_str());

    EXPECT_EQ(0u, Run("nodisplay", {}, 120000).exitCode);
    e2e::ConsoleRun whole = Status();
    EXPECT_EQ(0u, whole.exitCode) << whole.output;
    EXPECT_TRUE(DriverFileWhole(bigName));
    e2e::RemoveFile(PackageFile(bigName));
}

}  // namespace
