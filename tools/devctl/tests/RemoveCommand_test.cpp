#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DevCtl.h"
#include "InfFixtures.h"
#include "SimulatedDevCtl.h"
#include "TestFiles.h"

namespace {

// The example package: two products of vendor 0123.
std::string ExampleInf()
{
    return WriteTestFile("example.inf", TwoDeviceInf());
}

// Adds the usual tree: two served instances (one only through a longer
// hardware id, one only through its compatible ids), an instance of the same
// vendor's other product, another vendor's product, and a device without ids.
void AddUsualTree()
{
    SimAddDevice("USB\\VID_0123&PID_4567\\5&1",
                 {"USB\\VID_0123&PID_4567&REV_0100", "USB\\VID_0123&PID_4567"});
    SimAddDevice("USB\\VID_0123&PID_9999\\5&2", {"USB\\VID_0123&PID_9999&REV_0100"}, {"USB\\Class_02"});
    SimAddDevice("USB\\VID_4567&PID_0123\\5&3", {"USB\\VID_4567&PID_0123"});
    SimAddDevice("ROOT\\LEGACY\\0000", {});
    SimAddDevice("USB\\VID_0123&PID_89AB&MI_00\\6&4", {"USB\\VID_0123&PID_89AB&REV_0200&MI_00"},
                 {"usb\\vid_0123&pid_89ab&mi_00", "USB\\Class_02&SubClass_02"});
}

const std::vector<std::string> USUAL_LEFT = {"USB\\VID_0123&PID_9999\\5&2", "USB\\VID_4567&PID_0123\\5&3",
                                             "ROOT\\LEGACY\\0000"};

struct TreeCase {
    const char* name;
    const char* pattern;
    bool wine;          // class-install parameters refused
    bool dropsElement;  // a removed element leaves the set
    int exitCode;
    std::vector<std::string> left;
};

// clang-format off
const TreeCase TREE_CASES[] = {
    {"Windows: the class installer removes", "*VID_0123*", false, false, DEVCTL_EXIT_OK, USUAL_LEFT},
    {"Wine: direct removal after refused params", "*VID_0123*", true, false, DEVCTL_EXIT_OK,
     USUAL_LEFT},
    {"set drops removed elements", "*VID_0123*", true, true, DEVCTL_EXIT_OK, USUAL_LEFT},
    {"pattern in lower case", "*vid_0123*", false, false, DEVCTL_EXIT_OK, USUAL_LEFT},
    {"narrower pattern", "*PID_4567*", true, false, DEVCTL_EXIT_OK,
     {"USB\\VID_0123&PID_9999\\5&2", "USB\\VID_4567&PID_0123\\5&3", "ROOT\\LEGACY\\0000",
      "USB\\VID_0123&PID_89AB&MI_00\\6&4"}},
    {"pattern of another vendor: served by nothing", "*VID_4567*", true, false, DEVCTL_EXIT_OK,
     {"USB\\VID_0123&PID_4567\\5&1", "USB\\VID_0123&PID_9999\\5&2", "USB\\VID_4567&PID_0123\\5&3",
      "ROOT\\LEGACY\\0000", "USB\\VID_0123&PID_89AB&MI_00\\6&4"}},
    {"pattern matching only a compatible id", "*Class_02&SubClass_02", false, false,
     DEVCTL_EXIT_OK,
     {"USB\\VID_0123&PID_4567\\5&1", "USB\\VID_0123&PID_9999\\5&2", "USB\\VID_4567&PID_0123\\5&3",
      "ROOT\\LEGACY\\0000"}},
};
// clang-format on

TEST(RemoveCommand, RemovesExactlyTheServedMatchingInstances)
{
    for (const TreeCase& c : TREE_CASES) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        AddUsualTree();
        SimTree().classInstallParamsFail = c.wine;
        SimTree().removalDropsElement = c.dropsElement;
        EXPECT_EQ(c.exitCode, RemoveMatchingInstances(ExampleInf().c_str(), c.pattern));
        EXPECT_EQ(c.left, SimRemainingDevices());
        EXPECT_EQ(0, SimTree().openSets);
    }
}

