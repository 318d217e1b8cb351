// The trust judge of the Linux build, on OpenSSL's libcrypto: X509_STORE and
// X509_verify_cert (at a set time) for the chains, the TS verifier for RFC 3161
// tokens, and the PKCS#7 signer info for the older countersignature.
//
// The two anchor sets are never merged: the shipped Microsoft roots decide
// "Microsoft signing authority", the CA bundle decides whether a vendor chain
// ends at a root trusted for code signing. No store here loads OpenSSL's
// default certificate paths, so nothing outside the named files is trusted.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "CatalogTrust.h"
#include "CheckText.h"
#include "OpenSslParts.h"

namespace {

namespace fs = std::filesystem;

const char kLifetimeSigning[] = "1.3.6.1.4.1.311.10.3.13";
const char kTimeStamping[] = "1.3.6.1.5.5.7.3.8";
const char kMicrosoftTimeStamping[] = "1.3.6.1.4.1.311.10.3.2";
const char kCodeVerificationRoot[] =
    "/C=US/ST=Washington/L=Redmond/O=Microsoft Corporation/CN=Microsoft Code Verification Root";
const char kCodeVerificationKeyId[] = "62fb0a215b7f436e11da0954506bf5d29671f19e";
// No certificate file of a trust folder or bundle is anywhere near this size.
const uintmax_t kCertificateFileLimit = uintmax_t{16} * 1024 * 1024;

struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, CertificateFree>;
struct StackFree {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using Certificates = std::unique_ptr<STACK_OF(X509), StackFree>;

Certificates NewStack()
{
    return Certificates(sk_X509_new_null());
}

// Certificates with the files they came from.
struct NamedCertificates {
    Certificates certificates = NewStack();
    std::vector<std::string> files;
};

// Every certificate of a PEM file (one or a bundle), else the one DER
// certificate the file holds. Only regular files of sane size are opened.
bool LoadCertificates(const std::string& path, STACK_OF(X509) * into)
{
    std::error_code error;
    if (path.empty() || !fs::is_regular_file(path, error) ||
        fs::file_size(path, error) > kCertificateFileLimit) {
        return false;
    }
    BIO* bio = BIO_new_file(path.c_str(), "rb");
    if (bio == nullptr) {
        return false;
    }
    int before = sk_X509_num(into);
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        sk_X509_push(into, certificate);
    }
    if (sk_X509_num(into) == before && BIO_seek(bio, 0) == 0) {
        if (X509* certificate = d2i_X509_bio(bio, nullptr)) {
            sk_X509_push(into, certificate);
        }
    }
    BIO_free(bio);
    ERR_clear_error();
    return sk_X509_num(into) > before;
}

NamedCertificates LoadFolder(const std::string& folder)
{
    NamedCertificates named;
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".pem") {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        Certificates one = NewStack();
        LoadCertificates(file.string(), one.get());
        while (sk_X509_num(one.get()) > 0) {
            sk_X509_push(named.certificates.get(), sk_X509_shift(one.get()));
            named.files.push_back(file.filename().string());
        }
    }
    return named;
}

std::string Subject(X509* certificate)
{
    return NameText(X509_get_subject_name(certificate));
}

std::string IssuerOf(X509* certificate)
{
    return NameText(X509_get_issuer_name(certificate));
}

std::string KeyIdText(const ASN1_OCTET_STRING* id)
{
    return id != nullptr ? HexText(Bytes(id)) : std::string();
}

std::string AuthorityKeyId(X509* certificate)
{
    return KeyIdText(X509_get0_authority_key_id(certificate));
}

std::string Sha1(X509* certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    return X509_digest(certificate, EVP_sha1(), digest, &size) == 1
               ? HexText(std::string(reinterpret_cast<char*>(digest), size))
               : std::string();
}

// The EKU OIDs; `present` tells whether the certificate has the extension at all.
std::vector<std::string> Ekus(X509* certificate, bool* present)
{
    std::vector<std::string> oids;
    int critical = 0;
    auto* usage = static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(certificate, NID_ext_key_usage, &critical, nullptr));
    *present = usage != nullptr;
    for (int i = 0; usage != nullptr && i < sk_ASN1_OBJECT_num(usage); ++i) {
        oids.push_back(ObjectText(sk_ASN1_OBJECT_value(usage, i)));
    }
    EXTENDED_KEY_USAGE_free(usage);
    ERR_clear_error();
    return oids;
}

