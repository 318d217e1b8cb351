#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "DevCtl.h"
#include "SimulatedDevCtl.h"
#include "TestFiles.h"

namespace {

// The package INF, longer than two of the tool's 4096-byte comparison chunks.
std::string PackageText()
{
    std::string text =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
        "[DeviceList]\r\n%D%=Install, USB\\VID_0123&PID_4567\r\n";
    while (text.size() < 9000) {
        text += "; padding line of the package INF, to span several chunks\r\n";
    }
    return text + "[Strings]\r\nD=\"Example\"\r\n";
}

// Same size as the package, one byte different at `at`.
std::string DifferentAt(size_t at)
{
    std::string text = PackageText();
    text[at] = text[at] == 'x' ? 'y' : 'x';
    return text;
}

const std::string PKG = PackageText();
const std::string LAST_BYTE_DIFFERS = DifferentAt(PackageText().size() - 1);
const std::string FIRST_BYTE_DIFFERS = DifferentAt(0);
const std::string LONGER = PackageText() + "\r\n";
const std::string PNF = "compiled";

typedef std::vector<std::pair<std::string, std::string>> StoreFiles;  // name, content

const char STORE[] = "C:\\WINDOWS\\inf";

// The package as C:\pkg\MERVOUSB.inf, and the INF store holding `store` (a
// name ending in '/' is a folder).
std::string MakePackageAndStore(const StoreFiles& store)
{
    for (const auto& file : store) {
        if (file.first.back() == '/') {
            SimMakeFolder(STORE + std::string("\\") + file.first);
        } else {
            WriteTestFile(STORE + std::string("\\") + file.first, file.second);
        }
    }
    return WriteTestFile("pkg\\MERVOUSB.inf", PKG);
}

std::vector<std::string> StoreLeft()
{
    return FolderNames(STORE);
}

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

struct UnstageCase {
    const char* name;
    StoreFiles store;
    bool wine;
    bool force;
    std::vector<std::string> inUse;
    uint32_t uninstallError;
    bool deleteFails;
    int exitCode;
    std::vector<std::string> left;   // the store afterwards, sorted
    std::vector<std::string> calls;  // SetupUninstallOEMInfA calls, sorted
    const char* shown;               // a text the report holds
};

// clang-format off
const StoreFiles WINDOWS_STORE = {
    {"oem3.inf", PKG},           {"oem3.pnf", PNF},
    {"oem4.inf", LAST_BYTE_DIFFERS}, {"oem4.pnf", PNF},
    {"oem5.inf", FIRST_BYTE_DIFFERS}, {"oem6.inf", LONGER},
    {"MERVOUSB.inf", LAST_BYTE_DIFFERS},  // same name, another version
    {"dir.inf/", ""},
    {"oem7.infx", PKG},  // matches "*.inf" through its short name only
};
// clang-format on
const std::vector<std::string> WINDOWS_OTHERS = {"MERVOUSB.inf", "dir.inf",  "oem4.inf", "oem4.pnf",
                                                 "oem5.inf",     "oem6.inf", "oem7.infx"};

std::vector<std::string> With(std::vector<std::string> names, std::vector<std::string> more)
{
    names.insert(names.end(), more.begin(), more.end());
    return Sorted(names);
}

// clang-format off
const StoreFiles WINE_STORE = {
    {"MERVOUSB.inf", PKG}, {"MERVOUSB.pnf", PNF}, {"oem1.inf", PKG}, {"other.inf", LONGER}};

TEST(UnstageCommand, TakesOutExactlyTheCopiesOfThePackageAndReportsHonestly)
{
    const UnstageCase cases[] = {
        {"Windows: the one copy, by content", WINDOWS_STORE, false, false, {}, 0, false,
         DEVCTL_EXIT_OK, WINDOWS_OTHERS, {"oem3.inf 0"}, "Removed "},
        {"Windows: in use, without force", WINDOWS_STORE, false, false, {"oem3.inf"}, 0, false,
         DEVCTL_EXIT_IN_USE, With(WINDOWS_OTHERS, {"oem3.inf", "oem3.pnf"}), {"oem3.inf 0"},
         "is used by a present device (\"force\" removes it anyway)."},
        {"Windows: in use, forced", WINDOWS_STORE, false, true, {"oem3.inf"}, 0, false,
         DEVCTL_EXIT_OK, WINDOWS_OTHERS, {"oem3.inf 1"}, "oem3.inf."},
        {"Wine without force: success reported, nothing removed", WINE_STORE, true, false, {}, 0,
         false, DEVCTL_EXIT_LEFT_IN_STORE, {"MERVOUSB.inf", "MERVOUSB.pnf", "oem1.inf", "other.inf"},
         {"MERVOUSB.inf 0", "oem1.inf 0"},
         "removed, but it is still there (without force some systems remove nothing)."},
        {"Wine forced: both copies, and the .pnf left by the system", WINE_STORE, true, true, {}, 0,
         false, DEVCTL_EXIT_OK, {"other.inf"}, {"MERVOUSB.inf 1", "oem1.inf 1"},
         "MERVOUSB.inf, and deleted "},
        {"the .pnf cannot be deleted", WINE_STORE, true, true, {}, 0, true,
         DEVCTL_EXIT_UNSTAGE_FAILED, {"MERVOUSB.pnf", "other.inf"},
         {"MERVOUSB.inf 1", "oem1.inf 1"}, "cannot be deleted (error 0x00000005)."},
        {"access denied", WINDOWS_STORE, false, true, {}, 5, false, DEVCTL_EXIT_UNSTAGE_FAILED,
         With(WINDOWS_OTHERS, {"oem3.inf", "oem3.pnf"}), {"oem3.inf 1"},
         "SetupUninstallOEMInfA failed (error 0x00000005)."},
        {"a system without SetupUninstallOEMInfA", WINDOWS_STORE, false, false, {},
         DC_ERROR_CALL_NOT_IMPLEMENTED, false, DEVCTL_EXIT_UNSTAGE_FAILED,
         With(WINDOWS_OTHERS, {"oem3.inf", "oem3.pnf"}), {"oem3.inf 0"},
         "this system has no SetupUninstallOEMInfA."},
        {"only other INFs: nothing staged", {{"oem4.inf", LAST_BYTE_DIFFERS}, {"oem6.inf", LONGER}},
         false, true, {}, 0, false, DEVCTL_EXIT_NOT_STAGED, {"oem4.inf", "oem6.inf"}, {},
         "Nothing to remove: no copy of "},
        {"empty store", {}, false, true, {}, 0, false, DEVCTL_EXIT_NOT_STAGED, {}, {},
         "Nothing to remove: no copy of "},
    };
    for (const UnstageCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        std::string inf = MakePackageAndStore(c.store);
        // An unrelated file of the same name and content outside the store.
        WriteTestFile("WINDOWS\\MERVOUSB.inf", PKG);
        SimTree().uninstallLikeWine = c.wine;
        SimTree().infsInUse = c.inUse;
        SimTree().uninstallError = c.uninstallError;
        Sim().failAlways[SIM_DeleteFileA] = c.deleteFails;
        EXPECT_EQ(c.exitCode, UnstageInf(inf.c_str(), c.force ? 1 : 0));
        EXPECT_EQ(c.left, StoreLeft());
        EXPECT_EQ(c.calls, Sorted(SimTree().uninstallCalls));
        EXPECT_NE(std::string::npos, SimOutputText().find(c.shown)) << "\n"
                                                                    << SimOutputText();
        EXPECT_TRUE(SimFileExists("C:\\WINDOWS\\MERVOUSB.inf"));
        EXPECT_TRUE(SimFileExists(inf));
        EXPECT_EQ(0, SimTree().openSets);
    }
}
// clang-format on

TEST(UnstageCommand, ReportsEachCopyAndASummary)
{
    SimTreeReset();
    std::string inf = MakePackageAndStore({{"MERVOUSB.inf", PKG}, {"MERVOUSB.pnf", PNF}});
    SimTree().uninstallLikeWine = true;
    std::string store = STORE;
    EXPECT_EQ(DEVCTL_EXIT_LEFT_IN_STORE, UnstageInf(inf.c_str(), 0));
    EXPECT_EQ(
        (std::vector<std::string>{"Not removed: SetupUninstallOEMInfA reported " + store +
                                      "\\MERVOUSB.inf removed, but it is still there (without force some "
                                      "systems remove nothing).",
                                  "1 copy(ies) of " + inf + " found in " + store + ": 0 removed, 1 not."}),
        SimTree().output);

    SimTree().output.clear();
    EXPECT_EQ(DEVCTL_EXIT_OK, UnstageInf(inf.c_str(), 1));
    EXPECT_EQ(
        (std::vector<std::string>{
            "Removed " + store + "\\MERVOUSB.inf, and deleted " + store + "\\MERVOUSB.pnf left beside it.",
            "1 copy(ies) of " + inf + " found in " + store + ": 1 removed, 0 not."}),
        SimTree().output);

    // Once it is out, a second run finds nothing.
    SimTree().output.clear();
    EXPECT_EQ(DEVCTL_EXIT_NOT_STAGED, UnstageInf(inf.c_str(), 1));
    EXPECT_EQ(
        std::vector<std::string>{"Nothing to remove: no copy of " + inf + " is staged in " + store + "."},
        SimTree().output);
}

TEST(UnstageCommand, FailuresBeforeAnyRemovalHaveTheirOwnCodes)
{
    struct FailureCase {
        const char* name;
        const char* package;  // null: no package file
        std::string windowsFolder;
        bool findFails;
        bool findNextFails;
        int exitCode;
        const char* firstLine;
        const char* ending;  // the line's end, or null when it holds no system code
    };
    // clang-format off
    const FailureCase cases[] = {
        {"no INF", nullptr, "WINDOWS", false, false, DEVCTL_EXIT_INF_UNREADABLE,
         "Cannot read the INF file ", nullptr},
        {"empty INF", "", "WINDOWS", false, false, DEVCTL_EXIT_INF_UNREADABLE,
         "Cannot read the INF file ", nullptr},
        {"no Windows folder", "x", "", false, false, DEVCTL_EXIT_STORE_UNREADABLE,
         "Cannot find the system's INF store (no Windows folder).", nullptr},
        {"store cannot be listed", "x", "WINDOWS", true, false, DEVCTL_EXIT_STORE_UNREADABLE,
         "Cannot list the INF store ", "(error 0x00000005)."},
        {"store absent", "x", "nowhere", false, false, DEVCTL_EXIT_STORE_UNREADABLE,
         "Cannot list the INF store ", "(error 0x00000003)."},
        // The copy is the first entry; the listing breaks off after it.
        {"listing breaks off", "x", "WINDOWS", false, true, DEVCTL_EXIT_STORE_UNREADABLE,
         "Cannot list the INF store ", "(error 0x0000003B)."},
    };
    // clang-format on
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        MakePackageAndStore({{"oem3.inf", "x"}});
        std::string inf = "C:\\pkg\\given.inf";
        if (c.package != nullptr) {
            WriteTestFile(inf, c.package);
        }
        SimTree().windowsFolder = c.windowsFolder.empty() ? "" : "C:\\" + c.windowsFolder;
        SimTree().findFails = c.findFails;
        SimTree().findNextFails = c.findNextFails;
        EXPECT_EQ(c.exitCode, UnstageInf(inf.c_str(), 1));
        ASSERT_EQ(1u, SimTree().output.size());
        const std::string& line = SimTree().output[0];
        EXPECT_EQ(0u, line.find(c.firstLine)) << line;
        if (c.ending != nullptr) {
            const std::string ending = c.ending;
            EXPECT_EQ(ending, line.substr(line.size() - std::min(line.size(), ending.size()))) << line;
        }
        EXPECT_EQ(std::vector<std::string>{"oem3.inf"}, StoreLeft());
        EXPECT_EQ(0, SimTree().openSets);
    }
}

