#include "system/Boxes.h"

#include "app/SignatureCauses.h"
#include "common/BoundedText.h"
#include "common/Names.h"
#include "log/LogFile.h"
#include "platform/PlatformServices.h"

const char kBoxNotShown[] = "Message box not shown (no interactive desktop): ";

static int BoxCanBeAnswered()
{
    uint32_t flags = 0;
    if (!Platform.GetWindowStationFlags(&flags)) {
        return 1;
    }
    return (flags & PS_WSF_VISIBLE) != 0;
}

// A box's text may span lines (the usage box, a system text ending in CR LF);
// the log takes it as one line, its breaks and tabs as blanks.
static void LogUnshownBox(const char* text, const char* caption)
{
    char line[LOG_TEXT_SIZE];
    FormatText(line, sizeof line, "%s%s: %s", kBoxNotShown,
               caption != nullptr ? caption : kSystemErrorCaption, text != nullptr ? text : "");
    int end = 0;
    for (int i = 0; line[i] != '\0'; ++i) {
        if (line[i] == '\r' || line[i] == '\n' || line[i] == '\t') {
            line[i] = ' ';
        }
        if (line[i] != ' ') {
            end = i + 1;
        }
    }
    line[end] = '\0';
    WriteLog("Boxes", "ShowBox", line);
}

void ShowBox(const char* text, const char* caption, uint32_t type)
{
    // The question must not change the error that a box may be about to explain.
    uint32_t lastError = Platform.GetLastError();
    int canBeAnswered = BoxCanBeAnswered();
    Platform.SetLastError(lastError);
    if (canBeAnswered) {
        Platform.MessageBoxA(nullptr, text, caption, type);
    } else {
        LogUnshownBox(text, caption);
    }
}

void ShowLastSystemError()
{
    uint32_t code = Platform.GetLastError();
    char* systemText = nullptr;
    uint32_t length = Platform.FormatMessageA(
        PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_IGNORE_INSERTS | PS_FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, PS_LANG_USER_DEFAULT, reinterpret_cast<char*>(&systemText), 0, nullptr);
    if (length == 0 || systemText == nullptr) {
        // Codes such as the Setup API's have no system text; the box still
        // says which error it was, and for a signature code its cause.
        char text[LOG_TEXT_SIZE];
        const char* cause = SignatureCauseText(code);
        if (cause != nullptr) {
            FormatText(text, sizeof text, "%s (0x%08X).", cause, static_cast<unsigned>(code));
        } else {
            FormatText(text, sizeof text, "System error 0x%08X.", static_cast<unsigned>(code));
        }
        ShowBox(text, kSystemErrorCaption, PS_MB_OK | PS_MB_ICONINFORMATION);
        return;
    }
    ShowBox(systemText, kSystemErrorCaption, PS_MB_OK | PS_MB_ICONINFORMATION);
    Platform.LocalFree(systemText);
}
