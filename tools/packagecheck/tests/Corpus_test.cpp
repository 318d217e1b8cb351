// Every real INF of the corpus: the check gives a result, its table is what
// the stager's GetDeviceIDs reads, and its JSON matches its text.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "CheckSupport.h"
#include "app/MERVODriverStager.h"
#include "platform/simulated/SimulatedPlatform.h"

namespace {

std::vector<std::string> CorpusInfs()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(MERVO_INF_CORPUS)) {
        if (entry.path().extension() == ".inf") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string FileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool Has(const std::vector<std::string>& codes, const char* code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

class CorpusTest : public testing::TestWithParam<std::string> {};

TEST_P(CorpusTest, GivesTheStagersTableAndMatchingJson)
{
    const std::string name = GetParam();
    CheckRun text = RunCheck({MERVO_INF_CORPUS, name});
    EXPECT_TRUE(Sim().filesWritten.empty());
    CheckRun json = RunCheck({MERVO_INF_CORPUS, name, "--json"});
    ASSERT_GE(text.exitCode, CHECK_CLEAN);
    ASSERT_LE(text.exitCode, CHECK_RUN_FAILS);
    EXPECT_EQ(json.exitCode, text.exitCode);
    ExpectJsonMatchesText(json.output, text.output);

    // The stager's own reading of the same file on the same simulated drive.
    TempPackage systemRoot;
    SimReset(systemRoot.path());
    SimMapDrive('P', MERVO_INF_CORPUS);
    DeviceIdTable table;
    int result = GetDeviceIDs(("P:\\" + name).c_str(), &table);
    nlohmann::json document = nlohmann::json::parse(json.output);
    EXPECT_EQ(document["inf"]["readResult"], result);
    ASSERT_EQ(document["devices"].size(), table.count);
    for (uint16_t i = 0; i < table.count; ++i) {
        SCOPED_TRACE(testing::Message() << "device " << i);
        const nlohmann::json& device = document["devices"][i];
        EXPECT_EQ(table.entries[i].index, device["index"]);
        EXPECT_EQ(table.entries[i].indexText, device["indexText"]);
        EXPECT_EQ(table.entries[i].vid, device["vid"]);
        EXPECT_EQ(table.entries[i].pid, device["pid"]);
        // Descriptions with bytes that are not UTF-8 differ by design (U+FFFD).
        std::string description = table.entries[i].description;
        if (nlohmann::json(description).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) ==
            nlohmann::json(description).dump(-1, ' ', false, nlohmann::json::error_handler_t::ignore)) {
            EXPECT_EQ(device["description"], description);
        }
    }

    // Facts of the file the warnings must agree with, found independently.
    PackageReport report = CheckFolder(MERVO_INF_CORPUS, name.c_str());
    std::vector<std::string> codes = WarningCodes(report);
    std::string bytes = FileBytes(std::string(MERVO_INF_CORPUS) + "/" + name);
    bool utf16 = bytes.compare(0, 2, "\xFF\xFE") == 0;
    EXPECT_EQ(Has(codes, "INF_NOT_8BIT_TEXT"), utf16);
    if (utf16) {
        EXPECT_EQ(EXIT_NO_DEVICE, report.stagerExitCode);
    }
    bool plainSection = bytes.find("[SourceDisksFiles]") != std::string::npos;
    bool decorated = bytes.find("[SourceDisksFiles.") != std::string::npos;
    EXPECT_EQ(Has(codes, "NO_PLAIN_SOURCE_DISKS_FILES"), !utf16 && !plainSection && decorated);
    EXPECT_TRUE(Has(codes, "COMPANION_TOOL_MISSING"));
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, testing::ValuesIn(CorpusInfs()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             std::string name = param.param.substr(0, param.param.size() - 4);
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) { return !isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });

}  // namespace

namespace {

// INFs no tool writes: the check still gives a result and valid JSON.
TEST(HostileInfs, GiveAResult)
{
    std::string random;
    unsigned seed = 12345;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 1103515245u + 12345u;
        random += static_cast<char>(seed >> 16);
    }
    // A device line cut by the 499-character pieces of the reader.
    std::string longLine = std::string(495, 'x') + "%D%=I, USB\\VID_0123&PID_4567\r\n";
    const std::string infs[] = {
        "",
        std::string(100, '\0'),
        "\xFE\xFF",
        random,
        "[Version]\r\nSignature=$Chicago$\r\n[M]\r\n" + longLine,
        "[SourceDisksFiles]\r\n" + std::string(1200, 'a') + "=1\r\n=1\r\n\r\n",
        "USB\\VID_\r\nUSB\\VID_0123&PID_\r\n\x1A%D%=I, USB\\VID_0123&PID_4567\r\n",
        "[Version\r\n%D%=I, USB\\VID_0123&PID_4567\r\nD=\"\r\n",
    };
    for (const std::string& inf : infs) {
        SCOPED_TRACE(testing::PrintToString(inf.substr(0, 60)));
        TempPackage package;
        package.Write("MERVOUSB.inf", inf);
        CheckRun text = RunCheck({package.path()});
        CheckRun json = RunCheck({package.path(), "--json"});
        EXPECT_GE(text.exitCode, CHECK_CLEAN);
        EXPECT_LE(text.exitCode, CHECK_RUN_FAILS);
        ExpectJsonMatchesText(json.output, text.output);
    }
}

}  // namespace
