// The catalog's ASN.1 templates (OpenSSL's template encoder writes DER, and
// sorts each SET OF as DER requires) and the conversions to and from the
// plain CatalogList.
#include "CatalogAsn1.h"

#include <openssl/asn1t.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

namespace {

// NAME-VALUE: an attribute's name, its flags and its value as UTF-16LE text.
struct CAT_NAMEVALUE {
    ASN1_BMPSTRING* name;
    ASN1_INTEGER* flags;
    ASN1_OCTET_STRING* value;
};
// CAT_MEMBERINFO: the subject interface package's GUID and its version.
struct CAT_MEMBERINFO {
    ASN1_BMPSTRING* subject;
    ASN1_INTEGER* version;
};
struct SPC_STRING {
    int type;
    union {
        ASN1_BMPSTRING* unicode;
        ASN1_IA5STRING* ascii;
    } value;
};
struct SPC_LINK {
    int type;
    union {
        ASN1_IA5STRING* url;
        SPC_STRING* file;
    } value;
};
struct SPC_PE_IMAGE_DATA {
    ASN1_BIT_STRING* flags;
    SPC_LINK* file;
};
struct SPC_ATTRIBUTE {
    ASN1_OBJECT* type;
    ASN1_TYPE* value;
};
struct DIGEST_INFO {
    X509_ALGOR* algorithm;
    ASN1_OCTET_STRING* digest;
};
struct SPC_INDIRECT_DATA {
    SPC_ATTRIBUTE* data;
    DIGEST_INFO* digest;
};
// A member's attribute: its type and a SET OF values.
struct CAT_ATTRIBUTE {
    ASN1_OBJECT* type;
    STACK_OF(ASN1_TYPE) * values;
};
DEFINE_STACK_OF(CAT_ATTRIBUTE)
struct CAT_MEMBER {
    ASN1_OCTET_STRING* tag;
    STACK_OF(CAT_ATTRIBUTE) * attributes;
};
DEFINE_STACK_OF(CAT_MEMBER)
// A catalog-level attribute: its type and the DER of its value.
struct CAT_EXTENSION {
    ASN1_OBJECT* type;
    ASN1_OCTET_STRING* value;
};
DEFINE_STACK_OF(CAT_EXTENSION)
struct CAT_TRUST_LIST {
    STACK_OF(ASN1_OBJECT) * usage;
    ASN1_OCTET_STRING* listId;
    ASN1_TIME* time;
    X509_ALGOR* algorithm;
    STACK_OF(CAT_MEMBER) * members;
    STACK_OF(CAT_EXTENSION) * extensions;
};

// clang-format off
// The templates' END macros are unknown to cppcheck, which reads no system header.
ASN1_SEQUENCE(CAT_NAMEVALUE) = {
    ASN1_SIMPLE(CAT_NAMEVALUE, name, ASN1_BMPSTRING),
    ASN1_SIMPLE(CAT_NAMEVALUE, flags, ASN1_INTEGER),
    ASN1_SIMPLE(CAT_NAMEVALUE, value, ASN1_OCTET_STRING),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(CAT_NAMEVALUE)

ASN1_SEQUENCE(CAT_MEMBERINFO) = {
    ASN1_SIMPLE(CAT_MEMBERINFO, subject, ASN1_BMPSTRING),
    ASN1_SIMPLE(CAT_MEMBERINFO, version, ASN1_INTEGER),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(CAT_MEMBERINFO)

ASN1_CHOICE(SPC_STRING) = {
    ASN1_IMP(SPC_STRING, value.unicode, ASN1_BMPSTRING, 0),
    ASN1_IMP(SPC_STRING, value.ascii, ASN1_IA5STRING, 1),
// cppcheck-suppress unknownMacro
} ASN1_CHOICE_END(SPC_STRING)

ASN1_CHOICE(SPC_LINK) = {
    ASN1_IMP(SPC_LINK, value.url, ASN1_IA5STRING, 0),
    ASN1_EXP(SPC_LINK, value.file, SPC_STRING, 2),
// cppcheck-suppress unknownMacro
} ASN1_CHOICE_END(SPC_LINK)

ASN1_SEQUENCE(SPC_PE_IMAGE_DATA) = {
    ASN1_SIMPLE(SPC_PE_IMAGE_DATA, flags, ASN1_BIT_STRING),
    ASN1_EXP_OPT(SPC_PE_IMAGE_DATA, file, SPC_LINK, 0),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(SPC_PE_IMAGE_DATA)

ASN1_SEQUENCE(SPC_ATTRIBUTE) = {
    ASN1_SIMPLE(SPC_ATTRIBUTE, type, ASN1_OBJECT),
    ASN1_OPT(SPC_ATTRIBUTE, value, ASN1_ANY),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(SPC_ATTRIBUTE)

ASN1_SEQUENCE(DIGEST_INFO) = {
    ASN1_SIMPLE(DIGEST_INFO, algorithm, X509_ALGOR),
    ASN1_SIMPLE(DIGEST_INFO, digest, ASN1_OCTET_STRING),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(DIGEST_INFO)

ASN1_SEQUENCE(SPC_INDIRECT_DATA) = {
    ASN1_SIMPLE(SPC_INDIRECT_DATA, data, SPC_ATTRIBUTE),
    ASN1_SIMPLE(SPC_INDIRECT_DATA, digest, DIGEST_INFO),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(SPC_INDIRECT_DATA)

ASN1_SEQUENCE(CAT_ATTRIBUTE) = {
    ASN1_SIMPLE(CAT_ATTRIBUTE, type, ASN1_OBJECT),
    ASN1_SET_OF(CAT_ATTRIBUTE, values, ASN1_ANY),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(CAT_ATTRIBUTE)

ASN1_SEQUENCE(CAT_MEMBER) = {
    ASN1_SIMPLE(CAT_MEMBER, tag, ASN1_OCTET_STRING),
    ASN1_SET_OF(CAT_MEMBER, attributes, CAT_ATTRIBUTE),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(CAT_MEMBER)

ASN1_SEQUENCE(CAT_EXTENSION) = {
    ASN1_SIMPLE(CAT_EXTENSION, type, ASN1_OBJECT),
    ASN1_SIMPLE(CAT_EXTENSION, value, ASN1_OCTET_STRING),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(CAT_EXTENSION)

ASN1_SEQUENCE(CAT_TRUST_LIST) = {
    ASN1_SEQUENCE_OF(CAT_TRUST_LIST, usage, ASN1_OBJECT),
    ASN1_OPT(CAT_TRUST_LIST, listId, ASN1_OCTET_STRING),
    ASN1_SIMPLE(CAT_TRUST_LIST, time, ASN1_TIME),
    ASN1_SIMPLE(CAT_TRUST_LIST, algorithm, X509_ALGOR),
    ASN1_SEQUENCE_OF_OPT(CAT_TRUST_LIST, members, CAT_MEMBER),
    ASN1_EXP_SEQUENCE_OF_OPT(CAT_TRUST_LIST, extensions, CAT_EXTENSION, 0),
// cppcheck-suppress unknownMacro
} ASN1_SEQUENCE_END(CAT_TRUST_LIST);
// clang-format on

const char kTrustListType[] = "1.3.6.1.4.1.311.10.1";
const char kCatalogListUsage[] = "1.3.6.1.4.1.311.12.1.1";
const char kSha1List[] = "1.3.6.1.4.1.311.12.1.2";
const char kSha256List[] = "1.3.6.1.4.1.311.12.1.3";
const char kNameValue[] = "1.3.6.1.4.1.311.12.2.1";
const char kMemberInfo[] = "1.3.6.1.4.1.311.12.2.2";
const char kMemberInfo2[] = "1.3.6.1.4.1.311.12.2.3";
const char kIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
const char kPeImageData[] = "1.3.6.1.4.1.311.2.1.15";
const char kFlatData[] = "1.3.6.1.4.1.311.2.1.25";
// The subject interface packages that hash a flat file and a PE image.
const char kFlatSubject[] = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}";
const char kPeSubject[] = "{C689AAB8-8E78-11D0-8C47-00C04FC295EE}";
const long kMemberInfoVersion = 512;
// A name-value attribute's flags: named by an object id, Unicode text, a property.
const long kNameValueFlags = 0x10010001;
// The link text of older catalogs' subject data.
const char kObsolete[] = "<<<Obsolete>>>";
// SpcPeImageFlags: includeResources and includeImportAddressTable.
const unsigned char kPeImageFlags = 0xA0;

struct Pkcs7Free {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};
using Pkcs7Owned = std::unique_ptr<PKCS7, Pkcs7Free>;

template <typename T>
struct ItemFree {
    const ASN1_ITEM* item;
    void operator()(T* value) const { ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(value), item); }
};
template <typename T>
using Owned = std::unique_ptr<T, ItemFree<T>>;
template <typename T>
Owned<T> New(const ASN1_ITEM* item)
{
    return Owned<T>(reinterpret_cast<T*>(ASN1_item_new(item)), ItemFree<T>{item});
}

template <typename T>
std::string Der(const T* value, const ASN1_ITEM* item)
{
    unsigned char* out = nullptr;
    int length = ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(value), &out, item);
    std::string der = length > 0 ? std::string(reinterpret_cast<char*>(out), length) : std::string();
    OPENSSL_free(out);
    return der;
}

template <typename T>
Owned<T> FromDer(const std::string& der, const ASN1_ITEM* item)
{
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    T* value = reinterpret_cast<T*>(ASN1_item_d2i(nullptr, &at, static_cast<long>(der.size()), item));
    if (value != nullptr && at != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(value), item);
        value = nullptr;  // bytes after the value: not this structure
    }
    return Owned<T>(value, ItemFree<T>{item});
}

void PutUnit(unsigned long unit, std::string* wide)
{
    *wide += static_cast<char>(unit & 0xFF);
    *wide += static_cast<char>((unit >> 8) & 0xFF);
}

// UTF-8 text as UTF-16LE (a byte that is no UTF-8 becomes U+FFFD).
std::string Utf16Le(const std::string& text, bool terminated)
{
    std::string wide;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t left = text.size(); left > 0;) {
        unsigned long value = 0;
        int used = UTF8_getc(at, static_cast<int>(left), &value);
        if (used <= 0 || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
            used = 1;
            value = 0xFFFD;
        }
        if (value >= 0x10000) {
            PutUnit(0xD800 + ((value - 0x10000) >> 10), &wide);
            PutUnit(0xDC00 + ((value - 0x10000) & 0x3FF), &wide);
        } else {
            PutUnit(value, &wide);
        }
        at += used;
        left -= static_cast<size_t>(used);
    }
    if (terminated) {
        wide.append(2, '\0');
    }
    return wide;
}

// UTF-16LE text up to its NUL as UTF-8.
std::string FromUtf16Le(const std::string& wide)
{
    std::string text;
    for (size_t k = 0; k + 1 < wide.size(); k += 2) {
        unsigned long value =
            static_cast<unsigned char>(wide[k]) | (static_cast<unsigned char>(wide[k + 1]) << 8);
        if (value == 0) {
            break;
        }
        if (value >= 0xD800 && value < 0xDC00 && k + 3 < wide.size()) {
            unsigned long low =
                static_cast<unsigned char>(wide[k + 2]) | (static_cast<unsigned char>(wide[k + 3]) << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
                k += 2;
            }
        }
        unsigned char bytes[6];
        int length = UTF8_putc(bytes, sizeof bytes, value);
        text.append(reinterpret_cast<char*>(bytes), length > 0 ? length : 0);
    }
    return text;
}

bool SetBytes(ASN1_STRING* target, const std::string& bytes)
{
    return ASN1_STRING_set(target, bytes.data(), static_cast<int>(bytes.size())) == 1;
}

std::string Bytes(const ASN1_STRING* value)
{
    return value == nullptr ? std::string()
                            : std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                                          ASN1_STRING_length(value));
}

ASN1_OBJECT* Oid(const char* dotted)
{
    return OBJ_txt2obj(dotted, 1);
}

std::string OidText(const ASN1_OBJECT* object)
{
    char text[128];
    int length = OBJ_obj2txt(text, sizeof text, object, 1);
    return length > 0 && length < static_cast<int>(sizeof text) ? text : "";
}

// ASCII text as UTF-16BE, a BMPString's value.
void SetBmpText(const std::string& text, std::string* wide)
{
    wide->clear();
    for (char c : text) {
        *wide += '\0';
        *wide += c;
    }
}

bool SetBmp(ASN1_STRING* target, const std::string& text)
{
    std::string wide;
    SetBmpText(text, &wide);
    return SetBytes(target, wide);
}

std::string NameValueDer(const std::string& name, const std::string& value)
{
    auto nameValue = New<CAT_NAMEVALUE>(ASN1_ITEM_rptr(CAT_NAMEVALUE));
    bool ok = nameValue && SetBmp(nameValue->name, name) &&
              ASN1_INTEGER_set(nameValue->flags, kNameValueFlags) == 1 &&
              SetBytes(nameValue->value, Utf16Le(value, true));
    return ok ? Der(nameValue.get(), ASN1_ITEM_rptr(CAT_NAMEVALUE)) : std::string();
}

bool ReadNameValue(const std::string& der, CatalogAttribute* attribute)
{
    auto nameValue = FromDer<CAT_NAMEVALUE>(der, ASN1_ITEM_rptr(CAT_NAMEVALUE));
    if (!nameValue) {
        return false;
    }
    std::string name = Bytes(nameValue->name);
    attribute->name.clear();
    for (size_t k = 1; k < name.size(); k += 2) {
        attribute->name += name[k];
    }
    attribute->value = FromUtf16Le(Bytes(nameValue->value));
    return true;
}

// The link that SPC_LINK-form data and image data carry.
SPC_LINK* FileLink(const std::string& text)
{
    SPC_LINK* link = reinterpret_cast<SPC_LINK*>(ASN1_item_new(ASN1_ITEM_rptr(SPC_LINK)));
    SPC_STRING* string = reinterpret_cast<SPC_STRING*>(ASN1_item_new(ASN1_ITEM_rptr(SPC_STRING)));
    ASN1_BMPSTRING* unicode = ASN1_BMPSTRING_new();
    if (link == nullptr || string == nullptr || unicode == nullptr || !SetBmp(unicode, text)) {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(link), ASN1_ITEM_rptr(SPC_LINK));
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(string), ASN1_ITEM_rptr(SPC_STRING));
        ASN1_BMPSTRING_free(unicode);
        return nullptr;
    }
    string->type = 0;  // the CHOICE's alternatives by index: unicode
    string->value.unicode = unicode;
    link->type = 1;  // file
    link->value.file = string;
    return link;
}

// The DER of the data SPC_INDIRECT_DATA describes: an image or a flat file,
// with a link whose text no reader follows.
std::string SubjectDataDer(MemberKind kind, bool obsoleteLink)
{
    const char* text = obsoleteLink ? kObsolete : "";
    if (kind == MemberKind::PeImage) {
        auto image = New<SPC_PE_IMAGE_DATA>(ASN1_ITEM_rptr(SPC_PE_IMAGE_DATA));
        if (!image || ASN1_BIT_STRING_set(image->flags, const_cast<unsigned char*>(&kPeImageFlags), 1) != 1) {
            return std::string();
        }
        image->file = FileLink(text);
        return image->file == nullptr ? std::string() : Der(image.get(), ASN1_ITEM_rptr(SPC_PE_IMAGE_DATA));
    }
    Owned<SPC_LINK> link(FileLink(text), ItemFree<SPC_LINK>{ASN1_ITEM_rptr(SPC_LINK)});
    return link ? Der(link.get(), ASN1_ITEM_rptr(SPC_LINK)) : std::string();
}

ASN1_TYPE* AnyFromDer(const std::string& der)
{
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    return der.empty() ? nullptr : d2i_ASN1_TYPE(nullptr, &at, static_cast<long>(der.size()));
}

std::string AnyDer(const ASN1_TYPE* value)
{
    unsigned char* out = nullptr;
    int length = i2d_ASN1_TYPE(value, &out);
    std::string der = length > 0 ? std::string(reinterpret_cast<char*>(out), length) : std::string();
    OPENSSL_free(out);
    return der;
}

std::string IndirectDataDer(const ListMember& member, bool obsoleteLink)
{
    auto indirect = New<SPC_INDIRECT_DATA>(ASN1_ITEM_rptr(SPC_INDIRECT_DATA));
    if (!indirect) {
        return std::string();
    }
    const bool image = member.kind == MemberKind::PeImage;
    indirect->data->type = Oid(image ? kPeImageData : kFlatData);
    indirect->data->value = AnyFromDer(SubjectDataDer(member.kind, obsoleteLink));
    int nid = OBJ_txt2nid(member.algorithm.c_str());
    bool ok = indirect->data->type != nullptr && indirect->data->value != nullptr && nid != NID_undef &&
              X509_ALGOR_set0(indirect->digest->algorithm, OBJ_nid2obj(nid), V_ASN1_NULL, nullptr) == 1 &&
              SetBytes(indirect->digest->digest, member.digest);
    return ok ? Der(indirect.get(), ASN1_ITEM_rptr(SPC_INDIRECT_DATA)) : std::string();
}

bool AddAttribute(CAT_MEMBER* member, const char* type, const std::string& valueDer)
{
    CAT_ATTRIBUTE* attribute = reinterpret_cast<CAT_ATTRIBUTE*>(ASN1_item_new(ASN1_ITEM_rptr(CAT_ATTRIBUTE)));
    ASN1_TYPE* value = AnyFromDer(valueDer);
    if (attribute == nullptr || value == nullptr) {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(attribute), ASN1_ITEM_rptr(CAT_ATTRIBUTE));
        ASN1_TYPE_free(value);
        return false;
    }
    attribute->type = Oid(type);
    if (attribute->type == nullptr || sk_ASN1_TYPE_push(attribute->values, value) <= 0) {
        ASN1_TYPE_free(value);
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(attribute), ASN1_ITEM_rptr(CAT_ATTRIBUTE));
        return false;
    }
    if (sk_CAT_ATTRIBUTE_push(member->attributes, attribute) <= 0) {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(attribute), ASN1_ITEM_rptr(CAT_ATTRIBUTE));
        return false;
    }
    return true;
}