// A store of exactly these anchors, checking at `at`.
X509_STORE* StoreOf(STACK_OF(X509) * anchors, time_t at)
{
    X509_STORE* store = X509_STORE_new();
    for (int i = 0; store != nullptr && i < sk_X509_num(anchors); ++i) {
        X509_STORE_add_cert(store, sk_X509_value(anchors, i));
    }
    if (store != nullptr) {
        X509_VERIFY_PARAM_set_time(X509_STORE_get0_param(store), at);
    }
    return store;
}

struct Chain {
    bool ok = false;
    int error = X509_V_ERR_UNSPECIFIED;
    Certificates certificates = NewStack();  // from the leaf up, as far as it was built
};

Chain Verify(X509* leaf, STACK_OF(X509) * untrusted, STACK_OF(X509) * anchors, time_t at)
{
    Chain chain;
    X509_STORE* store = StoreOf(anchors, at);
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    if (store != nullptr && context != nullptr && X509_STORE_CTX_init(context, store, leaf, untrusted) == 1) {
        chain.ok = X509_verify_cert(context) == 1;
        chain.error = X509_STORE_CTX_get_error(context);
        STACK_OF(X509)* built = X509_STORE_CTX_get1_chain(context);
        if (built != nullptr) {
            chain.certificates.reset(built);
        }
    }
    X509_STORE_CTX_free(context);
    X509_STORE_free(store);
    ERR_clear_error();
    return chain;
}

std::vector<std::string> Subjects(const Chain& chain)
{
    int count = sk_X509_num(chain.certificates.get());
    std::vector<std::string> subjects;
    subjects.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; i < count; ++i) {
        subjects.push_back(Subject(sk_X509_value(chain.certificates.get(), i)));
    }
    return subjects;
}

// The anchor file the chain ends at, when it ends at one of `anchors`.
std::string AnchorFile(const Chain& chain, const NamedCertificates& anchors)
{
    int count = sk_X509_num(chain.certificates.get());
    X509* top = count > 0 ? sk_X509_value(chain.certificates.get(), count - 1) : nullptr;
    for (int i = 0; top != nullptr && i < sk_X509_num(anchors.certificates.get()); ++i) {
        if (X509_cmp(top, sk_X509_value(anchors.certificates.get(), i)) == 0) {
            return anchors.files[static_cast<size_t>(i)];
        }
    }
    return std::string();
}

// The chain reached no anchor of the store: a missing issuer or a self-signed
// certificate the store does not hold.
bool NoAnchor(int error)
{
    return error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
           error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
           error == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT || error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN;
}

// The two anchor sets, never merged: the Microsoft roots and the CA bundle.
struct Anchors {
    NamedCertificates microsoft;
    Certificates bundle = NewStack();
    std::string bundleName;     // "the CA bundle <path>", or that none could be read
    bool systemBundle = false;  // the system's bundle, not one named with --ca-bundle
};

ChainFailure FailureOf(int error)
{
    switch (error) {
    case X509_V_OK:
        return ChainFailure::None;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return ChainFailure::SelfSigned;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        return ChainFailure::NoIssuer;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return ChainFailure::Expired;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        return ChainFailure::BadSignature;
    default:
        return ChainFailure::Other;
    }
}

// Why a chain failed, for people.
std::string ChainProblem(const Chain& chain, const std::string& at, CheckedAt source, const Anchors& anchors)
{
    int count = sk_X509_num(chain.certificates.get());
    X509* top = count > 0 ? sk_X509_value(chain.certificates.get(), count - 1) : nullptr;
    // Debian's bundle is Mozilla's list for TLS, not Windows' list of code-signing roots.
    std::string tlsBundle =
        anchors.systemBundle
            ? "; that bundle is built for TLS, not from Windows' list of code-signing roots: if "
              "Windows trusts the root for code signing, name a bundle that holds it with "
              "--ca-bundle"
            : "";
    switch (FailureOf(chain.error)) {
    case ChainFailure::SelfSigned:
        return "self-signed: the chain ends at the self-signed " +
               (top ? Quote(CommonName(top)) : "certificate") + ", which neither the Microsoft roots nor " +
               anchors.bundleName + " holds" + tlsBundle;
    case ChainFailure::Expired:
        return (source == CheckedAt::TimeStamp
                    ? "expired at signing time: a certificate of the chain was not valid at "
                    : "expired: without a valid time stamp the chain is checked at the "
                      "current time, and a certificate of it is not valid at ") +
               at;
    case ChainFailure::NoIssuer:
        return "no trusted root: the chain ends at " +
               (top ? Quote(CommonName(top)) : std::string("the signer")) +
               ", whose issuer neither the Microsoft roots nor " + anchors.bundleName + " holds" + tlsBundle;
    default:
        return std::string("the chain does not verify: ") + X509_verify_cert_error_string(chain.error);
    }
}

