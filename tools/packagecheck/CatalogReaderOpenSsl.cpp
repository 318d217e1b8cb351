// The catalog reader of the Linux build, on OpenSSL's libcrypto.
//
// A catalog is a DER PKCS#7 SignedData whose content is a certificate trust
// list. libcrypto decodes the outer structure (d2i_PKCS7); the trust list's
// own content type is unknown to it, so its nested SEQUENCEs and SETs are
// decoded with its generic DER decoders (d2i_ASN1_SEQUENCE_ANY/SET_ANY) and
// walked here. PKCS7_verify cannot check a catalog: the signed message digest
// covers the trust list's DER value without its outer tag and length, so the
// digest and the signature over the signed attributes are checked one by one.
#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "CatalogReader.h"
#include "OpenSslParts.h"

namespace {

const char kTrustListType[] = "1.3.6.1.4.1.311.10.1";
const char kNameValueAttribute[] = "1.3.6.1.4.1.311.12.2.1";
const char kIndirectDataAttribute[] = "1.3.6.1.4.1.311.2.1.4";
const char kPeImageData[] = "1.3.6.1.4.1.311.2.1.15";
const char kTimeStampToken[] = "1.3.6.1.4.1.311.3.3.1";

struct TypeStackFree {
    void operator()(STACK_OF(ASN1_TYPE) * stack) const { sk_ASN1_TYPE_pop_free(stack, ASN1_TYPE_free); }
};
using TypeStack = std::unique_ptr<STACK_OF(ASN1_TYPE), TypeStackFree>;

}  // namespace

void VisitTimeStamps(PKCS7_SIGNER_INFO* signer,
                     const std::function<bool(bool token, const unsigned char* at, long length)>& visit)
{
    STACK_OF(X509_ATTRIBUTE)* attributes = PKCS7_get_attributes(signer);
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
        if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
            continue;
        }
        const unsigned char* at = ASN1_STRING_get0_data(value->value.sequence);
        long length = ASN1_STRING_length(value->value.sequence);
        const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
        bool token = ObjectText(type) == kTimeStampToken;
        if ((token || OBJ_obj2nid(type) == NID_pkcs9_countersignature) && visit(token, at, length)) {
            return;
        }
    }
}

std::string ObjectText(const ASN1_OBJECT* object)
{
    char text[128];
    int length = OBJ_obj2txt(text, sizeof text, object, 1);
    return length > 0 && static_cast<size_t>(length) < sizeof text ? std::string(text) : std::string();
}

namespace {

std::string AlgorithmName(const ASN1_OBJECT* object)
{
    int nid = OBJ_obj2nid(object);
    const char* name = nid == NID_undef ? nullptr : OBJ_nid2sn(nid);
    std::string text = name != nullptr ? name : ObjectText(object);
    for (char& c : text) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return text;
}

// The elements of a SEQUENCE or SET held in `value`; empty when it is neither.
TypeStack Elements(const ASN1_TYPE* value)
{
    if (value == nullptr || (value->type != V_ASN1_SEQUENCE && value->type != V_ASN1_SET)) {
        return TypeStack();
    }
    const ASN1_STRING* encoding = value->value.sequence;
    const unsigned char* at = ASN1_STRING_get0_data(encoding);
    long length = ASN1_STRING_length(encoding);
    return TypeStack(value->type == V_ASN1_SEQUENCE ? d2i_ASN1_SEQUENCE_ANY(nullptr, &at, length)
                                                    : d2i_ASN1_SET_ANY(nullptr, &at, length));
}

int Count(const TypeStack& stack)
{
    return stack ? sk_ASN1_TYPE_num(stack.get()) : 0;
}

const ASN1_TYPE* At(const TypeStack& stack, int index)
{
    return index < Count(stack) ? sk_ASN1_TYPE_value(stack.get(), index) : nullptr;
}

const ASN1_TYPE* OfType(const ASN1_TYPE* value, int type)
{
    return value != nullptr && value->type == type ? value : nullptr;
}

}  // namespace

std::string NameText(const X509_NAME* name)
{
    char* line = X509_NAME_oneline(name, nullptr, 0);
    std::string text = line != nullptr ? line : "";
    OPENSSL_free(line);
    return text;
}

