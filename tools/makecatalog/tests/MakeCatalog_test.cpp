// The maker end to end: against real catalogs, byte-for-byte reproducible,
// every problem listed with nothing written, the made catalog signed and
// read by osslsigncode and judged by the checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "CatalogAsn1.h"
#include "CatalogOsNames.h"
#include "CheckSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kPackages = MERVO_SIGNED_PACKAGES;
const char kArgyll[] = "argyll-libusb0";
// The systems of the real libusb0 catalogs (their OS attributes), x86 and x64.
const char kArgyllX86[] = "2000,XP_X86,Server2003_X86,Vista_X86,Server2008_X86,7_X86";
const char kArgyllX64[] = "XP_X64,Server2003_X64,Vista_X64,7_X64,Server2008R2_X64";
// The systems of the real WinUSB catalog.
const char kWindows10[] =
    "10_X86,10_X64,10_AU_X86,10_AU_X64,10_RS2_X86,10_RS2_X64,10_RS3_X86,10_RS3_X64,10_RS4_X86,10_RS4_X64,"
    "10_RS5_X86,10_RS5_X64,10_19H1_X86,10_19H1_X64,10_VB_X86,10_VB_X64,10_CO_X64,10_NI_X64,10_GE_X64";
const char kEpoch[] = "1371940165";

// Runs the maker in the package folder (so that a relative --output lands there).
CheckRun Make(const std::string& folder, const std::string& arguments, const std::string& epoch = kEpoch)
{
    return RunCommand("cd '" + folder + "' && SOURCE_DATE_EPOCH=" + epoch + " '" MERVO_MAKECATALOG "' . " +
                      arguments);
}

struct Decoded {
    CatalogList list;
    std::vector<std::string> members;
    std::vector<std::string> attributes;
};

Decoded Decode(const std::string& path)
{
    Decoded decoded;
    std::string problem;
    EXPECT_TRUE(DecodeCatalog(ReadFile(path), &decoded.list, &problem, &decoded.members, &decoded.attributes))
        << path << ": " << problem;
    return decoded;
}

// A real catalog whose package's files are all in the folder, made again.
struct RealCase {
    const char* name;
    const char* package;
    const char* arguments;   // after the folder
    const char* made;        // the made catalog, in the folder
    const char* real;        // the real one
    bool catalogAttributes;  // compare OS and HWIDs too
};

// pololu-tic is left out: most members of its catalog are INFs of other
// packages and a co-installer that the folder does not hold. The WinUSB
// catalog's hardware ids are those of a whole submission, not of this INF, so
// only its members and OS attribute are compared.
// clang-format off
const RealCase kRealCases[] = {
    {"libusb0_x86", kArgyll, "ArgyllCMS.inf --targets 2000,XP_X86,Server2003_X86,Vista_X86,Server2008_X86,7_X86",
     "ArgyllCMS.cat", "ArgyllCMS.cat", true},
    {"libusb0_x64", kArgyll, "ArgyllCMS.inf --targets XP_X64,Server2003_X64,Vista_X64,7_X64,Server2008R2_X64",
     "ArgyllCMS_x64.cat", "ArgyllCMS_x64.cat", true},
    {"winusb_sha256", "tidepool-webusb", "webusb.inf --output made.cat --targets " , "made.cat",
     "winusbinstallation.cat", false},
};
// clang-format on

class RealCatalogTest : public testing::TestWithParam<RealCase> {};

