// Whether the running process is a 32-bit process on 64-bit Windows: the one
// question both the stager's table and the companion tool's table ask the
// same way.
#pragma once

#include <cstdint>

// 1 and `*isWow64` set when the question could be asked; 0 when it could not
// (Windows 2000 has no IsWow64Process: it is looked up at run time, so that
// the programs still load there).
int32_t QueryIsWow64Process(int32_t* isWow64);