TEST(UnstageCommand, TheWindowsFolderIsTakenUpToItsBound)
{
    // GetSystemWindowsDirectoryA into 260 bytes: 259 characters fit (and the
    // store's listing is then refused for its length, as on Windows), 260
    // do not.
    for (size_t length : {259u, 260u}) {
        SCOPED_TRACE(testing::Message() << "path length " << length);
        SimTreeReset();
        std::string inf = MakePackageAndStore({{"oem3.inf", PKG}});
        SimTree().windowsFolder = "C:\\" + std::string(length - 3, 'w');
        EXPECT_EQ(DEVCTL_EXIT_STORE_UNREADABLE, UnstageInf(inf.c_str(), 1));
        EXPECT_EQ(0u, SimOutputText().find(length == 259 ? "Cannot list the INF store C:\\www"
                                                         : "Cannot find the system's INF store"))
            << SimOutputText();
    }
    // A Windows folder given with a trailing backslash ("C:\").
    SimTreeReset();
    std::string inf = MakePackageAndStore({{"oem3.inf", PKG}});
    SimTree().windowsFolder += "\\";
    EXPECT_EQ(DEVCTL_EXIT_OK, UnstageInf(inf.c_str(), 0));
    EXPECT_NE(std::string::npos, SimOutputText().find("Removed C:\\WINDOWS\\inf\\oem3.inf."));
}

