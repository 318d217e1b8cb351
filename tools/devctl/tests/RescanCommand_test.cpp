#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DevCtl.h"
#include "SimulatedDevCtl.h"

namespace {

struct RescanCase {
    uint32_t locate;
    uint32_t reenumerate;
    int exitCode;
    std::vector<std::string> calls;
    const char* line;
};

// clang-format off
const RescanCase RESCAN_CASES[] = {
    {0, 0, DEVCTL_EXIT_OK, {"Locate (root) 0", "Reenumerate 4242 0"}, "Device tree rescanned OK."},
    // Wine answers CR_FAILURE to the first call.
    {0x13, 0, 19, {"Locate (root) 0"},
     "Rescan failed: CM_Locate_DevNodeA gave configuration manager code 19 (CR_FAILURE)."},
    {0, 0x13, 19, {"Locate (root) 0", "Reenumerate 4242 0"},
     "Rescan failed: CM_Reenumerate_DevNode gave configuration manager code 19 (CR_FAILURE)."},
    {0, 0x33, 0x33, {"Locate (root) 0", "Reenumerate 4242 0"},
     "Rescan failed: CM_Reenumerate_DevNode gave configuration manager code 51 "
     "(CR_ACCESS_DENIED)."},
    {0x0D, 0, 0x0D, {"Locate (root) 0"},
     "Rescan failed: CM_Locate_DevNodeA gave configuration manager code 13 (CR_NO_SUCH_DEVNODE)."},
    // A code beyond the range kept for them is reported as the last one.
    {0, 200, DEVCTL_EXIT_CM_LAST, {"Locate (root) 0", "Reenumerate 4242 0"},
     "Rescan failed: CM_Reenumerate_DevNode gave configuration manager code 200 (CR_?)."},
};
// clang-format on

TEST(RescanCommand, ExitCodeIsTheConfigurationManagersCode)
{
    for (const RescanCase& c : RESCAN_CASES) {
        SCOPED_TRACE(c.line);
        SimTreeReset();
        SimTree().locateResult = c.locate;
        SimTree().reenumerateResult = c.reenumerate;
        EXPECT_EQ(c.exitCode, RescanDevices());
        EXPECT_EQ(c.calls, SimTree().cmCalls);
        EXPECT_EQ(std::vector<std::string>{c.line}, SimTree().output);
    }
}

}  // namespace