TEST(RemoveCommand, NeighbouringInstancesAreAllRemovedWhetherOrNotTheSetShrinks)
{
    for (bool dropsElement : {false, true}) {
        SCOPED_TRACE(testing::Message() << "removal drops the element: " << dropsElement);
        SimTreeReset();
        SimTree().classInstallParamsFail = true;
        SimTree().removalDropsElement = dropsElement;
        SimAddDevice("ROOT\\PORTS\\0000", {"USB\\VID_0123&PID_4567"});
        SimAddDevice("ROOT\\PORTS\\0001", {"USB\\VID_0123&PID_4567"});
        SimAddDevice("ROOT\\PORTS\\0002", {"USB\\VID_0123&PID_0001"});
        SimAddDevice("ROOT\\PORTS\\0003", {"USB\\VID_0123&PID_4567"});
        SimAddDevice("ROOT\\PORTS\\0004", {"USB\\VID_0123&PID_4567"});
        EXPECT_EQ(DEVCTL_EXIT_OK, RemoveMatchingInstances(ExampleInf().c_str(), "*VID_0123*"))
            << dropsElement;
        EXPECT_EQ(std::vector<std::string>{"ROOT\\PORTS\\0002"}, SimRemainingDevices()) << dropsElement;
    }
}

TEST(RemoveCommand, ReportsEachRemovalAndASummary)
{
    SimTreeReset();
    AddUsualTree();
    EXPECT_EQ(DEVCTL_EXIT_OK, RemoveMatchingInstances(ExampleInf().c_str(), "*VID_0123*"));
    EXPECT_EQ((std::vector<std::string>{
                  "Removed USB\\VID_0123&PID_89AB&MI_00\\6&4 (matching "
                  "usb\\vid_0123&pid_89ab&mi_00) through the class installer.",
                  "Removed USB\\VID_0123&PID_4567\\5&1 (matching USB\\VID_0123&PID_4567&REV_0100) "
                  "through the class installer.",
                  "5 device instance(s) listed, 2 matching: 2 removed, 0 failed."}),
              SimTree().output);
    // The usual way first: parameters, then the class installer; nothing else.
    EXPECT_EQ((std::vector<std::string>{"SetClassInstallParams USB\\VID_0123&PID_89AB&MI_00\\6&4",
                                        "CallClassInstaller USB\\VID_0123&PID_89AB&MI_00\\6&4",
                                        "SetClassInstallParams USB\\VID_0123&PID_4567\\5&1",
                                        "CallClassInstaller USB\\VID_0123&PID_4567\\5&1"}),
              SimTree().removalSteps);
}

TEST(RemoveCommand, FallsBackToDirectRemovalWhenAStepFails)
{
    // Wine: the parameters are refused, the class installer is never called.
    SimTreeReset();
    SimTree().classInstallParamsFail = true;
    SimAddDevice("ROOT\\PORTS\\0000", {"USB\\VID_0123&PID_4567"});
    EXPECT_EQ(DEVCTL_EXIT_OK, RemoveMatchingInstances(ExampleInf().c_str(), "*VID_0123*"));
    EXPECT_EQ((std::vector<std::string>{"SetClassInstallParams ROOT\\PORTS\\0000",
                                        "RemoveDevice ROOT\\PORTS\\0000"}),
              SimTree().removalSteps);
    EXPECT_EQ(
        "Removed ROOT\\PORTS\\0000 (matching USB\\VID_0123&PID_4567) with "
        "SetupDiRemoveDevice after SetupDiSetClassInstallParams failed (error 0xE000020B).",
        SimTree().output.at(0));

    // The class installer fails: direct removal too.
    SimTreeReset();
    SimAddDevice("ROOT\\PORTS\\0000", {"USB\\VID_0123&PID_4567"}).classInstallerFails = true;
    EXPECT_EQ(DEVCTL_EXIT_OK, RemoveMatchingInstances(ExampleInf().c_str(), "*VID_0123*"));
    EXPECT_TRUE(SimRemainingDevices().empty());
    EXPECT_EQ(
        (std::vector<std::string>{"SetClassInstallParams ROOT\\PORTS\\0000",
                                  "CallClassInstaller ROOT\\PORTS\\0000", "RemoveDevice ROOT\\PORTS\\0000"}),
        SimTree().removalSteps);
    EXPECT_NE(std::string::npos,
              SimTree().output.at(0).find("after SetupDiCallClassInstaller(DIF_REMOVE) failed"));
}

