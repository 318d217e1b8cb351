// Pieces of the Linux build's catalog reader that the trust judge shares.
#pragma once

#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <functional>
#include <string>

std::string ObjectText(const ASN1_OBJECT* object);  // dotted form; empty when too long
std::string Bytes(const ASN1_STRING* text);
std::string TimeText(const ASN1_TIME* time);  // "YYYY-MM-DDThh:mm:ssZ"; empty when unreadable
// The signer's signature over its signed attributes (DER as a SET) verifies
// with `certificate`'s key and the digest `md`.
bool SignedAttributesVerify(PKCS7_SIGNER_INFO* info, X509* certificate, const EVP_MD* md);
// The TSTInfo of an RFC 3161 token (CMS SignedData), or null; with `token`
// the decoded token too (the caller frees both).
TS_TST_INFO* TokenInfo(const unsigned char* at, long length, CMS_ContentInfo** token = nullptr);
// Calls `visit` with each unsigned attribute of `signer` that holds a time
// stamp, in their order: an RFC 3161 token (`token` true) or a
// countersignature, with the DER of its value, until `visit` returns true.
void VisitTimeStamps(PKCS7_SIGNER_INFO* signer,
                     const std::function<bool(bool token, const unsigned char* at, long length)>& visit);
