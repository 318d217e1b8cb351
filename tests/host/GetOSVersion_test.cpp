#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "BoxTexts.h"
#include "TestSupport.h"
#include "log/LogFile.h"
#include "platform/simulated/SimulatedPlatform.h"
#include "system/GetOSVersion.h"

namespace {

const char kLogPath[] = "C:\\Temp\\MERVOStageLog.txt";
const char kHotfix[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";

struct VersionCase {
    const char* name;
    uint32_t platformId, major, minor, build;
    const char* servicePack;
    bool hotfixKey;
    OsCode expected;
    std::vector<std::string> lines;  // log texts; a build line keeps its own "\n"
};

class GetOSVersionTest : public SimTest {
protected:
    // The texts GetOSVersion logged, the build line's own line feed included
    // (read from the raw file, where it shows as an empty line after it).
    std::vector<std::string> LoggedTexts()
    {
        CloseLog();
        std::vector<std::string> texts;
        std::vector<std::string> lines = LogFileLines(kLogPath);
        for (size_t i = 4; i + 1 < lines.size(); i++) {
            SCOPED_TRACE(testing::Message() << "log line " << i);
            if (lines[i].empty()) {
                EXPECT_FALSE(texts.empty());
                if (!texts.empty())
                    texts.back() += "\n";
                continue;
            }
            const std::string entry = lines[i].substr(26);
            EXPECT_EQ(entry.substr(0, 55),
                      std::string(10, ' ') + "GetOSVersion - " + std::string(13, ' ') + "GetOSVersion() - ");
            texts.push_back(entry.substr(55));
        }
        return texts;
    }
};

TEST_F(GetOSVersionTest, EveryKnownSystemIsClassifiedAndLogged)
{
    // clang-format off
    const std::vector<VersionCase> cases = {
        {"Win32s", 0, 3, 10, 0, "Win32s 1.3", false, OS_WIN32S, {"OS Version: Windows 3.1."}},
        {"95", 1, 4, 0, 67109814, "", false, OS_WIN95, {"OS Version: Microsoft Windows 95 ."}},
        {"95 A", 1, 4, 0, 950, " A", false, OS_WIN95, {"OS Version: Microsoft Windows 95 ."}},
        {"95 OSR2 B", 1, 4, 0, 950, " B", false, OS_WIN95, {"OS Version: Microsoft Windows 95 OSR2 ."}},
        {"95 OSR2 C", 1, 4, 0, 950, " C", false, OS_WIN95, {"OS Version: Microsoft Windows 95 OSR2 ."}},
        {"95 index 0 only", 1, 4, 0, 950, "C", false, OS_WIN95, {"OS Version: Microsoft Windows 95 ."}},
        {"98", 1, 4, 10, 67766222, "", false, OS_WIN98, {"OS Version: Microsoft Windows 98 ."}},
        {"98 B", 1, 4, 10, 1998, " B", false, OS_WIN98, {"OS Version: Microsoft Windows 98 ."}},
        {"98 lower a", 1, 4, 10, 1998, " a ", false, OS_WIN98, {"OS Version: Microsoft Windows 98 ."}},
        {"98 SE", 1, 4, 10, 67766446, " A ", false, OS_WIN98SE, {"OS Version: Microsoft Windows 98 SE ."}},
        {"Me", 1, 4, 90, 73010104, " ", false, OS_WINME, {"OS Version: Microsoft Windows Millennium Edition."}},
        {"9x 4.3", 1, 4, 3, 1, "", false, OS_UNKNOWN, {}},
        {"9x major 5", 1, 5, 0, 1, "", false, OS_UNKNOWN, {}},
        {"NT 3.51", 2, 3, 51, 1057, "Service Pack 5", false, OS_WINNT,
         {"OS Version: Microsoft Windows NT.", "Service Pack 5 (Build 1057)\n"}},
        {"NT 4 SP6 hotfix", 2, 4, 0, 42, "Service Pack 6", true, OS_WINNT,
         {"OS Version: Microsoft Windows NT.", "Service Pack 6a (Build 42)\n"}},
        {"NT 4 sp6 case hotfix", 2, 4, 0, 42, "service pack 6", true, OS_WINNT,
         {"OS Version: Microsoft Windows NT.", "Service Pack 6a (Build 42)\n"}},
        {"NT 4 SP6 no hotfix", 2, 4, 0, 42, "Service Pack 6", false, OS_WINNT,
         {"OS Version: Microsoft Windows NT.", "Service Pack 6 (Build 42)\n"}},
        {"NT 4 SP6a", 2, 4, 0, 42, "Service Pack 6a", true, OS_WINNT,
         {"OS Version: Microsoft Windows NT.", "Service Pack 6a (Build 42)\n"}},
        {"NT 4 SP5 hotfix", 2, 4, 0, 1381, "Service Pack 5", true, OS_WINNT,
         {"OS Version: Microsoft Windows NT.", "Service Pack 5 (Build 1381)\n"}},
        {"2000", 2, 5, 0, 2195, "Service Pack 4", false, OS_WIN2000,
         {"OS Version: Microsoft Windows 2000.", "Service Pack 4 (Build 2195)\n"}},
        {"XP", 2, 5, 1, 2600, "Service Pack 3", false, OS_WINXP,
         {"OS Version: Microsoft Windows XP.", "Service Pack 3 (Build 2600)\n"}},
        {"2003", 2, 5, 2, 3790, "Service Pack 2", false, OS_WIN2003,
         {"OS Version: Microsoft Windows Server 2003 family.", "Service Pack 2 (Build 3790)\n"}},
        {"5.3", 2, 5, 3, 42, "", false, OS_UNKNOWN, {" (Build 42)\n"}},
        {"Vista", 2, 6, 0, 6002, "Service Pack 2", false, OS_WINVISTA,
         {"OS Version: Microsoft Windows Vista.", "Service Pack 2 (Build 6002)\n"}},
        {"7", 2, 6, 1, 7601, "Service Pack 1", false, OS_WINVISTA,
         {"OS Version: Microsoft Windows Vista.", "Service Pack 1 (Build 7601)\n"}},
        {"8 and later", 2, 6, 2, 9200, "", false, OS_WINVISTA,
         {"OS Version: Microsoft Windows Vista.", " (Build 9200)\n"}},
        {"7.0", 2, 7, 0, 42, "", false, OS_UNKNOWN, {" (Build 42)\n"}},
        {"10.0", 2, 10, 0, 18362, "", false, OS_UNKNOWN, {" (Build 18362)\n"}},
        {"build low 16 bits", 2, 5, 1, 65543, "", false, OS_WINXP,
         {"OS Version: Microsoft Windows XP.", " (Build 7)\n"}},
        {"platform 3", 3, 5, 1, 2600, "", false, OS_UNKNOWN, {}},
    };
    // clang-format on
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshMachine();
        SimSetVersion(c.platformId, c.major, c.minor, c.build, c.servicePack);
        if (c.hotfixKey) {
            Sim().registryKeys.push_back(kHotfix);
        }
        ASSERT_EQ(1, OpenLog(kLogPath));
        EXPECT_EQ(c.expected, GetOSVersion());
        EXPECT_EQ(c.lines, LoggedTexts());
        EXPECT_EQ(0, Sim().openHandles);  // the hotfix key is closed again
    }
}

TEST_F(GetOSVersionTest, HotfixProbeAsksForTheKeyOnlyOnServicePack6)
{
    SimSetVersion(2, 4, 0, 1381, "Service Pack 6");
    Sim().registryKeys.push_back(kHotfix);
    OsCode code = GetOSVersion();
    EXPECT_EQ(OS_WINNT, code);
    EXPECT_EQ(1, std::count(Sim().trace.begin(), Sim().trace.end(), std::string("RegOpenKeyExA ") + kHotfix));
    EXPECT_EQ(1u, TraceCount("RegCloseKey"));

    SimReset(root);
    SimSetVersion(2, 4, 0, 1381, "Service Pack 6a");
    GetOSVersion();
    for (const std::string& call : Sim().trace) {
        EXPECT_EQ(std::string::npos, call.find("RegOpenKeyExA"));
    }
}

TEST_F(GetOSVersionTest, PlainRecordIsAskedAfterTheExtendedOneIsRefused)
{
    SimSetVersion(2, 5, 0, 2195, "Service Pack 4");
    Sim().refuseExtendedVersion = true;
    // The plain query sees the storage of the refused one: size 148, the
    // rest as the first query left it.
    static std::vector<uint32_t> sizes;
    sizes.clear();
    static int32_t (*simulated)(PsOsVersionInfoEx*);
    simulated = Platform.GetVersionExA;
    Platform.GetVersionExA = [](PsOsVersionInfoEx* info) {
        sizes.push_back(info->dwOSVersionInfoSize);
        return simulated(info);
    };
    ASSERT_EQ(1, OpenLog(kLogPath));
    EXPECT_EQ(OS_WIN2000, GetOSVersion());
    EXPECT_EQ((std::vector<uint32_t>{156, 148}), sizes);
    EXPECT_EQ(
        (std::vector<std::string>{"OS Version: Microsoft Windows 2000.", "Service Pack 4 (Build 2195)\n"}),
        LoggedTexts());
}

TEST_F(GetOSVersionTest, BothQueriesRefusedIsUnknownWithNothingLogged)
{
    Sim().refuseExtendedVersion = true;
    Sim().refusePlainVersion = true;
    ASSERT_EQ(1, OpenLog(kLogPath));
    EXPECT_EQ(OS_UNKNOWN, GetOSVersion());
    EXPECT_TRUE(LoggedTexts().empty());
}

TEST_F(GetOSVersionTest, RefusalIsLoggedBeforeItsBoxIsShown)
{
    struct RefusalCase {
        OsCode code;
        const char* name;
    };
    // clang-format off
    const RefusalCase cases[] = {
        {OS_WIN32S, "Windows 3.11"},        {OS_WINME, "Windows Millenium Edition"},
        {OS_WINNT, "Windows NT"},           {OS_UNKNOWN, "Unknown OS version."},
        {-1, "Unknown OS version."},        {11, "Unknown OS version."},
        {1000000, "Unknown OS version."},
    };
    // clang-format on
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.code);
        FreshMachine();
        ASSERT_EQ(1, OpenLog(kLogPath));
        // When the box appears, the refusal must already be in the log.
        static bool loggedBeforeBox;
        loggedBeforeBox = false;
        Platform.MessageBoxA = [](PsHandle, const char* text, const char* caption, uint32_t type) {
            fflush(RunLog.stream);
            std::string bytes;
            loggedBeforeBox = SimReadFile(kLogPath, &bytes) && bytes.find(text) != std::string::npos;
            Sim().boxes.push_back({text, caption, type});
            return 1;
        };
        DisplayOSError(c.code);
        const std::string text = boxes::OsRefusal(c.name);
        ASSERT_EQ(1u, Sim().boxes.size());
        EXPECT_TRUE(loggedBeforeBox);
        EXPECT_EQ(text, Sim().boxes[0].text);
        EXPECT_EQ(boxes::kErrorCaption, Sim().boxes[0].caption);
        EXPECT_EQ(0u, Sim().boxes[0].type);
        CloseLog();
        std::vector<LogEntry> entries = LogEntries(kLogPath);
        ASSERT_EQ(1u, entries.size());
        EXPECT_EQ("GetOSVersion", entries[0].module);
        EXPECT_EQ("DisplayOSError", entries[0].function);
        EXPECT_EQ(text, entries[0].text);
    }
}

}  // namespace
