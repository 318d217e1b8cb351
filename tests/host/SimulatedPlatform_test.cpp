// Tests of the simulated Windows machine itself: the path rules, text streams,
// file semantics, failure injection and records that the stager's tests rely on.
#include <gtest/gtest-spi.h>

#include <cstring>
#include <functional>

#include "TestSupport.h"
#include "log/LogFile.h"

namespace {

class SimulatedPlatformTest : public SimTest {
protected:
    // The whole content of a stream opened on `path` with `mode`, read with fgetc.
    std::string ReadStream(const char* path, const char* mode)
    {
        FILE* stream = Platform.OpenStream(path, mode);
        EXPECT_NE(stream, nullptr) << path;
        if (stream == nullptr) {
            return "";
        }
        std::string text;
        int c;
        while ((c = fgetc(stream)) != EOF) {
            text += static_cast<char>(c);
        }
        fclose(stream);
        return text;
    }

    void WriteStream(const char* path, const char* mode, const std::string& text)
    {
        FILE* stream = Platform.OpenStream(path, mode);
        ASSERT_NE(stream, nullptr) << path;
        fwrite(text.data(), 1, text.size(), stream);
        EXPECT_EQ(fclose(stream), 0);
    }
};

// ---------------------------------------------------------------------------
// Paths

struct PathCase {
    const char* path;
    uint32_t attributes;  // expected result of GetFileAttributesA
    uint32_t error;       // expected last error when INVALID_FILE_ATTRIBUTES
};

TEST_F(SimulatedPlatformTest, PathsFollowWindowsRules)
{
    Write("C:\\pkg\\Driver.SYS", "x");
    const uint32_t kFile = PS_FILE_ATTRIBUTE_NORMAL;
    const uint32_t kFolder = PS_FILE_ATTRIBUTE_DIRECTORY;
    const uint32_t kNone = PS_INVALID_FILE_ATTRIBUTES;
    const PathCase cases[] = {
        {"C:\\pkg\\Driver.SYS", kFile, 0},
        {"c:/PKG/driver.sys", kFile, 0},
        {"C:\\pkg/./Driver.SYS", kFile, 0},
        {"C:\\pkg\\nowhere\\..\\Driver.SYS", kFile, 0},
        {"C:\\..\\..\\pkg\\Driver.SYS", kFile, 0},
        {"C:\\\\pkg\\\\\\Driver.SYS", kFile, 0},
        {"C:\\pkg\\Driver.SYS. .", kFile, 0},
        {"C:\\pkg. \\Driver.SYS", kFile, 0},
        {"C:\\pkg\\...\\Driver.SYS", kFile, 0},
        {"pkg\\Driver.SYS", kFile, 0},
        {"\\pkg\\Driver.SYS", kFile, 0},
        {"C:pkg\\Driver.SYS", kFile, 0},
        {"C:", kFolder, 0},
        {"C:\\", kFolder, 0},
        {"C:\\PKG", kFolder, 0},
        {"C:\\pkg\\missing.sys", kNone, PS_ERROR_FILE_NOT_FOUND},
        {"C:\\pkg\\COM0", kNone, PS_ERROR_FILE_NOT_FOUND},
        {"C:\\pkg\\CONSOLE.txt", kNone, PS_ERROR_FILE_NOT_FOUND},
        {"C:\\nowhere\\Driver.SYS", kNone, PS_ERROR_PATH_NOT_FOUND},
        {"C:\\pkg\\Driver.SYS\\x", kNone, PS_ERROR_PATH_NOT_FOUND},
        {"\\\\server\\share\\Driver.SYS", kNone, PS_ERROR_PATH_NOT_FOUND},
        {"Q:\\pkg\\Driver.SYS", kNone, PS_ERROR_PATH_NOT_FOUND},
        {"", kNone, PS_ERROR_PATH_NOT_FOUND},
        {"C:\\pkg\\a<b", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\a>b", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\a:b", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\a\"b", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\a|b", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\a?b", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\a*b", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\a\tb", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\a?\\..\\pkg", kNone, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\CON", kNone, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\nul.txt", kNone, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\Aux", kNone, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\prn.log", kNone, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\com1", kNone, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\LPT9.inf", kNone, PS_ERROR_ACCESS_DENIED},
        {"C:\\con\\Driver.SYS", kNone, PS_ERROR_ACCESS_DENIED},
    };
    for (const PathCase& c : cases) {
        Platform.SetLastError(0);
        EXPECT_EQ(Platform.GetFileAttributesA(c.path), c.attributes) << c.path;
        if (c.attributes == kNone) {
            EXPECT_EQ(Platform.GetLastError(), c.error) << c.path;
        }
    }
}

TEST_F(SimulatedPlatformTest, RelativePathsStartInTheCurrentFolderAndDrivesMapToFolders)
{
    Write("C:\\pkg\\MERVOUSB.inf", "x");
    Sim().currentDirectory = "C:\\pkg";
    EXPECT_EQ(Platform.GetFileAttributesA("mervousb.inf"), PS_FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Platform.GetFileAttributesA("..\\pkg\\MERVOUSB.inf"), PS_FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Platform.GetFileAttributesA("\\MERVOUSB.inf"), PS_INVALID_FILE_ATTRIBUTES);

    std::string other = root + "/d-drive";
    SimMakeFolder("C:\\d-drive");
    SimMapDrive('d', other);
    Write("D:\\Setup\\MERVOUSB.inf", "d");
    EXPECT_EQ(Read("C:\\d-drive\\setup\\mervousb.inf"), "d");
    EXPECT_EQ(SimHostPath("d:/SETUP/mervousb.inf"), other + "/Setup/MERVOUSB.inf");
    EXPECT_EQ(SimHostPath("E:\\x"), "");
}

TEST_F(SimulatedPlatformTest, RecordsHoldResolvedPathsAndNewNamesKeepTheirCase)
{
    Write("C:\\WINDOWS\\inf\\MERVOUSB.inf", "old");
    ASSERT_NE(Platform.DeleteFileA("c:/windows/INF/./mervousb.INF"), 0);
    ASSERT_EQ(Sim().filesDeleted.size(), 1u);
    EXPECT_EQ(Sim().filesDeleted[0], "C:\\WINDOWS\\inf\\MERVOUSB.inf");

    WriteStream("c:\\temp\\New Log.TXT. . ", "w", "x");
    ASSERT_EQ(Sim().filesWritten.size(), 1u);
    EXPECT_EQ(Sim().filesWritten[0], "C:\\Temp\\New Log.TXT");
    EXPECT_EQ(SimHostPath("C:\\TEMP\\new log.txt"), root + "/Temp/New Log.TXT");

    // Overwriting an existing file keeps its on-disk name.
    WriteStream("C:\\TEMP\\NEW LOG.txt", "w", "y");
    EXPECT_EQ(Sim().filesWritten.back(), "C:\\Temp\\New Log.TXT");
    EXPECT_EQ(ReadStream("c:\\temp\\new log.txt", "r"), "y");
    EXPECT_EQ(Sim().filesRead.back(), "C:\\Temp\\New Log.TXT");
}

// ---------------------------------------------------------------------------
// Files

TEST_F(SimulatedPlatformTest, AttributesAreKeptByTheSimulator)
{
    Write("C:\\Temp\\a.txt", "a");
    EXPECT_EQ(Platform.GetFileAttributesA("C:\\Temp\\a.txt"), PS_FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(Platform.SetFileAttributesA("C:\\Temp\\a.txt", PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_HIDDEN), 0);
    EXPECT_EQ(Platform.GetFileAttributesA("c:\\temp\\A.TXT"), PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(SimAttributes("C:\\Temp\\a.txt"), PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(Platform.SetFileAttributesA("C:\\Temp\\a.txt", PS_FILE_ATTRIBUTE_NORMAL), 0);
    EXPECT_EQ(Platform.GetFileAttributesA("C:\\Temp\\a.txt"), PS_FILE_ATTRIBUTE_NORMAL);

    SimSetAttributes("C:\\Temp", PS_FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Platform.GetFileAttributesA("C:\\Temp"), PS_FILE_ATTRIBUTE_DIRECTORY | PS_FILE_ATTRIBUTE_HIDDEN);

    EXPECT_EQ(Platform.SetFileAttributesA("C:\\Temp\\none.txt", PS_FILE_ATTRIBUTE_NORMAL), 0);
    EXPECT_EQ(Platform.GetLastError(), PS_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SimAttributes("C:\\Temp\\none.txt"), PS_INVALID_FILE_ATTRIBUTES);
}

TEST_F(SimulatedPlatformTest, DeleteFileRefusesFoldersReadOnlyAndMissingFiles)
{
    Write("C:\\Temp\\locked.txt", "x");
    SimSetAttributes("C:\\Temp\\locked.txt", PS_FILE_ATTRIBUTE_READONLY);
    struct {
        const char* path;
        uint32_t error;
    } const refused[] = {
        {"C:\\Temp\\missing.txt", PS_ERROR_FILE_NOT_FOUND},
        {"C:\\Nowhere\\missing.txt", PS_ERROR_PATH_NOT_FOUND},
        {"C:\\Temp", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp\\locked.txt", PS_ERROR_ACCESS_DENIED},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(Platform.DeleteFileA(c.path), 0) << c.path;
        EXPECT_EQ(Platform.GetLastError(), c.error) << c.path;
    }
    EXPECT_TRUE(SimFileExists("C:\\Temp\\locked.txt"));
    EXPECT_TRUE(Sim().filesDeleted.empty());

    // Once writable again it goes, and a file made anew under its name is plain.
    Platform.SetFileAttributesA("C:\\Temp\\locked.txt", PS_FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(Platform.DeleteFileA("C:\\Temp\\locked.txt"), 0);
    EXPECT_FALSE(SimFileExists("C:\\Temp\\locked.txt"));
    Write("C:\\Temp\\locked.txt", "y");
    EXPECT_EQ(SimAttributes("C:\\Temp\\locked.txt"), PS_FILE_ATTRIBUTE_NORMAL);
}

TEST_F(SimulatedPlatformTest, CopyFileChecksLikeWindows)
{
    Write("C:\\pkg\\drv.sys", "driver");
    Write("C:\\WINDOWS\\system32\\drivers\\locked.sys", "old");
    SimSetAttributes("C:\\WINDOWS\\system32\\drivers\\locked.sys", PS_FILE_ATTRIBUTE_READONLY);
    Write("C:\\WINDOWS\\system32\\drivers\\present.sys", "old");
    struct {
        const char* source;
        const char* target;
        int32_t failIfExists;
        uint32_t error;  // 0: copied
    } const cases[] = {
        {"C:\\pkg\\none.sys", "C:\\WINDOWS\\system32\\drivers\\none.sys", 0, PS_ERROR_FILE_NOT_FOUND},
        {"C:\\nowhere\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\drv.sys", 0, PS_ERROR_PATH_NOT_FOUND},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\nowhere\\drv.sys", 0, PS_ERROR_PATH_NOT_FOUND},
        {"C:\\pkg", "C:\\WINDOWS\\system32\\drivers\\pkg", 0, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers", 0, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\locked.sys", 0, PS_ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\present.sys", 1, 80},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\a|b.sys", 0, PS_ERROR_INVALID_NAME},
        {"C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\PRESENT.SYS", 0, 0},
        {"c:\\PKG\\DRV.SYS", "C:\\WINDOWS\\system32\\drivers\\new.sys", 1, 0},
    };
    for (const auto& c : cases) {
        Platform.SetLastError(0);
        int32_t copied = Platform.CopyFileA(c.source, c.target, c.failIfExists);
        EXPECT_EQ(copied != 0, c.error == 0) << c.source << " -> " << c.target;
        EXPECT_EQ(Platform.GetLastError(), c.error) << c.source << " -> " << c.target;
    }
    EXPECT_EQ(Read("C:\\WINDOWS\\system32\\drivers\\locked.sys"), "old");
    EXPECT_EQ(Read("C:\\WINDOWS\\system32\\drivers\\present.sys"), "driver");
    EXPECT_EQ(Read("C:\\WINDOWS\\system32\\drivers\\new.sys"), "driver");
    EXPECT_EQ(Sim().filesRead, (std::vector<std::string>{"C:\\pkg\\drv.sys", "C:\\pkg\\drv.sys"}));
    EXPECT_EQ(Sim().filesWritten, (std::vector<std::string>{"C:\\WINDOWS\\system32\\drivers\\present.sys",
                                                           "C:\\WINDOWS\\system32\\drivers\\new.sys"}));
}

TEST_F(SimulatedPlatformTest, CopyFileGivesTheTargetTheSourceAttributes)
{
    Write("C:\\pkg\\drv.sys", "driver");
    SimSetAttributes("C:\\pkg\\drv.sys", PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_SYSTEM);
    Write("C:\\WINDOWS\\system32\\drivers\\drv.sys", "old");
    SimSetAttributes("C:\\WINDOWS\\system32\\drivers\\drv.sys", PS_FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(Platform.CopyFileA("C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\drv.sys", 0), 0);
    EXPECT_EQ(SimAttributes("C:\\WINDOWS\\system32\\drivers\\drv.sys"),
              PS_FILE_ATTRIBUTE_READONLY | PS_FILE_ATTRIBUTE_SYSTEM);
    // ... so a second copy onto the now read-only target is refused.
    EXPECT_EQ(Platform.CopyFileA("C:\\pkg\\drv.sys", "C:\\WINDOWS\\system32\\drivers\\drv.sys", 0), 0);
    EXPECT_EQ(Platform.GetLastError(), PS_ERROR_ACCESS_DENIED);

    Write("C:\\pkg\\plain.sys", "plain");
    SimSetAttributes("C:\\WINDOWS\\system32\\drivers\\drv.sys", PS_FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(Platform.CopyFileA("C:\\pkg\\plain.sys", "C:\\WINDOWS\\system32\\drivers\\drv.sys", 0), 0);
    EXPECT_EQ(SimAttributes("C:\\WINDOWS\\system32\\drivers\\drv.sys"), PS_FILE_ATTRIBUTE_NORMAL);
}

// ---------------------------------------------------------------------------
// Streams

TEST_F(SimulatedPlatformTest, TextStreamsTranslateLineEndsAndStopAtCtrlZ)
{
    struct {
        const char* name;
        std::string bytes;
        std::string text;    // read in mode "r"
    } const cases[] = {
        {"crlf", "a\r\nb\r\n", "a\nb\n"},
        {"lone cr", "a\rb\r", "a\rb\r"},
        {"cr before crlf", "a\r\r\nb", "a\r\nb"},
        {"bare lf", "a\nb", "a\nb"},
        {"ctrl-z ends", std::string("a\r\nb\x1a\r\nc", 8), "a\nb"},
        {"ctrl-z first", std::string("\x1a" "abc", 4), ""},
        {"nul kept", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        Write("C:\\Temp\\t.txt", c.bytes);
        EXPECT_EQ(ReadStream("C:\\Temp\\t.txt", "r"), c.text) << c.name;
        EXPECT_EQ(ReadStream("C:\\Temp\\t.txt", "rb"), c.bytes) << c.name;
    }
}

TEST_F(SimulatedPlatformTest, TextStreamsJoinCrLfAcrossEveryBufferBoundary)
{
    // Lines of every length from 0 to 40 put a CR LF at every offset of the
    // stream's internal chunks.
    std::string bytes;
    std::string text;
    for (int round = 0; round < 30; ++round) {
        for (int length = 0; length <= 40; ++length) {
            std::string line(static_cast<size_t>(length), static_cast<char>('a' + length % 26));
            bytes += line + "\r\n";
            text += line + "\n";
        }
    }
    ASSERT_GT(bytes.size(), 3u * 8192u);
    Write("C:\\Temp\\big.txt", bytes);
    EXPECT_EQ(ReadStream("C:\\Temp\\big.txt", "r"), text);

    // The same through fgets with a small buffer, as the INF reader does.
    FILE* stream = Platform.OpenStream("C:\\Temp\\big.txt", "r");
    ASSERT_NE(stream, nullptr);
    std::string joined;
    char line[7];
    while (fgets(line, sizeof line, stream) != nullptr) {
        joined += line;
    }
    fclose(stream);
    EXPECT_EQ(joined, text);
}

TEST_F(SimulatedPlatformTest, WritingInTextModeStoresCrLf)
{
    WriteStream("C:\\Temp\\w.txt", "w", "one\ntwo\r\nthree");
    EXPECT_EQ(Read("C:\\Temp\\w.txt"), "one\r\ntwo\r\r\nthree");
    WriteStream("C:\\Temp\\w.txt", "a", "\nfour\n");
    EXPECT_EQ(Read("C:\\Temp\\w.txt"), "one\r\ntwo\r\r\nthree\r\nfour\r\n");
    WriteStream("C:\\Temp\\w.txt", "wb", "raw\n");
    EXPECT_EQ(Read("C:\\Temp\\w.txt"), "raw\n");
    WriteStream("C:\\Temp\\w.txt", "ab", "more\n");
    EXPECT_EQ(Read("C:\\Temp\\w.txt"), "raw\nmore\n");

    // What a stream flushes is in the file while the stream stays open.
    FILE* open = Platform.OpenStream("C:\\Temp\\w.txt", "w");
    ASSERT_NE(open, nullptr);
    fputs("flushed\n", open);
    fflush(open);
    EXPECT_EQ(Read("C:\\Temp\\w.txt"), "flushed\r\n");
    fclose(open);

    // A long text goes through several chunks of the stream's buffer.
    std::string many;
    for (int i = 0; i < 5000; ++i) {
        many += "line\n";
    }
    WriteStream("C:\\Temp\\w.txt", "w", many);
    std::string stored = Read("C:\\Temp\\w.txt");
    EXPECT_EQ(stored.size(), many.size() + 5000);
    EXPECT_EQ(ReadStream("C:\\Temp\\w.txt", "r"), many);
}

TEST_F(SimulatedPlatformTest, OpenStreamRefusesWhatWindowsRefusesAndCountsStreams)
{
    Write("C:\\Temp\\locked.txt", "x");
    SimSetAttributes("C:\\Temp\\locked.txt", PS_FILE_ATTRIBUTE_READONLY);
    Write("C:\\Temp\\hidden.txt", "x");
    SimSetAttributes("C:\\Temp\\hidden.txt", PS_FILE_ATTRIBUTE_HIDDEN);
    Write("C:\\Temp\\system.txt", "x");
    SimSetAttributes("C:\\Temp\\system.txt", PS_FILE_ATTRIBUTE_SYSTEM);
    struct {
        const char* path;
        const char* mode;
        uint32_t error;
    } const refused[] = {
        {"C:\\Temp\\missing.txt", "r", PS_ERROR_FILE_NOT_FOUND},
        {"C:\\Nowhere\\missing.txt", "r", PS_ERROR_PATH_NOT_FOUND},
        {"C:\\Nowhere\\new.txt", "w", PS_ERROR_PATH_NOT_FOUND},
        {"C:\\Temp", "r", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp", "w", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp\\locked.txt", "w", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp\\locked.txt", "a", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp\\locked.txt", "r+", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp\\hidden.txt", "w", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp\\system.txt", "wb", PS_ERROR_ACCESS_DENIED},
        {"C:\\Temp\\a?.txt", "w", PS_ERROR_INVALID_NAME},
    };
    for (const auto& c : refused) {
        Platform.SetLastError(0);
        EXPECT_EQ(Platform.OpenStream(c.path, c.mode), nullptr) << c.path << " " << c.mode;
        EXPECT_EQ(Platform.GetLastError(), c.error) << c.path << " " << c.mode;
    }
    EXPECT_EQ(Sim().openStreams, 0);
    EXPECT_TRUE(Sim().filesRead.empty());
    EXPECT_TRUE(Sim().filesWritten.empty());

    // A hidden file can be appended to and read, a read-only one read.
    WriteStream("C:\\Temp\\hidden.txt", "a", "y");
    EXPECT_EQ(ReadStream("C:\\Temp\\hidden.txt", "r"), "xy");
    Sim().filesRead.clear();
    Sim().filesWritten.clear();
    FILE* first = Platform.OpenStream("C:\\Temp\\locked.txt", "r");
    FILE* second = Platform.OpenStream("C:\\Temp\\other.txt", "w");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Sim().openStreams, 2);
    fclose(first);
    EXPECT_EQ(Sim().openStreams, 1);
    fclose(second);
    EXPECT_EQ(Sim().openStreams, 0);
    EXPECT_EQ(Sim().filesRead, std::vector<std::string>{"C:\\Temp\\locked.txt"});
    EXPECT_EQ(Sim().filesWritten, std::vector<std::string>{"C:\\Temp\\other.txt"});
}

// ---------------------------------------------------------------------------
// Version, names, registry

TEST_F(SimulatedPlatformTest, GetVersionHonoursTheSizeField)
{
    SimSetVersion(PS_VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4");
    PsOsVersionInfoEx info;
    memset(&info, 0xAB, sizeof info);
    info.dwOSVersionInfoSize = PS_OSVERSIONINFO_SIZE;
    ASSERT_NE(Platform.GetVersionExA(&info), 0);
    EXPECT_EQ(info.dwOSVersionInfoSize, PS_OSVERSIONINFO_SIZE);
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
    EXPECT_EQ(info.dwBuildNumber, 2195u);
    EXPECT_EQ(info.dwPlatformId, PS_VER_PLATFORM_WIN32_NT);
    EXPECT_STREQ(info.szCSDVersion, "Service Pack 4");
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = PS_OSVERSIONINFO_SIZE; i < sizeof info; ++i) {
        EXPECT_EQ(bytes[i], 0xAB) << "byte " << i << " written";
    }

    info.dwOSVersionInfoSize = PS_OSVERSIONINFOEX_SIZE;
    ASSERT_NE(Platform.GetVersionExA(&info), 0);
    EXPECT_EQ(info.dwOSVersionInfoSize, PS_OSVERSIONINFOEX_SIZE);
    EXPECT_EQ(info.wServicePackMajor, 4);

    struct {
        uint32_t size;
        bool refuseExtended;
        bool refusePlain;
        bool accepted;
    } const cases[] = {
        {156, true, false, false}, {148, true, false, true},  {156, false, true, true},
        {148, false, true, false}, {0, false, false, false},  {152, false, false, false},
        {sizeof(PsOsVersionInfoEx) + 4, false, false, false},
    };
    for (const auto& c : cases) {
        Sim().refuseExtendedVersion = c.refuseExtended;
        Sim().refusePlainVersion = c.refusePlain;
        info.dwOSVersionInfoSize = c.size;
        Platform.SetLastError(0);
        EXPECT_EQ(Platform.GetVersionExA(&info) != 0, c.accepted) << c.size;
        EXPECT_EQ(Platform.GetLastError(), c.accepted ? 0u : PS_ERROR_INVALID_PARAMETER) << c.size;
        EXPECT_EQ(info.dwOSVersionInfoSize, c.size);
    }
}

TEST_F(SimulatedPlatformTest, NameQueriesReportSizesAsWindowsDoes)
{
    char buffer[64];
    // "C:\Temp\" has 8 characters: 9 bytes hold it.
    EXPECT_EQ(Platform.GetTempPathA(9, buffer), 8u);
    EXPECT_STREQ(buffer, "C:\\Temp\\");
    EXPECT_EQ(Platform.GetTempPathA(8, buffer), 9u);
    EXPECT_EQ(Platform.GetTempPathA(0, nullptr), 9u);
    // "C:\WINDOWS\system32" has 19.
    EXPECT_EQ(Platform.GetSystemDirectoryA(buffer, 20), 19u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
    EXPECT_EQ(Platform.GetSystemDirectoryA(buffer, 19), 20u);

    // "C:\pkg\MERVODriverStager.exe" has 28.
    Platform.SetLastError(0);
    EXPECT_EQ(Platform.GetModuleFileNameA(nullptr, buffer, 29), 28u);
    EXPECT_STREQ(buffer, "C:\\pkg\\MERVODriverStager.exe");
    EXPECT_EQ(Platform.GetLastError(), 0u);
    EXPECT_EQ(Platform.GetModuleFileNameA(nullptr, buffer, 28), 28u);
    EXPECT_STREQ(buffer, "C:\\pkg\\MERVODriverStager.ex");
    EXPECT_EQ(Platform.GetLastError(), PS_ERROR_INSUFFICIENT_BUFFER);

    EXPECT_EQ(Platform.lstrcmpiA("Service Pack 6a", "SERVICE PACK 6A"), 0);
    EXPECT_LT(Platform.lstrcmpiA("a", "B"), 0);
    EXPECT_GT(Platform.lstrcmpiA("b", "A"), 0);

    PsSystemTime now;
    Platform.GetSystemTime(&now);
    EXPECT_EQ(now.wYear, 2007);
    EXPECT_EQ(now.wMonth, 3);
    EXPECT_EQ(now.wDay, 5);
    EXPECT_EQ(now.wDayOfWeek, 1);
    EXPECT_EQ(now.wHour, 9);
    EXPECT_EQ(now.wMinute, 4);
    EXPECT_EQ(now.wSecond, 3);
    EXPECT_EQ(now.wMilliseconds, 0);
}

TEST_F(SimulatedPlatformTest, RegistryKnowsOnlyListedKeysOfTheLocalMachine)
{
    const char* kHotfix = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
    Sim().registryKeys.push_back(kHotfix);
    PsKey key = nullptr;
    ASSERT_EQ(Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "software\\microsoft\\windows nt\\currentversion\\hotfix\\q246009",
                                     0, PS_KEY_QUERY_VALUE, &key), 0);
    EXPECT_EQ(Sim().openHandles, 1);
    EXPECT_EQ(Platform.RegCloseKey(key), 0);
    EXPECT_EQ(Sim().openHandles, 0);
    EXPECT_NE(Platform.RegCloseKey(key), 0);

    PsKey currentUser = reinterpret_cast<PsKey>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001)));
    PsKey none = nullptr;
    EXPECT_EQ(Platform.RegOpenKeyExA(currentUser, kHotfix, 0, PS_KEY_QUERY_VALUE, &none), 2);
    EXPECT_EQ(Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", 0, PS_KEY_QUERY_VALUE, &none), 2);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Sim().openHandles, 0);
}

// ---------------------------------------------------------------------------
// Processes

TEST_F(SimulatedPlatformTest, LaunchesNeedAnExistingProgramUnlessScripted)
{
    Write("C:\\pkg\\MERVODevCtl.exe", "MZ");
    Write("C:\\Program Files\\Tool\\tool.exe", "MZ");
    struct {
        const char* commandLine;
        bool starts;
    } const cases[] = {
        {"C:\\pkg\\MERVODevCtl.exe remove 0123", true},
        {"\"C:\\pkg\\MERVODevCtl.exe\" rescan", true},
        {"C:\\pkg\\mervodevctl rescan", true},
        {"\"C:\\Program Files\\Tool\\tool.exe\" /x", true},
        {"C:\\pkg\\Missing.exe rescan", false},
        {"\"C:\\pkg\\MERVODevCtl.exe rescan\"", false},
        {"", false},
    };
    for (const auto& c : cases) {
        std::vector<char> line(c.commandLine, c.commandLine + strlen(c.commandLine) + 1);
        PsStartupInfo startup{};
        startup.cb = sizeof startup;
        PsProcessInformation process{};
        Platform.SetLastError(0);
        int32_t started = Platform.CreateProcessA(nullptr, line.data(), nullptr, nullptr, 0, PS_CREATE_NO_WINDOW,
                                                  nullptr, nullptr, &startup, &process);
        EXPECT_EQ(started != 0, c.starts) << c.commandLine;
        if (started) {
            EXPECT_NE(Platform.CloseHandle(process.hThread), 0);
            EXPECT_NE(Platform.CloseHandle(process.hProcess), 0);
        }
        else {
            EXPECT_EQ(Platform.GetLastError(), PS_ERROR_FILE_NOT_FOUND) << c.commandLine;
        }
        ASSERT_FALSE(Sim().launches.empty());
        EXPECT_EQ(Sim().launches.back().commandLine, c.commandLine);
        EXPECT_EQ(Sim().launches.back().creationFlags, PS_CREATE_NO_WINDOW);
        EXPECT_EQ(Sim().launches.back().startupInfo.cb, sizeof startup);
    }
    EXPECT_EQ(Sim().openHandles, 0);

    // A callback decides alone, also for a program that is not there.
    Sim().onLaunch = [](const std::string& commandLine) {
        return SimProcessScript{SIM_PROCESS_ENDS, commandLine.find("rescan") != std::string::npos ? 7u : 0u};
    };
    char line[] = "C:\\pkg\\Missing.exe rescan";
    PsStartupInfo startup{};
    PsProcessInformation process{};
    ASSERT_NE(Platform.CreateProcessA(nullptr, line, nullptr, nullptr, 0, 0, nullptr, nullptr, &startup, &process), 0);
    uint32_t code = 0;
    EXPECT_EQ(Platform.WaitForSingleObject(process.hProcess, 30000), PS_WAIT_OBJECT_0);
    EXPECT_NE(Platform.GetExitCodeProcess(process.hProcess, &code), 0);
    EXPECT_EQ(code, 7u);
    Platform.CloseHandle(process.hThread);
    Platform.CloseHandle(process.hProcess);
}

TEST_F(SimulatedPlatformTest, WaitsAreRecordedAndFollowTheScript)
{
    Write("C:\\pkg\\MERVODevCtl.exe", "MZ");
    struct {
        SimProcessScript script;
        uint32_t waitResult;
        uint32_t exitCode;
    } const cases[] = {
        {{SIM_PROCESS_ENDS, 0}, PS_WAIT_OBJECT_0, 0},
        {{SIM_PROCESS_ENDS, 42}, PS_WAIT_OBJECT_0, 42},
        {{SIM_PROCESS_RUNS_PAST_WAIT, 0}, PS_WAIT_TIMEOUT, PS_STILL_ACTIVE},
    };
    for (const auto& c : cases) {
        Sim().process = c.script;
        char line[] = "C:\\pkg\\MERVODevCtl.exe rescan";
        PsStartupInfo startup{};
        PsProcessInformation process{};
        ASSERT_NE(Platform.CreateProcessA(nullptr, line, nullptr, nullptr, 0, 0, nullptr, nullptr, &startup, &process), 0);
        EXPECT_EQ(Sim().openHandles, 2);
        EXPECT_EQ(Platform.WaitForSingleObject(process.hProcess, 30000), c.waitResult);
        uint32_t code = 12345;
        EXPECT_NE(Platform.GetExitCodeProcess(process.hProcess, &code), 0);
        EXPECT_EQ(code, c.exitCode);
        EXPECT_EQ(Sim().launches.back().waits, std::vector<uint32_t>{30000});
        EXPECT_NE(Platform.CloseHandle(process.hProcess), 0);
        EXPECT_NE(Platform.CloseHandle(process.hThread), 0);
        EXPECT_EQ(Sim().openHandles, 0);
        // A closed handle is no longer valid.
        EXPECT_EQ(Platform.CloseHandle(process.hProcess), 0);
        EXPECT_EQ(Platform.GetLastError(), 6u);
        EXPECT_EQ(Platform.WaitForSingleObject(process.hProcess, 10), PS_WAIT_FAILED);
    }

    Sim().process = SimProcessScript{SIM_PROCESS_FAILS_TO_START, 0};
    char line[] = "C:\\pkg\\MERVODevCtl.exe rescan";
    PsStartupInfo startup{};
    PsProcessInformation process{};
    EXPECT_EQ(Platform.CreateProcessA(nullptr, line, nullptr, nullptr, 0, 0, nullptr, nullptr, &startup, &process), 0);
    EXPECT_EQ(Platform.GetLastError(), PS_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Sim().openHandles, 0);
}

// ---------------------------------------------------------------------------
// Messages

TEST_F(SimulatedPlatformTest, MessageBoxesAreRecorded)
{
    EXPECT_EQ(Platform.MessageBoxA(nullptr, "Driver installed OK.", "MERVODriverStager", PS_MB_ICONINFORMATION), 1);
    ASSERT_EQ(Sim().boxes.size(), 1u);
    EXPECT_EQ(Sim().boxes[0].text, "Driver installed OK.");
    EXPECT_EQ(Sim().boxes[0].caption, "MERVODriverStager");
    EXPECT_EQ(Sim().boxes[0].type, PS_MB_ICONINFORMATION);
    EXPECT_EQ(Sim().trace.back(), "MessageBoxA MERVODriverStager");
}

TEST_F(SimulatedPlatformTest, FormatMessageGivesTheSystemTextsOfKnownCodes)
{
    struct {
        uint32_t code;
        const char* text;  // null: no system text
    } const cases[] = {
        {0, "The operation completed successfully.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {3, "The system cannot find the path specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {122, "The data area passed to a system call is too small.\r\n"},
        {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
        {206, "The filename or extension is too long.\r\n"},
        {0xE0000100, nullptr},
        {0xE0000000, nullptr},
        {99999, nullptr},
    };
    const uint32_t kFlags =
        PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_FROM_SYSTEM | PS_FORMAT_MESSAGE_IGNORE_INSERTS;
    for (const auto& c : cases) {
        char sentinel = 0;
        char* text = &sentinel;
        Platform.SetLastError(0);
        uint32_t length = Platform.FormatMessageA(kFlags, nullptr, c.code, PS_LANG_USER_DEFAULT,
                                                  reinterpret_cast<char*>(&text), 0, nullptr);
        if (c.text == nullptr) {
            EXPECT_EQ(length, 0u) << c.code;
            EXPECT_EQ(Platform.GetLastError(), 317u) << c.code;
            EXPECT_EQ(text, &sentinel) << c.code;
            continue;
        }
        ASSERT_NE(text, &sentinel) << c.code;
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(length, strlen(c.text));
        EXPECT_EQ(Sim().openTexts, 1);
        EXPECT_EQ(Platform.LocalFree(text), nullptr);
        EXPECT_EQ(Sim().openTexts, 0);
    }
}

// ---------------------------------------------------------------------------
// INF staging

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
        Write("C:\\pkg\\MERVOUSB.inf", c.inf);
        char destination[260] = "untouched";
        uint32_t required = 0;
        char* component = nullptr;
        Platform.SetLastError(0);
        int32_t result = Platform.SetupCopyOEMInfA("C:\\pkg\\MERVOUSB.inf", "C:\\pkg", PS_SPOST_PATH, 0, destination,
                                                   sizeof destination, &required, &component);
        ASSERT_FALSE(Sim().stagedInfs.empty());
        const SimStagedInf& record = Sim().stagedInfs.back();
        EXPECT_EQ(record.sourceInf, "C:\\pkg\\MERVOUSB.inf");
        EXPECT_EQ(record.mediaLocation, "C:\\pkg");
        EXPECT_EQ(record.destinationSize, sizeof destination);
        if (!c.staged) {
            EXPECT_EQ(result, 0) << c.name;
            EXPECT_EQ(Platform.GetLastError(), 0xE0000100u) << c.name;
            EXPECT_EQ(record.storedAs, "") << c.name;
            EXPECT_STREQ(destination, "untouched") << c.name;
            continue;
        }
        std::string expected = "C:\\WINDOWS\\inf\\oem" + std::to_string(stored++) + ".inf";
        EXPECT_NE(result, 0) << c.name;
        EXPECT_EQ(destination, expected) << c.name;
        EXPECT_EQ(required, expected.size() + 1) << c.name;
        EXPECT_STREQ(component, expected.c_str() + strlen("C:\\WINDOWS\\inf\\")) << c.name;
        EXPECT_EQ(record.storedAs, expected) << c.name;
        EXPECT_EQ(Read(expected), c.inf) << c.name;
    }
    EXPECT_EQ(stored, 3);

    Platform.SetLastError(0);
    EXPECT_EQ(Platform.SetupCopyOEMInfA("C:\\pkg\\Missing.inf", nullptr, PS_SPOST_PATH, 0, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(Platform.GetLastError(), PS_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Sim().stagedInfs.back().mediaLocation, "(null)");
    EXPECT_FALSE(Sim().stagedInfs.back().requiredSizeGiven);
}

TEST_F(SimulatedPlatformTest, SetupCopyOEMInfLeavesASmallBufferAlone)
{
    Write("C:\\pkg\\MERVOUSB.inf", "[Version]\nSignature=$Chicago$\n");
    char destination[8] = "keep";
    uint32_t required = 0;
    EXPECT_NE(Platform.SetupCopyOEMInfA("C:\\pkg\\MERVOUSB.inf", "C:\\pkg", PS_SPOST_PATH, 0, destination,
                                        sizeof destination, &required, nullptr), 0);
    EXPECT_STREQ(destination, "keep");
    EXPECT_EQ(required, strlen("C:\\WINDOWS\\inf\\oem0.inf") + 1);

    Sim().onSetupCopyOEMInf = [](const char* source) {
        Platform.SetLastError(strstr(source, "MERVO") != nullptr ? 0xE0000100 : 0);
        return 0;
    };
    EXPECT_EQ(Platform.SetupCopyOEMInfA("C:\\pkg\\MERVOUSB.inf", "C:\\pkg", PS_SPOST_PATH, 0, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(Platform.GetLastError(), 0xE0000100u);
    EXPECT_FALSE(SimFileExists("C:\\WINDOWS\\inf\\oem1.inf"));
    EXPECT_EQ(Sim().stagedInfs.size(), 2u);
}

TEST_F(SimulatedPlatformTest, IsWow64ProcessAnswersOnlyWhenKnown)
{
    int32_t wow64 = -1;
    Sim().wow64 = true;
    EXPECT_EQ(Platform.IsWow64Process(&wow64), 1);
    EXPECT_EQ(wow64, 1);
    Sim().wow64Known = false;
    wow64 = -1;
    EXPECT_EQ(Platform.IsWow64Process(&wow64), 0);
    EXPECT_EQ(wow64, -1);
}

// ---------------------------------------------------------------------------
// Failure injection and trace

// One call of each failable operation on arguments that succeed; returns
// whether the call failed.
std::function<bool()> SucceedingCall(SimOperation operation)
{
    switch (operation) {
    case SIM_GetModuleFileNameA:
        return [] { char b[260]; return Platform.GetModuleFileNameA(nullptr, b, sizeof b) == 0; };
    case SIM_GetTempPathA:
        return [] { char b[260]; return Platform.GetTempPathA(sizeof b, b) == 0; };
    case SIM_GetSystemDirectoryA:
        return [] { char b[260]; return Platform.GetSystemDirectoryA(b, sizeof b) == 0; };
    case SIM_GetVersionExA:
        return [] {
            PsOsVersionInfoEx info{};
            info.dwOSVersionInfoSize = PS_OSVERSIONINFOEX_SIZE;
            return Platform.GetVersionExA(&info) == 0;
        };
    case SIM_RegOpenKeyExA:
        return [] {
            PsKey key = nullptr;
            if (Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "SOFTWARE\\Key", 0, PS_KEY_QUERY_VALUE, &key) != 0) {
                return true;
            }
            Sim().failAlways[SIM_RegCloseKey] = false;
            Platform.RegCloseKey(key);
            return false;
        };
    case SIM_RegCloseKey:
        return [] {
            PsKey key = nullptr;
            bool always = Sim().failAlways[SIM_RegCloseKey];
            Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "SOFTWARE\\Key", 0, PS_KEY_QUERY_VALUE, &key);
            Sim().failAlways[SIM_RegCloseKey] = always;
            return Platform.RegCloseKey(key) != 0;
        };
    case SIM_SetFileAttributesA:
        return [] { return Platform.SetFileAttributesA("C:\\pkg\\a.txt", PS_FILE_ATTRIBUTE_NORMAL) == 0; };
    case SIM_GetFileAttributesA:
        return [] { return Platform.GetFileAttributesA("C:\\pkg\\a.txt") == PS_INVALID_FILE_ATTRIBUTES; };
    case SIM_DeleteFileA:
        return [] { SimWriteFile("C:\\pkg\\gone.txt", "x"); return Platform.DeleteFileA("C:\\pkg\\gone.txt") == 0; };
    case SIM_CopyFileA:
        return [] { return Platform.CopyFileA("C:\\pkg\\a.txt", "C:\\Temp\\a.txt", 0) == 0; };
    case SIM_CreateProcessA:
    case SIM_WaitForSingleObject:
    case SIM_GetExitCodeProcess:
    case SIM_CloseHandle:
        return [operation] {
            char line[] = "C:\\pkg\\a.txt";
            PsStartupInfo startup{};
            PsProcessInformation process{};
            int32_t started = Platform.CreateProcessA(nullptr, line, nullptr, nullptr, 0, 0, nullptr, nullptr,
                                                      &startup, &process);
            if (operation == SIM_CreateProcessA) {
                return started == 0;
            }
            uint32_t code = 0;
            bool failed = false;
            if (operation == SIM_WaitForSingleObject) {
                failed = Platform.WaitForSingleObject(process.hProcess, 30000) == PS_WAIT_FAILED;
            }
            if (operation == SIM_GetExitCodeProcess) {
                failed = Platform.GetExitCodeProcess(process.hProcess, &code) == 0;
            }
            failed = Platform.CloseHandle(process.hThread) == 0 || failed;
            Platform.CloseHandle(process.hProcess);
            return failed;
        };
    case SIM_MessageBoxA:
        return [] { return Platform.MessageBoxA(nullptr, "text", "caption", PS_MB_OK) == 0; };
    case SIM_FormatMessageA:
        return [] {
            char* text = nullptr;
            uint32_t length = Platform.FormatMessageA(
                PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_FROM_SYSTEM | PS_FORMAT_MESSAGE_IGNORE_INSERTS,
                nullptr, 5, PS_LANG_USER_DEFAULT, reinterpret_cast<char*>(&text), 0, nullptr);
            Platform.LocalFree(text);
            return length == 0;
        };
    case SIM_SetupCopyOEMInfA:
        return [] {
            return Platform.SetupCopyOEMInfA("C:\\pkg\\v.inf", "C:\\pkg", PS_SPOST_PATH, 0, nullptr, 0, nullptr,
                                             nullptr) == 0;
        };
    case SIM_IsWow64Process:
        return [] { int32_t wow64 = 0; return Platform.IsWow64Process(&wow64) == 0; };
    case SIM_OpenStream:
        return [] {
            FILE* stream = Platform.OpenStream("C:\\pkg\\a.txt", "r");
            if (stream != nullptr) {
                fclose(stream);
            }
            return stream == nullptr;
        };
    default:
        return [] { return true; };
    }
}

TEST_F(SimulatedPlatformTest, EveryFailableOperationFailsWhenAskedTo)
{
    for (int index = 0; index < SIM_OPERATION_COUNT; ++index) {
        SimOperation operation = static_cast<SimOperation>(index);
        SimReset(root);
        Write("C:\\pkg\\a.txt", "a");
        Write("C:\\pkg\\v.inf", "[Version]\nSignature=$Chicago$\n");
        Sim().registryKeys.push_back("SOFTWARE\\Key");
        Sim().onLaunch = [](const std::string&) { return SimProcessScript{SIM_PROCESS_ENDS, 0}; };
        std::function<bool()> call = SucceedingCall(operation);
        EXPECT_FALSE(call()) << SimOperationName(operation) << " fails without injection";

        Sim().failAlways[operation] = true;
        Sim().trace.clear();
        EXPECT_TRUE(call()) << SimOperationName(operation);
        bool traced = false;
        for (const std::string& entry : Sim().trace) {
            if (entry.rfind(SimOperationName(operation), 0) == 0) {
                traced = traced || (entry.size() >= 7 && entry.compare(entry.size() - 7, 7, " FAILED") == 0);
            }
        }
        EXPECT_TRUE(traced) << SimOperationName(operation) << " has no FAILED trace entry";

        Sim().failError[operation] = 1234;
        EXPECT_TRUE(call()) << SimOperationName(operation);
        if (operation != SIM_CloseHandle && operation != SIM_RegCloseKey) {
            // (the helpers of these two call more operations after the failing one)
            EXPECT_EQ(Platform.GetLastError(), 1234u) << SimOperationName(operation);
        }
    }
}

TEST_F(SimulatedPlatformTest, TheNthFailableCallFailsWithItsDefaultError)
{
    Write("C:\\pkg\\a.txt", "a");
    Sim().failCallNumber = 3;
    char buffer[260];
    EXPECT_NE(Platform.GetTempPathA(sizeof buffer, buffer), 0u);
    EXPECT_EQ(Platform.lstrcmpiA("a", "A"), 0);  // never counted
    Platform.SetLastError(0);
    EXPECT_EQ(Platform.GetLastError(), 0u);
    PsSystemTime now;
    Platform.GetSystemTime(&now);
    Platform.LocalFree(nullptr);
    EXPECT_NE(Platform.SetFileAttributesA("C:\\pkg\\a.txt", PS_FILE_ATTRIBUTE_READONLY), 0);
    EXPECT_EQ(Platform.DeleteFileA("C:\\pkg\\a.txt"), 0);  // the third
    EXPECT_EQ(Platform.GetLastError(), PS_ERROR_ACCESS_DENIED);
    EXPECT_EQ(Sim().failableCalls, 3);
    SimSetAttributes("C:\\pkg\\a.txt", PS_FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(Platform.DeleteFileA("C:\\pkg\\a.txt"), 0);
    EXPECT_EQ(Sim().failableCalls, 4);
    EXPECT_EQ(Sim().trace, (std::vector<std::string>{
                               "GetTempPathA 260",
                               "LocalFree",
                               "SetFileAttributesA C:\\pkg\\a.txt 0x1",
                               "DeleteFileA C:\\pkg\\a.txt FAILED",
                               "DeleteFileA C:\\pkg\\a.txt",
                           }));

    // Failures of the result-code and special-value operations.
    Sim().failCallNumber = 0;
    Sim().failAlways[SIM_RegOpenKeyExA] = true;
    Sim().failAlways[SIM_WaitForSingleObject] = true;
    Sim().failAlways[SIM_GetFileAttributesA] = true;
    PsKey key = nullptr;
    EXPECT_EQ(Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, "X", 0, PS_KEY_QUERY_VALUE, &key), 5);
    EXPECT_EQ(Platform.WaitForSingleObject(nullptr, 1), PS_WAIT_FAILED);
    EXPECT_EQ(Platform.GetFileAttributesA("C:\\pkg"), PS_INVALID_FILE_ATTRIBUTES);
}

TEST_F(SimulatedPlatformTest, TraceShowsTheCallersArguments)
{
    Write("C:\\pkg\\MERVOUSB.inf", "x");
    Platform.CopyFileA("c:/pkg/mervousb.inf", "C:\\Temp\\copy.inf", 0);
    FILE* stream = Platform.OpenStream("C:\\Temp\\..\\pkg\\MERVOUSB.inf", "rb");
    ASSERT_NE(stream, nullptr);
    fclose(stream);
    Platform.DeleteFileA("C:\\WINDOWS\\inf\\MERVOUSB.inf");
    EXPECT_EQ(Sim().trace, (std::vector<std::string>{
                               "CopyFileA c:/pkg/mervousb.inf C:\\Temp\\copy.inf",
                               "OpenStream C:\\Temp\\..\\pkg\\MERVOUSB.inf rb",
                               "DeleteFileA C:\\WINDOWS\\inf\\MERVOUSB.inf",
                           }));
}

TEST_F(SimulatedPlatformTest, ResetRestoresTheTableAndAFreshMachine)
{
    Platform.GetTempPathA = [](uint32_t, char*) -> uint32_t { return 0; };
    Sim().failAlways[SIM_DeleteFileA] = true;
    Sim().boxes.push_back(SimMessageBox{"t", "c", 0});
    Write("C:\\pkg\\a.txt", "a");
    SimSetAttributes("C:\\pkg\\a.txt", PS_FILE_ATTRIBUTE_READONLY);
    FILE* stream = Platform.OpenStream("C:\\pkg\\a.txt", "r");
    ASSERT_NE(stream, nullptr);

    SimReset(root);
    char buffer[260];
    EXPECT_EQ(Platform.GetTempPathA(sizeof buffer, buffer), 8u);
    EXPECT_FALSE(Sim().failAlways[SIM_DeleteFileA]);
    EXPECT_TRUE(Sim().boxes.empty());
    EXPECT_EQ(SimAttributes("C:\\pkg\\a.txt"), PS_FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Sim().version.dwBuildNumber, 2600u);
    EXPECT_STREQ(Sim().version.szCSDVersion, "Service Pack 3");
    for (const char* folder : {"C:\\WINDOWS\\system32\\drivers", "C:\\WINDOWS\\inf", "C:\\Temp", "C:\\pkg"}) {
        EXPECT_EQ(SimAttributes(folder), PS_FILE_ATTRIBUTE_DIRECTORY) << folder;
    }
    // A stream of the old machine does not disturb the new one's count.
    fclose(stream);
    EXPECT_EQ(Sim().openStreams, 0);
}

// ---------------------------------------------------------------------------
// The fixture's log readers

TEST_F(SimulatedPlatformTest, LogEntriesReadWhatTheRunLogWrites)
{
    ASSERT_EQ(OpenLog("C:\\Temp\\MERVOStageLog.txt"), 1);
    WriteLog("MERVODriverStager", "WinMain", "Log created");
    WriteLog("ModuleWithAVeryLongNameIndeed", "FunctionWithANameLongerThan25", "a - b() - c");
    WriteLog("Dirs", "LaunchAndWait", "Error text.\r\n");
    CloseLog();

    std::vector<std::string> lines = LogFileLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "\t\t-----------------------------------------");
    // Module right-aligned in 22 columns, function in 25.
    EXPECT_EQ(lines[4], " 5- 3-2007: 9H 4mn 3'' -  " + std::string(5, ' ') + "MERVODriverStager - " +
                            std::string(18, ' ') + "WinMain() - Log created");
    EXPECT_EQ(lines[8], "\t\t--------------- LOG CLOSED --------------");

    std::vector<LogEntry> entries = LogEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].stamp, " 5- 3-2007: 9H 4mn 3'' -  ");
    EXPECT_EQ(entries[0].module, "MERVODriverStager");
    EXPECT_EQ(entries[0].function, "WinMain");
    EXPECT_EQ(entries[0].text, "Log created");
    EXPECT_EQ(entries[1].module, "ModuleWithAVeryLongNameIndeed");
    EXPECT_EQ(entries[1].function, "FunctionWithANameLongerThan25");
    EXPECT_EQ(entries[1].text, "a - b() - c");
    EXPECT_EQ(entries[2].text, "Error text.\r");  // text mode wrote its "\r\n" as "\r\r\n"
}

TEST_F(SimulatedPlatformTest, LogFileLinesFlagsALineFeedWithoutCarriageReturn)
{
    Write("C:\\Temp\\MERVOStageLog.txt", "one\r\ntwo\nthree\r\n");
    EXPECT_NONFATAL_FAILURE(LogFileLines(), "line end without CR");
    Write("C:\\Temp\\MERVOStageLog.txt", "one\r\n");
    EXPECT_EQ(LogFileLines(), std::vector<std::string>{"one"});
}

}  // namespace
