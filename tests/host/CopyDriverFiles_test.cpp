#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/MERVODriverStager.h"
#include "inf/INFManager.h"
#include "log/LogFile.h"
#include "platform/simulated/SimulatedPlatform.h"

namespace {

const char kInf[] = "C:\\pkg\\MERVOUSB.inf";
const char kLog[] = "C:\\Temp\\log.txt";
const char kDrivers[] = "C:\\WINDOWS\\System32\\Drivers";

class CopyDriverFilesTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ReadArgumentText("");
        ASSERT_EQ(1, OpenLog(kLog));
    }

    // Runs CopyDriverFiles on `inf` and gives back the texts it logged.
    std::vector<std::string> Copy(const std::string& inf, int expectedResult = 0,
                                  const char* programFolder = "C:\\pkg")
    {
        Write(kInf, inf);
        EXPECT_EQ(expectedResult, CopyDriverFiles(kInf, InfFileName, programFolder));
        CloseLog();
        EXPECT_EQ(0, Sim().openStreams);
        std::vector<std::string> texts;
        for (const LogEntry& e : LogEntries(kLog)) {
            EXPECT_EQ("INFManager", e.module);
            EXPECT_EQ("CopyDriverFiles", e.function);
            texts.push_back(e.text);
        }
        return texts;
    }

    // A fresh machine with the log open.
    void Fresh()
    {
        FreshMachine();
        ASSERT_EQ(1, OpenLog(kLog));
    }

    bool Traced(const std::string& call) const
    {
        const std::vector<std::string>& trace = Sim().trace;
        return std::find(trace.begin(), trace.end(), call) != trace.end();
    }
};

std::vector<std::string> Copied(const std::string& name)
{
    const std::string source = std::string("C:\\pkg\\") + name;
    const std::string target = std::string(kDrivers) + "\\" + name;
    return {"Copying file " + source + " to " + target + ".",
            "File " + source + " copied to " + target + " OK."};
}

std::vector<std::string> Failed(const std::string& name, const std::string& drivers = kDrivers)
{
    const std::string source = std::string("C:\\pkg\\") + name;
    const std::string target = drivers + "\\" + name;
    return {"Copying file " + source + " to " + target + ".",
            "Error while copying file " + source + " to " + target + " !!"};
}

TEST_F(CopyDriverFilesTest, FoldersComeFromTheSystemFolderAndFilesAreCopied)
{
    Write("C:\\pkg\\a.sys", "driver A");
    Write("C:\\pkg\\b.dll", "driver B");
    EXPECT_EQ(Join({Copied("a.sys"), Copied("b.dll")}), Copy("[SourceDisksFiles]\na.sys=1\nb.dll=1,,,\n"));
    EXPECT_TRUE(Traced("DeleteFileA C:\\WINDOWS\\inf\\MERVOUSB.inf"));
    EXPECT_TRUE(Traced("DeleteFileA C:\\WINDOWS\\inf\\MERVOUSB.pnf"));
    EXPECT_EQ("driver A", Read("C:\\WINDOWS\\system32\\drivers\\a.sys"));
    EXPECT_EQ("driver B", Read("C:\\WINDOWS\\system32\\drivers\\b.dll"));
}

// Attributes are cleared before each copy and, after its result line is
// logged, again on the copy; a failed copy keeps that order.
TEST_F(CopyDriverFilesTest, ResultLineComesBeforeTheLastAttributeClearing)
{
    // Each log line asks for the time once: mark it in the trace.
    Platform.GetSystemTime = [](PsSystemTime* time) {
        Sim().trace.push_back("log line");
        *time = Sim().clock;
    };
    Write("C:\\pkg\\a.sys", "driver A");
    Copy("[SourceDisksFiles]\na.sys=1\nabsent.sys=1\n");
    for (const char* name : {"a.sys", "absent.sys"}) {
        SCOPED_TRACE(name);
        const std::string target = std::string(kDrivers) + "\\" + name;
        auto copy = std::find(Sim().trace.begin(), Sim().trace.end(),
                              "CopyFileA C:\\pkg\\" + std::string(name) + " " + target);
        ASSERT_NE(Sim().trace.end(), copy);
        ASSERT_LT(2, Sim().trace.end() - copy);
        const std::vector<std::string> around(copy - 2, copy + 3);
        EXPECT_EQ((std::vector<std::string>{"log line", "SetFileAttributesA " + target + " 0x80", *copy,
                                            "log line", "SetFileAttributesA " + target + " 0x80"}),
                  around);
    }
}

