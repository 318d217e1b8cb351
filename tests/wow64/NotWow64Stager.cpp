// MERVODriverStagerNotWow64: the stager with the real Windows table, except
// that IsWow64Process answers "not a 32-bit process on 64-bit Windows". Built
// from the i686 sources and run under WoW64, it does the whole sequence in
// the 32-bit process itself: what the hand-off to the 64-bit build prevents
// (driver copies redirected to SysWOW64\drivers) becomes visible, and the
// 32-bit code of the launches and of the log runs for real.
#include "platform/PlatformServices.h"

namespace {

int32_t NeverWow64(int32_t* isWow64)
{
    *isWow64 = 0;
    return 1;
}

// Set before WinMain runs: the table itself is filled at compile time, this
// object's constructor at start-up.
struct ForceNotWow64 {
    ForceNotWow64() { Platform.IsWow64Process = NeverWow64; }
} forceNotWow64;

}  // namespace
