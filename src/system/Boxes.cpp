#include "system/Boxes.h"

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
