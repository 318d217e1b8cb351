// Calls through the platform table that the host tests and the conformance
// rows make alike.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/PlatformServices.h"

// Starts `commandLine` (a writable copy of it) through CreateProcessA with a
// startup record of its size, no inherited handles and `flags`; gives the
// call's result.
inline int32_t StartProcess(const std::string& commandLine, PsProcessInformation* process,
                            uint32_t flags = PS_CREATE_NO_WINDOW)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    PsStartupInfo startup{};
    startup.cb = sizeof startup;
    *process = PsProcessInformation{};
    return Platform.CreateProcessA(nullptr, line.data(), nullptr, nullptr, 0, flags, nullptr, nullptr,
                                   &startup, process);
}

// Every character left in `stream`, read with fgetc; closes the stream.
inline std::string ReadToEnd(FILE* stream)
{
    std::string text;
    int c;
    while ((c = fgetc(stream)) != EOF) {
        text += static_cast<char>(c);
    }
    fclose(stream);
    return text;
}
