#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "TestSupport.h"
#include "app/MERVODriverStager.h"
#include "log/LogFile.h"
#include "platform/simulated/SimulatedPlatform.h"

namespace {

const char kLog[] = "C:\\Temp\\MERVOStageLog.txt";

// Log lines as "module | function | text".
const std::string kLogCreated = "MERVODriverStager | WinMain | Log created: C:\\Temp\\MERVOStageLog.txt.";
const std::string kXp = "GetOSVersion | GetOSVersion | OS Version: Microsoft Windows XP.";
const std::string kXpBuild = "GetOSVersion | GetOSVersion | Service Pack 3 (Build 2600)";
const std::string kCurrent = "MERVODriverStager | Default_Pre_Installer | Current directory: C:\\pkg";
const std::string kRemoved = "MERVODriverStager | RemoveDriverInstances | Driver instances removed OK.";
const std::string kPreInstalling = "MERVODriverStager | Default_Pre_Installer | Pre-installing driver.";
const std::string kCopied = "MERVODriverStager | Default_Pre_Installer | Driver files copied OK.";
const std::string kStaged = "MERVODriverStager | Default_Pre_Installer | Driver pre-installed OK.";
const std::string kMounted = "MERVODriverStager | RemountDriverInstances | Driver instances mounted OK.";

std::vector<std::string> CopyLines(const std::string& name)
{
    const std::string source = "C:\\pkg\\" + name;
    const std::string target = "C:\\WINDOWS\\System32\\Drivers\\" + name;
    return {"INFManager | CopyDriverFiles | Copying file " + source + " to " + target + ".",
            "INFManager | CopyDriverFiles | File " + source + " copied to " + target + " OK."};
}

class RunTest : public SimTest {
protected:
    int Run(const std::string& argumentText)
    {
        int code = RunStager(argumentText);
        EXPECT_EQ(0, RunLog.isOpen);
        EXPECT_EQ(0, Sim().openStreams);
        EXPECT_EQ(0, Sim().openHandles);
        EXPECT_EQ(0, Sim().openTexts);
        return code;
    }
    std::vector<std::string> Lines() { return LogLines(kLog); }
    // The package in `folder`, and the stager started from there.
    void StagerIn(const std::string& folder)
    {
        WritePackage(kTypicalInf, folder);
        Sim().modulePath = folder + "\\MERVODriverStager.exe";
    }
    // The same in a folder path of exactly `length` characters (6: C:\pkg).
    std::string StagerInFolderOf(size_t length, char letter);
};

// A folder path "C:\xxx\xxx..." of exactly `length` characters, in names of
// at most 100 characters (host file systems limit a name to 255).
std::string LongFolder(size_t length, char letter)
{
    std::string folder = "C:";
    while (folder.size() < length) {
        folder += "\\" + std::string(std::min<size_t>(100, length - folder.size() - 1), letter);
    }
    return folder;
}

std::string RunTest::StagerInFolderOf(size_t length, char letter)
{
    const std::string folder = length == 6 ? "C:\\pkg" : LongFolder(length, letter);
    EXPECT_EQ(length, folder.size());
    StagerIn(folder);
    return folder;
}

TEST_F(RunTest, TypicalRunOnWindowsXpWithNodisplay)
{
    WritePackage();
    EXPECT_EQ(0, Run("nodisplay"));
    EXPECT_EQ(Join({{kLogCreated, kXp, kXpBuild, kCurrent, kRemoved, kPreInstalling},
                    CopyLines("mervousb.sys"),
                    CopyLines("mervoser.sys"),
                    {kCopied, kStaged, kMounted}}),
              Lines());
    // The build line carries its own line feed: an empty line follows it.
    std::vector<std::string> raw = LogFileLines(kLog);
    ASSERT_GE(raw.size(), 8u);
    EXPECT_EQ("", raw[7]);
    EXPECT_EQ(kLogClosingLine, raw.back());
    EXPECT_TRUE(Sim().boxes.empty());

    ASSERT_EQ(2u, Sim().launches.size());
    EXPECT_EQ("\"C:\\pkg\\MERVODevCtl.exe\" remove \"C:\\pkg\\MERVOUSB.inf\" *VID_0123*",
              Sim().launches[0].commandLine);
    EXPECT_EQ("\"C:\\pkg\\MERVODevCtl.exe\" rescan", Sim().launches[1].commandLine);
    EXPECT_EQ("USB driver bytes", Read("C:\\WINDOWS\\system32\\drivers\\mervousb.sys"));
    EXPECT_EQ("serial driver bytes", Read("C:\\WINDOWS\\system32\\drivers\\mervoser.sys"));

    ASSERT_EQ(1u, Sim().stagedInfs.size());
    const SimStagedInf& staged = Sim().stagedInfs[0];
    EXPECT_EQ("C:\\pkg\\MERVOUSB.inf", staged.sourceInf);
    EXPECT_EQ("C:\\WINDOWS\\System32\\Drivers", staged.mediaLocation);
    EXPECT_EQ(1u, staged.mediaType);
    EXPECT_EQ(0u, staged.copyStyle);
    EXPECT_EQ(520u, staged.destinationSize);
    EXPECT_TRUE(staged.requiredSizeGiven);
    EXPECT_FALSE(staged.componentGiven);
    EXPECT_FALSE(staged.storedAs.empty());
}

TEST_F(RunTest, StaleCopiesAreDeletedBeforeTheFilesAreCopied)
{
    WritePackage();
    Write("C:\\WINDOWS\\inf\\MERVOUSB.inf", "stale");
    Write("C:\\WINDOWS\\inf\\MERVOUSB.PNF", "stale compiled");
    EXPECT_EQ(0, Run("nodisplay"));
    std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(kPreInstalling, lines[5]);
    EXPECT_EQ("INFManager | CopyDriverFiles | File C:\\WINDOWS\\inf\\MERVOUSB.inf deleted OK.", lines[6]);
    EXPECT_EQ("INFManager | CopyDriverFiles | File C:\\WINDOWS\\inf\\MERVOUSB.pnf deleted OK.", lines[7]);
}

TEST_F(RunTest, DisplayAndLogOptions)
{
    struct OptionCase {
        const char* text;
        bool successBox;
        bool logFile;
    };
    const OptionCase cases[] = {
        {"", true, true},
        {"nodisplay", false, true},
        {"nolog", true, false},
        {"NODISPLAY NOLOG", false, false},
        {"MERVOUSB.inf nodisplay nolog", false, false},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(c.text);
        FreshMachine();
        WritePackage();
        EXPECT_EQ(0, Run(c.text));
        EXPECT_EQ(c.successBox
                      ? std::vector<std::string>{boxes::Logged(boxes::kStagerCaption, boxes::kSuccess)}
                      : std::vector<std::string>{},
                  BoxTexts());
        EXPECT_EQ(c.logFile, SimFileExists(kLog));
        EXPECT_EQ(2u, Sim().launches.size());
    }
}

TEST_F(RunTest, UsageBoxEndsTheRunBeforeAnythingElse)
{
    const std::string usage =
        "-----------------  MERVODriverStager [Options]  -----------------\n"
        "\n"
        "      Options = {infFilename} {nodisplay} {nolog}" +
        std::string(16, ' ') +
        "\n"
        "\t\t\t  infFilename: The name of the inf file to use. If none use default MERVOUSB.inf\n" +
        std::string(13, ' ') + "nodisplay: No final dialog box will be displayed. \n" + std::string(13, ' ') +
        "nolog: No log file will be generated." + std::string(9, ' ') + "\n\n";
    for (const char* text : {"/?", "MyDriver.inf /? nolog", "x/?y"}) {
        SCOPED_TRACE(text);
        FreshMachine();
        WritePackage();
        Write(kLog, "previous run");
        EXPECT_EQ(0, Run(text));
        ASSERT_EQ(1u, Sim().boxes.size());
        EXPECT_EQ(usage, Sim().boxes[0].text);
        EXPECT_EQ("MERVODriverStager Usage", Sim().boxes[0].caption);
        EXPECT_EQ(0u, Sim().boxes[0].type);
        EXPECT_EQ("previous run", Read(kLog));
        EXPECT_EQ(0u, TraceCount("GetTempPathA"));
        EXPECT_TRUE(Sim().launches.empty());
    }
}

TEST_F(RunTest, TemporaryFolderFailureGives1AlsoWithNolog)
{
    for (const char* text : {"", "nolog"}) {
        SCOPED_TRACE(testing::Message() << "argument text \"" << text << "\"");
        FreshMachine();
        WritePackage();
        Sim().failAlways[SIM_GetTempPathA] = true;
        EXPECT_EQ(1, Run(text));
        EXPECT_EQ((std::vector<std::string>{boxes::Logged(boxes::kErrorCaption, boxes::kNoTempFolder)}),
                  BoxTexts());
        EXPECT_TRUE(Sim().launches.empty());
    }
}

// GetTempPathA answers with the size it needs when the path does not fit.
TEST_F(RunTest, TemporaryPathOf519FitsAnd520DoesNot)
{
    for (size_t length : {519u, 520u}) {
        SCOPED_TRACE(length);
        FreshMachine();
        WritePackage();
        const std::string folder = LongFolder(length - 1, 't');
        Sim().tempPath = folder + "\\";
        ASSERT_EQ(length, Sim().tempPath.size());
        SimMakeFolder(folder);
        EXPECT_EQ(length == 519u ? 0 : 1, Run("nodisplay nolog"));
    }
}

TEST_F(RunTest, LogPathOf519IsOpenedAnd520IsNotCut)
{
    // The log path is the folder, "\" and 17 characters.
    for (size_t folderLength : {501u, 502u}) {
        SCOPED_TRACE(folderLength);
        FreshMachine();
        WritePackage();
        const std::string folder = LongFolder(folderLength, 'l');
        ASSERT_EQ(folderLength, folder.size());
        SimMakeFolder(folder);
        Sim().tempPath = folder + "\\";
        EXPECT_EQ(0, Run("nodisplay"));
        const std::string logPath = folder + "\\MERVOStageLog.txt";
        // The whole 519-character path is asked for (Windows refuses it: the
        // 8-bit file calls take 260 characters), and no cut name ever.
        bool asked = false;
        for (const std::string& call : Sim().trace) {
            asked = asked || call.rfind("OpenStream " + logPath + " ", 0) == 0;
            EXPECT_EQ(std::string::npos, call.find("MERVOStageLog.tx ")) << call;
        }
        EXPECT_EQ(folderLength == 501u, asked);
        EXPECT_FALSE(SimFileExists(logPath));
    }
}

TEST_F(RunTest, NoDeviceOrUnreadableInfGives15WithNothingDone)
{
    const std::string openingFailed = "INFManager | GetDeviceIDs | Error: INF file opening failed !!";
    struct NoDeviceCase {
        const char* text;
        const char* inf;
        std::vector<std::string> lastLines;
    };
    const NoDeviceCase cases[] = {
        {"nodisplay",
         "[Version]\nSignature=\"$Windows NT$\"\n[SourceDisksFiles]\nmervousb.sys=1\n",
         {kCurrent}},
        {"absent.inf nodisplay", kTypicalInf, {kCurrent, openingFailed}},
        {"MYDRIVER.INF nodisplay", "", {kCurrent}},  // not an INF name: the default, here empty
    };
    for (const NoDeviceCase& c : cases) {
        SCOPED_TRACE(c.text);
        FreshMachine();
        WritePackage(c.inf);
        EXPECT_EQ(15, Run(c.text));
        std::vector<std::string> lines = Lines();
        ASSERT_GE(lines.size(), c.lastLines.size());
        EXPECT_EQ(c.lastLines, std::vector<std::string>(lines.end() - c.lastLines.size(), lines.end()));
        EXPECT_TRUE(Sim().launches.empty());
        EXPECT_TRUE(Sim().stagedInfs.empty());
        EXPECT_TRUE(Sim().boxes.empty());
        EXPECT_EQ(0u, TraceCount("CopyFileA"));
        EXPECT_EQ(0u, TraceCount("DeleteFileA"));
    }
}

TEST_F(RunTest, QuotedInfNameWithBlanksIsFound)
{
    StagerIn("C:\\Program Files\\MERVO Kit");
    Write("C:\\Program Files\\MERVO Kit\\My Driver.inf", kTypicalInf);
    EXPECT_EQ(0, Run("\"My Driver.inf\" nodisplay"));
    ASSERT_EQ(2u, Sim().launches.size());
    EXPECT_EQ(
        "\"C:\\Program Files\\MERVO Kit\\MERVODevCtl.exe\" remove "
        "\"C:\\Program Files\\MERVO Kit\\My Driver.inf\" *VID_0123*",
        Sim().launches[0].commandLine);
}

TEST_F(RunTest, ProgramFolderUnknownGives21)
{
    struct FolderCase {
        const char* name;
        bool refuse;
        size_t pathLength;  // of the module path; 520 or more does not fit
    };
    const FolderCase cases[] = {{"refused", true, 0}, {"cut", false, 520}};
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshMachine();
        WritePackage();
        Sim().failAlways[SIM_GetModuleFileNameA] = c.refuse;
        if (c.pathLength != 0)
            Sim().modulePath = "C:\\" + std::string(c.pathLength - 3, 'm');
        EXPECT_EQ(21, Run("nodisplay"));
        EXPECT_EQ(
            (std::vector<std::string>{
                kLogCreated, kXp, kXpBuild,
                "MERVODriverStager | Default_Pre_Installer | Error while getting current directory !!"}),
            Lines());
        EXPECT_TRUE(Sim().boxes.empty());
    }
}