bool AddMember(CAT_TRUST_LIST* list, const ListMember& member, bool sha256List, bool obsoleteLink)
{
    CAT_MEMBER* made = reinterpret_cast<CAT_MEMBER*>(ASN1_item_new(ASN1_ITEM_rptr(CAT_MEMBER)));
    if (made == nullptr || sk_CAT_MEMBER_push(list->members, made) <= 0) {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(made), ASN1_ITEM_rptr(CAT_MEMBER));
        return false;
    }
    bool ok = SetBytes(made->tag, member.tag) &&
              AddAttribute(made, kNameValue, NameValueDer("File", member.file)) &&
              AddAttribute(made, kNameValue, NameValueDer("OSAttr", member.osAttr));
    if (sha256List) {
        // CAT_MEMBERINFO2: an empty [2].
        ok = ok && AddAttribute(made, kMemberInfo2, std::string("\x82\x00", 2));
    } else {
        auto info = New<CAT_MEMBERINFO>(ASN1_ITEM_rptr(CAT_MEMBERINFO));
        ok = ok && info &&
             SetBmp(info->subject, member.kind == MemberKind::PeImage ? kPeSubject : kFlatSubject) &&
             ASN1_INTEGER_set(info->version, kMemberInfoVersion) == 1 &&
             AddAttribute(made, kMemberInfo, Der(info.get(), ASN1_ITEM_rptr(CAT_MEMBERINFO)));
    }
    if (member.indirectData) {
        ok = ok && AddAttribute(made, kIndirectData, IndirectDataDer(member, obsoleteLink));
    }
    return ok;
}