TEST_F(CopyDriverFilesTest, StaleFilesAreLoggedOnlyWhenReallyDeleted)
{
    Write("C:\\WINDOWS\\inf\\MERVOUSB.inf", "old");
    Write("C:\\WINDOWS\\inf\\mervousb.PNF", "old compiled");
    SimSetAttributes("C:\\WINDOWS\\inf\\mervousb.PNF", PS_FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ((std::vector<std::string>{"File C:\\WINDOWS\\inf\\MERVOUSB.inf deleted OK.",
                                        "File C:\\WINDOWS\\inf\\MERVOUSB.pnf deleted OK."}),
              Copy("[Version]\n"));
    EXPECT_FALSE(SimFileExists("C:\\WINDOWS\\inf\\MERVOUSB.inf"));
    EXPECT_FALSE(SimFileExists("C:\\WINDOWS\\inf\\MERVOUSB.pnf"));
}

TEST_F(CopyDriverFilesTest, CleanSystemLogsNoDeletion)
{
    EXPECT_TRUE(Copy("[Version]\n").empty());
}

// Only the INF's own file name is looked for in the INF folder, whatever
// folders the argument text put in front of it.
TEST_F(CopyDriverFilesTest, StaleCopiesAreLookedForUnderTheBareInfNameOnly)
{
    Write("C:\\WINDOWS\\System32\\x.inf", "system file");
    Write("C:\\WINDOWS\\inf\\x.inf", "stale");
    ReadArgumentText("..\\System32\\x.inf");
    Copy("[Version]\n");
    EXPECT_TRUE(SimFileExists("C:\\WINDOWS\\System32\\x.inf"));
    EXPECT_FALSE(SimFileExists("C:\\WINDOWS\\inf\\x.inf"));
    for (const std::string& deleted : Sim().filesDeleted) {
        EXPECT_EQ(0u, deleted.rfind("C:\\WINDOWS\\inf\\", 0)) << deleted;
    }
    EXPECT_STREQ("x.inf", InfBaseName("a/b\\c:x.inf"));
}

TEST_F(CopyDriverFilesTest, SectionAndEntryRules)
{
    struct SectionCase {
        const char* name;
        std::string inf;
        std::vector<std::string> expected;
    };
    // clang-format off
    const std::vector<SectionCase> cases = {
        {"decorated header alone", "[SourceDisksFiles.x86]\na.sys=1\n", {}},
        {"header behind ;", ";[SourceDisksFiles]\na.sys=1\n", Copied("a.sys")},
        {"header is case-sensitive", "[sourcedisksfiles]\na.sys=1\n", {}},
        {"indented, empty, no = and empty name skipped",
         "[SourceDisksFiles]\n  a.sys=1\n\nb.sys\n=1\n;c.sys=1\nc.sys=1\n", Copied("c.sys")},
        {"section at the end of the file without a final newline", "[SourceDisksFiles]\na.sys=1\nb.sys=1",
         Join({Copied("a.sys"), Copied("b.sys")})},
        {"next header ends the section",
         "[SourceDisksFiles]\na.sys=1\n[Other]\nb.sys=1\n[SourceDisksFiles]\nc.sys=1\n", Copied("a.sys")},
        {"missing file fails and the loop goes on", "[SourceDisksFiles]\nabsent.sys=1\nb.sys=1\n",
         Join({Failed("absent.sys"), Copied("b.sys")})},
        {"line over 499 characters is read in pieces",
         "[SourceDisksFiles]\n" + std::string(499, 'x') + "tail.sys=1\n", Copied("tail.sys")},
    };
    // clang-format on
    for (const SectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        for (const char* name : {"a.sys", "b.sys", "c.sys", "tail.sys"}) {
            Write(std::string("C:\\pkg\\") + name, name);
        }
        EXPECT_EQ(c.expected, Copy(c.inf));
    }
}

TEST_F(CopyDriverFilesTest, NamesKeepTheirBlanksAndTabs)
{
    Write("C:\\pkg\\mydriver.sys", "bytes");
    // "mydriver.sys " names the file with a trailing blank, which Windows
    // drops; a leading tab is no valid name character, so that copy fails.
    EXPECT_EQ(Join({Copied("mydriver.sys "), Failed("\tmydriver.sys")}),
              Copy("[SourceDisksFiles]\nmydriver.sys = 1\n\tmydriver.sys=1\n"));
    EXPECT_EQ("bytes", Read("C:\\WINDOWS\\system32\\drivers\\mydriver.sys"));
}

TEST_F(CopyDriverFilesTest, ReadOnlyTargetIsReplacedAndLeftNormal)
{
    Write("C:\\pkg\\a.sys", "new");
    SimSetAttributes("C:\\pkg\\a.sys", PS_FILE_ATTRIBUTE_READONLY);
    Write("C:\\WINDOWS\\system32\\drivers\\A.SYS", "old");
    SimSetAttributes("C:\\WINDOWS\\system32\\drivers\\A.SYS", PS_FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Copied("a.sys"), Copy("[SourceDisksFiles]\na.sys=1\n"));
    EXPECT_EQ("new", Read("C:\\WINDOWS\\system32\\drivers\\a.sys"));
    EXPECT_EQ(static_cast<uint32_t>(PS_FILE_ATTRIBUTE_NORMAL),
              SimAttributes("C:\\WINDOWS\\system32\\drivers\\a.sys"));
}

TEST_F(CopyDriverFilesTest, MissingInfGives3AfterTheDeletions)
{
    Write("C:\\WINDOWS\\inf\\MERVOUSB.inf", "stale");
    Platform.SetLastError(0);
    EXPECT_EQ(3, CopyDriverFiles("C:\\pkg\\absent.inf", InfFileName, "C:\\pkg"));
    EXPECT_EQ(static_cast<uint32_t>(PS_ERROR_FILE_NOT_FOUND), Platform.GetLastError());
    CloseLog();
    std::vector<LogEntry> entries = LogEntries(kLog);
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ("File C:\\WINDOWS\\inf\\MERVOUSB.inf deleted OK.", entries[0].text);
    EXPECT_EQ("Error: INF file opening failed !!", entries[1].text);
    EXPECT_EQ(1, CopyDriverFiles(nullptr, InfFileName, "C:\\pkg"));
    EXPECT_EQ(1, CopyDriverFiles(kInf, nullptr, "C:\\pkg"));
}

TEST_F(CopyDriverFilesTest, RefusedSystemFolderGives2WithNothingDone)
{
    Write("C:\\WINDOWS\\inf\\MERVOUSB.inf", "stale");
    Sim().failAlways[SIM_GetSystemDirectoryA] = true;
    EXPECT_TRUE(Copy("[SourceDisksFiles]\na.sys=1\n", 2).empty());
    EXPECT_TRUE(SimFileExists("C:\\WINDOWS\\inf\\MERVOUSB.inf"));
    EXPECT_EQ(0u, TraceCount("OpenStream C:\\pkg"));
}

// Names that could leave the driver folder or the program folder are not
// copied; they are reported like a failed copy and nothing is touched.
TEST_F(CopyDriverFilesTest, UnsafeNamesAreNeverCopied)
{
    Write("C:\\evil.txt", "outside");
    Write("C:\\pkg\\ok.sys", "fine");
    const char* const unsafe[] = {
        "..\\..\\evil.txt", "..\\evil.txt", "sub/x.sys", "C:x.sys", "..", ".", "... ", "NUL",
        "com1.sys",         "Aux .txt"};
    std::string inf = "[SourceDisksFiles]\n";
    std::vector<std::vector<std::string>> expected;
    for (const char* name : unsafe) {
        inf += std::string(name) + "=1\n";
        expected.push_back(Failed(name));
    }
    inf += "ok.sys=1\n";
    expected.push_back(Copied("ok.sys"));
    EXPECT_EQ(Join(expected), Copy(inf));
    EXPECT_EQ(1u, TraceCount("CopyFileA"));
    EXPECT_EQ(2u, TraceCount("SetFileAttributesA C:\\WINDOWS\\System32\\Drivers"));
    for (const std::string& written : Sim().filesWritten) {
        if (written != "C:\\Temp\\log.txt") {
            EXPECT_EQ("C:\\WINDOWS\\system32\\drivers\\ok.sys", written);
        }
    }
    EXPECT_FALSE(SimFileExists("C:\\WINDOWS\\evil.txt"));
    EXPECT_FALSE(SimFileExists("C:\\WINDOWS\\System32\\evil.txt"));
}

TEST(PlainFileName, OnlyNamesThatStayInTheirFolder)
{
    const char* const plain[] = {"a.sys",    "mydriver.sys ", "\tx",         "a..b",
                                 ".hidden",  "CONFIG.SYS",    "COM10",       "LPT0",
                                 "nul2.txt", "COM\xB1",       "LPT\xB4.sys", "COM\xB9\xB9",
                                 "CONIN",    "CONOUT",        "CONIN$1",     "xCONOUT$"};
    const char* const unsafe[] = {"",
                                  ".",
                                  "..",
                                  "...",
                                  ". .",
                                  "a\\b",
                                  "a/b",
                                  "c:",
                                  "CON",
                                  "con.txt",
                                  "PRN",
                                  "aux",
                                  "NUL.sys",
                                  "COM1",
                                  "lpt9.log",
                                  "nul .txt",
                                  "COM\xB9",
                                  "lpt\xB2.txt",
                                  "Com\xB3 .sys",
                                  "CONIN$",
                                  "conout$.log",
                                  "CONIN$ .txt",
                                  "CONOUT$."};
    for (const char* name : plain)
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const char* name : unsafe)
        EXPECT_FALSE(IsPlainFileName(name)) << name;
}

