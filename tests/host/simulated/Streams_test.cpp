// Tests of the simulated Windows' text streams: chunk boundaries, flushing
// and the count of open streams.
#include <cstring>

#include "simulated/SimulatedTest.h"

namespace {

// What text mode reads and writes, and what opening refuses, are rows of the
// conformance table (tests/conformance); these tests check the simulated
// stream's own chunking, flushing and counts.

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

TEST_F(SimulatedPlatformTest, WrittenTextIsOnDiskOnceFlushed)
{
    // What a stream flushes is in the file while the stream stays open.
    FILE* open = Platform.OpenStream("C:\\Temp\\w.txt", "w");
    ASSERT_NE(open, nullptr);
    fputs("flushed\n", open);
    fflush(open);
    EXPECT_EQ("flushed\r\n", Read("C:\\Temp\\w.txt"));
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

TEST_F(SimulatedPlatformTest, OpenStreamsAreCountedAndRecorded)
{
    Write("C:\\Temp\\locked.txt", "x");
    SimSetAttributes("C:\\Temp\\locked.txt", PS_FILE_ATTRIBUTE_READONLY);
    Write("C:\\Temp\\hidden.txt", "x");
    SimSetAttributes("C:\\Temp\\hidden.txt", PS_FILE_ATTRIBUTE_HIDDEN);
    // Refused opens are neither counted nor recorded.
    for (const char* mode : {"w", "a", "r+"}) {
        EXPECT_EQ(nullptr, Platform.OpenStream("C:\\Temp\\locked.txt", mode)) << mode;
    }
    EXPECT_EQ(nullptr, Platform.OpenStream("C:\\Temp\\hidden.txt", "w"));
    EXPECT_EQ(nullptr, Platform.OpenStream("C:\\Temp\\missing.txt", "r"));
    EXPECT_EQ(0, Sim().openStreams);
    EXPECT_TRUE(Sim().filesRead.empty());
    EXPECT_TRUE(Sim().filesWritten.empty());

    // A hidden file can be appended to and read, a read-only one read.
    WriteStream("C:\\Temp\\hidden.txt", "a", "y");
    EXPECT_EQ("xy", ReadStream("C:\\Temp\\hidden.txt", "r"));
    Sim().filesRead.clear();
    Sim().filesWritten.clear();
    FILE* first = Platform.OpenStream("C:\\Temp\\locked.txt", "r");
    FILE* second = Platform.OpenStream("C:\\Temp\\other.txt", "w");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(2, Sim().openStreams);
    fclose(first);
    EXPECT_EQ(1, Sim().openStreams);
    fclose(second);
    EXPECT_EQ(0, Sim().openStreams);
    EXPECT_EQ(std::vector<std::string>{"C:\\Temp\\locked.txt"}, Sim().filesRead);
    EXPECT_EQ(std::vector<std::string>{"C:\\Temp\\other.txt"}, Sim().filesWritten);
}

TEST_F(SimulatedPlatformTest, StreamFaultsHitTheNamedOpeningAtTheirByte)
{
    Write("C:\\Temp\\f.txt", "a\r\nbcdef");  // reads as the 7 characters "a\nbcdef"
    struct {
        int opening;  // of the fault
        long after;
        const char* mode;
        std::string read;  // what the second opening reads before the fault
        bool failed;
        // clang-format off
    } const rows[] = {
        // A fault after the last byte still fails the read that would find the end.
        {2, 0, "r", "", true},           {2, 3, "r", "a\nb", true},          {2, 6, "r", "a\nbcde", true},
        {2, 7, "r", "a\nbcdef", true},    {2, 8, "r", "a\nbcdef", false},     {2, 4, "rb", "a\r\nb", true},
        {1, 0, "r", "a\nbcdef", false}, {0, 1, "r", "a", true},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.opening) + " " + std::to_string(row.after) + " " + row.mode);
        Sim().streamFault = SimWindows::StreamFault{};
        Sim().streamFault.name = "F.TXT";
        Sim().streamFault.opening = row.opening;
        Sim().streamFault.readFailsAfter = row.after;
        ReadStream("C:\\Temp\\f.txt", "rb");  // the first opening
        FILE* stream = Platform.OpenStream("C:\\Temp\\f.txt", row.mode);
        ASSERT_NE(stream, nullptr);
        Platform.SetLastError(0);
        char buffer[16];
        size_t count = fread(buffer, 1, sizeof buffer, stream);
        EXPECT_EQ(row.read, std::string(buffer, count));
        EXPECT_EQ(row.failed, ferror(stream) != 0);
        EXPECT_EQ(row.failed ? 30u : 0u, Platform.GetLastError());
        fclose(stream);
    }
    // A failed write and a failed close: the stream's close reports both.
    Sim().streamFault = SimWindows::StreamFault{};
    Sim().streamFault.name = "w.txt";
    Sim().streamFault.writeFails = true;
    FILE* stream = Platform.OpenStream("C:\\Temp\\w.txt", "w");
    ASSERT_NE(stream, nullptr);
    fputs("lost\n", stream);
    EXPECT_EQ(EOF, fclose(stream));
    EXPECT_EQ("", Read("C:\\Temp\\w.txt"));
    Sim().streamFault.writeFails = false;
    Sim().streamFault.closeFails = true;
    stream = Platform.OpenStream("C:\\Temp\\w.txt", "w");
    ASSERT_NE(stream, nullptr);
    fputs("kept\n", stream);
    EXPECT_EQ(EOF, fclose(stream));
    EXPECT_EQ("kept\r\n", Read("C:\\Temp\\w.txt"));
    EXPECT_EQ(0, Sim().openStreams);
    EXPECT_EQ("StreamClose C:\\Temp\\w.txt FAILED", Sim().trace.back());
}

}  // namespace
