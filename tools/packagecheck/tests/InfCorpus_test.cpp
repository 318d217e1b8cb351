// What each target installs from real INFs, one row per decoration form the
// corpus and the signed packages hold: undecorated with only NTamd64 (32-bit
// Windows falls back), "NT" without an architecture, NTia64 and NTarm (read
// by no target), versioned decorations over a continued line, several
// manufacturers, CatalogFile.NTx86 and .NTAMD64 (none for ARM64), install
// sections decorated .NT, .NTamd64 or not at all, SourceDisksFiles by
// architecture with subfolders, UTF-16LE; and the bad inputs, in linear time.
#include <gtest/gtest.h>

#include <chrono>

#include "CheckSupport.h"
#include "InfInstall.h"

namespace {

struct CorpusRow {
    const char* folder;  // below ../shared
    const char* inf;
    const char* target;
    const char* models;  // the chosen models sections joined with ","; "" none
    size_t devices;
    const char* catalog;
    const char* ddInstall;  // the first device's install section as chosen; "" no device
    const char* firstFile;  // the first file's source path; "" none
};

// clang-format off
const CorpusRow kRows[] = {
    {"inf-corpus", "Arduino_Leonardo.inf",  "xp-x86",    "DeviceList",          2,  "CDC_vista.cat", "DriverInstall.nt", "usbser.sys"},
    {"inf-corpus", "Arduino_Leonardo.inf",  "10-x64",    "DeviceList.NTamd64",  2,  "CDC_vista.cat", "DriverInstall.NTamd64", "usbser.sys"},
    {"inf-corpus", "Arduino_Leonardo.inf",  "11-arm64",  "",                    0,  "CDC_vista.cat", "", ""},
    {"inf-corpus", "DigiSerial.inf",        "2000-x86",  "",                    0,  "DigiSerial.cat", "", ""},
    {"inf-corpus", "DigiSerial.inf",        "7-x86",     "Devices.NT",          1,  "DigiSerial.cat", "DriverInstall.NT", "x86\\lowcdc.sys"},
    {"inf-corpus", "DigiSerial.inf",        "10-x64",    "Devices.NTAMD64",     1,  "DigiSerial.cat", "DriverInstall.NTamd64", "amd64\\lowcdc.sys"},
    {"inf-corpus", "LUFA_CDC-ACM.inf",      "2000-x86",  "DeviceList",          1,  "",              "DriverInstall", ""},
    {"inf-corpus", "LUFA_CDC-ACM.inf",      "7-x86",     "DeviceList.NTx86",    1,  "",              "DriverInstall", ""},
    {"inf-corpus", "atmel_devices_cdc.inf", "2000-x86",  "DeviceList",          17, "atmel_devices_cdc.cat", "DriverInstall.NT", "usbser.sys"},
    {"inf-corpus", "atmel_devices_cdc.inf", "xp-x86",    "DeviceList.NT",       17, "atmel_devices_cdc.cat", "DriverInstall.NT", "usbser.sys"},
    {"inf-corpus", "esp32-vcp-jtag.inf",    "11-arm64",  "",                    0,  "",              "", ""},
    {"inf-corpus", "android_winusb.inf",    "7-x86",     "Google.NTx86",        149, "androidwinusb86.cat", "USB_Install", "i386\\WinUSBCoInstaller2.dll"},
    {"inf-corpus", "android_winusb.inf",    "10-x64",    "Google.NTamd64",      148, "androidwinusba64.cat", "USB_Install", "amd64\\WinUSBCoInstaller2.dll"},
    {"inf-corpus", "android_winusb.inf",    "11-arm64",  "",                    0,  "",              "", ""},
    {"inf-corpus", "argyll_libusb1_Huey.inf", "2000-x86",  "Devices",             1, "Huey.cat",     "LIBUSB0_DEV", "libusb0.sys"},
    {"inf-corpus", "argyll_libusb1_Huey.inf", "xp-x86",    "Devices.NTx86.5.1",   1, "Huey.cat",     "WINUSBCO_DEV", "libusb-1.0A.dll"},
    {"inf-corpus", "argyll_libusb1_Huey.inf", "xp-x64",    "Devices.NTamd64.5.1", 1, "Huey_x64.cat", "WINUSBCO_DEV.NTAMD64", "libusb-1.0A.dll"},
    {"inf-corpus", "argyll_libusb1_Huey.inf", "vista-x64", "Devices.NTamd64.6",   1, "Huey_x64.cat", "WINUSBCO_DEV.NTAMD64", "libusb-1.0A.dll"},
    {"inf-corpus", "argyll_libusb1_Huey.inf", "7-x86",     "Devices.NTx86.6.1",   1, "Huey.cat",     "WINUSBCO_DEV", "libusb-1.0A.dll"},
    {"inf-corpus", "argyll_libusb1_Huey.inf", "10-x64",    "Devices.NTamd64.6.1", 1, "Huey_x64.cat", "WINUSBCO_DEV.NTAMD64", "libusb-1.0A.dll"},
    {"inf-corpus", "tinkerforge_Brick_Driver_utf16.inf", "10-x64", "libusbDevice_WinUSB.NTamd64", 1, "Brick_Driver.cat", "USB_Install", "amd64\\WinUSBCoInstaller2.dll"},
    {"signed-packages/argyll-libusb0", "ArgyllCMS.inf", "7-x86",  "HCFR_Devices.NTx86,Sequel_Devices.NTx86,X_Rite_Devices.NTx86,ColorVision_Devices.NTx86,GM_X_Rite_Devices.NTx86,Hughski_Devices.NTx86", 21, "ArgyllCMS.cat", "LIBUSB0_DEV", "bin\\x86\\libusb0.sys"},
    {"signed-packages/argyll-libusb0", "ArgyllCMS.inf", "10-x64", "HCFR_Devices.NTamd64,Sequel_Devices.NTamd64,X_Rite_Devices.NTamd64,ColorVision_Devices.NTamd64,GM_X_Rite_Devices.NTamd64,Hughski_Devices.NTamd64", 21, "ArgyllCMS_x64.cat", "LIBUSB0_DEV", "bin\\amd64\\libusb0.sys"},
    {"signed-packages/pololu-tic",     "tic.inf",       "11-arm64", "",              0,  "pololu.cat",  "", ""},
    {"signed-packages/tidepool-webusb", "webusb.inf",   "10-x64",  "Standard.NTamd64", 3, "WinUSBInstallation.cat", "USB_Install", ""},
};
// clang-format on

std::string Joined(const std::vector<std::string>& items)
{
    std::string joined;
    for (const std::string& item : items) {
        joined += (joined.empty() ? "" : ",") + item;
    }
    return joined;
}

class InfCorpusTest : public testing::TestWithParam<CorpusRow> {};

TEST_P(InfCorpusTest, InstallsWhatWindowsWould)
{
    const CorpusRow& row = GetParam();
    const std::string bytes =
        ReadFile(std::string(MERVO_SOURCE_DIR "/../shared/") + row.folder + "/" + row.inf);
    ASSERT_FALSE(bytes.empty());
    const WindowsTarget* target = FindWindowsTarget(row.target);
    ASSERT_NE(target, nullptr);
    const InfTargetInstall install = InstallFor(ParseInf(bytes), *target);
    EXPECT_EQ(row.models, Joined(install.modelsSections));
    EXPECT_EQ(row.devices, install.devices.size());
    EXPECT_EQ(row.catalog, install.catalog);
    EXPECT_EQ(row.ddInstall, install.devices.empty() ? "" : install.devices[0].ddInstall);
    EXPECT_EQ(row.firstFile, install.files.empty() ? "" : install.files[0].source);
}

std::string RowName(const testing::TestParamInfo<CorpusRow>& param)
{
    std::string name = std::string(param.param.inf) + "_" + param.param.target;
    for (char& c : name) {
        c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, InfCorpusTest, testing::ValuesIn(kRows), RowName);

// Bad input gives a named warning and no crash; the big ones are read in
// time that grows with their size (a tenth of the input in about a tenth
// of the time; generous bounds, for a shared machine).
struct BadRow {
    const char* name;
    std::string inf;
    const char* code;  // a note of the model or of the 10-x64 install
};

// `count` device lines; `install` names their install section, with the
// line's number appended when it ends in "#" (a section each, none present).
std::string ManyDevices(size_t count, const std::string& install = "Inst")
{
    std::string inf =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n%M%=Models,NTamd64\r\n"
        "[Models.NTamd64]\r\n";
    const bool numbered = install.back() == '#';
    for (size_t i = 0; i < count; ++i) {
        inf += "%D%=" + (numbered ? install + std::to_string(i) : install) + ", USB\\VID_1234&PID_" +
               std::to_string(10000 + i) + "\r\n";
    }
    return inf +
           "[Inst]\r\nCopyFiles=Files\r\n[Files]\r\nd.sys\r\n[SourceDisksFiles]\r\nd.sys=1\r\n"
           "[Strings]\r\nM=\"m\"\r\nD=\"d\"\r\n";
}

TEST(InfModelBadInput, WarnsWithoutCrashing)
{
    const std::string version = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
    const std::string models =
        "[Manufacturer]\r\nM=Models,NTamd64\r\n[Models.NTamd64]\r\nD=Inst, USB\\VID_1\r\n";
    const BadRow rows[] = {
        {"cyclic Needs", version + models + "[Inst]\r\nNeeds=A\r\n[A]\r\nNeeds=Inst\r\n",
         "INF_CYCLIC_SECTIONS"},
        {"missing install section", version + models, "INF_MISSING_SECTION"},
        {"missing copy section", version + models + "[Inst]\r\nCopyFiles=Nowhere\r\n", "INF_MISSING_SECTION"},
        {"bad decoration", version + "[Manufacturer]\r\nM=Models,NTmips,NTamd64\r\n", "INF_BAD_DECORATION"},
        {"undefined string", version + "[A]\r\nk=%nowhere%\r\n", "INF_STRING_UNDEFINED"},
        {"no closing bracket", version + "[A\r\nk=v\r\n", "INF_BAD_SECTION_LINE"},
        {"a 1 MB line", version + "[A]\r\nk=" + std::string(1024 * 1024, 'x') + "\r\n", "INF_LINE_TOO_LONG"},
        {"a line at the limit and one past it",
         version + "[A]\r\n" + std::string(kInfLineLimit, 'x') + "\r\n" + std::string(kInfLineLimit + 1, 'y'),
         "INF_LINE_TOO_LONG"},
        {"utf-16 big-endian", "\xFE\xFF", "INF_ENCODING_UNREADABLE"},
    };
    for (const BadRow& row : rows) {
        const InfModel model = ParseInf(row.inf);
        std::vector<InfNote> notes = model.notes;
        const InfTargetInstall install = InstallFor(model, *FindWindowsTarget("10-x64"));
        notes.insert(notes.end(), install.notes.begin(), install.notes.end());
        size_t found = 0;
        for (const InfNote& note : notes) {
            found += note.code == row.code ? 1 : 0;
        }
        // The line at the limit is read without a note; only the one past it gets one.
        EXPECT_EQ(found, 1u) << row.name;
    }
}

// A long string named over and over is put in up to the limit exactly; the
// token past it stays as written, with one note on its line.
TEST(InfModelBadInput, ReplacesStringsUpToTheLimit)
{
    const size_t value = 2048;
    const size_t lines = kInfReplacedLimit / value;
    std::string inf = "[Strings]\r\nS=\"" + std::string(value, 'x') + "\"\r\n[A]\r\n";
    for (size_t i = 0; i <= lines; ++i) {
        inf += "k=%S%\r\n";
    }
    const InfModel model = ParseInf(inf);
    const InfSection* section = model.Find("A");
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(lines + 1, section->entries.size());
    EXPECT_EQ(std::string(value, 'x'), section->entries[lines - 1].fields[0]);
    EXPECT_EQ("%S%", section->entries[lines].fields[0]);
    std::vector<int> noted;
    for (const InfNote& note : model.notes) {
        if (note.code == "INF_STRINGS_TOO_LONG") {
            noted.push_back(note.line);
        }
    }
    EXPECT_EQ(std::vector<int>{section->entries[lines].line}, noted);
}

// 10,000 devices that each name a missing install section: ten notes and a count.
TEST(InfModelBadInput, NotesAreCappedPerCode)
{
    const std::string inf = ManyDevices(10000, "Missing#");
    const InfTargetInstall install = InstallFor(ParseInf(inf), *FindWindowsTarget("10-x64"));
    std::vector<std::string> missing;
    for (const InfNote& note : install.notes) {
        if (note.code == "INF_MISSING_SECTION") {
            missing.push_back(note.message);
        }
    }
    ASSERT_EQ(11u, missing.size());
    EXPECT_EQ("9990 more like the above.", missing.back());
}

TEST(InfModelBadInput, TakesLinearTime)
{
    auto timeOf = [](const std::string& inf) {
        const auto start = std::chrono::steady_clock::now();
        const InfTargetInstall install = InstallFor(ParseInf(inf), *FindWindowsTarget("10-x64"));
        EXPECT_FALSE(install.devices.empty());
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const double small = timeOf(ManyDevices(1000));
    const double large = timeOf(ManyDevices(10000));
    EXPECT_LT(large, 2.0);
    EXPECT_LT(large, 40 * small + 0.05) << small << " s for 1000 devices, " << large << " s for 10000";
    EXPECT_EQ(10000u, InstallFor(ParseInf(ManyDevices(10000)), *FindWindowsTarget("10-x64")).devices.size());
}

}  // namespace
