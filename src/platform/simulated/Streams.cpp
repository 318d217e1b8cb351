// Text streams of the simulated Windows: glibc cookie streams that translate
// line ends as the Windows C runtime's text mode does (CR LF reads as one
// newline, Ctrl-Z ends a text read, a newline is written as CR LF).
#include "platform/simulated/SimMachine.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

namespace simulated {

namespace {

const uint32_t kWriteFault = 29;  // ERROR_WRITE_FAULT
const uint32_t kReadFault = 30;   // ERROR_READ_FAULT

struct StreamCookie {
    FILE* host;
    bool text;
    bool atEnd;  // a Ctrl-Z was read in text mode
    unsigned generation;
    std::string windows;  // the resolved path, for the trace
    long readLeft;        // bytes to read before a read fails (-1: never)
    bool writeFails;
    bool closeFails;
};

// Traces a stream fault (of this machine's streams only) and sets its error.
void StreamFailed(const StreamCookie* stream, const char* what, uint32_t error)
{
    if (stream->generation == State().generation) {
        Sim().trace.push_back(std::string(what) + " " + stream->windows + " FAILED");
        if (error != 0) {
            Sim().lastError = error;
        }
    }
}

ssize_t ReadText(StreamCookie* stream, char* buffer, size_t size);

ssize_t StreamRead(void* cookie, char* buffer, size_t size)
{
    StreamCookie* stream = static_cast<StreamCookie*>(cookie);
    if (stream->readLeft == 0) {
        stream->readLeft = -1;
        StreamFailed(stream, "StreamRead", kReadFault);
        return -1;
    }
    if (stream->readLeft > 0 && static_cast<size_t>(stream->readLeft) < size) {
        size = static_cast<size_t>(stream->readLeft);  // what is read before the fault
    }
    ssize_t result = 0;
    if (!stream->text) {
        size_t count = fread(buffer, 1, size, stream->host);
        result = ferror(stream->host) ? -1 : static_cast<ssize_t>(count);
    } else {
        result = ReadText(stream, buffer, size);
    }
    if (stream->readLeft > 0 && result > 0) {
        stream->readLeft -= result;
    }
    return result;
}

// Reads in text mode: CR LF as one newline, Ctrl-Z as the end.
ssize_t ReadText(StreamCookie* stream, char* buffer, size_t size)
{
    size_t count = 0;
    while (count < size && !stream->atEnd) {
        int c = fgetc(stream->host);
        if (c == EOF) {
            break;
        }
        if (c == 0x1A) {
            stream->atEnd = true;  // Ctrl-Z ends a text file
            break;
        }
        if (c == '\r') {
            // Reading byte by byte from the buffered host stream means a CR
            // always sees its successor, wherever the caller's chunks end.
            int next = fgetc(stream->host);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                ungetc(next, stream->host);
            }
        }
        buffer[count++] = static_cast<char>(c);
    }
    return static_cast<ssize_t>(count);
}

ssize_t StreamWrite(void* cookie, const char* buffer, size_t size)
{
    StreamCookie* stream = static_cast<StreamCookie*>(cookie);
    if (stream->writeFails && size > 0) {
        StreamFailed(stream, "StreamWrite", kWriteFault);
        return -1;
    }
    size_t written = 0;
    if (!stream->text) {
        written = fwrite(buffer, 1, size, stream->host);
    } else {
        while (written < size && (buffer[written] != '\n' || fputc('\r', stream->host) != EOF) &&
               fputc(buffer[written], stream->host) != EOF) {
            ++written;
        }
    }
    // The stream calls this only when it flushes its own buffer: pass the
    // bytes on to the file at once, so that a flushed stream is on disk.
    if (fflush(stream->host) != 0 || written == 0) {
        return size == 0 ? 0 : -1;
    }
    return static_cast<ssize_t>(written);
}

int StreamSeek(void* cookie, off64_t* offset, int whence)
{
    StreamCookie* stream = static_cast<StreamCookie*>(cookie);
    if (fseeko(stream->host, static_cast<off_t>(*offset), whence) != 0) {
        return -1;
    }
    stream->atEnd = false;
    *offset = ftello(stream->host);
    return 0;
}

int StreamClose(void* cookie)
{
    StreamCookie* stream = static_cast<StreamCookie*>(cookie);
    int result = fclose(stream->host);
    if (stream->closeFails) {
        StreamFailed(stream, "StreamClose", 0);
        result = -1;
    }
    if (stream->generation == State().generation) {
        --Sim().openStreams;
    }
    delete stream;
    return result == 0 ? 0 : -1;
}

}  // namespace

