#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "inf/INFManager.h"
#include "log/LogFile.h"
#include "platform/simulated/SimulatedPlatform.h"

namespace {

const char kInf[] = "C:\\pkg\\MERVOUSB.inf";

struct Device {
    std::string vid, pid, description;
    bool operator==(const Device& other) const
    {
        return vid == other.vid && pid == other.pid && description == other.description;
    }
};

std::ostream& operator<<(std::ostream& out, const Device& d)
{
    return out << "{" << d.vid << ", " << d.pid << ", \"" << d.description << "\"}";
}

class DeviceIdsTest : public SimTest {
protected:
    std::vector<Device> Read(const std::string& infText, int expectedResult = 0)
    {
        Write(kInf, infText);
        DeviceIdTable table;
        table.count = 99;
        EXPECT_EQ(expectedResult, GetDeviceIDs(kInf, &table));
        EXPECT_EQ(0, Sim().openStreams);
        std::vector<Device> devices;
        EXPECT_LE(table.count, DEVICE_TABLE_SIZE);
        for (uint16_t k = 0; k < table.count && k < DEVICE_TABLE_SIZE; k++) {
            SCOPED_TRACE(testing::Message() << "entry " << k);
            const DeviceIdEntry& e = table.entries[k];
            EXPECT_EQ(k, e.index);
            char indexText[8];
            snprintf(indexText, sizeof indexText, "%04u", k);
            EXPECT_STREQ(indexText, e.indexText);
            devices.push_back({e.vid, e.pid, e.description});
        }
        return devices;
    }
};

struct TableCase {
    const char* name;
    std::string inf;
    std::vector<Device> expected;
};

TEST_F(DeviceIdsTest, DevicesAndDescriptionsFollowTheReadingRules)
{
    // clang-format off
    const std::vector<TableCase> cases = {
        {"worked example", TwoDeviceInf(),
         {{"0123", "4567", "Some Device"}, {"0123", "89AB", "Other Device"}}},
        {"spaced device line", TwoDeviceInf("%DevDesc% = Install, USB\\VID_0123&PID_4567"),
         {{"0123", "4567", "DevDesc%"}, {"0123", "89AB", "Other Device"}}},
        {"spaced device and defining lines",
         TwoDeviceInf("%DevDesc% = Install, USB\\VID_0123&PID_4567", "DevDesc = \"Some Device\""),
         {{"0123", "4567", "DevDesc%"}, {"0123", "89AB", "Other Device"}}},
        {"spaced defining line",
         TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_4567", "DevDesc = \"Some Device\""),
         {{"0123", "4567", "\"Some Device"}, {"0123", "89AB", "Other Device"}}},
        {"unquoted value", TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_4567", "DevDesc=Some Device"),
         {{"0123", "4567", "ome Device"}, {"0123", "89AB", "Other Device"}}},
        {"unquoted spaced value",
         TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_4567", "DevDesc = Some Device"),
         {{"0123", "4567", "Some Device"}, {"0123", "89AB", "Other Device"}}},
        {"one-character value", TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_4567", "DevDesc=X"),
         {{"0123", "4567", ""}, {"0123", "89AB", "Other Device"}}},
        {"empty quoted value", TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_4567", "DevDesc=\"\""),
         {{"0123", "4567", ""}, {"0123", "89AB", "Other Device"}}},
        {"bare = goes on to the next line",
         TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_4567", "DevDesc="),
         {{"0123", "4567", "Other Device"}, {"0123", "89AB", "Other Device"}}},
        {"keys that begin alike",
         TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_4567", "DevDesc2=\"Other Device\"",
                 "DevDesc=\"Some Device\""),
         {{"0123", "4567", "Other Device"}, {"0123", "89AB", "Other Device"}}},
        {"fixed text for = at 1 and for no =",
         "A=USB\\VID_0123&PID_4567\nUSB\\VID_0124&PID_4568\n[Strings]\n",
         {{"0123", "4567", "MERVO USB Device"}, {"0124", "4568", "MERVO USB Device"}}},
        {"fixed text is searched like a key",
         "AB=USB\\VID_0123&PID_4567\n[Strings]\nMERVO USB Device=\"Named\"\n",
         {{"0123", "4567", "Named"}}},
        {"blank and ; beginnings give no entry",
         " %A%=I, USB\\VID_1111&PID_1111\n;%A%=I, USB\\VID_2222&PID_2222\n%Dx%=I, USB\\VID_3333&PID_3333\n",
         {{"3333", "3333", "Dx"}}},
        {"tab beginning keeps the tab as first character",
         TwoDeviceInf("\t%DevDesc%=Install, USB\\VID_0123&PID_4567"),
         {{"0123", "4567", "nstall, USB\\VID_0123&PID_4567"}, {"0123", "89AB", "Other Device"}}},
        {"the newline counts as a fourth character",
         "%A%=I, USB\\VID_0123&PID_456\n%B%=I, USB\\VID_0124&PID_45\n",
         {{"0123", "456\n", "A"}}},
        {"vid needs four characters", "%A%=I, USB\\VID_01\n", {}},
        {"pid must follow the vid", "%A%=I, &PID_4567 USB\\VID_0123\n", {}},
        {"case matters", "%A%=I, usb\\vid_0123&pid_4567\n%B%=I, USB\\VID_0123&pid_4567\n", {}},
        {"headers before the first device line do not end the pass",
         "[Version]\n[Manufacturer]\n[Models]\n%A%=I, USB\\VID_0123&PID_4567\n[Models.NTamd64]\n"
         "%B%=I, USB\\VID_9999&PID_9999\n",
         {{"0123", "4567", "A"}}},
        {"a device line above the models section ends the pass at the next header",
         "[Version]\nX=1 USB\\VID_0001&PID_0002 comment\n[Models]\n%A%=I, USB\\VID_0123&PID_4567\n",
         {{"0001", "0002", "MERVO USB Device"}}},
        {"reference after % is passed over, definition at line start wins",
         "%Dev%=I, USB\\VID_0123&PID_4567\n[Strings]\nX=%Dev%\n;Dev=\"comment\"\n Dev=\"Blank start\"\n",
         {{"0123", "4567", "Blank start"}}},
        {"no device line at all", "[Version]\nSignature=\"$Windows NT$\"\n", {}},
        {"text after Ctrl-Z is not read", std::string("[Models]\n\x1A%A%=I, USB\\VID_0123&PID_4567\n"), {}},
    };
    // clang-format on
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, Read(c.inf));
    }
}