TEST_P(RealCatalogTest, SameMembersAndAttributes)
{
    const RealCase& c = GetParam();
    TempPackage package;
    package.CopyFrom(kPackages + "/" + c.package);
    std::string arguments = c.arguments;
    if (arguments.back() == ' ') {
        arguments += kWindows10;
    }
    CheckRun run = Make(package.path(), arguments);
    ASSERT_EQ(0, run.exitCode) << run.output;
    Decoded made = Decode(package.File(c.made));
    Decoded real = Decode(kPackages + "/" + c.package + "/" + c.real);
    EXPECT_EQ(real.list.sha256, made.list.sha256);
    ASSERT_EQ(real.members.size(), made.members.size()) << run.output;
    for (size_t k = 0; k < real.members.size(); ++k) {
        const ListMember& want = real.list.members[k];
        const ListMember& got = made.list.members[k];
        EXPECT_EQ(want.file + " " + HexUpper(want.tag), got.file + " " + HexUpper(got.tag)) << "member " << k;
        EXPECT_EQ(HexUpper(real.members[k]), HexUpper(made.members[k])) << "member " << k << " " << want.file;
    }
    if (c.catalogAttributes) {
        EXPECT_EQ(real.attributes, made.attributes);
    } else {
        ASSERT_FALSE(made.list.attributes.empty());
        EXPECT_EQ("OS", made.list.attributes[0].name);
        bool found = false;
        for (const CatalogAttribute& attribute : real.list.attributes) {
            if (attribute.name == "OS") {
                EXPECT_EQ(attribute.value, made.list.attributes[0].value);
                found = true;
            }
        }
        EXPECT_TRUE(found);
    }
}

INSTANTIATE_TEST_SUITE_P(Real, RealCatalogTest, testing::ValuesIn(kRealCases), CaseName());

// The same inputs in another folder give the same bytes; another time
// changes the time alone, the list identifier included.
TEST(MakeCatalog, ReproducibleByteForByte)
{
    TempPackage one, two;
    one.CopyFrom(kPackages + "/" + kArgyll);
    two.CopyFrom(kPackages + "/" + kArgyll);
    std::string arguments = std::string("ArgyllCMS.inf --targets ") + kArgyllX86 + "," + kArgyllX64;
    ASSERT_EQ(0, Make(one.path(), arguments).exitCode);
    ASSERT_EQ(0, Make(two.path(), arguments).exitCode);
    for (const char* catalog : {"ArgyllCMS.cat", "ArgyllCMS_x64.cat"}) {
        EXPECT_EQ(one.Read(catalog), two.Read(catalog)) << catalog;
    }
    ASSERT_EQ(0, Make(two.path(), arguments, "1700000000").exitCode);
    Decoded before = Decode(one.File("ArgyllCMS.cat"));
    Decoded after = Decode(two.File("ArgyllCMS.cat"));
    EXPECT_EQ(1371940165, before.list.time);
    EXPECT_EQ(1700000000, after.list.time);
    EXPECT_EQ(before.list.listId, after.list.listId);
    EXPECT_EQ(before.members, after.members);
    EXPECT_EQ(before.attributes, after.attributes);
    // Both are UTCTime, so the bytes differ in the time's digits alone.
    std::string a = one.Read("ArgyllCMS.cat"), b = two.Read("ArgyllCMS.cat");
    ASSERT_EQ(a.size(), b.size());
    size_t differing = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        differing += a[k] != b[k] ? 1 : 0;
    }
    EXPECT_LE(differing, 12u);
    EXPECT_GT(differing, 0u);
}

// Each problem is named, the exit code is 1 (2 for usage), and the folder
// holds what it held before: the old catalog and no temporary file.
struct ErrorCase {
    const char* name;
    void (*change)(const TempPackage& package);
    const char* arguments;
    int exitCode;
    std::vector<const char*> messages;
};

void NoChange(const TempPackage&)
{}

void SetInfLine(const TempPackage& package, const std::string& from, const std::string& to)
{
    package.Write("ArgyllCMS.inf", Replace(package.Read("ArgyllCMS.inf"), from, to));
}

const std::string kAll = std::string("ArgyllCMS.inf --targets ") + kArgyllX86 + "," + kArgyllX64;

