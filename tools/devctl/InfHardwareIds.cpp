#include "InfHardwareIds.h"

#include <cstring>

#include "DevCtlServices.h"
#include "PatternMatch.h"
#include "common/BoundedText.h"

namespace {

const char USB_VID[] = "usb\\vid_";

int IsHexDigit(char c)
{
    c = FoldCase(c);
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

int HasHexDigits(const char* text, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!IsHexDigit(text[i])) {
            return 0;
        }
    }
    return 1;
}

// USB\VID_xxxx&PID_yyyy at the start of `id`.
int IsUsbHardwareId(const char* id)
{
    return StartsWithNoCase(id, USB_VID) && HasHexDigits(id + 8, 4) && StartsWithNoCase(id + 12, "&pid_") &&
           HasHexDigits(id + 17, 4);
}

const char* FindUsbVid(const char* word)
{
    for (const char* at = word; *at != '\0'; ++at) {
        if (StartsWithNoCase(at, USB_VID)) {
            return at;
        }
    }
    return nullptr;
}

int AddId(InfHardwareIds* table, const char* id)
{
    for (uint16_t i = 0; i < table->count; ++i) {
        if (StartsWithNoCase(table->ids[i], id) && strlen(table->ids[i]) == strlen(id)) {
            return INF_IDS_READ;
        }
    }
    if (table->count >= INF_ID_CAPACITY) {
        return INF_IDS_TOO_MANY;
    }
    CopyText(table->ids[table->count], INF_ID_SIZE, id);
    ++table->count;
    return INF_IDS_READ;
}

int TakeWord(InfHardwareIds* table, const char* word)
{
    const char* id = FindUsbVid(word);
    if (id == nullptr || strlen(id) >= INF_ID_SIZE || !IsUsbHardwareId(id)) {
        return INF_IDS_READ;
    }
    return AddId(table, id);
}

int IsWordEnd(int c)
{
    return c == ',' || c == ' ' || c == '\t' || c == '=' || c == '"' || c == ';' || c == '\r' || c == '\n';
}

}  // namespace

int ScanInfHardwareIds(FILE* inf, InfHardwareIds* table)
{
    char word[INF_WORD_SIZE];
    size_t length = 0;
    int overlong = 0;
    int inQuotes = 0;
    int inComment = 0;
    table->count = 0;

    for (;;) {
        int c = fgetc(inf);
        if (c == '\0') {
            continue;
        }
        if (c == EOF || IsWordEnd(c) || inComment) {
            word[length] = '\0';
            if (length > 0 && !overlong && TakeWord(table, word) != INF_IDS_READ) {
                return INF_IDS_TOO_MANY;
            }
            length = 0;
            overlong = 0;
        } else if (length + 1 < sizeof word) {
            word[length++] = static_cast<char>(c);
        } else {
            overlong = 1;
        }
        if (c == EOF) {
            return INF_IDS_READ;
        }
        if (c == '\n' || c == '\r') {
            inComment = 0;
            inQuotes = 0;
        } else if (c == '"' && !inComment) {
            inQuotes = !inQuotes;
        } else if (c == ';' && !inQuotes) {
            inComment = 1;
        }
    }
}

int ReadInfHardwareIds(const char* infPath, InfHardwareIds* table)
{
    table->count = 0;
    FILE* inf = DevCtlPlatform.OpenStream(infPath, "r");
    if (inf == nullptr) {
        return INF_IDS_CANNOT_OPEN;
    }
    int result = ScanInfHardwareIds(inf, table);
    fclose(inf);
    return result;
}

const char* FindServingId(const InfHardwareIds* table, const char* deviceId)
{
    // The prefix must end where a part of the device id ends, so that
    // USB\VID_0123&PID_4567 serves USB\VID_0123&PID_4567&REV_0100 but not a
    // USB\VID_0123&PID_45678.
    for (uint16_t i = 0; i < table->count; ++i) {
        if (!StartsWithNoCase(deviceId, table->ids[i])) {
            continue;
        }
        char next = deviceId[strlen(table->ids[i])];
        if (next == '\0' || next == '&') {
            return table->ids[i];
        }
    }
    return nullptr;
}
