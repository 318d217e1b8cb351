// INF staging (SetupCopyOEMInfA) and the WOW64 question of the simulated
// Windows.
#include "platform/simulated/SimMachine.h"

#include <strings.h>

#include <cstring>

#include "inf/InfText.h"

namespace simulated {

namespace {

std::string Trim(const std::string& text)
{
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        return "";
    }
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

// Whether the INF text has a [Version] section with a known signature.
bool HasValidSignature(const std::string& inf)
{
    bool inVersion = false;
    size_t start = 0;
    while (start < inf.size()) {
        size_t end = inf.find('\n', start);
        std::string line = inf.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? inf.size() : end + 1;
        size_t comment = line.find(';');
        line = Trim(line.substr(0, comment));
        if (!line.empty() && line[0] == '[') {
            size_t close = line.find(']');
            std::string section =
                Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inVersion = strcasecmp(section.c_str(), "Version") == 0;
            continue;
        }
        size_t equals = line.find('=');
        if (!inVersion || equals == std::string::npos ||
            strcasecmp(Trim(line.substr(0, equals)).c_str(), "Signature") != 0) {
            continue;
        }
        std::string value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (IsAcceptedInfSignature(value.c_str())) {
            return true;
        }
    }
    return false;
}

// Stores the INF as C:\WINDOWS\inf\oem<N>.inf; returns 0 or an error code.
// The INF reader's refusal of the text's layout, by its first faulty line:
// a first line (neither blank nor a comment) that is no section header, or
// a section header without its ']'. 0: none (a text without any line
// counts as laid out well).
uint32_t LayoutError(const std::string& inf)
{
    bool first = true;
    size_t start = 0;
    while (start < inf.size()) {
        size_t end = inf.find('\n', start);
        std::string line = inf.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? inf.size() : end + 1;
        line = Trim(line.substr(0, line.find(';')));
        if (line.empty()) {
            continue;
        }
        if (first && line[0] != '[') {
            return ERR_EXPECTED_SECTION_NAME;
        }
        first = false;
        if (line[0] == '[' && line.find(']') == std::string::npos) {
            return ERR_BAD_SECTION_NAME_LINE;
        }
    }
    return 0;
}

// Stores the INF as C:\WINDOWS\inf\oem<N>.inf, or finds the stored copy with
// the same bytes; returns 0 or an error code.
uint32_t StageInf(const char* sourceInf, SimStagedInf* record)
{
    Resolved source = ResolvePath(sourceInf);
    if (source.error != 0) {
        return source.error;
    }
    std::string bytes;
    if (!source.exists || source.isFolder || !ReadHostFile(source.host, &bytes)) {
        return source.isFolder ? PS_ERROR_ACCESS_DENIED : MissingError(source);
    }
    // Read as text: a Ctrl-Z ends it.
    std::string text = bytes.substr(0, bytes.find('\x1a'));
    if (uint32_t error = LayoutError(text)) {
        return error;
    }
    if (!HasValidSignature(text)) {
        return ERR_WRONG_INF_STYLE;
    }
    for (unsigned number = 0; number < State().oemCount; ++number) {
        std::string stored;
        std::string name = "C:\\WINDOWS\\inf\\oem" + std::to_string(number) + ".inf";
        Resolved copy = ResolvePath(name.c_str());
        if (copy.exists && ReadHostFile(copy.host, &stored) && stored == bytes) {
            record->storedAs = copy.windows;
            Sim().filesRead.push_back(source.windows);
            return 0;
        }
    }
    std::string name = "C:\\WINDOWS\\inf\\oem" + std::to_string(State().oemCount) + ".inf";
    Resolved target = ResolvePath(name.c_str());
    if (target.error != 0 || !target.parentIsFolder) {
        return PS_ERROR_PATH_NOT_FOUND;
    }
    if (!WriteHostFile(target.host, bytes)) {
        return PS_ERROR_ACCESS_DENIED;
    }
    ++State().oemCount;
    record->storedAs = target.windows;
    Sim().filesRead.push_back(source.windows);
    Sim().filesWritten.push_back(target.windows);
    return 0;
}

}  // namespace

int32_t SimSetupCopyOEMInfA(const char* sourceInfFileName, const char* sourceMediaLocation,
                            uint32_t sourceMediaType, uint32_t copyStyle, char* destinationInfFileName,
                            uint32_t destinationInfFileNameSize, uint32_t* requiredSize,
                            char** destinationInfFileNameComponent)
{
    bool injected = Enter(SIM_SetupCopyOEMInfA, "SetupCopyOEMInfA " + Text(sourceInfFileName));
    SimStagedInf record{};
    record.sourceInf = sourceInfFileName == nullptr ? "" : sourceInfFileName;
    record.mediaLocation = Text(sourceMediaLocation);
    record.mediaType = sourceMediaType;
    record.copyStyle = copyStyle;
    record.destinationSize = destinationInfFileNameSize;
    record.requiredSizeGiven = requiredSize != nullptr;
    record.componentGiven = destinationInfFileNameComponent != nullptr;
    SimWindows& sim = Sim();
    if (injected) {
        sim.stagedInfs.push_back(record);
        return 0;
    }
    if (sim.onSetupCopyOEMInf) {
        sim.stagedInfs.push_back(record);
        return sim.onSetupCopyOEMInf(sourceInfFileName);
    }
    uint32_t error = StageInf(sourceInfFileName, &record);
    sim.stagedInfs.push_back(record);
    if (error != 0) {
        return static_cast<int32_t>(Fail(error));
    }
    // The INF is stored now; a name buffer too small for its name still
    // fails the call, with the size it needs.
    const std::string& stored = record.storedAs;
    if (requiredSize != nullptr) {
        *requiredSize = static_cast<uint32_t>(stored.size() + 1);
    }
    if (destinationInfFileName != nullptr) {
        if (stored.size() >= destinationInfFileNameSize) {
            return static_cast<int32_t>(Fail(PS_ERROR_INSUFFICIENT_BUFFER));
        }
        memcpy(destinationInfFileName, stored.c_str(), stored.size() + 1);
        if (destinationInfFileNameComponent != nullptr) {
            *destinationInfFileNameComponent = destinationInfFileName + stored.rfind('\\') + 1;
        }
    }
    sim.lastError = PS_ERROR_SUCCESS;
    return 1;
}

int32_t SimIsWow64Process(int32_t* isWow64)
{
    if (Enter(SIM_IsWow64Process, "IsWow64Process")) {
        return 0;
    }
    if (!Sim().wow64Known) {
        return static_cast<int32_t>(Fail(ERR_PROC_NOT_FOUND));
    }
    *isWow64 = Sim().wow64 ? 1 : 0;
    return 1;
}

}  // namespace simulated