bool AddExtension(CAT_TRUST_LIST* list, const CatalogAttribute& attribute)
{
    CAT_EXTENSION* extension = reinterpret_cast<CAT_EXTENSION*>(ASN1_item_new(ASN1_ITEM_rptr(CAT_EXTENSION)));
    if (extension == nullptr || sk_CAT_EXTENSION_push(list->extensions, extension) <= 0) {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(extension), ASN1_ITEM_rptr(CAT_EXTENSION));
        return false;
    }
    extension->type = Oid(kNameValue);
    std::string der = NameValueDer(attribute.name, attribute.value);
    return extension->type != nullptr && !der.empty() && SetBytes(extension->value, der);
}

std::string TrustListDer(const CatalogList& list)
{
    auto ctl = New<CAT_TRUST_LIST>(ASN1_ITEM_rptr(CAT_TRUST_LIST));
    if (!ctl) {
        return std::string();
    }
    ASN1_OBJECT* usage = Oid(kCatalogListUsage);
    if (usage == nullptr || sk_ASN1_OBJECT_push(ctl->usage, usage) <= 0) {
        ASN1_OBJECT_free(usage);
        return std::string();
    }
    ctl->listId = ASN1_OCTET_STRING_new();
    ctl->members = sk_CAT_MEMBER_new_null();
    ctl->extensions = sk_CAT_EXTENSION_new_null();
    bool ok = ctl->listId != nullptr && ctl->members != nullptr && ctl->extensions != nullptr &&
              SetBytes(ctl->listId, list.listId) && ASN1_TIME_set(ctl->time, list.time) != nullptr &&
              X509_ALGOR_set0(ctl->algorithm, Oid(list.sha256 ? kSha256List : kSha1List), V_ASN1_NULL,
                              nullptr) == 1;
    for (const ListMember& member : list.members) {
        ok = ok && AddMember(ctl.get(), member, list.sha256, list.obsoleteLinks);
    }
    for (const CatalogAttribute& attribute : list.attributes) {
        ok = ok && AddExtension(ctl.get(), attribute);
    }
    if (list.attributes.empty()) {
        sk_CAT_EXTENSION_free(ctl->extensions);
        ctl->extensions = nullptr;
    }
    return ok ? Der(ctl.get(), ASN1_ITEM_rptr(CAT_TRUST_LIST)) : std::string();
}

