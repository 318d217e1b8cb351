// The INF model: how a line is read (table), and what each target installs
// from one small package INF written the way real packages are.
#include <gtest/gtest.h>

#include "CheckSupport.h"
#include "InfInstall.h"
#include "InfModel.h"

namespace {

// One line under [S] and what the model makes of it: key ("" none) and fields joined with "|".
struct LineCase {
    const char* name;
    const char* text;  // the INF after "[S]\n"
    const char* key;
    const char* fields;
};

std::string Joined(const std::vector<std::string>& fields)
{
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) {
        joined += (i == 0 ? "" : "|") + fields[i];
    }
    return joined;
}

class InfLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(InfLineTest, ReadsAsWindowsDoes)
{
    const LineCase& c = GetParam();
    const InfModel model =
        ParseInf(std::string("[S]\n") + c.text + "\n[Strings]\nA=\"alpha, beta\"\nb = Bee ; c\n");
    const InfSection* section = model.Find("s");
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(section->entries.size(), 1u) << c.text;
    EXPECT_EQ(section->entries[0].key, c.key);
    EXPECT_EQ(section->entries[0].hasKey, c.key[0] != '\0');
    EXPECT_EQ(Joined(section->entries[0].fields), c.fields);
}

// clang-format off
const LineCase kLines[] = {
    {"plain",            "k = v1, v2",                      "k",   "v1|v2"},
    {"no_key",           "a.sys, b.sys ,,0x4",              "",    "a.sys|b.sys||0x4"},
    {"blank_before_eq",  "ftdibus.sys = 1,i386",            "ftdibus.sys", "1|i386"},
    {"comment",          "k = v ; c, d",                    "k",   "v"},
    {"quoted_comma",     "k = \"x, ; y\", z",               "k",   "x, ; y|z"},
    {"quoted_blanks",    "k = \" x \"",                     "k",   " x "},
    {"doubled_quote",    "k = \"a\"\"b\"",                  "k",   "a\"b"},
    {"strkey",           "%b% = %A%.cat",                   "Bee", "alpha, beta.cat"},
    {"strkey_case",      "k = %B%",                         "k",   "Bee"},
    {"percent_percent",  "k = 100%%",                       "k",   "100%"},
    {"undefined",        "k = %nope%",                      "k",   "%nope%"},
    {"dirid",            "k = %12%\\x.sys",                 "k",   "%12%\\x.sys"},
    {"continuation",     "k = a, \\\n  b",                  "k",   "a|b"},
    {"continuation_cmt", "k = a, \\ ; note\n  b",           "k",   "a|b"},
    {"backslash_inside", "k = \\i386\\x.sys",               "k",   "\\i386\\x.sys"},
    {"second_equals",    "k = a=b",                         "k",   "a=b"},
    {"empty_value",      "k =",                             "k",   ""},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Lines, InfLineTest, testing::ValuesIn(kLines), CaseName());

TEST(InfModelTest, MergesSectionsAndReadsUtf16)
{
    const std::string ansi = "[Version]\nA=1\n[other]\nx=y\n[VERSION]\nB=2\n[Strings.0407]\nq=r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : ansi) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    for (const std::string& bytes : {ansi, utf16}) {
        const InfModel model = ParseInf(bytes);
        ASSERT_NE(model.Find("version"), nullptr);
        EXPECT_EQ(model.Find("version")->entries.size(), 2u);
        EXPECT_EQ(model.Value("Version", "b"), "2");
        EXPECT_EQ(model.localeStrings, std::vector<std::string>{"Strings.0407"});
        EXPECT_NE(model.String("q"), nullptr);  // a locale section fills in what [Strings] leaves out
    }
    EXPECT_EQ(ParseInf(utf16).encoding, InfEncoding::Utf16LeBom);
}

// A package INF as vendors write them: decorated models, architecture
// folders, decorated install sections and catalogs.
const char kPackage[] =
    "[Version]\n"
    "Signature=\"$Windows NT$\"\n"
    "CatalogFile=%NAME%.cat\n"
    "CatalogFile.NTamd64 = %NAME%64.cat\n"
    "[Manufacturer]\n"
    "%Mfg% = Models, NTx86, NTamd64, NTamd64.10.0...17763, NTarm64\n"
    "[Models]\n"
    "%Dev% = Inst, USB\\VID_1234&PID_0001\n"
    "[Models.NTx86]\n"
    "%Dev% = Inst, USB\\VID_1234&PID_0001, USB\\Class_FF\n"
    "[Models.NTamd64]\n"
    "%Dev% = Inst, USB\\VID_1234&PID_0001\n"
    "[Models.NTamd64.10.0...17763]\n"
    "%Dev% = Inst, USB\\VID_1234&PID_0001\n"
    "%Dev2% = Inst, USB\\VID_1234&PID_0002\n"
    "[Models.NTarm64]\n"
    "%Dev% = Inst, USB\\VID_1234&PID_0001\n"
    "[Inst.NT]\n"
    "CopyFiles = Drv, @extra.dll\n"
    "[Inst.NTamd64]\n"
    "CopyFiles = Drv\n"
    "[Inst.NT.Services]\n"
    "AddService = mydrv, 2, Svc\n"
    "[Inst.NTamd64.Services]\n"
    "AddService = mydrv, 2, Svc\n"
    "[Svc]\n"
    "ServiceBinary = %12%\\mydrv.sys\n"
    "[Drv]\n"
    "mydrv.sys\n"
    "[DestinationDirs]\n"
    "Drv = 12\n"
    "DefaultDestDir = 11\n"
    "[SourceDisksNames]\n"
    "1 = %Disk%,,,\\i386\n"
    "[SourceDisksNames.amd64]\n"
    "1 = %Disk%,,,\\amd64\n"
    "[SourceDisksNames.arm64]\n"
    "1 = %Disk%,,,.\\arm64\n"
    "[SourceDisksFiles]\n"
    "mydrv.sys = 1\n"
    "extra.dll = 1,dll\n"
    "[Strings]\n"
    "NAME = mydrv\n"
    "Mfg = Maker\n"
    "Dev = \"Device One\"\n"
    "Dev2 = Device Two\n"
    "Disk = Disk 1\n";