std::string CommonName(X509* certificate)
{
    X509_NAME* subject = X509_get_subject_name(certificate);
    int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    X509_NAME_ENTRY* entry = at >= 0 ? X509_NAME_get_entry(subject, at) : nullptr;
    unsigned char* name = nullptr;
    int length = entry != nullptr ? ASN1_STRING_to_UTF8(&name, X509_NAME_ENTRY_get_data(entry)) : -1;
    std::string text = length >= 0 ? std::string(reinterpret_cast<char*>(name), static_cast<size_t>(length))
                                   : NameText(subject);
    OPENSSL_free(name);
    return text;
}

std::string Bytes(const ASN1_STRING* text)
{
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                       static_cast<size_t>(ASN1_STRING_length(text)));
}

namespace {

// UTF-16LE text up to its first NUL, as 8-bit text (characters above 0xFF
// become '?': file names and OS lists are ASCII).
std::string FromUtf16(const std::string& bytes)
{
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned code = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (code == 0) {
            break;
        }
        text += code <= 0xFF ? static_cast<char>(code) : '?';
    }
    return text;
}

// A name-value attribute: SEQUENCE { BMPString name, INTEGER flags, OCTET STRING value }.
void ReadNameValue(const ASN1_TYPE* value, CatalogMember* member)
{
    TypeStack parts = Elements(value);
    const ASN1_TYPE* name = OfType(At(parts, 0), V_ASN1_BMPSTRING);
    const ASN1_TYPE* text = OfType(At(parts, 2), V_ASN1_OCTET_STRING);
    if (name == nullptr || text == nullptr) {
        return;
    }
    // The name is big-endian UTF-16 (BMPString): swap into little-endian.
    std::string big = Bytes(name->value.bmpstring);
    std::string little = big;
    for (size_t i = 0; i + 1 < little.size(); i += 2) {
        little[i] = big[i + 1];
        little[i + 1] = big[i];
    }
    std::string key = FromUtf16(little);
    if (key == "File") {
        member->file = FromUtf16(Bytes(text->value.octet_string));
    } else if (key == "OSAttr") {
        member->osAttr = FromUtf16(Bytes(text->value.octet_string));
    }
}

// The member's hash: SEQUENCE { SEQUENCE { OID type, ANY }, SEQUENCE {
// SEQUENCE { OID algorithm, ... }, OCTET STRING digest } }.
void ReadIndirectData(const ASN1_TYPE* value, CatalogMember* member)
{
    TypeStack parts = Elements(value);
    TypeStack data = Elements(OfType(At(parts, 0), V_ASN1_SEQUENCE));
    TypeStack digestInfo = Elements(OfType(At(parts, 1), V_ASN1_SEQUENCE));
    TypeStack algorithm = Elements(OfType(At(digestInfo, 0), V_ASN1_SEQUENCE));
    const ASN1_TYPE* type = OfType(At(data, 0), V_ASN1_OBJECT);
    const ASN1_TYPE* algorithmId = OfType(At(algorithm, 0), V_ASN1_OBJECT);
    const ASN1_TYPE* digest = OfType(At(digestInfo, 1), V_ASN1_OCTET_STRING);
    if (type == nullptr || algorithmId == nullptr || digest == nullptr) {
        return;
    }
    member->peImage = ObjectText(type->value.object) == kPeImageData;
    member->algorithm = AlgorithmName(algorithmId->value.object);
    member->digest = Bytes(digest->value.octet_string);
}

// One trusted subject: SEQUENCE { OCTET STRING tag, SET OF attribute }, each
// attribute SEQUENCE { OID type, SET OF value }.
bool ReadMember(const ASN1_TYPE* subject, CatalogMember* member)
{
    TypeStack parts = Elements(OfType(subject, V_ASN1_SEQUENCE));
    if (OfType(At(parts, 0), V_ASN1_OCTET_STRING) == nullptr) {
        return false;
    }
    TypeStack attributes = Elements(OfType(At(parts, 1), V_ASN1_SET));
    for (int i = 0; i < Count(attributes); ++i) {
        TypeStack attribute = Elements(OfType(At(attributes, i), V_ASN1_SEQUENCE));
        const ASN1_TYPE* type = OfType(At(attribute, 0), V_ASN1_OBJECT);
        TypeStack values = Elements(OfType(At(attribute, 1), V_ASN1_SET));
        if (type == nullptr || Count(values) == 0) {
            continue;
        }
        std::string oid = ObjectText(type->value.object);
        if (oid == kNameValueAttribute) {
            ReadNameValue(At(values, 0), member);
        } else if (oid == kIndirectDataAttribute) {
            ReadIndirectData(At(values, 0), member);
        }
    }
    return true;
}

