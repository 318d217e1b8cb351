// Tests of the simulated Windows' INF staging and WOW64 question.
#include <cstring>

#include "simulated/SimulatedTest.h"

namespace {

TEST_F(SimulatedPlatformTest, SetupCopyOEMInfStoresInfsWithAKnownSignature)
{
    struct {
        const char* name;
        const char* inf;
        bool staged;
    } const cases[] = {
        {"chicago", "[Version]\r\nSignature=\"$Chicago$\"\r\nClass=Ports\r\n", true},
        {"windows nt bare", "; comment\r\n[version]\r\n  signature = $WINDOWS NT$ ; trailing\r\n", true},
        {"windows 95", "[Strings]\r\nX=1\r\n[ Version ]\r\nSignature=\"$Windows 95$\"\r\n", true},
        {"no version", "[Strings]\r\nSignature=\"$Chicago$\"\r\n", false},
        {"other signature", "[Version]\r\nSignature=\"$Windows 2000$\"\r\n", false},
        {"signature elsewhere", "[Version]\r\nClass=Ports\r\n[Other]\r\nSignature=$Chicago$\r\n", false},
        {"commented out", "[Version]\r\n;Signature=$Chicago$\r\n", false},
        {"after ctrl-z", "\x1a[Version]\r\nSignature=$Chicago$\r\n", false},
        {"empty", "", false},
    };
    int stored = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write("C:\\pkg\\MERVOUSB.inf", c.inf);
        char destination[260] = "untouched";
        uint32_t required = 0;
        char* component = nullptr;
        Platform.SetLastError(0);
        int32_t result = Platform.SetupCopyOEMInfA("C:\\pkg\\MERVOUSB.inf", "C:\\pkg", PS_SPOST_PATH, 0,
                                                   destination, sizeof destination, &required, &component);
        ASSERT_FALSE(Sim().stagedInfs.empty());
        const SimStagedInf& record = Sim().stagedInfs.back();
        EXPECT_EQ("C:\\pkg\\MERVOUSB.inf", record.sourceInf);
        EXPECT_EQ("C:\\pkg", record.mediaLocation);
        EXPECT_EQ(record.destinationSize, sizeof destination);
        if (!c.staged) {
            EXPECT_EQ(0, result) << c.name;
            EXPECT_EQ(0xE0000100u, Platform.GetLastError()) << c.name;
            EXPECT_EQ("", record.storedAs) << c.name;
            EXPECT_STREQ("untouched", destination) << c.name;
            continue;
        }
        std::string expected = "C:\\WINDOWS\\inf\\oem" + std::to_string(stored++) + ".inf";
        EXPECT_NE(result, 0) << c.name;
        EXPECT_EQ(expected, destination) << c.name;
        EXPECT_EQ(required, expected.size() + 1) << c.name;
        EXPECT_STREQ(component, expected.c_str() + strlen("C:\\WINDOWS\\inf\\")) << c.name;
        EXPECT_EQ(expected, record.storedAs) << c.name;
        EXPECT_EQ(c.inf, Read(expected)) << c.name;
    }
    EXPECT_EQ(3, stored);

    Platform.SetLastError(0);
    EXPECT_EQ(0, Platform.SetupCopyOEMInfA("C:\\pkg\\Missing.inf", nullptr, PS_SPOST_PATH, 0, nullptr, 0,
                                           nullptr, nullptr));
    EXPECT_EQ(PS_ERROR_FILE_NOT_FOUND, Platform.GetLastError());
    EXPECT_EQ("(null)", Sim().stagedInfs.back().mediaLocation);
    EXPECT_FALSE(Sim().stagedInfs.back().requiredSizeGiven);
}

TEST_F(SimulatedPlatformTest, SetupCopyOEMInfStoresOnceAndCanBeScripted)
{
    // A too small name buffer fails the call, but the INF is stored; staged
    // again, the same bytes find that copy.
    Write("C:\\pkg\\MERVOUSB.inf", "[Version]\nSignature=$Chicago$\n");
    char destination[8] = "keep";
    uint32_t required = 0;
    EXPECT_EQ(0, Platform.SetupCopyOEMInfA("C:\\pkg\\MERVOUSB.inf", "C:\\pkg", PS_SPOST_PATH, 0, destination,
                                           sizeof destination, &required, nullptr));
    EXPECT_EQ(PS_ERROR_INSUFFICIENT_BUFFER, Platform.GetLastError());
    EXPECT_STREQ("keep", destination);
    EXPECT_EQ(required, strlen("C:\\WINDOWS\\inf\\oem0.inf") + 1);
    EXPECT_TRUE(SimFileExists("C:\\WINDOWS\\inf\\oem0.inf"));
    Write("C:\\pkg\\copy.inf", "[Version]\nSignature=$Chicago$\n");
    EXPECT_NE(Platform.SetupCopyOEMInfA("C:\\pkg\\copy.inf", "C:\\pkg", PS_SPOST_PATH, 0, nullptr, 0, nullptr,
                                        nullptr),
              0);
    EXPECT_EQ("C:\\WINDOWS\\inf\\oem0.inf", Sim().stagedInfs.back().storedAs);
    EXPECT_EQ(std::vector<std::string>{"C:\\WINDOWS\\inf\\oem0.inf"}, Sim().filesWritten);

    Sim().onSetupCopyOEMInf = [](const char* source) {
        Platform.SetLastError(strstr(source, "MERVO") != nullptr ? 0xE0000100 : 0);
        return 0;
    };
    EXPECT_EQ(0, Platform.SetupCopyOEMInfA("C:\\pkg\\MERVOUSB.inf", "C:\\pkg", PS_SPOST_PATH, 0, nullptr, 0,
                                           nullptr, nullptr));
    EXPECT_EQ(0xE0000100u, Platform.GetLastError());
    EXPECT_FALSE(SimFileExists("C:\\WINDOWS\\inf\\oem1.inf"));
    EXPECT_EQ(3u, Sim().stagedInfs.size());
}

TEST_F(SimulatedPlatformTest, IsWow64ProcessAnswersOnlyWhenKnown)
{
    int32_t wow64 = -1;
    Sim().wow64 = true;
    EXPECT_EQ(1, Platform.IsWow64Process(&wow64));
    EXPECT_EQ(1, wow64);
    Sim().wow64Known = false;
    wow64 = -1;
    EXPECT_EQ(0, Platform.IsWow64Process(&wow64));
    EXPECT_EQ(-1, wow64);
}

}  // namespace
