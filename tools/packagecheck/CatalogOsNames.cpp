// The catalog names of Windows systems, one row per system.
#include "CatalogOsNames.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Within a release, x86 before x64 before ARM64, and a server edition after
// the desktop system it shares its kernel with: the order real catalogs list
// them in. XP x64 is NT 5.2, but catalogs made for it name 5.1 as well (the
// x64 libusb0 catalog does): it gets both.
// clang-format off
const std::vector<CatalogOsName> kOsNames = {
    {"2000",             "2000",             "2000-x86",  nullptr},
    {"XP_X86",           "XPX86",            "xp-x86",    nullptr},
    {"XP_X64",           "XPX64",            "xp-x64",    "2:5.1"},
    {"Server2003_X86",   "Server2003X86",    "2003-x86",  nullptr},
    {"Server2003_X64",   "Server2003X64",    "2003-x64",  nullptr},
    {"Vista_X86",        "VistaX86",         "vista-x86", nullptr},
    {"Vista_X64",        "VistaX64",         "vista-x64", nullptr},
    {"Server2008_X86",   "Server2008X86",    "vista-x86", nullptr},
    {"Server2008_X64",   "Server2008X64",    "vista-x64", nullptr},
    {"7_X86",            "7X86",             "7-x86",     nullptr},
    {"7_X64",            "7X64",             "7-x64",     nullptr},
    {"Server2008R2_X64", "Server2008R2X64",  "7-x64",     nullptr},
    {"8_X86",            "8X86",             "8-x86",     nullptr},
    {"8_X64",            "8X64",             "8-x64",     nullptr},
    {"6_3_X86",          "_v63",             "8.1-x86",   nullptr},
    {"6_3_X64",          "_v63_X64",         "8.1-x64",   nullptr},
    {"10_X86",           "_v100",            "10-x86",    nullptr},
    {"10_X64",           "_v100_X64",        "10-x64",    nullptr},
    {"10_ARM64",         "_v100_ARM64",      "10-arm64",  nullptr},
    {"10_AU_X86",        "_v100_RS1",        "10-x86",    nullptr},
    {"10_AU_X64",        "_v100_X64_RS1",    "10-x64",    nullptr},
    {"10_RS2_X86",       "_v100_RS2",        "10-x86",    nullptr},
    {"10_RS2_X64",       "_v100_X64_RS2",    "10-x64",    nullptr},
    {"10_RS3_X86",       "_v100_RS3",        "10-x86",    nullptr},
    {"10_RS3_X64",       "_v100_X64_RS3",    "10-x64",    nullptr},
    {"10_RS3_ARM64",     "_v100_ARM64_RS3",  "10-arm64",  nullptr},
    {"10_RS4_X86",       "_v100_RS4",        "10-x86",    nullptr},
    {"10_RS4_X64",       "_v100_X64_RS4",    "10-x64",    nullptr},
    {"10_RS4_ARM64",     "_v100_ARM64_RS4",  "10-arm64",  nullptr},
    {"10_RS5_X86",       "_v100_RS5",        "10-x86",    nullptr},
    {"10_RS5_X64",       "_v100_X64_RS5",    "10-x64",    nullptr},
    {"10_RS5_ARM64",     "_v100_ARM64_RS5",  "10-arm64",  nullptr},
    {"10_19H1_X86",      "_v100_19H1",       "10-x86",    nullptr},
    {"10_19H1_X64",      "_v100_X64_19H1",   "10-x64",    nullptr},
    {"10_19H1_ARM64",    "_v100_ARM64_19H1", "10-arm64",  nullptr},
    {"10_VB_X86",        "_v100_Vb",         "10-x86",    nullptr},
    {"10_VB_X64",        "_v100_X64_Vb",     "10-x64",    nullptr},
    {"10_VB_ARM64",      "_v100_ARM64_Vb",   "10-arm64",  nullptr},
    {"10_CO_X64",        "_v100_X64_21H2",   "11-x64",    nullptr},
    {"10_CO_ARM64",      "_v100_ARM64_21H2", "11-arm64",  nullptr},
    {"10_NI_X64",        "_v100_X64_22H2",   "11-x64",    nullptr},
    {"10_NI_ARM64",      "_v100_ARM64_22H2", "11-arm64",  nullptr},
    {"10_GE_X64",        "_v100_X64_24H2",   "11-x64",    nullptr},
    {"10_GE_ARM64",      "_v100_ARM64_24H2", "11-arm64",  nullptr},
};
// clang-format on

}  // namespace

const std::vector<CatalogOsName>& CatalogOsNames()
{
    return kOsNames;
}

const CatalogOsName* FindCatalogOs(const std::string& name)
{
    for (const CatalogOsName& os : kOsNames) {
        if (strcasecmp(name.c_str(), os.kitName) == 0 || name == os.target) {
            return &os;
        }
    }
    return nullptr;
}

const WindowsTarget& TargetOf(const CatalogOsName& os)
{
    const WindowsTarget* target = FindWindowsTarget(os.target);
    if (target == nullptr) {
        // Every row names a target of the table; a test holds them to it.
        abort();
    }
    return *target;
}

std::vector<std::string> OsAttrEntries(const CatalogOsName& os)
{
    std::vector<std::string> entries;
    if (os.alsoOsAttr != nullptr) {
        entries.push_back(os.alsoOsAttr);
    }
    entries.push_back(OsAttrEntry(TargetOf(os)));
    return entries;
}

std::string OsAttrEntry(const WindowsTarget& target)
{
    char entry[32];
    snprintf(entry, sizeof entry, target.major == 5 && target.minor == 0 ? "2:%d.%02d" : "2:%d.%d",
             target.major, target.minor);
    return entry;
}
