#include "InfFixtures.h"

#include <dirent.h>

#include <algorithm>

const char kTypicalInf[] =
    "[Version]\n"
    "Signature=\"$Windows NT$\"\n"
    "Class=Ports\n"
    "\n"
    "[Manufacturer]\n"
    "%Mfg%=Models\n"
    "\n"
    "[Models]\n"
    "%DevDesc%=Install, USB\\VID_0123&PID_4567\n"
    "\n"
    "[SourceDisksFiles]\n"
    "mervousb.sys=1\n"
    "mervoser.sys=1\n"
    "\n"
    "[Strings]\n"
    "Mfg=\"MERVO\"\n"
    "DevDesc=\"MERVO Test Device\"\n";

std::string TwoDeviceInf(const std::string& line3, const std::string& line6, const std::string& line7)
{
    return "[Version]\n[Models]\n" + line3 +
           "\n%DevDesc2%=Install, USB\\VID_0123&PID_89AB&MI_00\n[Strings]\n" + line6 + "\n" + line7 + "\n";
}

std::string Utf16(const std::string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char c : text) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

std::vector<std::string> InfNamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* listing = opendir(folder.c_str());
    while (dirent* entry = listing != nullptr ? readdir(listing) : nullptr) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".inf") == 0) {
            names.push_back(name);
        }
    }
    if (listing != nullptr) {
        closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}