TEST(UnstageCommand, TakesAtMostItsCapacityOfCopiesInOneRun)
{
    for (uint32_t copies : {UNSTAGE_COPY_CAPACITY + 0u, UNSTAGE_COPY_CAPACITY + 1u}) {
        SCOPED_TRACE(testing::Message() << "copies " << copies);
        SimTreeReset();
        StoreFiles store;
        for (uint32_t i = 0; i < copies; ++i) {
            store.push_back({"oem" + std::to_string(i) + ".inf", PKG});
        }
        std::string inf = MakePackageAndStore(store);
        bool fits = copies == UNSTAGE_COPY_CAPACITY;
        EXPECT_EQ(fits ? DEVCTL_EXIT_OK : DEVCTL_EXIT_UNSTAGE_FAILED, UnstageInf(inf.c_str(), 1)) << copies;
        EXPECT_EQ(fits ? 0u : 1u, StoreLeft().size()) << copies;
        EXPECT_EQ(UNSTAGE_COPY_CAPACITY + 0u, SimTree().uninstallCalls.size()) << copies;
        EXPECT_EQ(!fits, SimOutputText().find("1 further copies not handled (at most 64 in one "
                                              "run): run unstage again.") != std::string::npos)
            << copies;
        // The second run takes the rest.
        if (!fits) {
            EXPECT_EQ(DEVCTL_EXIT_OK, UnstageInf(inf.c_str(), 1));
            EXPECT_TRUE(StoreLeft().empty());
        }
    }
}