// Builds the chain of `certificate` to the Microsoft roots, else to the bundle.
Chain VerifyEither(X509* certificate, STACK_OF(X509) * untrusted, const Anchors& anchors, time_t at,
                   Anchor* which)
{
    Chain first = Verify(certificate, untrusted, anchors.microsoft.certificates.get(), at);
    *which = Anchor::Microsoft;
    if (first.ok) {
        return first;
    }
    Chain second = Verify(certificate, untrusted, anchors.bundle.get(), at);
    // The chain that reached an anchor, else the longer one, tells the cause best.
    bool preferSecond = second.ok || (NoAnchor(first.error) && !NoAnchor(second.error)) ||
                        (NoAnchor(first.error) && NoAnchor(second.error) &&
                         sk_X509_num(second.certificates.get()) > sk_X509_num(first.certificates.get()));
    *which = preferSecond ? Anchor::Bundle : Anchor::Microsoft;
    return preferSecond ? std::move(second) : std::move(first);
}

std::string FirstError()
{
    unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : "it does not verify";
}

X509* SignerCertificate(STACK_OF(X509) * certificates, PKCS7_SIGNER_INFO* info)
{
    return certificates != nullptr && info != nullptr && info->issuer_and_serial != nullptr
               ? X509_find_by_issuer_and_serial(certificates, info->issuer_and_serial->issuer,
                                                info->issuer_and_serial->serial)
               : nullptr;
}

// The time-stamp authority's chain at the stamp's time, with its EKU.
void CheckAuthority(X509* authority, STACK_OF(X509) * untrusted, const Anchors& anchors, time_t at,
                    TimeStampCheck* check)
{
    Anchor which = Anchor::None;
    Chain chain = VerifyEither(authority, untrusted, anchors, at, &which);
    check->chain = Subjects(chain);
    bool present = false;
    std::vector<std::string> ekus = Ekus(authority, &present);
    if (!chain.ok) {
        check->problem =
            "its authority's chain: " + ChainProblem(chain, check->time, CheckedAt::TimeStamp, anchors);
    } else if (present && !Contains(ekus, kTimeStamping) && !Contains(ekus, kMicrosoftTimeStamping)) {
        check->problem = "its authority's certificate has no time-stamping EKU";
    } else {
        check->verified = true;
    }
}

// The digest of the catalog signer's signature value with `md` equals `expected`.
bool StampsTheSignature(PKCS7_SIGNER_INFO* signer, const EVP_MD* md, const std::string& expected)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    return md != nullptr &&
           EVP_Digest(ASN1_STRING_get0_data(signer->enc_digest),
                      static_cast<size_t>(ASN1_STRING_length(signer->enc_digest)), digest, &size, md,
                      nullptr) == 1 &&
           expected == std::string(reinterpret_cast<char*>(digest), size);
}

