#include "DocumentedBoxes.h"

#include <string>

#include "BoxTexts.h"

#include "app/SignatureCauses.h"
#include "system/GetOSVersion.h"

bool IsDocumentedBox(const SimMessageBox& box)
{
    const std::string& text = box.text;
    if (box.caption == boxes::kStagerCaption) {
        return box.type == 0 && text == boxes::kSuccess;
    }
    if (box.caption == "MERVODriverStager Usage") {
        return box.type == 0 && text.rfind("-----------------  MERVODriverStager [Options]", 0) == 0;
    }
    if (box.caption == boxes::kErrorCaption) {
        for (int code = 0; code < OS_CODE_COUNT; ++code) {
            if (text == boxes::OsRefusal(OsNameTable[code])) {
                return box.type == 0;
            }
        }
        // A run without the machine's turn: "cannot take the machine's turn
        // (error 0x%08X): ..." or the wait's end.
        const std::string noTurn = "Error: cannot take the machine's turn (error 0x";
        const std::string noTurnEnd = "): nothing was done !!";
        const bool turnRefused =
            text.size() == noTurn.size() + 8 + noTurnEnd.size() && text.rfind(noTurn, 0) == 0 &&
            text.find_first_not_of("0123456789ABCDEF", noTurn.size()) == noTurn.size() + 8 &&
            text.compare(noTurn.size() + 8, std::string::npos, noTurnEnd) == 0;
        return box.type == 0 && (text == boxes::kNoTempFolder || text == boxes::kInfNameTooLong ||
                                 text == boxes::kInfPathTooLong || text == boxes::kStager64Missing ||
                                 turnRefused || text == boxes::kTurnWaitedOut);
    }
    if (box.caption == boxes::kLaunchErrorCaption) {
        return box.type == 0 && (text == boxes::kRemoveFailed || text == boxes::kRescanFailed);
    }
    if (box.caption == "Error") {
        // A system text ends in CR LF; a code without text is named:
        // "System error 0x%08X."
        const bool named = text.size() == 24 && text.rfind("System error 0x", 0) == 0 && text.back() == '.' &&
                           text.find_first_not_of("0123456789ABCDEF", 15) == 23;
        const bool systemText = text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
        // A signature code without text: "<cause> (0x%08X)."
        const size_t open = text.rfind(" (0x");
        const bool codeShape = open != std::string::npos && text.size() == open + 15 &&
                               text.compare(text.size() - 2, 2, ").") == 0 &&
                               text.find_first_not_of("0123456789ABCDEF", open + 4) == open + 12;
        const char* cause =
            codeShape
                ? SignatureCauseText(static_cast<uint32_t>(std::stoul(text.substr(open + 4, 8), nullptr, 16)))
                : nullptr;
        const bool signature =
            cause != nullptr && text.compare(0, open, cause) == 0 && open == std::string(cause).size();
        return box.type == 0x40 && (named || systemText || signature);
    }
    return false;
}
