#include "app/ArgumentText.h"

#include <cstring>

#include "common/BoundedText.h"
#include "common/Names.h"

char InfFileName[INF_FILE_NAME_SIZE];
int noDisplay;
int noLog;

int ReadArgumentText(const char* argumentText)
{
    const char* text = argumentText != nullptr ? argumentText : "";
    // A name quoted because it holds blanks keeps no opening quote; the
    // closing one lies after ".inf" and is never taken.
    const char* name = text[0] == '"' ? text + 1 : text;
    const char* extension = strstr(name, ".inf");
    int status = 0;
    if (extension == nullptr) {
        CopyText(InfFileName, sizeof InfFileName, kDefaultInfName);
    } else if (CopyTextRange(InfFileName, sizeof InfFileName, name,
                             static_cast<size_t>(extension - name) + 4) != 0) {
        InfFileName[0] = '\0';
        status = 1;
    }
    noDisplay = strstr(text, "nodisplay") != nullptr || strstr(text, "NODISPLAY") != nullptr;
    noLog = strstr(text, "nolog") != nullptr || strstr(text, "NOLOG") != nullptr;
    return status;
}

int JoinInfPath(const char* folder, char* path, size_t size)
{
    if (InfFileName[0] == '\0') {
        return INF_NAME_TOO_LONG;
    }
    return FormatText(path, size, "%s\\%s", folder, InfFileName) == 0 ? INF_PATH_JOINED : INF_PATH_TOO_LONG;
}
