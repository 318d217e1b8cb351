// Reading a signed catalog and hashing files for it. One implementation per
// build: the Linux build decodes with OpenSSL's libcrypto; the Windows builds
// have no such library and say so (CATALOG_READER_UNAVAILABLE), so that the
// report states plainly that the signature and the hashes were not checked.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "PeImage.h"

// One member of the catalog's trust list: the hash of one file.
struct CatalogMember {
    std::string algorithm;  // "sha1", "sha256", ... (the member's digest algorithm)
    std::string digest;     // the hash, raw bytes
    bool peImage = false;   // an Authenticode image hash, not a flat hash of the bytes
    std::string file;       // its "File" attribute; empty when it has none
    std::string osAttr;     // its "OSAttr" attribute, e.g. "2:5.1,2:6.0"; empty when none
};

// Why a catalog's signature does not hold.
enum class SignatureFailure {
    None,
    NotChecked,      // the catalog was not decoded that far
    NoSigner,        // it carries no signer at all: an unsigned catalog
    NoCertificate,   // the signer's certificate is not in it
    UnknownDigest,   // the signer's digest algorithm is unknown
    NoDigest,        // the signer has no message digest attribute
    ContentChanged,  // the trust list does not match its signed digest
    BadSignature,    // the signature over the signed attributes does not verify
};

struct CatalogContents {
    bool signatureIntact = false;
    SignatureFailure signatureFailure = SignatureFailure::NotChecked;
    std::string signatureProblem;   // why the signature does not hold, for people; empty when it does
    std::string signer;             // the signer certificate's common name (else its subject)
    std::string signerSubject;      // the whole subject, "/C=../O=../CN=.."
    std::string signatureDigest;    // the signature's digest algorithm
    std::string signingTime;        // "YYYY-MM-DDThh:mm:ssZ"; empty when the catalog has none
    std::string signingTimeSource;  // "time stamp", "countersignature" or "signing time"
    std::vector<CatalogMember> members;
};

enum {
    CATALOG_READ_OK = 0,
    CATALOG_NOT_PKCS7 = 1,           // not a DER PKCS#7 structure (truncated, random, ...)
    CATALOG_NOT_SIGNED_DATA = 2,     // PKCS#7, but no SignedData
    CATALOG_NOT_TRUST_LIST = 3,      // SignedData of another content type
    CATALOG_BAD_TRUST_LIST = 4,      // the trust list is not the expected structure
    CATALOG_READER_UNAVAILABLE = 5,  // this build cannot read catalogs
};

// Decodes `der` and checks its signature's integrity (no trust store: the
// content digest and the signer's signature over the signed attributes).
// Returns CATALOG_READ_OK with `contents` filled, or a code with `problem` set.
int ReadCatalog(const std::string& der, CatalogContents* contents, std::string* problem);

// The hash with `algorithm` over the given ranges of `bytes`; false when the
// algorithm is unknown or the build cannot hash.
bool DigestRanges(const std::string& algorithm, const std::string& bytes,
                  const std::vector<ByteRange>& ranges, std::string* digest);

// Hashes the bytes `read` delivers (it fills the buffer and gives the count,
// 0 at the end) with each of `algorithms` in one pass. `digests` gets one entry
// per algorithm, empty for one the build cannot hash.
using ChunkReader = std::function<size_t(char* buffer, size_t size)>;
void DigestChunks(const std::vector<std::string>& algorithms, const ChunkReader& read,
                  std::vector<std::string>* digests);