// Paths are never cut (a cut path can name another file): a stale copy's
// path, the source and the target each hold 499 characters whole, and one more
// is refused rather than cut.
TEST_F(CopyDriverFilesTest, PathsOf499AreUsedAndOf500Refused)
{
    struct BoundRow {
        const char* name;
        size_t stale, source, target;  // path lengths; 12 and 33: C:\pkg\a.sys to C:\WINDOWS\...\a.sys
        bool staleTried;               // both stale copies' deletions were asked for
        bool copyTried;                // CopyFileA was asked with both paths
        bool copied;                   // and made the copy (the host holds no name of 470 characters)
    };
    const BoundRow rows[] = {
        {"stale copy of 499", 499, 12, 33, true, true, true},
        {"stale copy of 500", 500, 12, 33, false, true, true},
        {"source and target of 499", 493, 499, 499, true, true, false},
        {"source of 500", 27, 500, 33, true, false, false},
        {"target of 500", 494, 12, 500, true, false, false},
    };
    for (const BoundRow& row : rows) {
        SCOPED_TRACE(row.name);
        Fresh();
        Write("C:\\pkg\\a.sys", "bytes");
        const std::string folder = row.source == 12 ? "C:\\pkg" : "C:\\" + std::string(row.source - 9, 'p');
        const std::string windows =
            row.target == 33 ? "C:\\WINDOWS" : "C:\\" + std::string(row.target - 26, 'w');
        const size_t infName = row.stale - windows.size() - 5;  // after "<windows>\inf\"
        ReadArgumentText(infName == 12 ? "MERVOUSB.inf" : (std::string(infName - 4, 's') + ".inf").c_str());
        Sim().systemDirectory = windows + "\\system32";
        const std::string stale = windows + "\\inf\\" + InfFileName;
        const std::string source = folder + "\\a.sys";
        const std::string target = windows + "\\System32\\Drivers\\a.sys";
        ASSERT_EQ(row.stale, stale.size());
        ASSERT_EQ(row.source, source.size());
        ASSERT_EQ(row.target, target.size());
        const std::vector<std::string> texts = Copy("[SourceDisksFiles]\na.sys=1\n", 0, folder.c_str());
        EXPECT_EQ(row.staleTried ? 1u : 0u, TraceCount("DeleteFileA " + stale));
        EXPECT_EQ(row.staleTried ? 1u : 0u,
                  TraceCount("DeleteFileA " + stale.substr(0, stale.size() - 3) + "pnf"));
        EXPECT_EQ(row.staleTried ? 2u : 0u, TraceCount("DeleteFileA"));
        if (!row.staleTried) {
            EXPECT_EQ(0u, TraceCount("SetFileAttributesA " + windows + "\\inf"));
        }
        EXPECT_EQ(row.copyTried ? 1u : 0u, TraceCount("CopyFileA " + source + " " + target));
        EXPECT_EQ((std::vector<std::string>{
                      "Copying file " + source + " to " + target + ".",
                      row.copied ? "File " + source + " copied to " + target + " OK."
                                 : "Error while copying file " + source + " to " + target + " !!"}),
                  texts);
    }
}

TEST_F(CopyDriverFilesTest, OverlongSystemOrDriverFolderGives2WithoutDeleting)
{
    struct FolderCase {
        std::string systemDirectory;
        int expected;
    };
    const std::string windows482 = "C:\\" + std::string(479, 'w');
    // clang-format off
    const FolderCase cases[] = {
        {"C:\\" + std::string(496, 's'), 0},           // 499 characters: usable
        {"C:\\" + std::string(497, 's'), 2},           // 500: does not fit
        {windows482 + "\\system32", 0},                // driver folder of 499
        {windows482 + "w\\system32", 2},               // driver folder of 500
    };
    // clang-format on
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "system folder of " << c.systemDirectory.size() << " characters");
        Fresh();
        Sim().systemDirectory = c.systemDirectory;
        Platform.SetLastError(0);
        EXPECT_TRUE(Copy("[Version]\n", c.expected).empty());
        EXPECT_EQ(c.expected == 2 ? 0u : 2u, TraceCount("DeleteFileA"));
        if (c.expected == 2) {
            EXPECT_EQ(static_cast<uint32_t>(PS_ERROR_FILENAME_EXCED_RANGE), Platform.GetLastError());
        }
    }
}

}  // namespace