// The trust list: SEQUENCE { [version], SEQUENCE usage, [OCTET STRING id],
// [INTEGER number], time, [time], SEQUENCE algorithm, [SEQUENCE OF subject],
// [[0] extensions] }: the subjects are its third SEQUENCE.
int ReadTrustList(const ASN1_TYPE* list, CatalogContents* contents, std::string* problem)
{
    TypeStack fields = Elements(OfType(list, V_ASN1_SEQUENCE));
    int sequences = 0;
    for (int i = 0; i < Count(fields); ++i) {
        const ASN1_TYPE* field = OfType(At(fields, i), V_ASN1_SEQUENCE);
        if (field == nullptr || ++sequences != 3) {
            continue;
        }
        // All members or none: a list that breaks off part way is no list.
        TypeStack subjects = Elements(field);
        std::vector<CatalogMember> members;
        for (int k = 0; k < Count(subjects); ++k) {
            CatalogMember member;
            if (!ReadMember(At(subjects, k), &member)) {
                *problem = "member " + std::to_string(k + 1) + " of the trust list is not a trusted subject";
                return CATALOG_BAD_TRUST_LIST;
            }
            members.push_back(member);
        }
        contents->members = members;
        return CATALOG_READ_OK;
    }
    if (sequences < 2) {
        *problem = "the trust list has no usage and subject algorithm";
        return CATALOG_BAD_TRUST_LIST;
    }
    return CATALOG_READ_OK;  // a list without members
}

}  // namespace

// Tokens are CMS SignedData (version 3, with certificate choices PKCS7 does
// not parse), so they are read with the CMS decoder.
TS_TST_INFO* TokenInfo(const unsigned char* at, long length, CMS_ContentInfo** token)
{
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &at, length);
    ASN1_OCTET_STRING** content = cms != nullptr ? CMS_get0_content(cms) : nullptr;
    TS_TST_INFO* info = nullptr;
    if (content != nullptr && *content != nullptr &&
        OBJ_obj2nid(CMS_get0_eContentType(cms)) == NID_id_smime_ct_TSTInfo) {
        const unsigned char* value = ASN1_STRING_get0_data(*content);
        info = d2i_TS_TST_INFO(nullptr, &value, ASN1_STRING_length(*content));
    }
    if (token != nullptr && info != nullptr) {
        *token = cms;
    } else {
        CMS_ContentInfo_free(cms);
    }
    ERR_clear_error();
    return info;
}

bool ToTime(const ASN1_TIME* time, time_t* when)
{
    struct tm parts {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) {
        return false;
    }
    *when = timegm(&parts);
    return true;
}

std::string IsoTime(time_t when)
{
    struct tm parts {};
    char text[32];
    if (gmtime_r(&when, &parts) == nullptr ||
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        return std::string();
    }
    return text;
}

std::string TimeText(const ASN1_TIME* time)
{
    time_t when = 0;
    return ToTime(time, &when) ? IsoTime(when) : std::string();
}

namespace {

std::string SigningTimeOf(PKCS7_SIGNER_INFO* info)
{
    ASN1_TYPE* time = PKCS7_get_signed_attribute(info, NID_pkcs9_signingTime);
    if (time == nullptr || (time->type != V_ASN1_UTCTIME && time->type != V_ASN1_GENERALIZEDTIME)) {
        return std::string();
    }
    return TimeText(time->value.utctime);
}

// The time the signature was made: an RFC 3161 time stamp token, a
// countersignature's signing time, else the signer's own signing time.
void ReadSigningTime(PKCS7_SIGNER_INFO* info, CatalogContents* contents)
{
    bool stamped = false;
    VisitTimeStamps(info, [contents, &stamped](bool token, const unsigned char* at, long length) {
        std::string text;
        if (token) {
            TS_TST_INFO* stamp = TokenInfo(at, length);
            text = stamp != nullptr ? TimeText(TS_TST_INFO_get_time(stamp)) : std::string();
            TS_TST_INFO_free(stamp);
        } else {
            PKCS7_SIGNER_INFO* counter = d2i_PKCS7_SIGNER_INFO(nullptr, &at, length);
            text = counter != nullptr ? SigningTimeOf(counter) : std::string();
            PKCS7_SIGNER_INFO_free(counter);
        }
        if (text.empty()) {
            return false;
        }
        contents->signingTime = text;
        contents->signingTimeSource = token ? "time stamp" : "countersignature";
        stamped = true;
        return true;
    });
    if (stamped) {
        return;
    }
    contents->signingTime = SigningTimeOf(info);
    contents->signingTimeSource = contents->signingTime.empty() ? "" : "signing time";
}

void ReadSigner(X509* certificate, CatalogContents* contents)
{
    contents->signerSubject = NameText(X509_get_subject_name(certificate));
    contents->signer = CommonName(certificate);
}

bool Digest(const EVP_MD* md, const unsigned char* data, size_t length, std::string* digest)
{
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (md == nullptr || EVP_Digest(data, length, value, &size, md, nullptr) != 1) {
        return false;
    }
    digest->assign(reinterpret_cast<const char*>(value), size);
    return true;
}

}  // namespace

