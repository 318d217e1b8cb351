// A catalog's trust list as plain data, and its DER form: an unsigned PKCS#7
// SignedData whose content is the certificate trust list (1.3.6.1.4.1.311.10.1).
// The same templates encode what the maker writes and decode real catalogs
// for comparison.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// How a member's file is hashed.
enum class MemberKind {
    Flat,     // the whole file (SPC_LINK form, 1.3.6.1.4.1.311.2.1.25)
    PeImage,  // its Authenticode image hash (SPC_PE_IMAGE_DATA, 1.3.6.1.4.1.311.2.1.15)
};

struct ListMember {
    std::string tag;     // the member's tag, raw bytes
    std::string file;    // its "File" attribute
    std::string osAttr;  // its "OSAttr" attribute: "2:6.1,2:10.0"
    MemberKind kind = MemberKind::Flat;
    bool indirectData = true;  // it carries SPC_INDIRECT_DATA with the digest below
    std::string algorithm;     // "sha1" or "sha256"
    std::string digest;        // raw bytes
};

// A catalog-level name-value attribute: "OS", "HWID1", ...
struct CatalogAttribute {
    std::string name;
    std::string value;
};

struct CatalogList {
    bool sha256 = false;  // the SHA-256 member-list form (1.3.6.1.4.1.311.12.1.3), else SHA-1 (.2)
    // The link in each member's subject data says "<<<Obsolete>>>", as older
    // catalogs' do; else it is empty, as newer ones' and SHA-256 lists' are.
    bool obsoleteLinks = false;
    std::string listId;  // 16 bytes
    time_t time = 0;
    std::vector<ListMember> members;
    std::vector<CatalogAttribute> attributes;
};

// The unsigned catalog, DER; members and attributes are written in the order
// given. Empty when the encoder fails.
std::string EncodeCatalog(const CatalogList& list);

// The trust list of a catalog, signed or not. `memberDer` and `attributeDer`
// (either may be null) get the DER of each member and of each catalog
// attribute, for byte-for-byte comparison. False with `problem` set when
// `der` is not a catalog.
bool DecodeCatalog(const std::string& der, CatalogList* list, std::string* problem,
                   std::vector<std::string>* memberDer = nullptr,
                   std::vector<std::string>* attributeDer = nullptr);

// The tag of a member in each list form: SHA-1 lists tag with the hash's
// upper-case hex as UTF-16LE text ending in a NUL, SHA-256 lists with the raw
// hash.
std::string MemberTag(bool sha256List, const std::string& digest);