// An RFC 3161 token: its TSTInfo's time, its signature over the TSTInfo, its
// imprint (the hash of the catalog signer's signature value), and the
// authority's chain at that time.
void CheckToken(const unsigned char* at, long length, PKCS7_SIGNER_INFO* signer, const Anchors& anchors,
                TimeStampCheck* check, time_t* when)
{
    check->kind = TimeStampKind::Rfc3161;
    CMS_ContentInfo* token = nullptr;
    TS_TST_INFO* info = TokenInfo(at, length, &token);
    bool timed = info != nullptr && ToTime(TS_TST_INFO_get_time(info), when);
    check->time = timed ? TimeText(TS_TST_INFO_get_time(info)) : "";
    if (!timed) {
        check->problem = "the time-stamp token is not a signed TSTInfo";
    } else if (CMS_verify(token, nullptr, nullptr, nullptr, nullptr,
                          CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
        check->problem = "the time-stamp token's signature does not verify: " + FirstError();
    } else {
        TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info);
        bool imprintOk =
            StampsTheSignature(signer, EVP_get_digestbyobj(TS_MSG_IMPRINT_get_algo(imprint)->algorithm),
                               Bytes(TS_MSG_IMPRINT_get_msg(imprint)));
        STACK_OF(X509)* signers = CMS_get0_signers(token);
        Certificates certificates(CMS_get1_certs(token));
        if (!imprintOk) {
            check->problem = "the time stamp is not over the catalog's signature (its imprint differs)";
        } else if (sk_X509_num(signers) != 1) {
            check->problem = "the time-stamp token has not exactly one signer";
        } else {
            CheckAuthority(sk_X509_value(signers, 0), certificates.get(), anchors, *when, check);
        }
        sk_X509_free(signers);
    }
    TS_TST_INFO_free(info);
    CMS_ContentInfo_free(token);
    ERR_clear_error();
}

// The older countersignature: a signer info over the catalog signer's
// signature value, with its own signing time. Time-stamping services of its
// day signed the bare digest of its attributes, without a DigestInfo.
void CheckCountersignature(const unsigned char* at, long length, PKCS7_SIGNER_INFO* signer,
                           STACK_OF(X509) * certificates, const Anchors& anchors, TimeStampCheck* check,
                           time_t* when)
{
    check->kind = TimeStampKind::Countersignature;
    PKCS7_SIGNER_INFO* counter = d2i_PKCS7_SIGNER_INFO(nullptr, &at, length);
    ASN1_TYPE* time =
        counter != nullptr ? PKCS7_get_signed_attribute(counter, NID_pkcs9_signingTime) : nullptr;
    bool timed = time != nullptr && (time->type == V_ASN1_UTCTIME || time->type == V_ASN1_GENERALIZEDTIME) &&
                 ToTime(time->value.utctime, when);
    check->time = timed ? TimeText(time->value.utctime) : "";
    X509* authority = SignerCertificate(certificates, counter);
    const EVP_MD* md = counter != nullptr ? EVP_get_digestbyobj(counter->digest_alg->algorithm) : nullptr;
    ASN1_OCTET_STRING* signedDigest =
        counter != nullptr ? PKCS7_digest_from_attributes(counter->auth_attr) : nullptr;
    if (!timed) {
        check->problem = "the countersignature has no signing time";
    } else if (authority == nullptr) {
        check->problem = "the countersigner's certificate is not in the catalog";
    } else if (signedDigest == nullptr || !StampsTheSignature(signer, md, Bytes(signedDigest))) {
        check->problem = "the countersignature does not match the signature it stamps";
    } else if (!SignedAttributesVerify(counter, authority, md, SignatureForm::BareDigestToo)) {
        check->problem = "the countersignature does not verify with its signer's key";
    } else {
        CheckAuthority(authority, certificates, anchors, *when, check);
    }
    PKCS7_SIGNER_INFO_free(counter);
    ERR_clear_error();
}

// The first time stamp of the signer: an RFC 3161 token or a countersignature.
void CheckTimeStamp(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certificates, const Anchors& anchors,
                    TimeStampCheck* check, time_t* when)
{
    VisitTimeStamps(signer, [&](bool token, const unsigned char* at, long length) {
        if (token) {
            CheckToken(at, length, signer, anchors, check, when);
        } else {
            CheckCountersignature(at, length, signer, certificates, anchors, check, when);
        }
        return true;
    });
}

bool ValidAt(X509* certificate, time_t when)
{
    return X509_cmp_time(X509_get0_notBefore(certificate), &when) < 0 &&
           X509_cmp_time(X509_get0_notAfter(certificate), &when) > 0;
}

// `issuer` issued `certificate`: by name, key id and signature.
bool Issued(X509* issuer, X509* certificate)
{
    std::string keyId = AuthorityKeyId(certificate);
    bool issued = X509_NAME_cmp(X509_get_issuer_name(certificate), X509_get_subject_name(issuer)) == 0 &&
                  (keyId.empty() || keyId == KeyIdText(X509_get0_subject_key_id(issuer))) &&
                  X509_verify(certificate, X509_get0_pubkey(issuer)) == 1;
    ERR_clear_error();
    return issued;
}

