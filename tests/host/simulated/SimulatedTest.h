// The fixture of the simulated Windows' own tests: the host fixture and
// whole-stream readers and writers through the table's OpenStream.
#pragma once

#include <cstdio>
#include <string>

#include "PlatformCalls.h"
#include "TestSupport.h"

class SimulatedPlatformTest : public SimTest {
protected:
    // The whole content of a stream opened on `path` with `mode`, read with fgetc.
    std::string ReadStream(const char* path, const char* mode)
    {
        FILE* stream = Platform.OpenStream(path, mode);
        EXPECT_NE(stream, nullptr) << path;
        return stream == nullptr ? "" : ReadToEnd(stream);
    }

    void WriteStream(const char* path, const char* mode, const std::string& text)
    {
        FILE* stream = Platform.OpenStream(path, mode);
        ASSERT_NE(stream, nullptr) << path;
        fwrite(text.data(), 1, text.size(), stream);
        EXPECT_EQ(0, fclose(stream));
    }
};