TEST(UnstageCommand, CommandLineTakesTheInfAndForce)
{
    struct WordsCase {
        std::vector<std::string> words;  // after the program name; "INF" is the package
        int exitCode;
        const char* flags;  // of the SetupUninstallOEMInfA call, null: none
    };
    const WordsCase cases[] = {
        {{"unstage", "INF"}, DEVCTL_EXIT_LEFT_IN_STORE, "0"},
        {{"UnStage", "INF", "FORCE"}, DEVCTL_EXIT_OK, "1"},
        {{"unstage", "INF", "forced"}, DEVCTL_EXIT_USAGE, nullptr},
        {{"unstage", "INF", "force", "now"}, DEVCTL_EXIT_USAGE, nullptr},
        {{"unstage"}, DEVCTL_EXIT_USAGE, nullptr},
        {{"unstage", ""}, DEVCTL_EXIT_USAGE, nullptr},
    };
    for (const WordsCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << (&c - &cases[0]));
        SimTreeReset();
        std::string inf = MakePackageAndStore({{"MERVOUSB.inf", PKG}});
        SimTree().uninstallLikeWine = true;
        std::vector<std::string> words = c.words;
        std::replace(words.begin(), words.end(), std::string("INF"), inf);
        EXPECT_EQ(c.exitCode, SimRunWords(words));
        std::vector<std::string> calls;
        if (c.flags != nullptr) {
            calls.push_back(std::string("MERVOUSB.inf ") + c.flags);
        }
        EXPECT_EQ(calls, SimTree().uninstallCalls);
        EXPECT_EQ(c.exitCode == DEVCTL_EXIT_USAGE,
                  SimOutputText().find("Usage: MERVODevCtl") != std::string::npos);
    }
}

}  // namespace