void ReadMember(const CAT_MEMBER* made, ListMember* member, bool* obsoleteLink)
{
    member->tag = Bytes(made->tag);
    member->indirectData = false;
    for (int k = 0; k < sk_CAT_ATTRIBUTE_num(made->attributes); ++k) {
        const CAT_ATTRIBUTE* attribute = sk_CAT_ATTRIBUTE_value(made->attributes, k);
        if (sk_ASN1_TYPE_num(attribute->values) != 1) {
            continue;
        }
        std::string type = OidText(attribute->type);
        std::string der = AnyDer(sk_ASN1_TYPE_value(attribute->values, 0));
        CatalogAttribute nameValue;
        if (type == kNameValue && ReadNameValue(der, &nameValue)) {
            if (nameValue.name == "File") {
                member->file = nameValue.value;
            } else if (nameValue.name == "OSAttr") {
                member->osAttr = nameValue.value;
            }
        } else if (type == kIndirectData) {
            auto indirect = FromDer<SPC_INDIRECT_DATA>(der, ASN1_ITEM_rptr(SPC_INDIRECT_DATA));
            if (indirect) {
                member->indirectData = true;
                member->kind =
                    OidText(indirect->data->type) == kPeImageData ? MemberKind::PeImage : MemberKind::Flat;
                const ASN1_OBJECT* algorithm = nullptr;
                X509_ALGOR_get0(&algorithm, nullptr, nullptr, indirect->digest->algorithm);
                member->algorithm = OBJ_nid2sn(OBJ_obj2nid(algorithm));
                member->digest = Bytes(indirect->digest->digest);
                std::string data = AnyDer(indirect->data->value);
                std::string obsolete;
                SetBmpText(kObsolete, &obsolete);
                *obsoleteLink = data.find(obsolete) != std::string::npos;
            }
        }
    }
}

}  // namespace

