// Whom Windows would trust for a catalog's signature: the signer's chain,
// built from the catalog's own certificates to the shipped Microsoft roots or
// to a CA bundle at the signing time, the time stamp's own chain and
// signature, the signer's EKUs and a Microsoft cross-certificate. One
// implementation per build, like the catalog reader.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// Where the anchors come from.
struct TrustOptions {
    std::string trustDir;        // holds roots/*.pem and cross-certificates/*.pem
    std::string caBundle;        // PEM bundle for vendor chains
    bool caBundleGiven = false;  // named with --ca-bundle: it must be readable (the system's may be missing)
    std::string trustedPublisher;  // a certificate (DER or PEM) in TrustedPublisher; empty: none
    time_t now = 0;                // the time to judge a signature without a valid time stamp at
};

struct TimeStampCheck {
    std::string kind;                // "rfc3161" or "countersignature"; empty: none
    std::string time;                // "YYYY-MM-DDThh:mm:ssZ" as the time stamp gives it
    bool verified = false;           // its signature, its imprint and its chain hold
    std::string problem;             // why not; empty when verified
    std::vector<std::string> chain;  // the time-stamp authority's subjects to its root
};

enum TrustKind {
    TRUST_NONE,         // no catalog
    TRUST_BROKEN,       // the catalog's integrity does not hold
    TRUST_UNTRUSTED,    // no trusted root, self-signed, expired at signing, no code-signing EKU
    TRUST_VENDOR,       // Authenticode to a root trusted for code signing
    TRUST_ATTESTATION,  // Microsoft, attestation EKU only
    TRUST_WHQL,         // Microsoft, WHQL/WHCP EKU
};

struct CatalogTrust {
    bool judged = false;  // false: this build cannot judge trust
    TrustKind kind = TRUST_NONE;
    std::string why;                 // untrusted or broken: the cause
    std::vector<std::string> chain;  // subjects from the signer to the root (as far as it was built)
    std::string anchor;              // "microsoft", "bundle" or empty when no chain held
    std::string microsoftRoot;       // the Microsoft root file the chain ends at; empty otherwise
    bool kernelRoot = false;         // that root is one of the three that 10 1607+ accepts
    std::string caBundle;            // the bundle consulted for vendor chains
    std::string checkedAt;           // the time the chains were checked at
    std::string checkedAtSource;     // "time stamp" or "current time"
    TimeStampCheck timeStamp;
    std::vector<std::string> signerEkus;  // the signer's EKU OIDs; empty: no EKU extension
    time_t signerNotBefore = 0;
    std::string crossCertificate;      // the recognised cross-certificate's file; empty: none
    std::string crossProblem;          // a cross-certificate that does not count, and why
    bool trustedPublisher = false;     // the signer is the trusted publisher's certificate
    std::string trustedPublisherNote;  // why the trusted publisher file does not count
};

// Checks that the anchors can be read: the trust folder's roots, the CA
// bundle and the trusted publisher's certificate. Returns 0, or 1 with `error`.
int CheckTrustOptions(const TrustOptions& options, std::string* error);

// Judges the catalog `der` whose signature is intact.
void JudgeCatalogTrust(const std::string& der, const TrustOptions& options, CatalogTrust* trust);

// The kind's name in reports: "none", "broken", "untrusted", "vendor", "attestation", "whql".
const char* TrustKindName(TrustKind kind);