TEST(RemoveCommand, AFailedRemovalGoesOnAndEndsNonzero)
{
    SimTreeReset();
    SimTree().classInstallParamsFail = true;
    SimAddDevice("ROOT\\PORTS\\0000", {"USB\\VID_0123&PID_4567"});
    SimAddDevice("ROOT\\PORTS\\0001", {"USB\\VID_0123&PID_4567"}).removeFails = true;
    SimAddDevice("ROOT\\PORTS\\0002", {"USB\\VID_0123&PID_4567"});
    EXPECT_EQ(DEVCTL_EXIT_REMOVE_FAILED, RemoveMatchingInstances(ExampleInf().c_str(), "*VID_0123*"));
    EXPECT_EQ(std::vector<std::string>{"ROOT\\PORTS\\0001"}, SimRemainingDevices());
    EXPECT_EQ(
        (std::vector<std::string>{"Removed ROOT\\PORTS\\0002 (matching USB\\VID_0123&PID_4567) with "
                                  "SetupDiRemoveDevice after SetupDiSetClassInstallParams failed (error "
                                  "0xE000020B).",
                                  "Failed to remove ROOT\\PORTS\\0001 (matching USB\\VID_0123&PID_4567): "
                                  "SetupDiSetClassInstallParams error 0xE000020B, SetupDiRemoveDevice error "
                                  "0xE000020B.",
                                  "Removed ROOT\\PORTS\\0000 (matching USB\\VID_0123&PID_4567) with "
                                  "SetupDiRemoveDevice after SetupDiSetClassInstallParams failed (error "
                                  "0xE000020B).",
                                  "3 device instance(s) listed, 3 matching: 2 removed, 1 failed."}),
        SimTree().output);
}

TEST(RemoveCommand, NothingMatchingIsSuccess)
{
    SimTreeReset();
    EXPECT_EQ(DEVCTL_EXIT_OK, RemoveMatchingInstances(ExampleInf().c_str(), "*VID_0123*"));
    EXPECT_EQ(std::vector<std::string>{"0 device instance(s) listed, 0 matching: 0 removed, 0 failed."},
              SimTree().output);
    EXPECT_TRUE(SimTree().removalSteps.empty());
}

struct FailureCase {
    const char* name;
    std::string infText;  // empty: no INF file at all
    bool listFails;
    int exitCode;
    const char* firstLine;
};

TEST(RemoveCommand, FailuresBeforeAnyRemovalHaveTheirOwnCodes)
{
    std::string manyIds;
    for (int i = 0; i <= 512; ++i) {
        char line[64];
        snprintf(line, sizeof line, "%%A%%=I, USB\\VID_0123&PID_%04X\n", i);
        manyIds += line;
    }
    // clang-format off
    const FailureCase cases[] = {
        {"no INF", "", false, DEVCTL_EXIT_INF_UNREADABLE, "Cannot open the INF file "},
        {"INF without USB ids", "[Version]\n%A%=I, PCI\\VEN_8086\n", false,
         DEVCTL_EXIT_INF_NO_IDS, "The INF file "},
        {"INF with too many ids", manyIds, false, DEVCTL_EXIT_INF_TOO_MANY_IDS, "The INF file "},
        {"device list unavailable", TwoDeviceInf(), true, DEVCTL_EXIT_NO_DEVICE_LIST,
         "Cannot list the device instances (error 0x00000057)."},
    };
    // clang-format on
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        AddUsualTree();
        SimTree().listFails = c.listFails;
        std::string path =
            c.infText.empty() ? std::string("C:\\absent.inf") : WriteTestFile("failure.inf", c.infText);
        EXPECT_EQ(c.exitCode, RemoveMatchingInstances(path.c_str(), "*VID_0123*"));
        ASSERT_EQ(1u, SimTree().output.size());
        EXPECT_EQ(0u, SimTree().output[0].find(c.firstLine)) << SimTree().output[0];
        EXPECT_EQ(5u, SimRemainingDevices().size());
        EXPECT_EQ(0, SimTree().openSets);
    }
}

TEST(RemoveCommand, LongIdsAreReadSafely)
{
    // An instance whose id list does not fit the tool's buffer reads as having
    // no ids and is left alone; one that fits exactly is handled.
    SimTreeReset();
    std::string longId = "USB\\VID_0123&PID_4567&" + std::string(5000, 'X');
    SimAddDevice("ROOT\\PORTS\\0000", {longId});
    std::vector<std::string> many(180, "USB\\VID_0123&PID_4567&REV_0001");  // 180 * 31 = 5580
    SimAddDevice("ROOT\\PORTS\\0001", many);
    std::vector<std::string> fitting(130, "USB\\VID_0123&PID_4567&REV_0001");  // 4031 bytes
    SimAddDevice("ROOT\\PORTS\\0002", fitting);
    EXPECT_EQ(DEVCTL_EXIT_OK, RemoveMatchingInstances(ExampleInf().c_str(), "*"));
    EXPECT_EQ((std::vector<std::string>{"ROOT\\PORTS\\0000", "ROOT\\PORTS\\0001"}), SimRemainingDevices());
}

}  // namespace
