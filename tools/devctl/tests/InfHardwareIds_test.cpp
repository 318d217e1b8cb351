#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InfFixtures.h"
#include "InfHardwareIds.h"
#include "SimulatedDevCtl.h"
#include "TestFiles.h"

namespace {

std::vector<std::string> IdsOf(const InfHardwareIds& table)
{
    return std::vector<std::string>(table.ids, table.ids + table.count);
}

std::vector<std::string> ReadIds(const std::string& text, int* result = nullptr)
{
    static InfHardwareIds table;
    std::string path = WriteTestFile("ids.inf", text);
    int read = ReadInfHardwareIds(path.c_str(), &table);
    if (result != nullptr) {
        *result = read;
    }
    return IdsOf(table);
}

struct InfCase {
    const char* name;
    std::string text;
    std::vector<std::string> ids;
};

const std::vector<InfCase>& InfCases()
{
    // clang-format off
    static const std::vector<InfCase> cases = {
        {"device line", "[DeviceList]\n%DESC%=DriverInstall, USB\\VID_0123&PID_4567\n",
         {"USB\\VID_0123&PID_4567"}},
        {"interface and revision kept",
         "%A%=Install, USB\\VID_2341&PID_8036&MI_00\r\n%B%=Install,USB\\VID_2341&PID_0036&REV_0100\r\n",
         {"USB\\VID_2341&PID_8036&MI_00", "USB\\VID_2341&PID_0036&REV_0100"}},
        {"several ids on one line, blanks and tabs",
         "%A% = Install,\tUSB\\VID_0123&PID_0001 , USB\\VID_0123&PID_0002;comment\n",
         {"USB\\VID_0123&PID_0001", "USB\\VID_0123&PID_0002"}},
        {"duplicates from decorated sections dropped, first spelling kept",
         "[D]\n%A%=I, USB\\VID_abcd&PID_0001\n[D.NTamd64]\n%A%=I, usb\\vid_ABCD&pid_0001\n",
         {"USB\\VID_abcd&PID_0001"}},
        {"comment lines and trailing comments ignored",
         "; old: %A%=I, USB\\VID_1111&PID_2222\n%A%=I, USB\\VID_0123&PID_4567 ; USB\\VID_3333&PID_4444\n",
         {"USB\\VID_0123&PID_4567"}},
        {"semicolon inside quotes is no comment",
         "X = \"a;b\", USB\\VID_0123&PID_4567\n", {"USB\\VID_0123&PID_4567"}},
        {"quoted id taken without its quotes", "Id = \"USB\\VID_0123&PID_4567\"\n",
         {"USB\\VID_0123&PID_4567"}},
        {"other buses and incomplete ids ignored",
         "%A%=I, HID\\VID_0123&PID_4567\n%B%=I, USB\\VID_0123\n%C%=I, USB\\VID_01&PID_4567\n"
         "%D%=I, USB\\VID_%VID%&PID_%PID%\n%E%=I, USB\\Class_02\n%F%=I, USB\\VID_012G&PID_4567\n",
         {}},
        {"id inside a longer word", "%A%=I,xUSB\\VID_0123&PID_4567\n", {"USB\\VID_0123&PID_4567"}},
        {"no final newline", "%A%=I, USB\\VID_0123&PID_4567", {"USB\\VID_0123&PID_4567"}},
        {"old Mac line ends", "%A%=I, USB\\VID_0123&PID_0001\r%B%=I, USB\\VID_0123&PID_0002\r",
         {"USB\\VID_0123&PID_0001", "USB\\VID_0123&PID_0002"}},
        {"UTF-16LE with BOM", Utf16("%A%=I, USB\\VID_0123&PID_4567\r\n"),
         {"USB\\VID_0123&PID_4567"}},
        {"empty file", "", {}},
    };
    // clang-format on
    return cases;
}

TEST(InfHardwareIds, TakesTheIdsThatLinesName)
{
    SimTreeReset();
    for (const InfCase& c : InfCases()) {
        SCOPED_TRACE(c.name);
        int result = -1;
        EXPECT_EQ(c.ids, ReadIds(c.text, &result));
        EXPECT_EQ(INF_IDS_READ, result);
    }
}

TEST(InfHardwareIds, OverlongWordsAndLinesAreSkippedWithoutHarm)
{
    SimTreeReset();
    std::string longWord(100000, 'x');
    std::string tooLongId = "USB\\VID_0123&PID_4567" + std::string(300, 'A');
    std::string text = longWord + "USB\\VID_9999&PID_9999\n" + tooLongId + "\n" + std::string(20000, ' ') +
                       "USB\\VID_0123&PID_4567\n";
    EXPECT_EQ(std::vector<std::string>{"USB\\VID_0123&PID_4567"}, ReadIds(text));
}

TEST(InfHardwareIds, TableFullIsReported)
{
    SimTreeReset();
    std::string text;
    char line[64];
    for (int i = 0; i < INF_ID_CAPACITY; ++i) {
        snprintf(line, sizeof line, "%%A%%=I, USB\\VID_0123&PID_%04X\n", i);
        text += line;
    }
    int result = -1;
    EXPECT_EQ(static_cast<size_t>(INF_ID_CAPACITY), ReadIds(text, &result).size());
    EXPECT_EQ(INF_IDS_READ, result);
    ReadIds(text + "%B%=I, USB\\VID_0124&PID_0000\n", &result);
    EXPECT_EQ(INF_IDS_TOO_MANY, result);
}

TEST(InfHardwareIds, MissingFileCannotBeOpened)
{
    SimTreeReset();
    static InfHardwareIds table;
    table.count = 7;
    EXPECT_EQ(INF_IDS_CANNOT_OPEN, ReadInfHardwareIds("/nonexistent/dir/x.inf", &table));
    EXPECT_EQ(0, table.count);
}

struct ServedCase {
    const char* deviceId;
    const char* servingId;  // null: not served
};

// The INF names two products of vendor 0123 and one interface of vendor 2341.
const ServedCase SERVED_CASES[] = {
    {"USB\\VID_0123&PID_4567", "USB\\VID_0123&PID_4567"},
    {"USB\\VID_0123&PID_4567&REV_0100", "USB\\VID_0123&PID_4567"},
    {"usb\\vid_0123&pid_4567&rev_0100", "USB\\VID_0123&PID_4567"},
    {"USB\\VID_0123&PID_89AB", "USB\\VID_0123&PID_89ab"},
    {"USB\\VID_0123&PID_0001", nullptr},  // same vendor, another product
    {"USB\\VID_0123", nullptr},
    {"USB\\VID_0123&PID_456", nullptr},
    {"USB\\VID_0123&PID_45678", nullptr},  // a prefix, but not of a whole part
    {"USB\\VID_0123&PID_4567X&REV_0001", nullptr},
    {"USB\\VID_2341&PID_8036&MI_00", "USB\\VID_2341&PID_8036&MI_00"},
    {"USB\\VID_2341&PID_8036&REV_0100&MI_00", nullptr},  // prefix, not any order
    {"USB\\VID_2341&PID_8036", nullptr},
    {"USB\\VID_4567&PID_0123", nullptr},  // the numbers swapped
    {"USB\\Class_02&SubClass_02", nullptr},
    {"", nullptr},
};

TEST(InfHardwareIds, ServedWhenAnIdBeginsWithAnInfId)
{
    SimTreeReset();
    static InfHardwareIds table;
    std::string path = WriteTestFile("served.inf",
                                     "%A%=I, USB\\VID_0123&PID_4567\n%B%=I, USB\\VID_0123&PID_89ab\n"
                                     "%C%=I, USB\\VID_2341&PID_8036&MI_00\n");
    ASSERT_EQ(INF_IDS_READ, ReadInfHardwareIds(path.c_str(), &table));
    for (const ServedCase& c : SERVED_CASES) {
        SCOPED_TRACE(c.deviceId);
        const char* serving = FindServingId(&table, c.deviceId);
        if (c.servingId == nullptr) {
            EXPECT_EQ(nullptr, serving);
        } else {
            ASSERT_NE(nullptr, serving);
            EXPECT_STREQ(c.servingId, serving);
        }
    }
}

// Every real INF reads without a fault; those that name ids in their device
// lines yield them.
TEST(InfHardwareIds, RealInfFilesRead)
{
    SimTreeReset();
    static InfHardwareIds table;
    const std::vector<std::string> names = InfNamesIn(MERVO_INF_CORPUS);
    if (names.empty()) {
        GTEST_SKIP() << "no INF corpus at " << MERVO_INF_CORPUS;
    }
    SimMapDrive('P', MERVO_INF_CORPUS);
    for (const std::string& name : names) {
        std::string path = "P:\\" + name;
        EXPECT_EQ(INF_IDS_READ, ReadInfHardwareIds(path.c_str(), &table)) << name;
        for (uint16_t i = 0; i < table.count; ++i) {
            EXPECT_EQ(0, strncasecmp(table.ids[i], "USB\\VID_", 8)) << name;
        }
        if (name == "arduino.inf") {
            EXPECT_EQ(31, table.count) << name;  // 31 device lines, repeated per platform
            EXPECT_NE(nullptr, FindServingId(&table, "USB\\VID_2341&PID_8036&MI_00")) << name;
        }
        if (name == "stlink_VCP.inf") {
            EXPECT_EQ(
                (std::vector<std::string>{"USB\\VID_0483&PID_374A&MI_02", "USB\\VID_0483&PID_374B&MI_02",
                                          "USB\\VID_0483&PID_374C&MI_01"}),
                IdsOf(table));
        }
    }
    EXPECT_GT(names.size(), 20u);
}

}  // namespace
