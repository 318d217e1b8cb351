// The package's signature: the catalog that [Version] names, its signature's
// integrity, and whether its members hold the hashes of the package's files.
#include <cstdlib>

#include "CheckParts.h"
#include "inf/INFManager.h"

// A driver package's catalog and files are far smaller.
const size_t kCatalogReadLimit = size_t{64} * 1024 * 1024;

namespace {

// The systems the stager accepts by name, as OSAttr gives them.
const char* const kNamedSystems[] = {"2:5.0", "2:5.1", "2:5.2", "2:6.0"};

// The file name a path ends in, as Windows looks it up: trailing blanks and
// dots are no part of it.
std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
        name.pop_back();
    }
    return name;
}

bool ContainsNoCase(const std::vector<std::string>& items, const std::string& item)
{
    for (const std::string& candidate : items) {
        if (EqualsNoCase(candidate, item)) {
            return true;
        }
    }
    return false;
}

void AddOnce(std::vector<std::string>* items, const std::string& item)
{
    if (!item.empty() && !ContainsNoCase(*items, item)) {
        items->push_back(item);
    }
}

// "CatalogFile" or a decorated form "CatalogFile.NTx86", "CatalogFile.NTamd64", ...
bool IsCatalogKey(const std::string& key)
{
    return EqualsNoCase(key, "CatalogFile") || FindNoCase(key, "CatalogFile.") == 0;
}

// An OSAttr entry "2:6.1" (platform 2, the NT family) from version 6.1 on.
bool IsLaterSystem(const std::string& entry)
{
    if (entry.compare(0, 2, "2:") != 0) {
        return false;
    }
    char* end = nullptr;
    long major = strtol(entry.c_str() + 2, &end, 10);
    long minor = *end == '.' ? strtol(end + 1, nullptr, 10) : 0;
    return major > 6 || (major == 6 && minor >= 1);
}

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> items;
    size_t from = 0;
    while (from <= text.size()) {
        size_t comma = text.find(',', from);
        std::string item =
            Trimmed(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (!item.empty()) {
            items.push_back(item);
        }
        if (comma == std::string::npos) {
            break;
        }
        from = comma + 1;
    }
    return items;
}

// Hashes one file of the package for the members of its name: the
// Authenticode image hash for a PE image, the flat hash otherwise.
CatalogFileCheck HashFile(const std::string& programFolder, const std::string& name,
                          const std::vector<const CatalogMember*>& members)
{
    CatalogFileCheck check;
    check.name = name;
    check.algorithm = members[0]->algorithm;  // callers pass at least one
    std::string bytes;
    if (!ReadBytes(JoinPath(programFolder, name), kCatalogReadLimit + 1, &bytes)) {
        check.problem = "it cannot be read";
        return check;
    }
    if (bytes.size() > kCatalogReadLimit) {
        check.problem = "it is larger than " + std::to_string(kCatalogReadLimit) + " bytes";
        return check;
    }
    std::vector<ByteRange> ranges;
    std::string imageProblem;
    int image = AuthenticodeRanges(bytes, &ranges, &imageProblem);
    check.peImage = image != PE_NOT_AN_IMAGE;
    if (image == PE_BAD_HEADER) {
        check.problem = "it is not a valid PE image: " + imageProblem;
        return check;
    }
    if (image == PE_NOT_AN_IMAGE) {
        ranges.assign(1, ByteRange{0, bytes.size()});
    }
    std::string digest;
    if (!DigestRanges(check.algorithm, bytes, ranges, &digest)) {
        check.problem = "its hash algorithm " + check.algorithm + " is unknown";
        return check;
    }
    check.hash = HexText(digest);
    for (const CatalogMember* member : members) {
        std::string memberDigest = digest;
        if (member->algorithm == check.algorithm ||
            DigestRanges(member->algorithm, bytes, ranges, &memberDigest)) {
            check.covered = check.covered || memberDigest == member->digest;
        }
    }
    return check;
}

std::vector<const CatalogMember*> MembersNamed(const CatalogContents& contents, const std::string& name)
{
    std::vector<const CatalogMember*> members;
    for (const CatalogMember& member : contents.members) {
        if (EqualsNoCase(member.file, BaseName(name))) {
            members.push_back(&member);
        }
    }
    return members;
}

void CheckOsVersions(const std::string& infBase, PackageReport* report)
{
    CatalogReport& catalog = report->catalog;
    std::vector<const CatalogMember*> members = MembersNamed(catalog.contents, infBase);
    if (members.empty()) {
        for (const CatalogMember& member : catalog.contents.members) {
            members.push_back(&member);
        }
    }
    for (const CatalogMember* member : members) {
        for (const std::string& entry : SplitList(member->osAttr)) {
            AddOnce(&catalog.osVersions, entry);
        }
    }
    if (catalog.osVersions.empty()) {
        return;  // members without OSAttr are valid on every system
    }
    bool named = false;
    bool later = false;
    for (const std::string& entry : catalog.osVersions) {
        for (const char* system : kNamedSystems) {
            named = named || entry == system;
        }
        later = later || IsLaterSystem(entry);
    }
    std::string list = LineList(catalog.osVersions);
    if (!named) {
        Warn(report, "CATALOG_OS_NOT_COVERED",
             "The catalog " + Quote(catalog.name) + " covers " + list +
                 ", none of the systems the stager accepts by name (Windows 2000 2:5.0, XP 2:5.1, "
                 "Server 2003 2:5.2, Vista 2:6.0): there Windows treats the package as unsigned.");
    }
    if (!later) {
        Warn(report, "CATALOG_OS_NOT_COVERED",
             "The catalog " + Quote(catalog.name) + " covers " + list +
                 ", none of the later systems (2:6.1 and up) that the stager treats as Vista: there "
                 "Windows treats the package as unsigned.");
    }
}

