// Tests of the simulated Windows' text streams: line ends, Ctrl-Z, what
// opening refuses and the count of open streams.
#include <cstring>

#include "simulated/SimulatedTest.h"

namespace {

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

}  // namespace
