// What the check reports about files, names and exit codes, and that it only reads.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "CheckParts.h"
#include "CheckSupport.h"
#include "app/MERVODriverStager.h"
#include "platform/simulated/SimulatedPlatform.h"

namespace {

std::string WithSourceDisksFiles(const std::string& entries)
{
    std::string inf = GoodInf();
    const std::string entry = "mervousb.sys=1\r\n";
    return inf.replace(inf.find(entry), entry.size(), entries);
}

TEST(ReadOnly, TheCheckWritesNothingAnywhere)
{
    TempPackage package;
    package.Write("MERVOUSB.inf", WithSourceDisksFiles("mervousb.sys=1\r\nabsent.sys=1\r\n"));
    package.Write("mervousb.sys", "driver");
    package.Write("MERVOUSB.pnf", "stale compiled INF");
    auto before = FolderSnapshot(package.path());

    for (bool json : {false, true}) {
        SCOPED_TRACE(testing::Message() << "json: " << json);
        CheckRun run = json ? RunCheck({package.path(), "MERVOUSB.inf", "--json"})
                            : RunCheck({package.path(), "MERVOUSB.inf"});
        EXPECT_EQ(CHECK_WARNINGS, run.exitCode) << run.output;
        // The simulated machine records every write, delete, launch and staging.
        EXPECT_TRUE(Sim().filesWritten.empty());
        EXPECT_TRUE(Sim().filesDeleted.empty());
        EXPECT_TRUE(Sim().launches.empty());
        EXPECT_TRUE(Sim().stagedInfs.empty());
        EXPECT_TRUE(Sim().boxes.empty());
        EXPECT_EQ(0, Sim().openStreams);
    }
    EXPECT_EQ(FolderSnapshot(package.path()), before);
}

// Names are looked up as Windows does: case ignored, trailing dots and
// blanks dropped; the INF's own spelling is what the report shows.
TEST(DriverFiles, AreFoundUnderWindowsNameRules)
{
    TempPackage package;
    package.AddCompanionTool();
    package.Write("MervoUSB.SYS", "12345");
    package.Write("mervoser.sys", "1234567");
    package.Write("MERVOUSB.inf", WithSourceDisksFiles("mervousb.sys =1\r\n"
                                                       "MERVOSER.SYS.=1,,,\r\n"
                                                       " indented.sys=1\r\n"
                                                       "; comment.sys=1\r\n"
                                                       "\tmervousb.sys=1\r\n"));
    PackageReport report = CheckFolder(package.path(), nullptr);

    ASSERT_EQ(3u, report.files.size());  // the blank-indented and the comment line are skipped
    EXPECT_EQ("mervousb.sys ", report.files[0].name);
    EXPECT_TRUE(report.files[0].present);
    EXPECT_EQ(5, report.files[0].size);
    EXPECT_EQ("MERVOSER.SYS.", report.files[1].name);
    EXPECT_TRUE(report.files[1].present);
    EXPECT_EQ(7, report.files[1].size);
    // A tab is no part of a Windows file name: the copy fails.
    EXPECT_EQ("\tmervousb.sys", report.files[2].name);
    EXPECT_FALSE(report.files[2].present);
    EXPECT_EQ(-1, report.files[2].size);
    EXPECT_EQ((std::vector<std::string>{"MISSING_FILE", "UNSIGNED_PACKAGE"}), WarningCodes(report));
}

struct StaleCase {
    const char* argument;
    const char* infPath;
    std::vector<std::string> staleFiles;
};

TEST(StaleFiles, AreTheInfBaseNameAndItsCompiledForm)
{
    const StaleCase cases[] = {
        {nullptr, "P:\\MERVOUSB.inf", {"MERVOUSB.inf", "MERVOUSB.pnf"}},
        {"x.inf nodisplay nolog", "P:\\x.inf", {"x.inf", "x.pnf"}},
        {"sub\\Other.inf", "P:\\sub\\Other.inf", {"Other.inf", "Other.pnf"}},
        {"\"my driver.inf\"", "P:\\my driver.inf", {"my driver.inf", "my driver.pnf"}},
    };
    for (const StaleCase& c : cases) {
        SCOPED_TRACE(c.argument == nullptr ? "(none)" : c.argument);
        TempPackage package;
        PackageReport report = CheckFolder(package.path(), c.argument);
        EXPECT_EQ(c.infPath, report.infPath);
        EXPECT_EQ(c.staleFiles, report.staleFiles);
        EXPECT_EQ(EXIT_NO_DEVICE, report.stagerExitCode);  // the folder is empty
    }
}

namespace fs = std::filesystem;

struct InfFileCase {
    const char* name;
    // Makes the package's INF; `outside` is a folder beside the package.
    std::function<void(const TempPackage& package, const TempPackage& outside)> make;
    const char* infArgument;
    int readResult;  // GetDeviceIDs' result; -1 not called
    int devices;
    int stagerExitCode;
    const char* note;     // the catalog's note
    const char* failure;  // in the failure's text; "" none
};

// The good INF followed by NUL bytes (a sparse file) up to `size` bytes.
void WritePaddedInf(const TempPackage& p, uintmax_t size)
{
    p.Write("MERVOUSB.inf", GoodInf());
    fs::resize_file(p.File("MERVOUSB.inf"), size);
}

// The INF is read only when it is a regular file of the package of at most
// the size the check reads; anything else is reported as unreadable, and
// nothing is opened that could keep the check waiting (a FIFO).
TEST(InfFile, IsReadOnlyWhenARegularFileOfTheReadLimitAtMost)
{
    // clang-format off
    const InfFileCase cases[] = {
        {"missing", [](const TempPackage&, const TempPackage&) {}, nullptr, 2, 0, EXIT_NO_DEVICE,
         "the INF is missing", "cannot be read"},
        {"a_folder", [](const TempPackage& p, const TempPackage&) { p.Write("MERVOUSB.inf/x", "x"); }, nullptr, 2, 0,
         EXIT_NO_DEVICE, "the INF cannot be read", "cannot be read"},
        {"a_fifo", [](const TempPackage& p, const TempPackage&) {
             EXPECT_EQ(0, mkfifo(p.File("MERVOUSB.inf").c_str(), 0600)); }, nullptr, 2, 0, EXIT_NO_DEVICE,
         "the INF cannot be read", "cannot be read"},
        {"a_link_out_of_the_package", [](const TempPackage& p, const TempPackage& outside) {
             outside.Write("MERVOUSB.inf", GoodInf());
             fs::create_symlink(outside.File("MERVOUSB.inf"), p.File("MERVOUSB.inf")); },
         nullptr, 2, 0, EXIT_NO_DEVICE, "the INF cannot be read", "cannot be read"},
        {"a_link_within_the_package", [](const TempPackage& p, const TempPackage&) {
             p.Write("real.inf", GoodInf());
             fs::create_symlink("real.inf", p.File("MERVOUSB.inf")); },
         nullptr, 2, 0, EXIT_NO_DEVICE, "the INF cannot be read", "cannot be read"},
        {"in_a_linked_folder", [](const TempPackage& p, const TempPackage& outside) {
             outside.Write("MERVOUSB.inf", GoodInf());
             fs::create_directory_symlink(outside.path(), p.File("sub")); },
         "sub\\MERVOUSB.inf", 2, 0, EXIT_NO_DEVICE, "the INF cannot be read", "cannot be read"},
        {"in_a_subfolder", [](const TempPackage& p, const TempPackage&) { p.Write("sub/MERVOUSB.inf", GoodInf()); },
         "sub\\MERVOUSB.inf", 0, 1, EXIT_OK, "no catalog named", ""},
        {"utf16", [](const TempPackage& p, const TempPackage&) { p.Write("MERVOUSB.inf", Utf16(GoodInf())); },
         nullptr, 0, 0, EXIT_NO_DEVICE, "the INF is not readable as 8-bit text", "has no device line"},
        {"at_the_read_limit", [](const TempPackage& p, const TempPackage&) { WritePaddedInf(p, kCatalogReadLimit); },
         nullptr, 0, 1, EXIT_OK, "no catalog named", ""},
        {"one_byte_past_the_read_limit",
         [](const TempPackage& p, const TempPackage&) { WritePaddedInf(p, kCatalogReadLimit + 1); }, nullptr, -1, 0,
         EXIT_NO_DEVICE, "the INF cannot be read", "is larger than 67108864 bytes"},
    };
    // clang-format on
    for (const InfFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempPackage package;
        TempPackage outside;
        c.make(package, outside);
        PackageReport report = CheckFolder(package.path(), c.infArgument);
        EXPECT_EQ(c.readResult, report.deviceReadResult);
        EXPECT_EQ(c.devices, report.table.count);
        EXPECT_EQ(c.stagerExitCode, report.stagerExitCode);
        EXPECT_EQ(c.note, report.catalog.note);
        EXPECT_NE(report.failure.find(c.failure), std::string::npos) << report.failure;
        EXPECT_EQ(*c.failure == '\0', report.failure.empty()) << report.failure;
        EXPECT_EQ(0, Sim().openStreams);
    }
}

TEST(DeviceTable, GivesTheRemovePatternOfTheFirstVendor)
{
    TempPackage package;
    package.Write(
        "MERVOUSB.inf",
        CrLf({"[Version]", "Signature=$Chicago$", "[Models]", "%DevA%=Install, USB\\VID_abcd&PID_0001",
              "%DevB%=Install, USB\\VID_1111&PID_0002", "[Strings]", "DevA=\"First\"", "DevB=\"Second\""}));
    PackageReport report = CheckFolder(package.path(), nullptr);
    ASSERT_EQ(2, report.table.count);
    EXPECT_EQ("*VID_abcd*", report.removePattern);
    EXPECT_STREQ("Second", report.table.entries[1].description);
}

TEST(CommandLine, ExitCodes)
{
    TempPackage package;
    package.Write("MERVOUSB.inf", GoodInf());
    package.Write("mervousb.sys", "x");
    package.AddCompanionTool();
    EXPECT_EQ(CHECK_WARNINGS, RunCheck({package.path()}).exitCode);  // no catalog
    EXPECT_EQ(CHECK_WARNINGS, RunCheck({"--json", package.path()}).exitCode);
    // A vendor-signed package with the companion tool: it prompts on every
    // target, and on none once its publisher is trusted there.
    TempPackage signedPackage;
    signedPackage.CopyFrom(MERVO_SIGNED_PACKAGES "/pololu-tic");
    signedPackage.AddCompanionTool();
    const std::vector<std::string> trusted = {"--target", "10-x64,11-x64", "--trusted-publisher",
                                              PkiFile("pololu-publisher.pem")};
    std::vector<std::string> arguments = {signedPackage.path(), "tic.inf"};
    arguments.insert(arguments.end(), trusted.begin(), trusted.end());
    EXPECT_EQ(CHECK_WARNINGS, RunCheck({signedPackage.path(), "tic.inf"}).exitCode);
    EXPECT_EQ(CHECK_NOT_SILENT, RunCheck({signedPackage.path(), "tic.inf", "--require", "silent"}).exitCode);
    EXPECT_EQ(CHECK_CLEAN, RunCheck(arguments).exitCode);
    arguments.insert(arguments.end(), {"--require", "silent", "--json"});
    EXPECT_EQ(CHECK_CLEAN, RunCheck(arguments).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN, RunCheck({package.path(), "--target", "12-x64"}).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN, RunCheck({package.path(), "--require", "quiet"}).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN,
              RunCheck({package.path(), "--trusted-publisher", package.File("mervousb.sys")}).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN, RunCheck({package.path(), "--ca-bundle", package.File("absent.pem")}).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN, RunCheck({package.path(), "--trust-dir", package.path()}).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN, RunCheck({package.path(), "--target"}).exitCode);
    EXPECT_EQ(CHECK_RUN_FAILS, RunCheck({package.path(), "absent.inf"}).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN, RunCheck({}).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN, RunCheck({package.path(), "a.inf", "b.inf"}).exitCode);
    EXPECT_EQ(CHECK_NOT_RUN, RunCheck({package.path() + "/no-such-folder"}).exitCode);
    EXPECT_EQ(CHECK_CLEAN, RunCheck({"--help"}).exitCode);
    EXPECT_EQ(CHECK_CLEAN, RunCheck({"--version", package.path(), "a.inf", "b.inf"}).exitCode);
}

// The last line names where Windows refuses the package or warns before
// staging it, so that a refusal is never read as "warnings only".
TEST(ResultLine, NamesTheTargetsThatRefuseOrWarn)
{
    TempPackage package;
    package.CopyFrom(MERVO_SOURCE_DIR "/examples/package");
    package.AddCompanionTool();
    const std::string end = ": the stager would end with 0.\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--target", "7-x86,10-x64"},
         "Result: 1 (warnings; Windows refuses the package on 10-x64; it warns before staging it on 7-x86)"},
        {{"--target", "7-x86"}, "Result: 1 (warnings; Windows warns before staging it on 7-x86)"},
        {{"--target", "7-x86", "--require", "silent"},
         "Result: 4 (--require silent not met; Windows warns before staging it on 7-x86)"},
        {{"--target", "7-x86,10-x64", "--standard-user"},
         "Result: 1 (warnings; Windows refuses the package on 7-x86, 10-x64)"},
    };
    for (const auto& [arguments, last] : cases) {
        std::vector<std::string> words = {package.path()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        CheckRun run = RunCheck(words);
        EXPECT_EQ(last + end, run.output.substr(run.output.rfind("Result: "))) << run.output;
    }
}