namespace {

// A PKCS#1 v1.5 RSA signature whose padded block holds the bare digest of
// `data`, with no DigestInfo around it.
bool BareDigestVerifies(const unsigned char* data, size_t length, const ASN1_OCTET_STRING* signature,
                        X509* certificate, const EVP_MD* md)
{
    std::string digest;
    EVP_PKEY* key = X509_get0_pubkey(certificate);
    EVP_PKEY_CTX* context =
        key != nullptr && EVP_PKEY_base_id(key) == EVP_PKEY_RSA ? EVP_PKEY_CTX_new(key, nullptr) : nullptr;
    bool verified =
        context != nullptr && Digest(md, data, length, &digest) && EVP_PKEY_verify_init(context) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_verify(context, ASN1_STRING_get0_data(signature),
                        static_cast<size_t>(ASN1_STRING_length(signature)),
                        reinterpret_cast<const unsigned char*>(digest.data()), digest.size()) == 1;
    EVP_PKEY_CTX_free(context);
    return verified;
}

}  // namespace

bool SignedAttributesVerify(PKCS7_SIGNER_INFO* info, X509* certificate, const EVP_MD* md, SignatureForm form)
{
    unsigned char* attributes = nullptr;
    int attributesLength = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(info->auth_attr), &attributes,
                                         ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    size_t length = attributesLength > 0 ? static_cast<size_t>(attributesLength) : 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool verified =
        length > 0 && context != nullptr && md != nullptr &&
        EVP_DigestVerifyInit(context, nullptr, md, nullptr, X509_get0_pubkey(certificate)) == 1 &&
        EVP_DigestVerify(context, ASN1_STRING_get0_data(info->enc_digest),
                         static_cast<size_t>(ASN1_STRING_length(info->enc_digest)), attributes, length) == 1;
    EVP_MD_CTX_free(context);
    ERR_clear_error();
    verified = verified || (form == SignatureForm::BareDigestToo && length > 0 && md != nullptr &&
                            BareDigestVerifies(attributes, length, info->enc_digest, certificate, md));
    OPENSSL_free(attributes);
    ERR_clear_error();
    return verified;
}

namespace {

// The signature's integrity: the message digest attribute against the
// digest of the content's DER value, then the signer's signature over the
// signed attributes (DER as a SET) with the signer certificate's key.
void CheckSignature(PKCS7* p7, const unsigned char* content, size_t contentLength, CatalogContents* contents)
{
    STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7);
    if (sk_PKCS7_SIGNER_INFO_num(infos) < 1) {
        contents->signatureProblem = "the catalog has no signer";
        contents->signatureFailure = SignatureFailure::NoSigner;
        return;
    }
    PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(infos, 0);
    ReadSigningTime(info, contents);
    X509* certificate = X509_find_by_issuer_and_serial(p7->d.sign->cert, info->issuer_and_serial->issuer,
                                                       info->issuer_and_serial->serial);
    if (certificate == nullptr) {
        contents->signatureProblem = "the signer's certificate is not in the catalog";
        contents->signatureFailure = SignatureFailure::NoCertificate;
        return;
    }
    ReadSigner(certificate, contents);
    const EVP_MD* md = EVP_get_digestbyobj(info->digest_alg->algorithm);
    contents->signatureDigest = AlgorithmName(info->digest_alg->algorithm);
    std::string computed;
    if (!Digest(md, content, contentLength, &computed)) {
        contents->signatureProblem = "unknown digest algorithm " + contents->signatureDigest;
        contents->signatureFailure = SignatureFailure::UnknownDigest;
        return;
    }
    ASN1_OCTET_STRING* signedDigest = PKCS7_digest_from_attributes(info->auth_attr);
    if (signedDigest == nullptr) {
        contents->signatureProblem = "the signer has no message digest attribute";
        contents->signatureFailure = SignatureFailure::NoDigest;
        return;
    }
    if (Bytes(signedDigest) != computed) {
        contents->signatureProblem =
            "the trust list does not match its signed digest (changed after signing)";
        contents->signatureFailure = SignatureFailure::ContentChanged;
        return;
    }
    if (!SignedAttributesVerify(info, certificate, md)) {
        contents->signatureProblem =
            "the signature over the signed attributes does not verify with the signer's key";
        contents->signatureFailure = SignatureFailure::BadSignature;
        return;
    }
    contents->signatureIntact = true;
    contents->signatureFailure = SignatureFailure::None;
}

}  // namespace

