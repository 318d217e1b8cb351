// Each warning of the check fires on a package made for it, and only there.
// The package of these cases names no catalog, so each whose INF is read as
// text also gives UNSIGNED_PACKAGE (the catalog's own cases are in
// Catalog_test.cpp).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "CheckSupport.h"
#include "app/MERVODriverStager.h"

namespace {

// The good INF with its models line `%DevDesc%=Install, USB\VID_0123&PID_4567`
// followed by more lines of the models section.
std::string WithModelLines(const std::string& lines)
{
    return Replace(GoodInf(), "PID_4567\r\n", "PID_4567\r\n" + lines);
}

std::string DeviceLines(int count)
{
    std::string lines;
    for (int i = 1; i < count; ++i) {
        char line[64];
        snprintf(line, sizeof line, "%%DevDesc%%=Install, USB\\VID_0123&PID_%04d\r\n", i);
        lines += line;
    }
    return lines;
}

struct WarningCase {
    const char* name;
    std::function<void(const TempPackage&)> change;  // applied to the good package
    const char* infArgument;
    std::vector<std::string> codes;
    int exitCode;
    int stagerExitCode;
};

void WriteInf(const TempPackage& package, const std::string& text)
{
    package.Write("MERVOUSB.inf", text);
}

// The good INF, its driver file and the companion tool.
void WriteGoodPackage(const TempPackage& package)
{
    WriteInf(package, GoodInf());
    package.Write("mervousb.sys", "driver bytes");
    package.AddCompanionTool();
}

// Enough NUL bytes after the INF's text to make it not 8-bit text.
const std::string kNulTail(4096, '\0');

// clang-format off
const WarningCase kCases[] = {
    {"clean", [](const TempPackage&) {}, nullptr, {"UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"utf16_with_mark", [](const TempPackage& p) { WriteInf(p, Utf16(GoodInf())); }, nullptr,
     {"INF_NOT_8BIT_TEXT"}, CHECK_RUN_FAILS, EXIT_NO_DEVICE},
    {"utf16_without_mark", [](const TempPackage& p) { WriteInf(p, Utf16(GoodInf()).substr(2)); },
     nullptr, {"INF_NOT_8BIT_TEXT"}, CHECK_RUN_FAILS, EXIT_NO_DEVICE},
    {"decorated_source_disks_files_only",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "[SourceDisksFiles]\r\nmervousb.sys=1\r\n",
                             "[SourceDisksFiles.x86]\r\nmervousb.sys=1\r\n"
                             "[SourceDisksFiles.amd64]\r\nmervousb.sys=1\r\n"));
     },
     nullptr, {"NO_PLAIN_SOURCE_DISKS_FILES", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"lower_case_source_disks_files",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "[SourceDisksFiles]", "[sourcedisksfiles]"));
     },
     nullptr, {"NO_PLAIN_SOURCE_DISKS_FILES", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"spaced_device_line",
     [](const TempPackage& p) { WriteInf(p, Replace(GoodInf(), "%DevDesc%=", "%DevDesc% = ")); },
     nullptr, {"UNRESOLVED_DESCRIPTION", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"undefined_key",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "DevDesc=\"MERVO Test Device\"", "Other=\"x\""));
     },
     nullptr, {"UNRESOLVED_DESCRIPTION", "INF_STRING_UNDEFINED", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"new_device_in_second_models_section",
     [](const TempPackage& p) {
         WriteInf(p, WithModelLines("[Models.NTamd64]\r\n%DevDesc%=Install, USB\\VID_0123&PID_9999\r\n"));
     },
     nullptr, {"DEVICE_AFTER_FIRST_PASS", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"same_device_in_second_models_section",
     [](const TempPackage& p) {
         WriteInf(p, WithModelLines("[Models.NTamd64]\r\n%DevDesc%=Install, USB\\VID_0123&PID_4567\r\n"));
     },
     nullptr, {"UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"lower_case_device_line",
     [](const TempPackage& p) {
         WriteInf(p, WithModelLines("%DevDesc%=Install, usb\\vid_0123&pid_8888\r\n"));
     },
     nullptr, {"DEVICE_LINE_NOT_READ", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"blank_indented_device_line",
     [](const TempPackage& p) {
         WriteInf(p, WithModelLines(" %DevDesc%=Install, USB\\VID_0123&PID_7777\r\n"));
     },
     nullptr, {"DEVICE_LINE_NOT_READ", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"commented_lower_case_line",
     [](const TempPackage& p) {
         WriteInf(p, WithModelLines("; %DevDesc%=Install, usb\\vid_0123&pid_8888\r\n"));
     },
     nullptr, {"UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"eleven_devices", [](const TempPackage& p) { WriteInf(p, WithModelLines(DeviceLines(11))); },
     nullptr, {"TOO_MANY_DEVICES", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"ten_devices", [](const TempPackage& p) { WriteInf(p, WithModelLines(DeviceLines(10))); },
     nullptr, {"UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"climbing_file_name",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "mervousb.sys=1\r\n", "mervousb.sys=1\r\n..\\outside.sys=1\r\n"));
     },
     nullptr, {"UNSAFE_FILE_NAME", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"device_file_name",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "mervousb.sys=1\r\n", "mervousb.sys=1\r\nNUL.sys=1\r\n"));
     },
     nullptr, {"UNSAFE_FILE_NAME", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"missing_file",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "mervousb.sys=1\r\n", "mervousb.sys=1\r\nabsent.sys=1\r\n"));
     },
     nullptr, {"MISSING_FILE", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"folder_named_as_file", [](const TempPackage& p) { p.Write("sub.sys/x", "x");
         WriteInf(p, Replace(GoodInf(), "mervousb.sys=1\r\n", "mervousb.sys=1\r\nsub.sys=1\r\n"));
     },
     nullptr, {"MISSING_FILE", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"driver_file_a_fifo",  // present to Windows, but nothing is read from it (nor waited on)
     [](const TempPackage& p) {
         std::filesystem::remove(p.File("mervousb.sys"));
         EXPECT_EQ(0, mkfifo(p.File("mervousb.sys").c_str(), 0600));
     },
     nullptr, {"UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"no_companion_tool",
     [](const TempPackage& p) { std::filesystem::remove(p.File(kCompanionToolName)); },
     nullptr, {"COMPANION_TOOL_MISSING", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"no_companion_tool_build",
     [](const TempPackage& p) {
         std::filesystem::remove(p.File(kCompanionToolName));
         std::filesystem::remove(p.File(kCompanionTool64Name));
     },
     nullptr, {"COMPANION_TOOL_MISSING", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"companion_tool_without_its_64_bit_build",
     [](const TempPackage& p) { std::filesystem::remove(p.File(kCompanionTool64Name)); },
     nullptr, {"DEVCTL64_MISSING", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"stager_without_its_64_bit_build", [](const TempPackage& p) { p.Write(kStagerName, "stager"); },
     nullptr, {"STAGER64_MISSING", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"stager_with_its_64_bit_build",
     [](const TempPackage& p) { p.Write(kStagerName, "stager"); p.Write(kStager64Name, "stager"); },
     nullptr, {"UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"nul_tail_after_the_device_line", [](const TempPackage& p) { WriteInf(p, GoodInf() + kNulTail); },
     nullptr, {"INF_NOT_8BIT_TEXT", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"nul_tail_and_an_unknown_signature",
     [](const TempPackage& p) { WriteInf(p, Replace(GoodInf(), "$Windows NT$", "$Windows 3$") + kNulTail); },
     nullptr, {"INF_NOT_8BIT_TEXT", "BAD_SIGNATURE", "UNSIGNED_PACKAGE"}, CHECK_RUN_FAILS, EXIT_STAGING_FAILED},
    {"nul_tail_and_no_device_line",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "%DevDesc%=Install, USB\\VID_0123&PID_4567\r\n", "") + kNulTail);
     },
     nullptr, {"INF_NOT_8BIT_TEXT"}, CHECK_RUN_FAILS, EXIT_NO_DEVICE},
    {"no_version_section",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "[Version]\r\nSignature=\"$Windows NT$\"\r\n", ""));
     },
     nullptr, {"INF_LINE_OUTSIDE_SECTION", "NO_VERSION_SECTION", "UNSIGNED_PACKAGE"}, CHECK_RUN_FAILS,
     EXIT_STAGING_FAILED},
    {"unknown_signature",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "$Windows NT$", "$Windows 3$"));
     },
     nullptr, {"BAD_SIGNATURE", "UNSIGNED_PACKAGE"}, CHECK_RUN_FAILS, EXIT_STAGING_FAILED},
    {"upper_case_inf_argument", [](const TempPackage& p) { p.Write("Other.INF", GoodInf()); },
     "Other.INF", {"INF_NAME_NOT_TAKEN", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    // The stager deletes the INF folder's file of the INF's name first.
    {"inf_named_like_a_staged_copy", [](const TempPackage& p) { p.Write("OEM12.inf", GoodInf()); },
     "OEM12.inf", {"INF_NAMED_LIKE_STAGED_COPY", "UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"inf_named_oem_without_a_number", [](const TempPackage& p) { p.Write("oem.inf", GoodInf()); },
     "oem.inf", {"UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"inf_named_oem_and_letters", [](const TempPackage& p) { p.Write("oem3a.inf", GoodInf()); },
     "oem3a.inf", {"UNSIGNED_PACKAGE"}, CHECK_WARNINGS, EXIT_OK},
    {"no_inf", [](const TempPackage& p) { p.Write("MERVOUSB.inf", ""); }, "absent.inf", {},
     CHECK_RUN_FAILS, EXIT_NO_DEVICE},
    {"no_device_line",
     [](const TempPackage& p) {
         WriteInf(p, Replace(GoodInf(), "%DevDesc%=Install, USB\\VID_0123&PID_4567\r\n", ""));
     },
     nullptr, {"UNSIGNED_PACKAGE"}, CHECK_RUN_FAILS, EXIT_NO_DEVICE},
};
// clang-format on

class WarningTest : public testing::TestWithParam<WarningCase> {};

TEST_P(WarningTest, FiresOnlyOnThePackageMadeForIt)
{
    const WarningCase& c = GetParam();
    TempPackage package;
    WriteGoodPackage(package);
    c.change(package);

    PackageReport report = CheckFolder(package.path(), c.infArgument);
    EXPECT_EQ(c.codes, WarningCodes(report));
    EXPECT_EQ(c.exitCode, report.exitCode);
    EXPECT_EQ(c.stagerExitCode, report.stagerExitCode);
    EXPECT_EQ(c.stagerExitCode == EXIT_OK, report.failure.empty());
}

INSTANTIATE_TEST_SUITE_P(Packages, WarningTest, testing::ValuesIn(kCases), CaseName());

TEST(WarningText, SpacedKeyNamesTheFix)
{
    TempPackage package;
    WriteGoodPackage(package);
    WriteInf(package, Replace(GoodInf(), "%DevDesc%=", "%DevDesc% = "));
    PackageReport report = CheckFolder(package.path(), nullptr);
    ASSERT_EQ((std::vector<std::string>{"UNRESOLVED_DESCRIPTION", "UNSIGNED_PACKAGE"}), WarningCodes(report));
    EXPECT_NE(report.warnings[0].message.find("\"DevDesc%\""), std::string::npos);
    EXPECT_NE(report.warnings[0].message.find("write \"%DevDesc%=...\""), std::string::npos);
}

// The warning says what the stager reads from text that is not 8-bit.
TEST(WarningText, NotEightBitTextSaysWhatTheStagerReads)
{
    const std::pair<std::string, std::string> cases[] = {
        {Utf16(GoodInf()), "byte order mark): the stager reads no device line from it."},
        {GoodInf() + kNulTail, "(4096 NUL bytes in its first " + std::to_string(GoodInf().size() + 4096) +
                                   "): the stager still reads 1 device line from it."},
        {WithModelLines(DeviceLines(2)) + kNulTail, "the stager still reads 2 device lines from it."},
    };
    for (const auto& [inf, quoted] : cases) {
        SCOPED_TRACE(quoted);
        TempPackage package;
        WriteGoodPackage(package);
        WriteInf(package, inf);
        PackageReport report = CheckFolder(package.path(), nullptr);
        ASSERT_FALSE(report.warnings.empty());
        EXPECT_EQ("INF_NOT_8BIT_TEXT", report.warnings[0].code);
        EXPECT_NE(report.warnings[0].message.find(quoted), std::string::npos) << report.warnings[0].message;
    }
}

// What the 32-bit stager does on 64-bit Windows without its 64-bit build.
TEST(WarningText, Stager64SaysWhatTheStagerDoes)
{
    const std::pair<std::string, const char*> cases[] = {
        {"", "is not in the package: on 64-bit Windows MERVODriverStager.exe logs \"64-bit stager missing\""},
        {"/x", "is a folder in the package: on 64-bit Windows MERVODriverStager.exe cannot start it"},
    };
    for (const auto& [below, quoted] : cases) {
        SCOPED_TRACE(quoted);
        TempPackage package;
        WriteGoodPackage(package);
        package.Write(kStagerName, "stager");
        if (!below.empty()) {
            package.Write(kStager64Name + below, "x");
        }
        PackageReport report = CheckFolder(package.path(), nullptr);
        ASSERT_EQ((std::vector<std::string>{"STAGER64_MISSING", "UNSIGNED_PACKAGE"}), WarningCodes(report));
        EXPECT_NE(report.warnings[0].message.find(quoted), std::string::npos) << report.warnings[0].message;
        EXPECT_NE(report.warnings[0].message.find("ends with 23 without copying or staging anything."),
                  std::string::npos);
    }
}

TEST(WarningText, IgnoredDeviceLinesAreQuotedWithTheirLineNumbers)
{
    TempPackage package;
    WriteGoodPackage(package);
    WriteInf(package, WithModelLines("[Models.NTamd64]\r\n%DevDesc%=Install, USB\\VID_0123&PID_9999\r\n"));
    PackageReport report = CheckFolder(package.path(), nullptr);
    ASSERT_EQ((std::vector<std::string>{"DEVICE_AFTER_FIRST_PASS", "UNSIGNED_PACKAGE"}),
              WarningCodes(report));
    // [Models.NTamd64] is line 10 of the file, the new device line 11.
    EXPECT_NE(report.warnings[0].message.find("line 10 \"[Models.NTamd64]\""), std::string::npos)
        << report.warnings[0].message;
    EXPECT_NE(report.warnings[0].message.find("line 11 USB\\VID_0123&PID_9999"), std::string::npos)
        << report.warnings[0].message;
}

// The example package ships without the maker's tool, which the demo puts
// beside it, and without a catalog (it is a fictional device's): with a
// stand-in for the tool only the missing signature is left to warn about.
TEST(ExamplePackage, WarnsOnlyThatItIsUnsignedOnceTheToolIsBesideIt)
{
    const std::string example = MERVO_SOURCE_DIR "/examples/package";
    TempPackage package;
    package.CopyFrom(example);
    package.AddCompanionTool();

    CheckRun run = RunCheck({package.path()});
    EXPECT_EQ(CHECK_WARNINGS, run.exitCode) << run.output;
    EXPECT_NE(run.output.find("\n  UNSIGNED_PACKAGE: "), std::string::npos) << run.output;
    EXPECT_EQ(std::vector<std::string>{"UNSIGNED_PACKAGE"},
              WarningCodes(CheckFolder(package.path(), nullptr)));
    EXPECT_NE(run.output.find("Catalog: none named in [Version]\n"), std::string::npos) << run.output;

    PackageReport bare = CheckFolder(example, nullptr);
    EXPECT_EQ((std::vector<std::string>{"COMPANION_TOOL_MISSING", "UNSIGNED_PACKAGE"}), WarningCodes(bare));
    // 64-bit Windows serves both devices from the x64 models section.
    int served = 0;
    for (const TargetInstallReport& install : bare.targetInstalls) {
        if (install.target == "10-x64" || install.target == "11-x64") {
            served += install.install.devices.size() == 2 ? 1 : 0;
            EXPECT_EQ(std::vector<std::string>{"MERVODevices.NTamd64"}, install.install.modelsSections);
        }
    }
    EXPECT_EQ(2, served);
}

}  // namespace
