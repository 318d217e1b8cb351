// The driver-signature codes of the Setup API (0xE00002xx) and the trust
// provider (0x800B01xx, 0x800960xx): the one list of them, with the cause the
// stager's box names for each (they have no system text). The package checker
// predicts the same codes per Windows target.
#pragma once

#include <stdint.h>

// Every code as X(name, code, cause); the cause is a sentence without its full stop.
// clang-format off
#define MERVO_SIGNATURE_CODES(X)                                                                             \
    X(SIGNATURE_NO_CATALOG_FOR_OEM_INF, 0xE000022F,                                                          \
      "The driver package is not signed")                                                                    \
    X(SIGNATURE_TRUST_NOT_ESTABLISHED, 0xE0000242,                                                           \
      "The publisher of the driver package is not yet trusted")                                              \
    X(SIGNATURE_PUBLISHER_NOT_TRUSTED, 0xE0000243,                                                           \
      "The publisher of the driver package is not trusted")                                                  \
    X(SIGNATURE_OSATTRIBUTE_MISMATCH, 0xE0000244,                                                            \
      "The driver package is signed for another version of Windows")                                         \
    X(SIGNATURE_DRIVER_STORE_ADD_FAILED, 0xE0000247,                                                         \
      "The driver package could not be added to the driver store")                                           \
    X(SIGNATURE_FILE_HASH_NOT_IN_CATALOG, 0xE000024B,                                                        \
      "A file of the driver package does not match its signed catalog")                                      \
    X(SIGNATURE_TRUST_E_NOSIGNATURE, 0x800B0100,                                                             \
      "The driver package carries no signature")                                                             \
    X(SIGNATURE_CERT_E_EXPIRED, 0x800B0101,                                                                  \
      "A certificate of the driver package's signature was not valid at signing time")                       \
    X(SIGNATURE_CERT_E_UNTRUSTEDROOT, 0x800B0109,                                                            \
      "The driver package's signature ends at a root that is not trusted")                                   \
    X(SIGNATURE_CERT_E_CHAINING, 0x800B010A,                                                                 \
      "The driver package's signature does not chain to a trusted root")                                     \
    X(SIGNATURE_CERT_E_REVOKED, 0x800B010C,                                                                  \
      "A certificate of the driver package's signature was revoked")                                         \
    X(SIGNATURE_CERT_E_WRONG_USAGE, 0x800B0110,                                                              \
      "The driver package's certificate is not valid for code signing")                                      \
    X(SIGNATURE_TRUST_E_EXPLICIT_DISTRUST, 0x800B0111,                                                       \
      "The driver package's publisher is explicitly not trusted")                                            \
    X(SIGNATURE_TRUST_E_BAD_DIGEST, 0x80096010,                                                              \
      "The driver package's signature does not verify")
// clang-format on

#define MERVO_SIGNATURE_ENUMERATOR(name, code, cause) name = (code),
enum : uint32_t { MERVO_SIGNATURE_CODES(MERVO_SIGNATURE_ENUMERATOR) };
#undef MERVO_SIGNATURE_ENUMERATOR
