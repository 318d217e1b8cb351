// The names of Windows systems in a catalog: the word of its OS attribute
// ("7X64", "_v100_X64_21H2") and the Driver Kit's /os: name for the same
// system ("7_X64", "10_CO_X64"), each tied to the checker's target whose
// rules apply there. Server editions and feature releases have no target of
// their own; they behave as the desktop target they are built from.
#pragma once

#include <string>
#include <vector>

#include "SigningPolicy.h"

struct CatalogOsName {
    const char* kitName;     // "7_X64"
    const char* osWord;      // "7X64"
    const char* target;      // "7-x64"
    const char* alsoOsAttr;  // an OSAttr entry catalogs carry for it besides its target's version; null: none
};

// In the order a catalog's OS attribute lists them.
const std::vector<CatalogOsName>& CatalogOsNames();
// The system `name` stands for: a Driver Kit name (any case) or a checker
// target name, which stands for the first system of that target. Null when
// unknown.
const CatalogOsName* FindCatalogOs(const std::string& name);
// The target whose rules apply to `os`.
const WindowsTarget& TargetOf(const CatalogOsName& os);
// The OSAttr entry of `target`'s version: "2:6.1"; Windows 2000 is "2:5.00".
std::string OsAttrEntry(const WindowsTarget& target);
// The OSAttr entries a catalog for `os` carries: its target's, and the extra one if any.
std::vector<std::string> OsAttrEntries(const CatalogOsName& os);