// What each target installs: models section, devices, install section, files, catalog.
struct TargetCase {
    const char* target;
    const char* models;
    size_t devices;
    const char* ddInstall;
    const char* files;  // source paths joined with "|"
    const char* catalog;
};

// clang-format off
const TargetCase kTargetCases[] = {
    {"2000-x86", "Models",                     1, "Inst.NT",      "i386\\mydrv.sys|i386\\dll\\extra.dll", "mydrv.cat"},
    {"xp-x86",   "Models.NTx86",               1, "Inst.NT",      "i386\\mydrv.sys|i386\\dll\\extra.dll", "mydrv.cat"},
    {"7-x64",    "Models.NTamd64",             1, "Inst.NTamd64", "amd64\\mydrv.sys",                     "mydrv64.cat"},
    {"10-x64",   "Models.NTamd64",             1, "Inst.NTamd64", "amd64\\mydrv.sys",                     "mydrv64.cat"},
    {"11-x64",   "Models.NTamd64.10.0...17763", 2, "Inst.NTamd64", "amd64\\mydrv.sys",                    "mydrv64.cat"},
    {"11-arm64", "Models.NTarm64",             1, "Inst.NT",      "arm64\\mydrv.sys|arm64\\dll\\extra.dll", "mydrv.cat"},
};
// clang-format on

class InfTargetTest : public testing::TestWithParam<TargetCase> {};

TEST_P(InfTargetTest, InstallsWhatWindowsWould)
{
    const TargetCase& c = GetParam();
    const InfModel model = ParseInf(kPackage);
    const WindowsTarget* target = FindWindowsTarget(c.target);
    ASSERT_NE(target, nullptr);
    const InfTargetInstall install = InstallFor(model, *target);
    EXPECT_EQ(Joined(install.modelsSections), c.models);
    ASSERT_EQ(install.devices.size(), c.devices);
    EXPECT_EQ(install.devices[0].ddInstall, c.ddInstall);
    EXPECT_EQ(install.devices[0].description, "Device One");
    std::vector<std::string> sources;
    for (const InfInstalledFile& file : install.files) {
        sources.push_back(file.source);
    }
    EXPECT_EQ(Joined(sources), c.files);
    EXPECT_EQ(install.catalog, c.catalog);
    ASSERT_EQ(install.services.size(), 1u);
    EXPECT_EQ(install.services[0].binaryName, "mydrv.sys");
    EXPECT_TRUE(install.notes.empty()) << install.notes[0].message;
}

std::string TargetCaseName(const testing::TestParamInfo<TargetCase>& param)
{
    std::string name = param.param.target;
    for (char& c : name) {
        c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}
INSTANTIATE_TEST_SUITE_P(Targets, InfTargetTest, testing::ValuesIn(kTargetCases), TargetCaseName);

}  // namespace

namespace {

// One [Manufacturer] decoration against one target: valid, and whether it applies.
struct DecorationCase {
    const char* decoration;
    const char* target;
    bool valid;
    bool matches;
};

// clang-format off
const DecorationCase kDecorations[] = {
    {"NTx86",                  "xp-x86",   true,  true},
    {"NTx86",                  "7-x64",    true,  false},
    {"NT",                     "7-x86",    true,  true},   // no architecture: 32-bit only
    {"NT",                     "7-x64",    true,  false},
    {"ntAMD64",                "10-x64",   true,  true},   // any letter case
    {"NTamd64.6.1",            "7-x64",    true,  true},
    {"NTamd64.6.2",            "7-x64",    true,  false},  // a later version than the target's
    {"NTamd64.10.0...17763",   "10-x64",   true,  false},  // 10 is taken as build 14393
    {"NTamd64.10.0...17763",   "11-x64",   true,  true},
    {"NTamd64.10.0...26100",   "11-x64",   true,  true},   // the build at its bound
    {"NTamd64.10.0...26101",   "11-x64",   true,  false},
    {"NTx86.5.2.3",            "2003-x86", true,  true},   // product type server
    {"NTx86.5.2.1",            "2003-x86", true,  false},
    {"NTamd64.6.0.0x1",        "vista-x64", true, true},   // hexadecimal product type
    {"NTamd64.6.0.1.0x100",    "vista-x64", true, false},  // a suite the target lacks
    {"NTarm64",                "11-arm64", true,  true},
    {"NTarm",                  "11-arm64", true,  false},
    {"NTia64",                 "10-x64",   true,  false},
    {"NTamd64.x",              "10-x64",   false, false},
    {"NTmips",                 "xp-x86",   false, false},
    {"amd64",                  "10-x64",   false, false},
    {"NTamd64.1.2.3.4.5.6",    "10-x64",   false, false},
};
// clang-format on

TEST(InfDecorations, MatchAsWindowsReadsThem)
{
    for (const DecorationCase& c : kDecorations) {
        bool valid = !c.valid;
        const bool matches =
            DecorationMatches(c.decoration, PlatformOf(*FindWindowsTarget(c.target)), &valid);
        EXPECT_EQ(c.valid, valid) << c.decoration;
        EXPECT_EQ(c.matches, matches) << c.decoration << " on " << c.target;
    }
}

}  // namespace