// Hashes the INF and every file whose name a member gives; warns about the
// files that no member of their name holds, and about the files a run stages
// or copies that no member names.
void CheckMembers(PackageReport* report)
{
    CatalogReport& catalog = report->catalog;
    const CatalogContents& contents = catalog.contents;
    for (const CatalogMember& member : contents.members) {
        AddOnce(&catalog.hashAlgorithms, member.algorithm);
    }
    std::string infBase = InfBaseName(report->infName.c_str());
    std::vector<std::string> hashed = {infBase};
    for (const std::string& name : ListPackageFiles(report->programFolder)) {
        if (!EqualsNoCase(name, infBase) && !MembersNamed(contents, name).empty()) {
            hashed.push_back(name);
        }
    }
    for (const std::string& name : hashed) {
        std::vector<const CatalogMember*> members = MembersNamed(contents, name);
        if (members.empty()) {
            continue;  // reported as not in the catalog below
        }
        CatalogFileCheck check = HashFile(report->programFolder, name, members);
        catalog.files.push_back(check);
        if (!check.covered) {
            Warn(report, "CATALOG_HASH_MISMATCH",
                 Quote(name) + ": " +
                     (check.problem.empty() ? "no member of the catalog " + Quote(catalog.name) +
                                                  " holds its " + (check.peImage ? "image hash " : "hash ") +
                                                  check.hash + ": it was changed after signing."
                                            : "it cannot be checked against the catalog " +
                                                  Quote(catalog.name) + ": " + check.problem + "."));
        }
    }
    std::vector<std::string> unnamed;
    if (MembersNamed(contents, infBase).empty()) {
        unnamed.push_back(infBase + " (staged)");
    }
    for (const PackageFile& file : report->files) {
        if (file.plain && file.present && MembersNamed(contents, file.name).empty()) {
            unnamed.push_back(Trimmed(file.name) + " (copied)");
        }
    }
    if (!unnamed.empty()) {
        Warn(report, "NOT_IN_CATALOG",
             "The catalog " + Quote(catalog.name) + " names no member for " + LineList(unnamed) +
                 ": Windows treats the package as unsigned.");
    }
    CheckOsVersions(infBase, report);
}

}  // namespace

std::string HexText(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

void CheckCatalog(const std::vector<InfLine>& lines, PackageReport* report)
{
    CatalogReport& catalog = report->catalog;
    bool sawVersion = false;
    for (const VersionEntry& entry : VersionEntries(lines, &sawVersion)) {
        if (IsCatalogKey(entry.key)) {
            AddOnce(&catalog.names, entry.value);
        }
    }
    if (catalog.names.empty()) {
        Warn(report, "UNSIGNED_PACKAGE",
             "The INF's [Version] section names no CatalogFile: the package is unsigned, and "
             "64-bit Windows loads no unsigned driver (32-bit Windows asks the user or refuses).");
        catalog.note = "no catalog named";
        return;
    }
    for (const std::string& name : catalog.names) {
        bool present = IsPlainFileName(name.c_str()) == 1 && IsFile(JoinPath(report->programFolder, name));
        if (!present) {
            Warn(report, "CATALOG_MISSING",
                 "The INF names the catalog " + Quote(name) +
                     ", which is not in the package: Windows treats the package as unsigned.");
        } else if (!catalog.present) {
            catalog.name = name;
            catalog.present = true;
        }
    }
    if (!catalog.present) {
        catalog.name = catalog.names[0];
        catalog.note = "the catalog is missing";
        return;
    }
    std::string der;
    if (!ReadBytes(JoinPath(report->programFolder, catalog.name), kCatalogReadLimit + 1, &der) ||
        der.size() > kCatalogReadLimit) {
        catalog.readResult = CATALOG_NOT_PKCS7;
        catalog.note =
            "the catalog cannot be read or is larger than " + std::to_string(kCatalogReadLimit) + " bytes";
        Warn(report, "CATALOG_UNREADABLE", "The catalog " + Quote(catalog.name) + ": " + catalog.note + ".");
        return;
    }
    std::string problem;
    catalog.readResult = ReadCatalog(der, &catalog.contents, &problem);
    if (catalog.readResult == CATALOG_READER_UNAVAILABLE) {
        catalog.note = problem;
        return;
    }
    if (catalog.readResult != CATALOG_READ_OK) {
        catalog.note = problem;
        Warn(report, "CATALOG_UNREADABLE",
             "The catalog " + Quote(catalog.name) + " is not a signed catalog: " + problem +
                 ". Windows treats the package as unsigned.");
        return;
    }
    catalog.checked = true;
    if (!catalog.contents.signatureIntact) {
        Warn(report, "CATALOG_SIGNATURE_INVALID",
             "The signature of the catalog " + Quote(catalog.name) + " is broken: " +
                 catalog.contents.signatureProblem + ". Windows treats the package as unsigned.");
    }
    CheckMembers(report);
}
