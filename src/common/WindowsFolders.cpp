#include "common/WindowsFolders.h"

#include "common/BoundedText.h"

int FormatInfStoreFolder(char* folder, size_t size, const char* windowsFolder)
{
    return FormatText(folder, size, "%s\\inf", windowsFolder);
}

int FormatDriverFolder(char* folder, size_t size, const char* windowsFolder)
{
    return FormatText(folder, size, "%s\\System32\\Drivers", windowsFolder);
}
