// Message boxes, the last error and system message texts of the simulated
// Windows.
#include "platform/simulated/SimMachine.h"

#include <cstdlib>
#include <cstring>

namespace simulated {

namespace {

const int ID_OK = 1;

const char* SystemText(uint32_t code)
{
    // clang-format off
    switch (code) {
    case 0: return "The operation completed successfully.\r\n";
    case 2: return "The system cannot find the file specified.\r\n";
    case 3: return "The system cannot find the path specified.\r\n";
    case 5: return "Access is denied.\r\n";
    case 6: return "The handle is invalid.\r\n";
    case 29: return "The system cannot write to the specified device.\r\n";
    case 30: return "The system cannot read from the specified device.\r\n";
    case 32: return "The process cannot access the file because it is being used by another process.\r\n";
    case 80: return "The file exists.\r\n";
    case 87: return "The parameter is incorrect.\r\n";
    case 122: return "The data area passed to a system call is too small.\r\n";
    case 123: return "The filename, directory name, or volume label syntax is incorrect.\r\n";
    case 206: return "The filename or extension is too long.\r\n";
    default: return nullptr;
    }
    // clang-format on
}

}  // namespace

int SimMessageBoxA(PsHandle, const char* text, const char* caption, uint32_t type)
{
    // Windows shows "Error" as the caption of a box that was given none.
    std::string title = caption == nullptr ? "Error" : caption;
    if (Enter(SIM_MessageBoxA, "MessageBoxA " + title)) {
        return 0;
    }
    Sim().boxes.push_back(SimMessageBox{text == nullptr ? "" : text, title, type});
    return ID_OK;
}

int32_t SimGetWindowStationFlags(uint32_t* flags)
{
    if (Enter(SIM_GetWindowStationFlags, "GetWindowStationFlags")) {
        return 0;
    }
    *flags = Sim().windowStationFlags;
    return 1;
}

uint32_t SimGetLastError()
{
    return Sim().lastError;
}

void SimSetLastError(uint32_t code)
{
    Sim().lastError = code;
}

uint32_t SimFormatMessageA(uint32_t flags, const void*, uint32_t messageId, uint32_t, char* buffer,
                           uint32_t size, void*)
{
    // An allocated text's pointer is null unless a text is made.
    if ((flags & PS_FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0 && buffer != nullptr) {
        *reinterpret_cast<char**>(buffer) = nullptr;
    }
    if (Enter(SIM_FormatMessageA, "FormatMessageA " + Hex(messageId))) {
        return 0;
    }
    if ((flags & PS_FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        return Fail(PS_ERROR_INVALID_PARAMETER);  // only system texts are simulated
    }
    const char* text = SystemText(messageId);
    if (text == nullptr) {
        return Fail(ERR_MR_MID_NOT_FOUND);
    }
    size_t length = strlen(text);
    if ((flags & PS_FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        char* copy = static_cast<char*>(malloc(length + 1));
        memcpy(copy, text, length + 1);
        State().texts.insert(copy);
        ++Sim().openTexts;
        *reinterpret_cast<char**>(buffer) = copy;
        return static_cast<uint32_t>(length);
    }
    if (length >= size) {
        return Fail(PS_ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(buffer, text, length + 1);
    return static_cast<uint32_t>(length);
}

PsHandle SimLocalFree(PsHandle memory)
{
    Sim().trace.push_back("LocalFree");
    if (memory == nullptr) {
        return nullptr;
    }
    if (State().texts.erase(memory) == 0) {
        Sim().lastError = ERR_INVALID_HANDLE;
        return memory;
    }
    free(memory);
    --Sim().openTexts;
    return nullptr;
}

}  // namespace simulated