// clang-format off
const ErrorCase kErrorCases[] = {
    {"missing_files", [](const TempPackage& p) {
         fs::remove(p.File("bin/x86/libusb0.sys"));
         fs::remove(p.File("bin/amd64/libusb0.sys"));
     }, "ArgyllCMS.inf --targets 7_X86", 1,
     {"missing: bin/x86/libusb0.sys (ArgyllCMS.inf installs libusb0.sys)",
      "missing: bin/amd64/libusb0.sys (ArgyllCMS.inf installs libusb0.sys)"}},
    {"no_device_on_a_listed_system", NoChange, "ArgyllCMS.inf --targets 7_X64,10_ARM64,11-arm64", 1,
     {"ArgyllCMS.inf serves no device on 10_ARM64 (10-arm64)",
      "ArgyllCMS.inf serves no device on 10_CO_ARM64 (11-arm64)"}},
    {"file_leaves_the_folder", [](const TempPackage& p) {
         SetInfLine(p, "libusb0.sys = 1,\\bin\\x86,", "libusb0.sys = 1,\\..\\..\\x86,");
     }, "ArgyllCMS.inf --targets 7_X86", 1,
     {"ArgyllCMS.inf installs libusb0.sys from outside the package folder: "}},
    {"link_leaves_the_folder", [](const TempPackage& p) {
         fs::remove(p.File("bin/x86/libusb0.sys"));
         fs::create_symlink("/etc/hostname", p.File("bin/x86/libusb0.sys"));
     }, "ArgyllCMS.inf --targets 7_X86", 1,
     {"not a regular file: bin/x86/libusb0.sys (ArgyllCMS.inf installs libusb0.sys; a symbolic link or a folder)"}},
    {"catalog_leaves_the_folder", [](const TempPackage& p) {
         SetInfLine(p, "CatalogFile         = \"ArgyllCMS.cat\"", "CatalogFile = ..\\ArgyllCMS.cat");
     }, "ArgyllCMS.inf --targets 7_X86", 1,
     {"ArgyllCMS.inf names a catalog outside the package folder: ..\\ArgyllCMS.cat"}},
    {"no_catalog_named", [](const TempPackage& p) {
         SetInfLine(p, "CatalogFile         = \"ArgyllCMS.cat\"", "");
     }, "ArgyllCMS.inf --targets 7_X86,7_X64", 1,
     {"ArgyllCMS.inf names no catalog for 7_X86 (7-x86)"}},
    // The first catalog takes its place, the second cannot: the first is put back.
    {"second_catalog_cannot_be_written", [](const TempPackage& p) {
         fs::remove(p.File("ArgyllCMS_x64.cat"));
         p.Write("ArgyllCMS_x64.cat/kept", "a folder in the catalog's place");
     }, kAll.c_str(), 1, {"cannot write ./ArgyllCMS_x64.cat: "}},
    {"inf_missing", NoChange, "Other.inf --targets 7_X86", 1, {"missing: Other.inf (the INF)"}},
    {"inf_leaves_the_folder", NoChange, "../ArgyllCMS.inf --targets 7_X86", 1,
     {"the INF is outside the package folder: ../ArgyllCMS.inf"}},
    {"output_cannot_be_written", NoChange, "ArgyllCMS.inf --targets 7_X86 --output /nonexistent/made.cat", 1,
     {"cannot write beside /nonexistent/made.cat"}},
    {"unknown_system", NoChange, "ArgyllCMS.inf --targets 7_X64,Windows12", 2, {"unknown Windows system Windows12"}},
    {"time_past_the_last", NoChange, "ArgyllCMS.inf --targets 7_X86 --time 253402300800", 2,
     {"--time takes seconds since 1970"}},
};
// clang-format on

// Each entry of the folder: its path, and a regular file's size and a hash of its bytes.
std::vector<std::string> FolderState(const TempPackage& package)
{
    std::vector<std::string> state;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(package.path())) {
        std::string bytes = entry.is_regular_file() ? ReadFile(entry.path()) : std::string();
        state.push_back(entry.path().string() + " " + std::to_string(bytes.size()) + " " +
                        std::to_string(std::hash<std::string>()(bytes)));
    }
    std::sort(state.begin(), state.end());
    return state;
}

class MakeErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(MakeErrorTest, NamesEachProblemAndWritesNothing)
{
    const ErrorCase& c = GetParam();
    TempPackage package;
    package.CopyFrom(kPackages + "/" + kArgyll);
    c.change(package);
    const std::vector<std::string> before = FolderState(package);
    CheckRun run = Make(package.path(), c.arguments);
    EXPECT_EQ(c.exitCode, run.exitCode) << run.output;
    for (const char* message : c.messages) {
        EXPECT_NE(std::string::npos, run.output.find(message)) << message << "\n" << run.output;
    }
    EXPECT_EQ(before, FolderState(package));
}

INSTANTIATE_TEST_SUITE_P(Errors, MakeErrorTest, testing::ValuesIn(kErrorCases), CaseName());

