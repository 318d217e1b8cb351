// The Windows version that Wine reports, set for a test and put back.
#include <cstring>

#include "HarnessInternal.h"

namespace e2e {

namespace {
const char* const kWineKey = "Software\\Wine";
const char* const kVersionValue = "Version";
}  // namespace

WineVersion::WineVersion(const char* version)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kWineKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        Fail("cannot open HKCU\\Software\\Wine");
        return;
    }
    char previous[256] = {};
    DWORD size = sizeof previous - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, kVersionValue, nullptr, &type, reinterpret_cast<BYTE*>(previous), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        hadValue_ = true;
        previous_ = previous;
    }
    if (RegSetValueExA(key, kVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(strlen(version) + 1)) != ERROR_SUCCESS) {
        Fail(std::string("cannot set the Wine version ") + version);
    }
    RegCloseKey(key);
}

WineVersion::~WineVersion()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kWineKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (hadValue_) {
        RegSetValueExA(key, kVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_.c_str()),
                       static_cast<DWORD>(previous_.size() + 1));
    } else {
        RegDeleteValueA(key, kVersionValue);
    }
    RegCloseKey(key);
}

}  // namespace e2e
