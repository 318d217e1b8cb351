#include "common/HandOffPaths.h"

#include <cstring>

#include "common/BoundedText.h"

int CutAtLastBackslash(char* path)
{
    char* last = strrchr(path, '\\');
    if (last == nullptr) {
        return 0;
    }
    *last = '\0';
    return 1;
}

int FormatHandOffCommandLine(char* commandLine, size_t size, const char* program64, const char* argumentText)
{
    return FormatText(commandLine, size, "\"%s\" %s", program64, argumentText);
}
