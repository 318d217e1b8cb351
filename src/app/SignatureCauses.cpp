#include "app/SignatureCauses.h"

#include "common/SignatureCodes.h"

namespace {

struct SignatureCause {
    uint32_t code;
    const char* text;
};

#define MERVO_SIGNATURE_CAUSE(name, code, cause) {name, cause},
const SignatureCause kCauses[] = {MERVO_SIGNATURE_CODES(MERVO_SIGNATURE_CAUSE)};
#undef MERVO_SIGNATURE_CAUSE

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
