// Whom Windows would trust for a catalog's signature: the signer's chain,
// built from the catalog's own certificates to the shipped Microsoft roots or
// to a CA bundle at the signing time, the time stamp's own chain and
// signature, the signer's EKUs and a Microsoft cross-certificate. One
// implementation per build, like the catalog reader; it finds facts only, and
// ClassifyTrust names the kind they add up to.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// The trust folder's subfolders: the Microsoft roots, and the cross-certificates.
inline constexpr char kTrustRootsFolder[] = "roots";
inline constexpr char kTrustCrossCertificatesFolder[] = "cross-certificates";

// Where the anchors come from.
struct TrustOptions {
    std::string trustDir;        // holds roots/*.pem and cross-certificates/*.pem
    std::string caBundle;        // PEM bundle for vendor chains
    bool caBundleGiven = false;  // named with --ca-bundle: it must be readable (the system's may be missing)
    std::string trustedPublisher;  // a certificate (DER or PEM) in TrustedPublisher; empty: none
    time_t now = 0;                // the time to judge a signature without a valid time stamp at
};

enum class TimeStampKind { None, Rfc3161, Countersignature };

struct TimeStampCheck {
    TimeStampKind kind = TimeStampKind::None;
    std::string time;                // "YYYY-MM-DDThh:mm:ssZ" as the time stamp gives it
    bool verified = false;           // its signature, its imprint and its chain hold
    std::string problem;             // why not; empty when verified
    std::vector<std::string> chain;  // the time-stamp authority's subjects to its root
};

// Where the signer's chain ends.
enum class Anchor { None, Microsoft, Bundle };
// The time the chains were checked at.
enum class CheckedAt { CurrentTime, TimeStamp };

// Why the signer's chain does not hold.
enum class ChainFailure {
    None,
    SelfSigned,    // it ends at a self-signed certificate that no anchor set holds
    NoIssuer,      // it ends at a certificate whose issuer no anchor set holds
    Expired,       // a certificate of it is not valid at the time it was checked at
    WrongUsage,    // the signer's certificate is not for code signing
    BadSignature,  // a certificate's signature does not verify
    Other,
};

enum TrustKind {
    TRUST_NONE,         // no catalog, or one that carries no signature
    TRUST_BROKEN,       // the catalog's integrity does not hold
    TRUST_UNTRUSTED,    // no trusted root, self-signed, expired at signing, no code-signing EKU
    TRUST_VENDOR,       // Authenticode to a root trusted for code signing
    TRUST_ATTESTATION,  // Microsoft, attestation EKU only
    TRUST_WHQL,         // Microsoft, WHQL/WHCP EKU
};

struct CatalogTrust {
    bool judged = false;  // false: this build cannot judge trust
    TrustKind kind = TRUST_NONE;
    ChainFailure failure = ChainFailure::None;  // untrusted: how the chain fails
    std::string why;                            // untrusted, broken or unsigned: the cause, for people
    std::vector<std::string> chain;  // subjects from the signer to the root (as far as it was built)
    Anchor anchor = Anchor::None;    // the anchor set the chain holds to
    std::string microsoftRoot;       // the Microsoft root file the chain ends at; empty otherwise
    std::string rootThumbprint;      // lower-case SHA-1 hex of the root the chain ends at
    std::string caBundle;            // the bundle consulted for vendor chains
    std::string checkedAt;           // the time the chains were checked at
    CheckedAt checkedAtSource = CheckedAt::CurrentTime;
    TimeStampCheck timeStamp;
    bool signerEkuPresent = false;        // the signer's certificate has the EKU extension
    std::vector<std::string> signerEkus;  // its EKU OIDs
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

// The kind the facts add up to: a chain to the Microsoft roots with the
// WHQL/WHCP EKU is whql, with the attestation EKU attestation; a chain to
// either anchor set whose signer may sign code is vendor; else untrusted.
void ClassifyTrust(CatalogTrust* trust);

// The names in reports: "none", "broken", "untrusted", "vendor",
// "attestation", "whql"; "microsoft", "bundle" (empty: none); "time stamp",
// "current time"; "rfc3161", "countersignature" (empty: none).
const char* TrustKindName(TrustKind kind);
const char* AnchorName(Anchor anchor);
const char* CheckedAtName(CheckedAt source);
const char* TimeStampKindName(TimeStampKind kind);
