// The driver-signature codes of the Setup API and the trust provider have no
// system text: the stager's box names their cause instead.
#pragma once

#include <stdint.h>

// The cause of a known signature code (0xE00002xx, its HRESULT form
// 0x800F02xx, or a trust HRESULT 0x800B01xx / 0x800960xx), without a full
// stop; null for any other code.
const char* SignatureCauseText(uint32_t code);
