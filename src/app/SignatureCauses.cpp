#include "app/SignatureCauses.h"

namespace {

struct SignatureCause {
    uint32_t code;
    const char* text;
};

const SignatureCause kCauses[] = {
    {0xE000022F, "The driver package is not signed"},
    {0xE0000242, "The publisher of the driver package is not yet trusted"},
    {0xE0000243, "The publisher of the driver package is not trusted"},
    {0xE0000244, "The driver package is signed for another version of Windows"},
    {0xE0000247, "The driver package could not be added to the driver store"},
    {0xE000024B, "A file of the driver package does not match its signed catalog"},
    {0x800B0100, "The driver package carries no signature"},
    {0x800B0101, "A certificate of the driver package's signature was not valid at signing time"},
    {0x800B0109, "The driver package's signature ends at a root that is not trusted"},
    {0x800B010A, "The driver package's signature does not chain to a trusted root"},
    {0x800B010C, "A certificate of the driver package's signature was revoked"},
    {0x800B0110, "The driver package's certificate is not valid for code signing"},
    {0x800B0111, "The driver package's publisher is explicitly not trusted"},
    {0x80096010, "The driver package's signature does not verify"},
};

}  // namespace

const char* SignatureCauseText(uint32_t code)
{
    // The Setup API's codes also come in their HRESULT form.
    if ((code & 0xFFFF0000u) == 0x800F0000u) {
        code = 0xE0000000u | (code & 0xFFFFu);
    }
    for (const SignatureCause& cause : kCauses) {
        if (cause.code == code) {
            return cause.text;
        }
    }
    return nullptr;
}
