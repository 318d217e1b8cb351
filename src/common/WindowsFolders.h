// The folders of a Windows installation that the stager and the companion
// tool both name, each made from the Windows folder one way: the INF store,
// where staged INFs are kept, and the driver folder, where the driver files
// are copied.
#pragma once

#include <cstddef>

// "<Windows folder>\inf". 0 when it fits in `size` bytes, 1 when it does not
// (the text is then not to be used).
int FormatInfStoreFolder(char* folder, size_t size, const char* windowsFolder);

// "<Windows folder>\System32\Drivers", the same way.
int FormatDriverFolder(char* folder, size_t size, const char* windowsFolder);