TEST(Json, ParsesAndMatchesTheText)
{
    TempPackage package;
    package.Write(
        "MERVOUSB.inf",
        CrLf({"[Version]", "Signature=\"$Windows NT$\"", "[Models]",
              "%DevDesc% = Install, USB\\VID_0123&PID_4567", "\t%Tabbed%=Install, USB\\VID_0123&PID_0002",
              "%Q%=Install, USB\\VID_0123&PID_45",  // too short: not a device line
              "A=USB\\VID_0123&PID_0003", "[SourceDisksFiles]", "..\\up.sys=1", "absent.sys=1",
              "present.sys=1", "[Strings]", "DevDesc=\"Caf\xE9 device\"", "Q=\"q\""}));
    package.Write("present.sys", "0123456789");
    CheckRun text = RunCheck({package.path()});
    CheckRun json = RunCheck({package.path(), "--json"});
    EXPECT_EQ(text.exitCode, json.exitCode);
    ExpectJsonMatchesText(json.output, text.output);

    nlohmann::json document = nlohmann::json::parse(json.output);
    ASSERT_EQ(3u, document["devices"].size());
    EXPECT_EQ("nstall, USB\\VID_0123&PID_0002", document["devices"][1]["description"]);
    EXPECT_EQ("MERVO USB Device", document["devices"][2]["description"]);
    EXPECT_EQ(10, document["files"][2]["size"]);
    EXPECT_TRUE(document["files"][0]["size"].is_null());
    EXPECT_EQ(CHECK_WARNINGS, document["exitCode"]);
    EXPECT_TRUE(document["failure"].is_null());

    // A failing package: the failure's reason is in both.
    TempPackage empty;
    text = RunCheck({empty.path()});
    json = RunCheck({empty.path(), "--json"});
    ExpectJsonMatchesText(json.output, text.output);
    EXPECT_EQ(EXIT_NO_DEVICE, nlohmann::json::parse(json.output)["stagerExitCode"]);
}

}  // namespace

namespace {

// The stager refuses an INF name that does not fit its 500-byte buffer rather
// than use a cut one; the check says so without reading anything.
TEST(InfName, TooLongForTheStagerFailsWith15)
{
    TempPackage package;
    std::string name = std::string(520, 'a') + ".inf";
    PackageReport report = CheckFolder(package.path(), name.c_str());
    EXPECT_EQ(CHECK_RUN_FAILS, report.exitCode);
    EXPECT_EQ(EXIT_NO_DEVICE, report.stagerExitCode);
    EXPECT_EQ(-1, report.deviceReadResult);
    EXPECT_TRUE(report.infPath.empty());
    EXPECT_NE(report.failure.find("too long"), std::string::npos);

    CheckRun text = RunCheck({package.path(), name});
    CheckRun json = RunCheck({package.path(), name, "--json"});
    ExpectJsonMatchesText(json.output, text.output);
}

}  // namespace