TEST_F(RunTest, ProgramAtTheRootOfADrive)
{
    WritePackage(kTypicalInf, "C:");
    Sim().modulePath = "C:\\MERVODriverStager.exe";
    EXPECT_EQ(0, Run("nodisplay"));
    std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ("MERVODriverStager | Default_Pre_Installer | Current directory: C:", lines[3]);
    ASSERT_EQ(1u, Sim().stagedInfs.size());
    EXPECT_EQ("C:\\MERVOUSB.inf", Sim().stagedInfs[0].sourceInf);
}

TEST_F(RunTest, CurrentDirectoryLineStartedElsewhereShowsTheProgramFolder)
{
    WritePackage();
    Sim().currentDirectory = "C:\\Temp";
    EXPECT_EQ(0, Run("nodisplay"));
    EXPECT_EQ(kCurrent, Lines()[3]);
}

TEST_F(RunTest, FailingCopyStepGives23WithTheSystemBoxAndNoStaging)
{
    WritePackage();
    // The INF reads for the device table, then cannot be opened for the copy.
    static FILE* (*simulated)(const char*, const char*);
    static int infOpens;
    simulated = Platform.OpenStream;
    infOpens = 0;
    Platform.OpenStream = [](const char* path, const char* mode) -> FILE* {
        if (std::string(path).find("MERVOUSB.inf") != std::string::npos && ++infOpens == 3) {
            Platform.SetLastError(PS_ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return simulated(path, mode);
    };
    // Writing a log line must not change the error the box explains.
    Platform.GetSystemTime = [](PsSystemTime* time) {
        Platform.SetLastError(0);
        *time = Sim().clock;
    };
    EXPECT_EQ(23, Run("nodisplay"));
    std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("INFManager | CopyDriverFiles | Error: INF file opening failed !!", lines[lines.size() - 2]);
    EXPECT_EQ("MERVODriverStager | Default_Pre_Installer | Error while copying driver files !!",
              lines.back());
    ASSERT_EQ(1u, Sim().boxes.size());
    EXPECT_EQ("Access is denied.\r\n", Sim().boxes[0].text);
    EXPECT_EQ("Error", Sim().boxes[0].caption);
    EXPECT_EQ(0x40u, Sim().boxes[0].type);
    EXPECT_TRUE(Sim().stagedInfs.empty());
    EXPECT_EQ(1u, Sim().launches.size());  // the remove, no rescan
}

// No system folder: the driver folder is an empty text, and the copy step's
// own look-up fails, so the run ends with 23 and a box that says why.
TEST_F(RunTest, SystemFolderUnknownOrTooLongEndsWith23)
{
    struct SystemCase {
        const char* name;
        bool refuse;
        size_t length;
        const char* boxText;
    };
    const SystemCase cases[] = {
        {"refused", true, 0, "Access is denied.\r\n"},
        {"needs more than 520 bytes", false, 520, "The filename or extension is too long.\r\n"},
    };
    for (const SystemCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshMachine();
        WritePackage();
        Sim().failAlways[SIM_GetSystemDirectoryA] = c.refuse;
        Sim().failError[SIM_GetSystemDirectoryA] = PS_ERROR_ACCESS_DENIED;
        if (c.length != 0)
            Sim().systemDirectory = "C:\\" + std::string(c.length - 3, 's');
        EXPECT_EQ(23, Run("nodisplay"));
        EXPECT_EQ((std::vector<std::string>{std::string("Error: ") + c.boxText}), BoxTexts());
        EXPECT_TRUE(Sim().stagedInfs.empty());
        EXPECT_EQ(0u, TraceCount("CopyFileA"));
    }
}

// A signature code without system text: the box names the cause, the log
// line stays the same.
TEST_F(RunTest, RefusedSignatureNamesItsCauseInTheBox)
{
    struct Case {
        uint32_t code;
        const char* box;
    };
    const Case cases[] = {
        {0xE000022F, "Error: The driver package is not signed (0xE000022F)."},
        {0x800F022F, "Error: The driver package is not signed (0x800F022F)."},
        {0xE000024B, "Error: A file of the driver package does not match its signed catalog (0xE000024B)."},
        {0xE0000242, "Error: The publisher of the driver package is not yet trusted (0xE0000242)."},
        {0x800B0109,
         "Error: The driver package's signature ends at a root that is not trusted (0x800B0109)."},
        {0xE0000230, "Error: System error 0xE0000230."},  // a neighbour without a known cause
        {0x800F0100, "Error: System error 0x800F0100."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        FreshMachine();
        WritePackage(kTypicalInf);
        Sim().onSetupCopyOEMInf = [&c](const char*) {
            Platform.SetLastError(c.code);
            return 0;
        };
        EXPECT_EQ(22, Run(""));
        EXPECT_EQ("MERVODriverStager | Default_Pre_Installer | Error while pre-installing driver !!",
                  Lines().back());
        EXPECT_EQ((std::vector<std::string>{c.box}), BoxTexts());
    }
}

TEST_F(RunTest, RefusedStagingGives22WithTheErrorCodeAndNoRescan)
{
    WritePackage(std::string(kTypicalInf).substr(std::string(kTypicalInf).find("[Manufacturer]")));
    EXPECT_EQ(22, Run(""));
    EXPECT_EQ("MERVODriverStager | Default_Pre_Installer | Error while pre-installing driver !!",
              Lines().back());
    // The Setup API's code has no system text; the box names it instead.
    EXPECT_EQ((std::vector<std::string>{"Error: System error 0xE0000100."}), BoxTexts());
    EXPECT_EQ(0x40u, Sim().boxes[0].type);
    EXPECT_EQ(1u, Sim().launches.size());
    EXPECT_EQ("USB driver bytes", Read("C:\\WINDOWS\\system32\\drivers\\mervousb.sys"));
}

TEST_F(RunTest, MissingToolStillEndsWith0)
{
    WritePackage();
    std::remove(SimHostPath("C:\\pkg\\MERVODevCtl.exe").c_str());
    EXPECT_EQ(0, Run(""));
    EXPECT_EQ((std::vector<std::string>{"Device Install Error: Unable to remove driver instances.",
                                        "Device Install Error: Unable to launch rescan.",
                                        boxes::Logged(boxes::kStagerCaption, boxes::kSuccess)}),
              BoxTexts());
    std::vector<std::string> lines = Lines();
    EXPECT_NE(
        lines.end(),
        std::find(lines.begin(), lines.end(),
                  "MERVODriverStager | RemoveDriverInstances | Error: Driver instances remove failed !!"));
    EXPECT_EQ("MERVODriverStager | RemountDriverInstances | Error: Driver instances mount failed !!",
              lines.back());
    EXPECT_EQ(1u, Sim().stagedInfs.size());
}

TEST_F(RunTest, UnsupportedSystemIsRefusedWith2)
{
    WritePackage();
    SimSetVersion(1, 4, 90, 73010104, " ");
    EXPECT_EQ(2, Run(""));
    EXPECT_EQ(
        (std::vector<std::string>{
            kLogCreated, "GetOSVersion | GetOSVersion | OS Version: Microsoft Windows Millennium Edition.",
            "GetOSVersion | DisplayOSError | " + boxes::OsRefusal("Windows Millenium Edition")}),
        Lines());
    EXPECT_EQ((std::vector<std::string>{
                  boxes::Logged(boxes::kErrorCaption, boxes::OsRefusal("Windows Millenium Edition"))}),
              BoxTexts());
    EXPECT_EQ(kLogClosingLine, LogFileLines(kLog).back());
    EXPECT_TRUE(Sim().launches.empty());
}

// A name that does not fit InfFileName, or a source path that does not fit
// 519 characters, is refused instead of cut.
TEST_F(RunTest, OverlongInfNameOrPathGives15WithoutReadingAnything)
{
    struct LengthCase {
        const char* name;
        size_t nameLength;    // of the INF name, ".inf" included
        size_t folderLength;  // of the program folder
        const char* error;    // null: the path fits and the INF is looked for
    };
    const LengthCase cases[] = {
        {"name of 500", 500, 6, boxes::kInfNameTooLong},
        {"path of 519", 300, 218, nullptr},
        {"path of 520", 300, 219, boxes::kInfPathTooLong},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshMachine();
        const std::string folder = StagerInFolderOf(c.folderLength, 'f');
        const std::string name = std::string(c.nameLength - 4, 'n') + ".inf";
        EXPECT_EQ(15, Run(name + " nodisplay"));
        EXPECT_EQ(c.error == nullptr, TraceCount("OpenStream " + folder + "\\n") > 0);
        if (c.error != nullptr) {
            EXPECT_EQ(std::string("MERVODriverStager | Default_Pre_Installer | ") + c.error, Lines().back());
            EXPECT_EQ((std::vector<std::string>{std::string("MERVODriverStager Error: ") + c.error}),
                      BoxTexts());
        }
        EXPECT_TRUE(Sim().launches.empty());
    }
}

TEST_F(RunTest, CurrentDirectoryTextIsCutAt511)
{
    const std::string folder = StagerInFolderOf(497, 'c');
    Run("nodisplay MERVOUSB.inf");
    const std::string text = LogEntries(kLog)[3].text;
    EXPECT_EQ(511u, text.size());
    EXPECT_EQ(("Current directory: " + folder).substr(0, 511), text);
}

// A 32-bit stager on 64-bit Windows lets its 64-bit build do the whole run.
TEST_F(RunTest, Wow64HandsTheRunToThe64BitBuild)
{
    WritePackage();
    Write("C:\\pkg\\MERVODriverStager64.exe", "64-bit build");
    Sim().wow64 = true;
    Sim().process = {SIM_PROCESS_ENDS, 22};
    EXPECT_EQ(22, Run("\"My Driver.inf\" nodisplay"));
    ASSERT_EQ(1u, Sim().launches.size());
    EXPECT_EQ("\"C:\\pkg\\MERVODriverStager64.exe\" \"My Driver.inf\" nodisplay",
              Sim().launches[0].commandLine);
    EXPECT_EQ((std::vector<uint32_t>{PS_INFINITE}), Sim().launches[0].waits);
    EXPECT_FALSE(SimFileExists(kLog));
    EXPECT_TRUE(Sim().boxes.empty());
}

TEST_F(RunTest, Wow64WithoutThe64BitBuildEndsWith23)
{
    WritePackage();
    Sim().wow64 = true;
    EXPECT_EQ(23, Run("nodisplay"));
    EXPECT_EQ((std::vector<std::string>{kLogCreated, kXp, kXpBuild,
                                        "MERVODriverStager | WinMain | Error: 64-bit stager missing !!"}),
              Lines());
    EXPECT_EQ((std::vector<std::string>{boxes::Logged(boxes::kErrorCaption, boxes::kStager64Missing)}),
              BoxTexts());
    EXPECT_EQ(0u, TraceCount("CopyFileA"));
    EXPECT_TRUE(Sim().launches.empty());
}

// Every way the hand-off can go wrong says what happened: its own log line, a
// box (the system error box where a system call failed), and never a code the
// stager does not give. Codes the stager gives pass through unchanged.
TEST_F(RunTest, Wow64HandOffFailuresAreReportedAsWhatHappened)
{
    const std::string kStager64 = "C:\\pkg\\MERVODriverStager64.exe";
    struct HandOffCase {
        const char* name;
        bool present;                   // the 64-bit build is in the package
        std::function<void()> arrange;  // after the package is written
        int exitCode;
        const char* logLine;  // the last line; null: no log
        std::vector<std::string> boxes;
        size_t launches;
    };
    const std::string kFunction = "MERVODriverStager | WinMain | ";
    // clang-format off
    const HandOffCase cases[] = {
        {"program path unknown", true, [] { Sim().failAlways[SIM_GetModuleFileNameA] = true; }, 21,
         "MERVODriverStager | Default_Pre_Installer | Error while getting current directory !!", {}, 0},
        {"64-bit build missing", false, [] {}, 23,
         boxes::kStager64Missing, {boxes::Logged(boxes::kErrorCaption, boxes::kStager64Missing)}, 0},
        {"64-bit build there but not startable", true, [] { Sim().process = {SIM_PROCESS_FAILS_TO_START, 0}; }, 23,
         "Error: 64-bit stager cannot be started !!", {"Error: The system cannot find the file specified.\r\n"}, 1},
        // (the waits for the machine's turn come before the start)
        {"wait fails", true, [] { Sim().onLaunch = [](const std::string&) {
             Sim().failAlways[SIM_WaitForSingleObject] = true;
             return SimProcessScript{SIM_PROCESS_ENDS, 0}; }; }, 23,
         "Error while waiting for the 64-bit stager !!", {"Error: The handle is invalid.\r\n"}, 1},
        {"exit code unreadable", true, [] { Sim().failAlways[SIM_GetExitCodeProcess] = true; }, 23,
         "Error while reading the 64-bit stager's exit code !!", {"Error: The handle is invalid.\r\n"}, 1},
        {"64-bit build crashed", true, [] { Sim().process = {SIM_PROCESS_ENDS, 0xC0000005u}; }, 23,
         "Error: 64-bit stager ended with 0xC0000005 !!",
         {"MERVODriverStager Error: Error: 64-bit stager ended with 0xC0000005 !!"}, 1},
        {"64-bit build ended with 25", true, [] { Sim().process = {SIM_PROCESS_ENDS, 25}; }, 23,
         "Error: 64-bit stager ended with 0x00000019 !!",
         {"MERVODriverStager Error: Error: 64-bit stager ended with 0x00000019 !!"}, 1},
        {"64-bit build ended with 3", true, [] { Sim().process = {SIM_PROCESS_ENDS, 3}; }, 23,
         "Error: 64-bit stager ended with 0x00000003 !!",
         {"MERVODriverStager Error: Error: 64-bit stager ended with 0x00000003 !!"}, 1},
    };
    // clang-format on
    for (const HandOffCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshMachine();
        WritePackage();
        if (c.present)
            Write(kStager64, "64-bit build");
        Sim().wow64 = true;
        c.arrange();
        EXPECT_EQ(c.exitCode, Run("nodisplay"));
        std::vector<std::string> lines = Lines();
        ASSERT_FALSE(lines.empty());
        const std::string line = c.logLine;
        EXPECT_EQ(line.rfind("MERVODriverStager |", 0) == 0 ? line : kFunction + line, lines.back());
        EXPECT_EQ(c.boxes, BoxTexts());
        EXPECT_EQ(c.launches, Sim().launches.size());
        EXPECT_EQ(0u, TraceCount("CopyFileA"));
    }
    for (uint32_t code : {0u, 1u, 2u, 15u, 21u, 22u, 23u, 24u}) {
        SCOPED_TRACE(code);
        FreshMachine();
        WritePackage();
        Write(kStager64, "64-bit build");
        Sim().wow64 = true;
        Sim().process = {SIM_PROCESS_ENDS, code};
        EXPECT_EQ(static_cast<int>(code), Run("nodisplay"));
        EXPECT_TRUE(Sim().boxes.empty());
        EXPECT_FALSE(SimFileExists(kLog));
    }
}

// The 64-bit build's log of a run that went wrong gets the 32-bit stager's
// line at its end, not a new log in its place; "nolog" writes no line.
TEST_F(RunTest, Wow64FailureAfterTheStartIsAddedToThe64BitBuildsLog)
{
    const std::string earlier = "64-bit build's log\r\n";
    for (const char* text : {"nodisplay", "nodisplay nolog"}) {
        SCOPED_TRACE(text);
        FreshMachine();
        WritePackage();
        Write("C:\\pkg\\MERVODriverStager64.exe", "64-bit build");
        Write(kLog, earlier);
        Sim().wow64 = true;
        Sim().process = {SIM_PROCESS_ENDS, 0xC0000005u};
        EXPECT_EQ(23, Run(text));
        const std::string log = Read(kLog);
        ASSERT_EQ(0u, log.rfind(earlier, 0));
        if (strstr(text, "nolog") != nullptr) {
            EXPECT_EQ(earlier, log);
        } else {
            // earlier, one stamped line (26 characters of time stamp), the closing line
            const std::string line =
                "MERVODriverStager -                   WinMain() - "
                "Error: 64-bit stager ended with 0xC0000005 !!\r\n";
            const std::string closing = std::string(kLogClosingLine) + "\r\n";
            ASSERT_EQ(earlier.size() + 26 + 5 + line.size() + closing.size(), log.size()) << log;
            EXPECT_EQ(line + closing, log.substr(earlier.size() + 26 + 5));
        }
        EXPECT_EQ(1u, Sim().boxes.size());
    }
}

// The stager's path, the 64-bit build's path and the command line are each
// handled at their exact bounds: what fits is used, one more is refused by
// name, never cut.
TEST_F(RunTest, Wow64HandOffBoundsAreExact)
{
    struct BoundCase {
        const char* name;
        size_t folderLength;
        size_t textLength;
        bool launched;      // the 64-bit build was started with the whole command line
        const char* error;  // the last log line's text and the box; null: none
    };
    // "<folder>\\MERVODriverStager64.exe" needs folder + 24 characters and
    // its NUL in 520 bytes; the command line, "\"<path>\" <text>" and its
    // NUL, in the 32767 that CreateProcess takes. (A 519-character program path
    // passes the stager's own bound; the system, whose paths end at 260, then
    // cannot start it.)
    const BoundCase cases[] = {
        {"64-bit path of 519", 495, 9, true, "Error: 64-bit stager cannot be started !!"},
        {"64-bit path of 520", 496, 9, false, "Error: 64-bit stager path too long !!"},
        {"command line of 32766", 6, 32766 - 33, true, nullptr},
        {"command line of 32767", 6, 32767 - 33, false,
         "Error: argument text too long for the 64-bit stager !!"},
    };
    for (const BoundCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshMachine();
        const std::string folder = StagerInFolderOf(c.folderLength, 'w');
        Write(folder + "\\MERVODriverStager64.exe", "64-bit build");
        Sim().wow64 = true;
        const std::string text = "nodisplay" + std::string(c.textLength - 9, ' ');
        EXPECT_EQ(c.error == nullptr ? 0 : 23, Run(text));
        ASSERT_EQ(c.launched ? 1u : 0u, Sim().launches.size());
        if (c.launched) {
            EXPECT_EQ("\"" + folder + "\\MERVODriverStager64.exe\" " + text, Sim().launches[0].commandLine);
        }
        if (c.error == nullptr) {
            EXPECT_TRUE(Sim().boxes.empty());
        } else {
            EXPECT_EQ(std::string("MERVODriverStager | WinMain | ") + c.error, Lines().back());
            EXPECT_EQ(1u, Sim().boxes.size());
        }
    }
}

TEST_F(RunTest, NoWow64QuestionOrA32BitSystemRunsHere)
{
    for (bool known : {false, true}) {
        SCOPED_TRACE(testing::Message() << "WOW64 answer known: " << known);
        FreshMachine();
        WritePackage();
        Sim().wow64Known = known;
        Sim().wow64 = !known;  // unknown: whatever it would say is not asked
        EXPECT_EQ(0, Run("nodisplay"));
        EXPECT_EQ(2u, Sim().launches.size());
    }
}

}  // namespace