// The CAs above the signer that the catalog's certificates (and the
// signer's verified chain) allow at `when`: every chain, not only the one
// the verifier built, so that a root cross-signed by an older root leads to
// that older root's cross-certificate.
std::vector<X509*> CasAbove(X509* leaf, const Chain& chain, STACK_OF(X509) * certificates, time_t when)
{
    std::vector<X509*> reached = {leaf};
    for (int i = 1; i < sk_X509_num(chain.certificates.get()); ++i) {
        reached.push_back(sk_X509_value(chain.certificates.get(), i));
    }
    for (size_t next = 0; next < reached.size(); ++next) {
        for (int i = 0; i < sk_X509_num(certificates); ++i) {
            X509* candidate = sk_X509_value(certificates, i);
            bool known = std::find_if(reached.begin(), reached.end(), [candidate](X509* seen) {
                             return X509_cmp(seen, candidate) == 0;
                         }) != reached.end();
            if (!known && X509_check_ca(candidate) != 0 && ValidAt(candidate, when) &&
                Issued(candidate, reached[next])) {
                reached.push_back(candidate);
            }
        }
    }
    return reached;
}

// A Microsoft cross-certificate among the catalog's certificates: known by its
// SHA-1, the issuer (by name and key id) of a CA that the catalog's
// certificates lead to from the signer, and the time stamp inside both its
// and the signer's validity. Its own signature cannot be checked (its root
// is not shipped), nor, with it, the signature of the CA below it.
void CheckCrossCertificate(STACK_OF(X509) * certificates, const Chain& chain, X509* leaf,
                           const NamedCertificates& known, time_t when, bool stamped, CatalogTrust* trust)
{
    for (int i = 0; i < sk_X509_num(certificates); ++i) {
        X509* cross = sk_X509_value(certificates, i);
        if (IssuerOf(cross) != kCodeVerificationRoot || AuthorityKeyId(cross) != kCodeVerificationKeyId) {
            continue;
        }
        std::string file;
        for (int k = 0; k < sk_X509_num(known.certificates.get()); ++k) {
            if (X509_cmp(cross, sk_X509_value(known.certificates.get(), k)) == 0) {
                file = known.files[static_cast<size_t>(k)];
            }
        }
        if (file.empty()) {
            trust->crossProblem = "a certificate issued by Microsoft Code Verification Root (SHA-1 " +
                                  Sha1(cross) + ") is none of Microsoft's cross-certificates";
            return;
        }
        bool above = false;
        std::string crossKeyId = KeyIdText(X509_get0_subject_key_id(cross));
        for (X509* below : CasAbove(leaf, chain, certificates, when)) {
            above = above || (X509_NAME_cmp(X509_get_issuer_name(below), X509_get_subject_name(cross)) == 0 &&
                              AuthorityKeyId(below) == crossKeyId && below != cross);
        }
        bool inTime = stamped && ValidAt(leaf, when) && ValidAt(cross, when);
        if (!above) {
            trust->crossProblem =
                "the cross-certificate " + file + " is not above a CA that the signer's certificates lead to";
        } else if (!inTime) {
            trust->crossProblem = "the cross-certificate " + file +
                                  " counts only with a valid time stamp inside its and the signer's validity";
        } else {
            trust->crossCertificate = file;
        }
        return;
    }
}

void CheckTrustedPublisher(const std::string& path, X509* leaf, CatalogTrust* trust)
{
    Certificates publisher = NewStack();
    if (path.empty() || !LoadCertificates(path, publisher.get())) {
        return;
    }
    X509* certificate = sk_X509_value(publisher.get(), 0);
    if (X509_check_ca(certificate) != 0) {
        trust->trustedPublisherNote =
            "the trusted publisher's certificate is a CA certificate: TrustedPublisher trusts only "
            "end-entity "
            "certificates";
        return;
    }
    trust->trustedPublisher = X509_cmp(certificate, leaf) == 0;
    if (!trust->trustedPublisher) {
        trust->trustedPublisherNote =
            "the trusted publisher " + Quote(CommonName(certificate)) + " is not the catalog's signer";
    }
}

std::string RootsFolder(const TrustOptions& options)
{
    return options.trustDir + "/" + kTrustRootsFolder;
}

}  // namespace