std::string MemberTag(bool sha256List, const std::string& digest)
{
    if (sha256List) {
        return digest;
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return Utf16Le(text, true);
}

std::string EncodeCatalog(const CatalogList& list)
{
    std::string ctl = TrustListDer(list);
    if (ctl.empty()) {
        return std::string();
    }
    // SignedData with no digest algorithm, certificate or signer: the signing
    // tool fills them in.
    Pkcs7Owned p7(PKCS7_new());
    Pkcs7Owned content(PKCS7_new());
    if (!p7 || !content || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1) {
        return std::string();
    }
    content->type = Oid(kTrustListType);
    content->d.other = AnyFromDer(ctl);
    if (content->type == nullptr || content->d.other == nullptr ||
        PKCS7_set_content(p7.get(), content.get()) != 1) {
        return std::string();
    }
    content.release();  // the SignedData owns it now
    unsigned char* out = nullptr;
    int length = i2d_PKCS7(p7.get(), &out);
    std::string der = length > 0 ? std::string(reinterpret_cast<char*>(out), length) : std::string();
    OPENSSL_free(out);
    return der;
}

bool DecodeCatalog(const std::string& der, CatalogList* list, std::string* problem,
                   std::vector<std::string>* memberDer, std::vector<std::string>* attributeDer)
{
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    Pkcs7Owned p7(d2i_PKCS7(nullptr, &at, static_cast<long>(der.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get())) {
        *problem = "not a PKCS#7 SignedData structure";
        return false;
    }
    PKCS7* content = p7->d.sign->contents;
    if (content == nullptr || OidText(content->type) != kTrustListType || content->d.other == nullptr) {
        *problem = "its content is not a certificate trust list";
        return false;
    }
    auto ctl = FromDer<CAT_TRUST_LIST>(AnyDer(content->d.other), ASN1_ITEM_rptr(CAT_TRUST_LIST));
    if (!ctl) {
        *problem = "its certificate trust list is not a catalog's";
        return false;
    }
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, ctl->algorithm);
    *list = CatalogList();
    list->sha256 = OidText(algorithm) == kSha256List;
    list->listId = Bytes(ctl->listId);
    struct tm when = {};
    list->time = ASN1_TIME_to_tm(ctl->time, &when) == 1 ? timegm(&when) : 0;
    for (int k = 0; k < sk_CAT_MEMBER_num(ctl->members); ++k) {
        const CAT_MEMBER* member = sk_CAT_MEMBER_value(ctl->members, k);
        list->members.emplace_back();
        ReadMember(member, &list->members.back(), &list->obsoleteLinks);
        if (memberDer != nullptr) {
            memberDer->push_back(Der(member, ASN1_ITEM_rptr(CAT_MEMBER)));
        }
    }
    for (int k = 0; k < sk_CAT_EXTENSION_num(ctl->extensions); ++k) {
        const CAT_EXTENSION* extension = sk_CAT_EXTENSION_value(ctl->extensions, k);
        CatalogAttribute attribute;
        if (OidText(extension->type) == kNameValue && ReadNameValue(Bytes(extension->value), &attribute)) {
            list->attributes.push_back(attribute);
        }
        if (attributeDer != nullptr) {
            attributeDer->push_back(Der(extension, ASN1_ITEM_rptr(CAT_EXTENSION)));
        }
    }
    return true;
}