FILE* SimOpenStream(const char* path, const char* mode)
{
    if (Enter(SIM_OpenStream, "OpenStream " + Text(path) + " " + Text(mode))) {
        return nullptr;
    }
    const std::string modeText = mode == nullptr ? "" : mode;
    if (modeText.empty() || strchr("rwa", modeText[0]) == nullptr) {
        return nullptr;  // the C runtime refuses the mode before any system call
    }
    bool update = modeText.find('+') != std::string::npos;
    bool binary = modeText.find('b') != std::string::npos;
    bool reading = modeText[0] == 'r';
    bool writing = !reading || update;
    Resolved file = ResolvePath(path);
    uint32_t error = file.error;
    // Several refusals share a code but not a reason.
    if (error == 0 && file.isFolder) {  // NOLINT(bugprone-branch-clone)
        error = PS_ERROR_ACCESS_DENIED;
    } else if (error == 0 && reading && !file.exists) {
        error = MissingError(file);
    } else if (error == 0 && !file.parentIsFolder) {
        error = PS_ERROR_PATH_NOT_FOUND;
    } else if (error == 0 && writing && IsReadOnly(file)) {
        error = PS_ERROR_ACCESS_DENIED;
    } else if (error == 0 && modeText[0] == 'w' && file.exists && IsHiddenOrSystem(file)) {
        // The C runtime replaces a file with CREATE_ALWAYS and normal
        // attributes, which Windows refuses for a hidden or system file.
        error = PS_ERROR_ACCESS_DENIED;
    }
    std::string hostMode = std::string(1, modeText[0]) + (update ? "+" : "") + "b";
    FILE* host = error == 0 ? fopen(file.host.c_str(), hostMode.c_str()) : nullptr;
    if (host == nullptr) {
        Fail(error != 0 ? error : PS_ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // Opening for writing or appending creates the file or opens an existing
    // one, and says which; "w" writes it anew.
    bool creates = modeText[0] != 'r';
    Sim().lastError = creates && file.exists ? PS_ERROR_ALREADY_EXISTS : PS_ERROR_SUCCESS;
    if (modeText[0] == 'w') {
        State().attributes.erase(file.host);
    }
    StreamCookie* cookie =
        new StreamCookie{host, !binary, false, State().generation, file.windows, -1, false, false};
    SimWindows::StreamFault& fault = Sim().streamFault;
    const std::string& name = fault.name;
    if (!name.empty() && file.windows.size() >= name.size() &&
        strcasecmp(file.windows.c_str() + file.windows.size() - name.size(), name.c_str()) == 0 &&
        (++fault.openings == fault.opening || fault.opening == 0)) {
        cookie->readLeft = fault.readFailsAfter;
        cookie->writeFails = fault.writeFails;
        cookie->closeFails = fault.closeFails;
    }
    cookie_io_functions_t functions = {StreamRead, StreamWrite, StreamSeek, StreamClose};
    std::string cookieMode = std::string(1, modeText[0]) + (update ? "+" : "");
    FILE* stream = fopencookie(cookie, cookieMode.c_str(), functions);
    if (stream == nullptr) {
        fclose(host);
        delete cookie;
        Fail(ERR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    ++Sim().openStreams;
    (writing ? Sim().filesWritten : Sim().filesRead).push_back(file.windows);
    return stream;
}

}  // namespace simulated
