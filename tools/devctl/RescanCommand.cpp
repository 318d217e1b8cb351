#include "DevCtl.h"
#include "common/BoundedText.h"

namespace {

const char* ConfigRetName(uint32_t code)
{
    switch (code) {
    case 0x03:
        return "CR_INVALID_POINTER";
    case 0x04:
        return "CR_INVALID_FLAG";
    case 0x05:
        return "CR_INVALID_DEVNODE";
    case 0x0D:
        return "CR_NO_SUCH_DEVNODE";
    case 0x13:
        return "CR_FAILURE";
    case 0x17:
        return "CR_NOT_SYSTEM_VM";
    case 0x33:
        return "CR_ACCESS_DENIED";
    case 0x34:
        return "CR_CALL_NOT_IMPLEMENTED";
    default:
        return "CR_?";
    }
}

int ReportFailure(const char* call, uint32_t code)
{
    char line[DEVCTL_LINE_SIZE];
    FormatText(line, sizeof line, "Rescan failed: %s gave configuration manager code %u (%s).", call, code,
               ConfigRetName(code));
    DevCtlPlatform.WriteLine(line);
    return code > DEVCTL_EXIT_CM_LAST ? DEVCTL_EXIT_CM_LAST : static_cast<int>(code);
}

}  // namespace

int RescanDevices(void)
{
    uint32_t root = 0;
    uint32_t code = DevCtlPlatform.CM_Locate_DevNodeA(&root, nullptr, DC_CM_LOCATE_DEVNODE_NORMAL);
    if (code != DC_CR_SUCCESS) {
        return ReportFailure("CM_Locate_DevNodeA", code);
    }
    code = DevCtlPlatform.CM_Reenumerate_DevNode(root, DC_CM_REENUMERATE_NORMAL);
    if (code != DC_CR_SUCCESS) {
        return ReportFailure("CM_Reenumerate_DevNode", code);
    }
    DevCtlPlatform.WriteLine("Device tree rescanned OK.");
    return DEVCTL_EXIT_OK;
}