TEST_F(DeviceIdsTest, CarriageReturnLineEndsGiveTheSameTable)
{
    std::string crlf;
    for (char ch : TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_456", "DevDesc=Some Device")) {
        if (ch == '\n')
            crlf += '\r';
        crlf += ch;
    }
    // The pid's fourth character and the unquoted value's dropped last
    // character are both the newline, not a carriage return.
    const std::vector<Device> expected = {{"0123", "456\n", "ome Device"}, {"0123", "89AB", "Other Device"}};
    EXPECT_EQ(expected, Read(crlf));
    EXPECT_EQ(expected,
              Read(TwoDeviceInf("%DevDesc%=Install, USB\\VID_0123&PID_456", "DevDesc=Some Device")));
}

TEST_F(DeviceIdsTest, TenDeviceLinesFillTheTableAndAnEleventhIsNotStored)
{
    std::string inf = "[Models]\n";
    std::vector<Device> expected;
    for (int k = 0; k < 11; k++) {
        char line[64];
        snprintf(line, sizeof line, "%%D%d%%=I, USB\\VID_%04d&PID_%04d\n", k, k, k + 100);
        inf += line;
        if (k < 10) {
            char vid[8], pid[8], key[8];
            snprintf(vid, sizeof vid, "%04d", k);
            snprintf(pid, sizeof pid, "%04d", k + 100);
            snprintf(key, sizeof key, "D%d", k);
            expected.push_back({vid, pid, key});
        }
    }
    Write(kInf, inf);
    // A guard right behind the table shows any write past its end.
    struct {
        DeviceIdTable table;
        char guard[64];
    } guarded;
    memset(guarded.guard, 'G', sizeof guarded.guard);
    EXPECT_EQ(0, GetDeviceIDs(kInf, &guarded.table));
    EXPECT_EQ(10, guarded.table.count);
    EXPECT_STREQ("0009", guarded.table.entries[9].indexText);
    for (char g : guarded.guard) {
        ASSERT_EQ('G', g);
    }
    std::string tenOnly = inf.substr(0, inf.rfind("%D10%"));
    EXPECT_EQ(expected, Read(tenOnly));
    EXPECT_EQ(expected, Read(inf));
}

