// The kind of a catalog's signature, from the facts the trust judge found,
// and the names of the trust vocabulary in reports.
#include "CatalogTrust.h"

#include "CheckText.h"

namespace {

const char kCodeSigning[] = "1.3.6.1.5.5.7.3.3";
const char kWhqlEku[] = "1.3.6.1.4.1.311.10.3.5";
const char kAttestationEku[] = "1.3.6.1.4.1.311.10.3.5.1";

}  // namespace

void ClassifyTrust(CatalogTrust* trust)
{
    bool microsoft = trust->anchor == Anchor::Microsoft;
    if (trust->failure != ChainFailure::None || trust->anchor == Anchor::None) {
        trust->kind = TRUST_UNTRUSTED;
        trust->failure = trust->failure == ChainFailure::None ? ChainFailure::Other : trust->failure;
    } else if (microsoft && Contains(trust->signerEkus, kWhqlEku)) {
        trust->kind = TRUST_WHQL;
    } else if (microsoft && Contains(trust->signerEkus, kAttestationEku)) {
        trust->kind = TRUST_ATTESTATION;
    } else if (!trust->signerEkuPresent || Contains(trust->signerEkus, kCodeSigning)) {
        // A certificate without the EKU extension is good for every use.
        trust->kind = TRUST_VENDOR;
    } else {
        trust->kind = TRUST_UNTRUSTED;
        trust->failure = ChainFailure::WrongUsage;
        trust->why =
            "no code-signing EKU: the signer's certificate is only for " + Joined(trust->signerEkus, ", ");
    }
    if (trust->kind != TRUST_VENDOR) {
        trust->trustedPublisher = false;
        trust->trustedPublisherNote.clear();
    }
}

const char* TrustKindName(TrustKind kind)
{
    static const char* const kNames[] = {"none", "broken", "untrusted", "vendor", "attestation", "whql"};
    return kNames[kind];
}

const char* AnchorName(Anchor anchor)
{
    static const char* const kNames[] = {"", "microsoft", "bundle"};
    return kNames[static_cast<int>(anchor)];
}

const char* CheckedAtName(CheckedAt source)
{
    return source == CheckedAt::TimeStamp ? "time stamp" : "current time";
}

const char* TimeStampKindName(TimeStampKind kind)
{
    static const char* const kNames[] = {"", "rfc3161", "countersignature"};
    return kNames[static_cast<int>(kind)];
}
