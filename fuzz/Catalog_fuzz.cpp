// ReadCatalog on arbitrary bytes: a clear result code for anything that is
// not a signed trust list, problem text exactly when it fails, and for a
// decoded list a verdict on its signature that always comes with its reason.
// A decoded catalog then goes through the trust judge (chain building to the
// shipped roots, the time-stamp reader and verifier), whose verdict must be
// whole, and the signing policy judges every target by it; the time-stamp
// token reader also gets the raw bytes.
#include <cstdint>
#include <string>

#include "CatalogReader.h"
#include "CatalogTrust.h"
#include "FuzzSupport.h"
#include "OpenSslParts.h"
#include "SigningPolicy.h"

namespace {

void CheckTrust(const std::string& der, size_t size)
{
    TrustOptions options;
    // The shipped roots; the bundle for vendor chains is one of them.
    options.trustDir = MERVO_PACKAGECHECK_TRUST_SOURCE_DIR;
    options.caBundle =
        options.trustDir + "/" + kTrustRootsFolder + "/microsoft-root-certificate-authority-2010.pem";
    options.now = 1767225600;  // 2026-01-01: the same verdict on every run
    CatalogTrust trust;
    JudgeCatalogTrust(der, options, &trust);
    FUZZ_CHECK(trust.judged);
    FUZZ_CHECK(trust.kind == TRUST_BROKEN || trust.kind == TRUST_UNTRUSTED || trust.kind == TRUST_VENDOR ||
               trust.kind == TRUST_ATTESTATION || trust.kind == TRUST_WHQL);
    FUZZ_CHECK((trust.kind == TRUST_BROKEN || trust.kind == TRUST_UNTRUSTED) == !trust.why.empty());
    // A trusted kind rests on a chain that holds to one anchor set.
    FUZZ_CHECK(trust.kind < TRUST_VENDOR || trust.anchor != Anchor::None);
    FUZZ_CHECK(trust.kind < TRUST_ATTESTATION || trust.anchor == Anchor::Microsoft);
    FUZZ_CHECK((trust.kind == TRUST_UNTRUSTED) == (trust.failure != ChainFailure::None));
    FUZZ_CHECK(trust.kind == TRUST_BROKEN || !trust.checkedAt.empty());
    const TimeStampCheck& stamp = trust.timeStamp;
    bool none = stamp.kind == TimeStampKind::None;
    FUZZ_CHECK(!stamp.verified || (stamp.problem.empty() && !none && !stamp.time.empty()));
    FUZZ_CHECK(none || stamp.verified || !stamp.problem.empty());
    // A chain never holds more certificates than the input and the anchors could give.
    FUZZ_CHECK(trust.chain.size() <= size / 16 + 64 && stamp.chain.size() <= size / 16 + 64);
    // The signing policy gives every target a whole verdict for whatever trust was found.
    TargetFacts facts;
    facts.catalogNamed = true;
    facts.trust = trust;
    facts.drivers.push_back(DriverFacts{"x.sys", true, 0});
    for (const WindowsTarget& target : WindowsTargets()) {
        TargetVerdict verdict = JudgeWindowsTarget(target, facts);
        FUZZ_CHECK(verdict.drivers.size() == 1 && !verdict.cause.empty());
        FUZZ_CHECK(verdict.code == 0 || verdict.staging == Staging::Refused);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string der(reinterpret_cast<const char*>(data), size);
    CatalogContents contents;
    std::string problem;
    int result = ReadCatalog(der, &contents, &problem);

    TS_TST_INFO* token = TokenInfo(data, static_cast<long>(size));
    TS_TST_INFO_free(token);

    FUZZ_CHECK(result >= CATALOG_READ_OK && result <= CATALOG_BAD_TRUST_LIST);
    FUZZ_CHECK((result == CATALOG_READ_OK) == problem.empty());
    if (result != CATALOG_READ_OK) {
        FUZZ_CHECK(contents.members.empty() && !contents.signatureIntact);
        return 0;
    }
    FUZZ_CHECK(contents.signatureIntact == contents.signatureProblem.empty());
    FUZZ_CHECK(contents.signingTime.empty() == contents.signingTimeSource.empty());
    FUZZ_CHECK(contents.signingTime.empty() || contents.signingTime.size() >= 20);
    for (const CatalogMember& member : contents.members) {
        // Every text is bounded by the input it came from.
        FUZZ_CHECK(member.digest.size() <= size && member.file.size() <= size &&
                   member.osAttr.size() <= size);
    }
    CheckTrust(der, size);
    return 0;
}