TEST_F(DeviceIdsTest, LongLinesArriveInPiecesOf499Characters)
{
    const std::string device = "%DevDesc%=Install, USB\\VID_0123&PID_4567";
    // 499 characters with the newline: one piece.
    std::string line499 = device + std::string(498 - device.size(), 'x');
    EXPECT_EQ((std::vector<Device>{{"0123", "4567", "DevDesc"}}), Read(line499 + "\n"));
    // 500: the newline comes as a piece of its own; the first piece is whole.
    std::string line500 = device + std::string(499 - device.size(), 'x');
    EXPECT_EQ((std::vector<Device>{{"0123", "4567", "DevDesc"}}), Read(line500 + "\n"));
    // 1,200: the second piece starts with "B=" and is a device line of its own.
    std::string line1200 = "%A%=" + std::string(495, 'x') + "B=USB\\VID_1111&PID_2222";
    line1200 += std::string(1199 - line1200.size(), 'y');
    EXPECT_EQ((std::vector<Device>{{"1111", "2222", "MERVO USB Device"}}), Read(line1200 + "\n"));
    // A key of 496 characters (the "=" at position 498) still fits.
    const std::string key = "USB\\VID_0123&PID_4567" + std::string(475, 'K');
    ASSERT_EQ(496u, key.size());
    std::vector<Device> devices = Read("%" + key + "%=\n");
    ASSERT_EQ(1u, devices.size());
    EXPECT_EQ(key, devices[0].description);
}

// The buffer's size comes from the caller: size - 1 characters a read, none
// below 2 (no room for a character), and the bytes after the text untouched.
TEST_F(DeviceIdsTest, ReadInfLineReadsSizeLessOneCharacters)
{
    struct SizeCase {
        size_t size;
        int result;
        const char* text;
    };
    const SizeCase cases[] = {{0, 0, ""}, {1, 0, ""}, {2, 1, "a"}, {5, 1, "abcd"}, {6, 1, "abcd\n"}};
    Write("C:\\pkg\\line.inf", "abcd\nrest\n");
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.size);
        FILE* inf = Platform.OpenStream("C:\\pkg\\line.inf", "r");
        ASSERT_NE(nullptr, inf);
        char line[8];
        memset(line, '#', sizeof line);
        EXPECT_EQ(c.result, ReadInfLine(inf, line, c.size));
        fclose(inf);
        if (c.result == 1) {
            EXPECT_STREQ(c.text, line);
            EXPECT_EQ('#', line[strlen(c.text) + 1]);
        } else {
            EXPECT_EQ('#', line[0]);
        }
    }
}

TEST_F(DeviceIdsTest, MissingPathAndUnreadableFileAreReported)
{
    DeviceIdTable table;
    table.count = 7;
    ASSERT_EQ(1, OpenLog("C:\\Temp\\log.txt"));
    EXPECT_EQ(1, GetDeviceIDs(nullptr, &table));
    EXPECT_EQ(0, table.count);
    table.count = 7;
    EXPECT_EQ(2, GetDeviceIDs("C:\\pkg\\absent.inf", &table));
    EXPECT_EQ(0, table.count);
    CloseLog();
    std::vector<LogEntry> entries = LogEntries("C:\\Temp\\log.txt");
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ("INFManager", entries[0].module);
    EXPECT_EQ("GetDeviceIDs", entries[0].function);
    EXPECT_EQ("Error: INF file opening failed !!", entries[0].text);
}