int CheckTrustOptions(const TrustOptions& options, std::string* error)
{
    if (sk_X509_num(LoadFolder(RootsFolder(options)).certificates.get()) == 0) {
        *error = "no root certificate in " + RootsFolder(options) + " (--trust-dir)";
        return 1;
    }
    Certificates bundle = NewStack();
    // A bundle named with --ca-bundle must hold certificates; the system's
    // may be missing (no package of CAs installed): vendor chains then have
    // no anchor, and the report says so.
    if (!LoadCertificates(options.caBundle, bundle.get()) && options.caBundleGiven) {
        *error = "no certificate in the CA bundle " + options.caBundle + " (--ca-bundle)";
        return 1;
    }
    Certificates publisher = NewStack();
    if (!options.trustedPublisher.empty() && !LoadCertificates(options.trustedPublisher, publisher.get())) {
        *error = options.trustedPublisher + " is not a DER or PEM certificate (--trusted-publisher)";
        return 1;
    }
    return 0;
}

void JudgeCatalogTrust(const std::string& der, const TrustOptions& options, CatalogTrust* trust)
{
    *trust = CatalogTrust();
    trust->judged = true;
    Anchors anchors;
    bool bundleRead = LoadCertificates(options.caBundle, anchors.bundle.get());
    trust->caBundle = bundleRead ? options.caBundle : "";
    anchors.bundleName = bundleRead ? "the CA bundle " + options.caBundle
                                    : "a CA bundle (" + options.caBundle + " cannot be read)";
    anchors.systemBundle = bundleRead && !options.caBundleGiven;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    Pkcs7 p7(d2i_PKCS7(nullptr, &at, static_cast<long>(der.size())));
    STACK_OF(PKCS7_SIGNER_INFO)* infos =
        p7 && PKCS7_type_is_signed(p7.get()) ? PKCS7_get_signer_info(p7.get()) : nullptr;
    PKCS7_SIGNER_INFO* signer =
        sk_PKCS7_SIGNER_INFO_num(infos) > 0 ? sk_PKCS7_SIGNER_INFO_value(infos, 0) : nullptr;
    STACK_OF(X509)* certificates = signer != nullptr ? p7->d.sign->cert : nullptr;
    X509* leaf = SignerCertificate(certificates, signer);
    ERR_clear_error();
    if (leaf == nullptr) {
        trust->kind = TRUST_BROKEN;
        trust->why = "the signer's certificate is not in the catalog";
        return;
    }
    anchors.microsoft = LoadFolder(RootsFolder(options));
    NamedCertificates crossCertificates = LoadFolder(options.trustDir + "/" + kTrustCrossCertificatesFolder);

    time_t stampTime = 0;
    CheckTimeStamp(signer, certificates, anchors, &trust->timeStamp, &stampTime);
    trust->signerEkus = Ekus(leaf, &trust->signerEkuPresent);
    ToTime(X509_get0_notBefore(leaf), &trust->signerNotBefore);
    // Lifetime Signing: the signature expires with the certificate, time stamp or not.
    bool stamped = trust->timeStamp.verified && !Contains(trust->signerEkus, kLifetimeSigning);
    time_t when = stamped ? stampTime : options.now;
    trust->checkedAt = IsoTime(when);
    trust->checkedAtSource = stamped ? CheckedAt::TimeStamp : CheckedAt::CurrentTime;

    Anchor which = Anchor::None;
    Chain chain = VerifyEither(leaf, certificates, anchors, when, &which);
    trust->chain = Subjects(chain);
    CheckCrossCertificate(certificates, chain, leaf, crossCertificates,
                          trust->timeStamp.verified ? stampTime : when, trust->timeStamp.verified, trust);
    int count = sk_X509_num(chain.certificates.get());
    trust->rootThumbprint = count > 0 ? Sha1(sk_X509_value(chain.certificates.get(), count - 1)) : "";
    if (!chain.ok) {
        trust->failure = FailureOf(chain.error);
        trust->failure = trust->failure == ChainFailure::None ? ChainFailure::Other : trust->failure;
        trust->why = ChainProblem(chain, trust->checkedAt, trust->checkedAtSource, anchors);
    } else {
        trust->anchor = which;
        trust->microsoftRoot = which == Anchor::Microsoft ? AnchorFile(chain, anchors.microsoft) : "";
        CheckTrustedPublisher(options.trustedPublisher, leaf, trust);
    }
    ClassifyTrust(trust);
}
