// Under Wine: a whole run with the real companion tool (the x86_64
// MERVODevCtl64.exe under the plain name, or the 32-bit tool with it beside)
// against device instances made in
// the prefix's device tree. The run must remove exactly the instances that the
// example INF serves, and the tool's rescan, which Wine answers with
// CR_FAILURE, must leave the run's result alone.
#include <algorithm>
#include <string>
#include <vector>

#include "StagerTest.h"
#include "TestDevices.h"

namespace {

using e2e::Entry;

// Instances made before the run, and whether the example INF serves them
// (it names USB\VID_1A2B&PID_0001 and ..._0002; the stager asks the tool to
// remove *VID_1A2B*).
struct Instance {
    const char* hardwareId;
    bool served;
};
const Instance kInstances[] = {
    {"USB\\VID_1A2B&PID_0001", true},           // named by the INF
    {"USB\\VID_1A2B&PID_0002&REV_0100", true},  // named, with a revision part after it
    {"USB\\VID_1A2B&PID_0099", false},          // same vendor, a product the INF does not name
    {"USB\\VID_1A2B&PID_00011", false},         // a named id's text, not ending at an id part
    {"USB\\VID_2C3D&PID_0001", false},          // another vendor
};

// What the configuration manager answers under Wine to the rescan.
const DWORD kCrFailure = 19;

class DeviceRemoval : public StagerTest {
protected:
    void SetUp() override
    {
        StagerTest::SetUp();
        PrepareWithCompanionTool();
        RemoveTestInstances();
    }
    void TearDown() override
    {
        RemoveTestInstances();
        StagerTest::TearDown();
    }

    // Leaves no instance with one of the test's ids (from an earlier, failed run
    // or from this one).
    static void RemoveTestInstances()
    {
        for (const Instance& instance : kInstances) {
            EXPECT_GE(RemoveDevicesWithHardwareId(instance.hardwareId), 0) << instance.hardwareId;
            EXPECT_EQ(0, CountDevicesWithHardwareId(instance.hardwareId)) << instance.hardwareId;
        }
    }

    static void CreateInstance(const char* hardwareId)
    {
        char instanceId[200] = "";
        ASSERT_EQ(0, CreateTestDevice(&hardwareId, 1, instanceId, sizeof instanceId)) << hardwareId;
        ASSERT_EQ(1, CountDevicesWithHardwareId(hardwareId)) << hardwareId;
    }

    // Runs the package's MERVODevCtl.exe with an argument text; its exit code.
    DWORD RunTool(const std::string& argumentText)
    {
        e2e::RunResult run = e2e::RunStager({PackageFile("MERVODevCtl.exe"), argumentText, {}, 30000});
        EXPECT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_TRUE(run.boxes.empty());
        return run.exitCode;
    }
};

// The run removes the served instances only, stages the package and ends
// with 0, although the tool's rescan fails under Wine. (The staged INF is
// told by the log: earlier suites in the prefix may have stored the same
// INF under another name, which the Setup API then keeps.)
TEST_F(DeviceRemoval, WholeRunRemovesOnlyTheInstancesTheInfServes)
{
    for (const Instance& instance : kInstances)
        CreateInstance(instance.hardwareId);
    e2e::WineVersion version("win7");

    e2e::RunResult run = Run("nodisplay");

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    for (const Instance& instance : kInstances) {
        EXPECT_EQ(CountDevicesWithHardwareId(instance.hardwareId), instance.served ? 0 : 1)
            << instance.hardwareId;
    }

    std::vector<std::string> steps = e2e::RunLogSteps();
    EXPECT_TRUE(InOrder(
        steps, {Entry("MERVODriverStager", "RemoveDriverInstances", "Driver instances removed OK."),
                SequenceEntry("Driver files copied OK."), SequenceEntry("Driver pre-installed OK."),
                Entry("MERVODriverStager", "RemountDriverInstances", "Driver instances mounted OK.")}))
        << ::testing::PrintToString(steps);
    // The real tool ends well within the stager's 30-second wait.
    EXPECT_EQ(0,
              std::count(steps.begin(), steps.end(), Entry("Dirs", "LaunchAndWait", "Process timed out.")));

    // The same tool, started with the rescan command the stager gave it,
    // reports CR_FAILURE: the run's 0 above is not the tool's answer.
    EXPECT_EQ(kCrFailure, RunTool("rescan"));
}

}  // namespace