TEST_F(DeviceIdsTest, SecondOpeningThatFailsGives3WithEarlierEntriesResolved)
{
    Write(kInf, TwoDeviceInf());
    static FILE* (*simulated)(const char*, const char*);
    static int opens;
    ASSERT_EQ(1, OpenLog("C:\\Temp\\log.txt"));
    simulated = Platform.OpenStream;
    opens = 0;
    // First pass, entry 0's reading, then entry 1's reading fails.
    Platform.OpenStream = [](const char* path, const char* mode) -> FILE* {
        return ++opens == 3 ? nullptr : simulated(path, mode);
    };
    DeviceIdTable table;
    EXPECT_EQ(3, GetDeviceIDs(kInf, &table));
    EXPECT_EQ(2, table.count);
    EXPECT_STREQ("Some Device", table.entries[0].description);
    EXPECT_STREQ("DevDesc2", table.entries[1].description);
    CloseLog();
    EXPECT_EQ(0, Sim().openStreams);
    ASSERT_EQ(1u, LogEntries("C:\\Temp\\log.txt").size());
}

// Every real INF is read without a fault; the table stays within its bounds.
TEST_F(DeviceIdsTest, EveryCorpusInfIsReadSafely)
{
    SimMapDrive('D', MERVO_INF_CORPUS);
    const std::vector<std::string> files = InfNamesIn(MERVO_INF_CORPUS);
    EXPECT_GE(files.size(), 30u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        DeviceIdTable table;
        const std::string path = "D:\\" + file;
        EXPECT_EQ(0, GetDeviceIDs(path.c_str(), &table));
        EXPECT_LE(table.count, DEVICE_TABLE_SIZE);
        for (uint16_t k = 0; k < table.count; k++) {
            SCOPED_TRACE(testing::Message() << "entry " << k);
            EXPECT_EQ(4u, strlen(table.entries[k].vid));
            EXPECT_LT(strnlen(table.entries[k].description, INF_LINE_SIZE), size_t{INF_LINE_SIZE});
        }
        EXPECT_EQ(0, Sim().openStreams);
    }
    // UTF-16 text holds no 8-bit "USB\VID_": no device.
    DeviceIdTable table;
    EXPECT_EQ(0, GetDeviceIDs("D:\\seeed_stm32_vcp_usb_device.inf", &table));
    EXPECT_EQ(0, table.count);
}

}  // namespace

// The names deleted from the INF folder before staging: the stager deletes them
// and the checker lists them, both from this one rule.
TEST(StaleInfCopyNamesTest, BaseNameAndCompiledFormUpToTheBufferSize)
{
    struct Row {
        std::string infName;
        size_t count;
        const char* compiled;
    } rows[] = {
        {"MERVOUSB.inf", 2, "MERVOUSB.pnf"},
        {"sub\\dir/Pkg.INF", 2, "Pkg.pNF"},
        {"NoDot", 1, nullptr},
        {"a.i", 1, nullptr},  // one letter after the dot: no compiled form
        {std::string(495, 'n') + ".inf", 2, nullptr},
        {std::string(496, 'n') + ".inf", 0, nullptr},  // 500 characters do not fit
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.infName.size());
        char names[2][INF_PATH_SIZE];
        ASSERT_EQ(row.count, StaleInfCopyNames(row.infName.c_str(), names));
        if (row.count > 0) {
            EXPECT_STREQ(InfBaseName(row.infName.c_str()), names[0]);
        }
        if (row.compiled != nullptr) {
            EXPECT_STREQ(row.compiled, names[1]);
        }
    }
}

TEST(AcceptedInfSignatureTest, KnownSignaturesInAnyCaseOnly)
{
    for (const char* value : {"$Chicago$", "$WINDOWS NT$", "$windows 95$"})
        EXPECT_EQ(1, IsAcceptedInfSignature(value)) << value;
    for (const char* value : {"", "$Windows NT", "Windows NT", "$Windows NT$ ", "$Windows 98$", "$Chicago$$"})
        EXPECT_EQ(0, IsAcceptedInfSignature(value)) << value;
}