// Windows finds a package's files and catalog whatever their case; so does
// the maker, and the members name them as the folder spells them.
TEST(MakeCatalog, FindsFilesWhateverTheirCase)
{
    TempPackage exact, upper;
    exact.CopyFrom(kPackages + "/" + kArgyll);
    upper.CopyFrom(kPackages + "/" + kArgyll);
    fs::rename(upper.File("bin/x86"), upper.File("bin/X86"));
    fs::rename(upper.File("bin/X86/libusb0.sys"), upper.File("bin/X86/LibUsb0.SYS"));
    fs::rename(upper.File("ArgyllCMS.inf"), upper.File("argyllcms.INF"));
    fs::rename(upper.File("ArgyllCMS.cat"), upper.File("argyllcms.CAT"));
    ASSERT_EQ(0, Make(exact.path(), "ArgyllCMS.inf --targets 7_X86").exitCode);
    CheckRun run = Make(upper.path(), "ArgyllCMS.inf --targets 7_X86");
    ASSERT_EQ(0, run.exitCode) << run.output;
    // The old catalog is replaced under the name it has.
    EXPECT_EQ(exact.Read("ArgyllCMS.cat"), upper.Read("argyllcms.CAT"));
    EXPECT_FALSE(fs::exists(upper.File("ArgyllCMS.cat")));
}

// The catalog's time at the last second of UTCTime and the first of
// GeneralizedTime, and the latest time a catalog can carry.
TEST(MakeCatalog, TimeAtTheBoundsOfItsForms)
{
    TempPackage package;
    package.CopyFrom(kPackages + "/" + kArgyll);
    for (long long when : {2524607999LL, 2524608000LL, 253402300799LL}) {
        ASSERT_EQ(
            0, Make(package.path(), "ArgyllCMS.inf --targets 7_X86 --time " + std::to_string(when)).exitCode);
        EXPECT_EQ(when, static_cast<long long>(Decode(package.File("ArgyllCMS.cat")).list.time));
    }
}

// The OS-name table: each row's target is a checker target, each Driver Kit
// name is one row, and a checker name stands for its first row.
TEST(CatalogOsNames, OneRowPerSystemTiedToATarget)
{
    std::set<std::string> kitNames;
    for (const CatalogOsName& os : CatalogOsNames()) {
        EXPECT_NE(nullptr, FindWindowsTarget(os.target)) << os.kitName;
        EXPECT_TRUE(kitNames.insert(os.kitName).second) << os.kitName;
        EXPECT_EQ(&os, FindCatalogOs(os.kitName));
    }
    for (const WindowsTarget& target : WindowsTargets()) {
        const CatalogOsName* os = FindCatalogOs(target.name);
        ASSERT_NE(nullptr, os) << target.name;
        EXPECT_STREQ(target.name, os->target);
    }
    EXPECT_STREQ("_v100_X64_21H2", FindCatalogOs("10_co_x64")->osWord);
    EXPECT_STREQ("7X64", FindCatalogOs("7-x64")->osWord);
    EXPECT_EQ("2:5.00", OsAttrEntry(*FindWindowsTarget("2000-x86")));
    EXPECT_EQ("2:10.0", OsAttrEntry(*FindWindowsTarget("11-arm64")));
}

// SHA-1 members where any listed system cannot verify SHA-256 ones.
TEST(MakeCatalog, MemberHashFollowsTheWeakestSystem)
{
    const struct {
        const char* targets;
        bool sha256;
    } kCases[] = {{"7-x64", false}, {"7_X86,10_X64", false}, {"8-x64", true}, {"10_X64,11-x64", true}};
    TempPackage package;
    package.CopyFrom(kPackages + "/tidepool-webusb");
    for (const auto& c : kCases) {
        CheckRun run =
            Make(package.path(), std::string("webusb.inf --output made.cat --targets ") + c.targets);
        ASSERT_EQ(0, run.exitCode) << run.output;
        Decoded made = Decode(package.File("made.cat"));
        EXPECT_EQ(c.sha256, made.list.sha256) << c.targets;
        EXPECT_EQ(c.sha256 ? 2u : 1u, made.list.members.size()) << c.targets;
    }
}

}  // namespace