int ReadCatalog(const std::string& der, CatalogContents* contents, std::string* problem)
{
    *contents = CatalogContents();
    problem->clear();
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    Pkcs7 p7(d2i_PKCS7(nullptr, &at, static_cast<long>(der.size())));
    if (!p7) {
        *problem = "it is not a DER PKCS#7 structure";
        return CATALOG_NOT_PKCS7;
    }
    if (!PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr || p7->d.sign->contents == nullptr) {
        *problem = "it is PKCS#7 but not signed data";
        return CATALOG_NOT_SIGNED_DATA;
    }
    PKCS7* inner = p7->d.sign->contents;
    std::string type = ObjectText(inner->type);
    if (type != kTrustListType) {
        *problem = "its signed content is of type " + type + ", not a certificate trust list";
        return CATALOG_NOT_TRUST_LIST;
    }
    const ASN1_TYPE* list = inner->d.other;
    if (list == nullptr || list->type != V_ASN1_SEQUENCE) {
        *problem = "its trust list is not a SEQUENCE";
        return CATALOG_BAD_TRUST_LIST;
    }
    // The signed digest covers the list's value, without its tag and length.
    const unsigned char* value = ASN1_STRING_get0_data(list->value.sequence);
    long length = ASN1_STRING_length(list->value.sequence);
    long valueLength = 0;
    int tag = 0;
    int tagClass = 0;
    const unsigned char* body = value;
    if ((ASN1_get_object(&body, &valueLength, &tag, &tagClass, length) & 0x80) != 0 ||
        valueLength > length - (body - value)) {
        *problem = "its trust list has a broken length";
        return CATALOG_BAD_TRUST_LIST;
    }
    int result = ReadTrustList(list, contents, problem);
    if (result != CATALOG_READ_OK) {
        return result;
    }
    CheckSignature(p7.get(), body, static_cast<size_t>(valueLength), contents);
    return CATALOG_READ_OK;
}

bool DigestRanges(const std::string& algorithm, const std::string& bytes,
                  const std::vector<ByteRange>& ranges, std::string* digest)
{
    const EVP_MD* md = EVP_get_digestbyname(algorithm.c_str());
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = md != nullptr && context != nullptr && EVP_DigestInit_ex(context, md, nullptr) == 1;
    for (const ByteRange& range : ranges) {
        ok = ok && range.offset <= bytes.size() && range.length <= bytes.size() - range.offset &&
             EVP_DigestUpdate(context, bytes.data() + range.offset, range.length) == 1;
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    ok = ok && EVP_DigestFinal_ex(context, value, &size) == 1;
    EVP_MD_CTX_free(context);
    if (ok) {
        digest->assign(reinterpret_cast<const char*>(value), size);
    }
    return ok;
}

void DigestChunks(const std::vector<std::string>& algorithms, const ChunkReader& read,
                  std::vector<std::string>* digests)
{
    std::vector<EVP_MD_CTX*> contexts;
    for (const std::string& algorithm : algorithms) {
        const EVP_MD* md = EVP_get_digestbyname(algorithm.c_str());
        EVP_MD_CTX* context = md != nullptr ? EVP_MD_CTX_new() : nullptr;
        if (context != nullptr && EVP_DigestInit_ex(context, md, nullptr) != 1) {
            EVP_MD_CTX_free(context);
            context = nullptr;
        }
        contexts.push_back(context);
    }
    std::vector<char> buffer(size_t{1} << 20);
    for (size_t got; (got = read(buffer.data(), buffer.size())) > 0;) {
        for (EVP_MD_CTX*& context : contexts) {
            if (context != nullptr && EVP_DigestUpdate(context, buffer.data(), got) != 1) {
                EVP_MD_CTX_free(context);
                context = nullptr;
            }
        }
    }
    digests->clear();
    for (EVP_MD_CTX* context : contexts) {
        unsigned char value[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        bool done = context != nullptr && EVP_DigestFinal_ex(context, value, &size) == 1;
        digests->push_back(done ? std::string(reinterpret_cast<const char*>(value), size) : std::string());
        EVP_MD_CTX_free(context);
    }
}
