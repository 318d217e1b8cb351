// Pieces of the Linux build's catalog reader that the trust judge shares.
#pragma once

#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <ctime>
#include <functional>
#include <memory>
#include <string>

struct Pkcs7Free {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};
using Pkcs7 = std::unique_ptr<PKCS7, Pkcs7Free>;

std::string ObjectText(const ASN1_OBJECT* object);  // dotted form; empty when too long
std::string Bytes(const ASN1_STRING* text);
std::string NameText(const X509_NAME* name);       // "/C=../O=../CN=.."
std::string CommonName(X509* certificate);         // its subject's common name, else the whole subject
bool ToTime(const ASN1_TIME* time, time_t* when);  // false when unreadable
std::string IsoTime(time_t when);                  // "YYYY-MM-DDThh:mm:ssZ"; empty when out of range
std::string TimeText(const ASN1_TIME* time);       // IsoTime of it; empty when unreadable
// How the signature over the signed attributes may be made.
enum class SignatureForm {
    DigestInfo,     // the standard form: the digest in a DigestInfo
    BareDigestToo,  // also a PKCS#1 v1.5 RSA signature over the bare digest, as older time stamps are
};
// The signer's signature over its signed attributes (DER as a SET) verifies
// with `certificate`'s key and the digest `md`.
bool SignedAttributesVerify(PKCS7_SIGNER_INFO* info, X509* certificate, const EVP_MD* md,
                            SignatureForm form = SignatureForm::DigestInfo);
// The TSTInfo of an RFC 3161 token (CMS SignedData), or null; with `token`
// the decoded token too (the caller frees both).
TS_TST_INFO* TokenInfo(const unsigned char* at, long length, CMS_ContentInfo** token = nullptr);
// Calls `visit` with each unsigned attribute of `signer` that holds a time
// stamp, in their order: an RFC 3161 token (`token` true) or a
// countersignature, with the DER of its value, until `visit` returns true.
void VisitTimeStamps(PKCS7_SIGNER_INFO* signer,
                     const std::function<bool(bool token, const unsigned char* at, long length)>& visit);
