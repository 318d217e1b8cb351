#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "DevCtl.h"
#include "SimulatedDevCtl.h"
#include "TestFiles.h"

namespace {

const char INF[] = "C:\\pkg\\MERVOUSB.inf";
const char STORE[] = "C:\\WINDOWS\\inf";
const char DRIVERS[] = "C:\\WINDOWS\\System32\\Drivers";

// The package: two driver files the stager copies, and entries it passes
// over (a comment, an indented line, a name with a folder).
const std::string PKG =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
    "[Models]\r\n%D%=Install, USB\\VID_0123&PID_4567\r\n"
    "[SourceDisksFiles]\r\n;old.sys=1\r\n mervoold.sys=1\r\nsub\\other.sys=1\r\nmervousb.sys=1\r\n"
    "mervoser.sys=1\r\n[Strings]\r\nD=\"Example\"\r\n";
// An earlier version of it: the same device, other bytes.
const std::string EARLIER = PKG + "; version 1\r\n";
// An INF of another vendor's device.
const std::string STRANGER = "[Models]\r\n%D%=Install, USB\\VID_4567&PID_0123\r\n";
const std::string USB_SYS = "USB driver bytes";
const std::string SER_SYS = "serial driver bytes";

typedef std::vector<std::pair<std::string, std::string>> Files;  // Windows path, bytes; "" bytes: absent

struct StatusRow {
    const char* name;
    Files files;  // beyond the package, the store copy oem3.inf and both driver files in place
    int exitCode;
    std::string line;
};

const Files IN_PLACE = {};

// clang-format off
const StatusRow ROWS[] = {
    {"in place", IN_PLACE, DEVCTL_EXIT_OK,
     "Staged as C:\\WINDOWS\\inf\\oem3.inf, and its 2 driver file(s) are in C:\\WINDOWS\\System32\\Drivers."},
    {"staged under its own name, as Wine keeps it",
     {{"C:\\WINDOWS\\inf\\oem3.inf", ""}, {"C:\\WINDOWS\\inf\\MERVOUSB.inf", PKG}}, DEVCTL_EXIT_OK,
     "Staged as C:\\WINDOWS\\inf\\MERVOUSB.inf, and its 2 driver file(s) are in C:\\WINDOWS\\System32\\Drivers."},
    {"not staged", {{"C:\\WINDOWS\\inf\\oem3.inf", ""}}, DEVCTL_EXIT_NOT_STAGED,
     "Not staged: no copy of C:\\pkg\\MERVOUSB.inf is in C:\\WINDOWS\\inf."},
    {"only other devices' INFs", {{"C:\\WINDOWS\\inf\\oem3.inf", STRANGER}, {"C:\\WINDOWS\\inf\\usb.inf", EARLIER}},
     DEVCTL_EXIT_NOT_STAGED, "Not staged: no copy of C:\\pkg\\MERVOUSB.inf is in C:\\WINDOWS\\inf."},
    {"another version under its own name", {{"C:\\WINDOWS\\inf\\oem3.inf", ""}, {"C:\\WINDOWS\\inf\\mervousb.INF", STRANGER}},
     DEVCTL_EXIT_OTHER_VERSION_STAGED,
     "Another version is staged: C:\\WINDOWS\\inf\\mervousb.INF is not C:\\pkg\\MERVOUSB.inf."},
    {"another version as Windows names it", {{"C:\\WINDOWS\\inf\\oem3.inf", ""}, {"C:\\WINDOWS\\inf\\oem12.inf", EARLIER}},
     DEVCTL_EXIT_OTHER_VERSION_STAGED,
     "Another version is staged: C:\\WINDOWS\\inf\\oem12.inf is not C:\\pkg\\MERVOUSB.inf."},
    {"this version beside an earlier one", {{"C:\\WINDOWS\\inf\\oem12.inf", EARLIER}}, DEVCTL_EXIT_OK, ""},
    {"a driver file missing", {{"C:\\WINDOWS\\System32\\Drivers\\mervoser.sys", ""}}, DEVCTL_EXIT_DRIVER_FILE_NOT_WHOLE,
     "Not whole: the driver file C:\\WINDOWS\\System32\\Drivers\\mervoser.sys is missing."},
    {"a driver file cut short (a run stopped while copying)",
     {{"C:\\WINDOWS\\System32\\Drivers\\mervousb.sys", USB_SYS.substr(0, 7)}}, DEVCTL_EXIT_DRIVER_FILE_NOT_WHOLE,
     "Not whole: the driver file C:\\WINDOWS\\System32\\Drivers\\mervousb.sys is not the package's "
     "C:\\pkg\\mervousb.sys."},
    {"a driver file changed", {{"C:\\WINDOWS\\System32\\Drivers\\mervoser.sys", "serial driver bytez"}},
     DEVCTL_EXIT_DRIVER_FILE_NOT_WHOLE,
     "Not whole: the driver file C:\\WINDOWS\\System32\\Drivers\\mervoser.sys is not the package's "
     "C:\\pkg\\mervoser.sys."},
    {"a driver file longer", {{"C:\\WINDOWS\\System32\\Drivers\\mervoser.sys", SER_SYS + "!"}},
     DEVCTL_EXIT_DRIVER_FILE_NOT_WHOLE, "Not whole: the driver file C:\\WINDOWS\\System32\\Drivers\\mervoser.sys is not"},
    {"the package without a driver file", {{"C:\\pkg\\mervoser.sys", ""}}, DEVCTL_EXIT_PACKAGE_FILE_UNREADABLE,
     "Cannot read the package's driver file C:\\pkg\\mervoser.sys."},
    {"no INF", {{INF, ""}}, DEVCTL_EXIT_INF_UNREADABLE,
     "Cannot read the INF file C:\\pkg\\MERVOUSB.inf (absent, unreadable or empty)."},
};
// clang-format on

TEST(StatusCommand, TellsWhetherThePackageIsInPlaceInOneLineAndChangesNothing)
{
    for (const StatusRow& row : ROWS) {
        SCOPED_TRACE(row.name);
        SimTreeReset();
        std::map<std::string, std::string> files = {
            {INF, PKG},
            {"C:\\pkg\\mervousb.sys", USB_SYS},
            {"C:\\pkg\\mervoser.sys", SER_SYS},
            {"C:\\WINDOWS\\inf\\oem3.inf", PKG},
            {"C:\\WINDOWS\\inf\\oem3.pnf", "compiled"},
            {"C:\\WINDOWS\\System32\\Drivers\\mervousb.sys", USB_SYS},
            {"C:\\WINDOWS\\System32\\Drivers\\mervoser.sys", SER_SYS}};
        for (const auto& file : row.files) {
            files[file.first] = file.second;
        }
        for (const auto& file : files) {
            if (!file.second.empty()) {
                WriteTestFile(file.first, file.second);
            }
        }
        const std::vector<std::string> store = FolderNames(STORE);
        const std::vector<std::string> drivers = FolderNames(DRIVERS);
        EXPECT_EQ(row.exitCode, SimRunWords({"status", INF}));
        ASSERT_EQ(1u, SimTree().output.size());
        EXPECT_EQ(0u, SimTree().output[0].rfind(row.line, 0)) << SimTree().output[0];
        // It only reads, and it waits for nobody.
        EXPECT_EQ(store, FolderNames(STORE));
        EXPECT_EQ(drivers, FolderNames(DRIVERS));
        EXPECT_TRUE(Sim().filesWritten.empty());
        EXPECT_TRUE(Sim().filesDeleted.empty());
        EXPECT_EQ(0u, std::count_if(Sim().trace.begin(), Sim().trace.end(), [](const std::string& call) {
                      return call.rfind("CreateMutexA", 0) == 0;
                  }));
        EXPECT_EQ(0, Sim().openStreams);
        EXPECT_EQ(0, SimTree().openSets);
    }
}

TEST(StatusCommand, AStoreThatCannotBeReadIsSaidSo)
{
    struct StoreCase {
        const char* name;
        const char* windowsFolder;
        bool findFails;
        std::string line;
    };
    const StoreCase cases[] = {
        {"no Windows folder", "", false, "Cannot find the system's INF store (no Windows folder)."},
        {"a store that cannot be listed", "C:\\WINDOWS", true,
         "Cannot list the INF store C:\\WINDOWS\\inf (error 0x00000005)."},
        {"a Windows folder without a store", "C:\\nowhere", false,
         "Cannot list the INF store C:\\nowhere\\inf (error 0x00000003)."},
    };
    for (const StoreCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        WriteTestFile(INF, PKG);
        SimTree().windowsFolder = c.windowsFolder;
        SimTree().findFails = c.findFails;
        EXPECT_EQ(DEVCTL_EXIT_STORE_UNREADABLE, SimRunWords({"status", INF}));
        EXPECT_EQ(std::vector<std::string>{c.line}, SimTree().output);
    }
    SimTreeReset();
    EXPECT_EQ(DEVCTL_EXIT_USAGE, SimRunWords({"status"}));
    EXPECT_EQ("status takes an INF path.", SimTree().output.at(0));
}

}  // namespace
