// The package's signature: the catalog that [Version] names, its signature's
// integrity, and whether its members hold the hashes of the package's files.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "CheckParts.h"
#include "common/Names.h"
#include "inf/INFManager.h"
#include "platform/PlatformServices.h"

namespace {

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

// One hash of a file, made once per algorithm.
struct FileDigest {
    std::string algorithm;
    bool known;  // the algorithm is one the build can hash with
    std::string digest;
};

// The file's hashes, one per distinct member algorithm. A PE image (it starts
// with "MZ") is read whole for its Authenticode ranges; any other file is
// hashed as it is read, in one pass for all algorithms, so that large driver
// files cost little more than reading them.
bool DigestFile(const std::string& path, const std::vector<std::string>& algorithms, CatalogFileCheck* check,
                std::vector<std::string>* digests)
{
    FILE* file = Platform.OpenStream(path.c_str(), "rb");
    if (file == nullptr) {
        check->problem = "it cannot be read";
        return false;
    }
    std::string head(2, '\0');
    size_t headSize = fread(&head[0], 1, head.size(), file);
    head.resize(headSize);
    size_t total = 0;
    bool tooLarge = false;
    if (head != "MZ") {
        DigestChunks(
            algorithms,
            [&](char* buffer, size_t size) {
                size_t got = 0;
                if (total == 0 && !head.empty()) {
                    got = head.size();
                    memcpy(buffer, head.data(), got);
                } else if (!tooLarge) {
                    got = fread(buffer, 1, size, file);
                }
                total += got;
                tooLarge = total > kCatalogReadLimit;
                return tooLarge ? 0 : got;
            },
            digests);
        fclose(file);
        if (tooLarge) {
            check->problem = "it is larger than " + std::to_string(kCatalogReadLimit) + " bytes";
            return false;
        }
        return true;
    }
    fclose(file);
    std::string bytes;
    if (!ReadBytes(path, kCatalogReadLimit + 1, &bytes)) {
        check->problem = "it cannot be read";
        return false;
    }
    if (bytes.size() > kCatalogReadLimit) {
        check->problem = "it is larger than " + std::to_string(kCatalogReadLimit) + " bytes";
        return false;
    }
    std::vector<ByteRange> ranges;
    std::string imageProblem;
    int image = AuthenticodeRanges(bytes, &ranges, &imageProblem);
    check->peImage = image != PE_NOT_AN_IMAGE;
    if (image == PE_BAD_HEADER) {
        check->problem = "it is not a valid PE image: " + imageProblem;
        return false;
    }
    if (image == PE_NOT_AN_IMAGE) {
        ranges.assign(1, ByteRange{0, bytes.size()});
    }
    digests->clear();
    for (const std::string& algorithm : algorithms) {
        std::string digest;
        digests->push_back(DigestRanges(algorithm, bytes, ranges, &digest) ? digest : std::string());
    }
    return true;
}

// Hashes one file of the package (`path`, shown as `name`) for the members of
// its name: the Authenticode image hash for a PE image, the flat hash
// otherwise. Each member is tried with its own algorithm, so a member of an
// unknown algorithm does not keep a later one from covering the file.
CatalogFileCheck HashFile(const std::string& path, const std::string& name,
                          const std::vector<const CatalogMember*>& members)
{
    CatalogFileCheck check;
    check.name = name;
    check.algorithm = members[0]->algorithm;  // callers pass at least one
    std::vector<std::string> algorithms;
    for (const CatalogMember* member : members) {
        if (std::find(algorithms.begin(), algorithms.end(), member->algorithm) == algorithms.end()) {
            algorithms.push_back(member->algorithm);
        }
    }
    std::vector<std::string> made;
    if (!DigestFile(path, algorithms, &check, &made)) {
        return check;
    }
    std::vector<FileDigest> digests;
    for (size_t i = 0; i < algorithms.size(); ++i) {
        digests.push_back(FileDigest{algorithms[i], !made[i].empty(), made[i]});
    }
    std::vector<std::string> unknown;
    for (const FileDigest& digest : digests) {
        if (!digest.known) {
            unknown.push_back(digest.algorithm.empty() ? "(none)" : digest.algorithm);
        }
    }
    for (const CatalogMember* member : members) {
        size_t at = 0;
        while (digests[at].algorithm != member->algorithm) {
            ++at;
        }
        const FileDigest& digest = digests[at];
        if (!digest.known) {
            continue;
        }
        bool holds = digest.digest == member->digest;
        if (check.hash.empty() || holds) {
            check.algorithm = digest.algorithm;
            check.hash = HexText(digest.digest);
        }
        if (holds) {
            check.covered = true;
            break;
        }
    }
    if (check.hash.empty()) {
        check.problem = unknown.size() == 1 ? "its hash algorithm " + unknown[0] + " is unknown"
                                            : "its hash algorithms " + LineList(unknown) + " are unknown";
    }
    return check;
}

std::vector<const CatalogMember*> MembersNamed(const CatalogContents& contents, const std::string& name)
{
    std::vector<const CatalogMember*> members;
    for (const CatalogMember& member : contents.members) {
        if (EqualsNoCase(member.file, MemberFileName(name))) {
            members.push_back(&member);
        }
    }
    return members;
}

void CheckOsVersions(const std::string& infBase, CatalogReport& catalog)
{
    std::vector<const CatalogMember*> members = MembersNamed(catalog.contents, infBase);
    if (members.empty()) {
        for (const CatalogMember& member : catalog.contents.members) {
            members.push_back(&member);
        }
    }
    for (const CatalogMember* member : members) {
        for (const std::string& entry : SplitList(member->osAttr)) {
            AddOnce(&catalog.osVersions, Trimmed(entry));
        }
    }
    // Members without OSAttr restrict nothing; the targets are judged by it later.
}

// The INF's bytes with its line ends turned to CRLF (`crlf`) or to LF.
std::string WithLineEnds(const std::string& bytes, bool crlf)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;  // the LF that follows is written below
        }
        if (bytes[i] == '\n' && crlf) {
            out += '\r';
        }
        out += bytes[i];
    }
    return out;
}

// When the INF's hash matches a member only after its line ends are
// converted, which conversion does it ("CRLF" or "LF"); empty otherwise.
std::string LineEndHint(const std::string& path, const std::vector<const CatalogMember*>& members)
{
    std::string bytes;
    if (!ReadBytes(path, kCatalogReadLimit, &bytes)) {
        return std::string();
    }
    for (bool crlf : {true, false}) {
        const std::string converted = WithLineEnds(bytes, crlf);
        if (converted == bytes) {
            continue;
        }
        for (const CatalogMember* member : members) {
            std::string digest;
            if (DigestRanges(member->algorithm, converted, {ByteRange{0, converted.size()}}, &digest) &&
                digest == member->digest) {
                return crlf ? "CRLF" : "LF";
            }
        }
    }
    return std::string();
}

// Hashes the INF and every file whose name a member gives; warns about the
// files that no member of their name holds, and about the files a run stages
// or copies that no member names. A file that no target installs with this
// catalog is not judged by it: one that no target installs at all goes to
// `notInstalled` instead of being called changed.
void CheckMembers(CatalogReport& catalog, PackageReport* report, std::vector<std::string>* notInstalled)
{
    const CatalogContents& contents = catalog.contents;
    for (const CatalogMember& member : contents.members) {
        AddOnce(&catalog.hashAlgorithms, member.algorithm);
    }
    // The INF is hashed where the stager stages it from (a subfolder too);
    // every other file below the package folder whose name a member gives
    // is hashed where it lies.
    std::string infBase = InfBaseName(report->infName.c_str());
    std::string infRelative = PlainRelative(report->infName);
    std::vector<std::pair<std::string, std::string>> hashed = {{report->infName, report->infPath}};
    for (const std::string& name : ListPackageFiles(report->programFolder)) {
        if (!EqualsNoCase(PlainRelative(name), infRelative) && !MembersNamed(contents, name).empty()) {
            hashed.emplace_back(name, JoinPath(report->programFolder, name));
        }
    }
    for (const auto& [name, path] : hashed) {
        std::vector<const CatalogMember*> members = MembersNamed(contents, name);
        if (members.empty()) {
            continue;  // reported as not in the catalog below
        }
        CatalogFileCheck check = HashFile(path, name, members);
        catalog.files.push_back(check);
        if (check.covered) {
            continue;
        }
        const bool isInf = name == report->infName;
        const std::string why =
            check.problem.empty()
                ? "no member of the catalog " + Quote(catalog.name) + " holds its " +
                      (check.peImage ? "image hash " : "hash ") + check.hash
                : "it cannot be checked against the catalog " + Quote(catalog.name) + ": " + check.problem;
        if (!isInf && report->infRead && !InstalledBy(*report, name, &catalog.name)) {
            // Named once, by the first catalog that holds a member of its name.
            const std::string named = Quote(name) + " (";
            bool listed = false;
            for (const std::string& item : *notInstalled) {
                listed = listed || item.compare(0, named.size(), named) == 0;
            }
            if (!listed && !InstalledBy(*report, name, nullptr)) {
                notInstalled->push_back(named + why + ")");
            }
            continue;  // another catalog judges it, for the targets that install it
        }
        std::string hint = isInf && check.problem.empty() ? LineEndHint(path, members) : std::string();
        Warn(report, "CATALOG_HASH_MISMATCH",
             Quote(name) + ": " +
                 (!hint.empty() ? "its hash matches a member of the catalog " + Quote(catalog.name) +
                                      " only after its line ends are turned to " + hint +
                                      ": it was saved with other line ends than it was signed with (a "
                                      "checkout that converts line ends does this). Windows sees it as "
                                      "changed after signing."
                  : check.problem.empty() ? why + ": it was changed after signing."
                                          : why + "."));
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
    CheckOsVersions(infBase, catalog);
}

// Whom Windows trusts for the intact catalog, with the warnings about it.
void JudgeTrust(const std::string& der, CatalogReport& catalog, PackageReport* report)
{
    JudgeCatalogTrust(der, report->options.trust, &catalog.trust);
    const CatalogTrust& trust = catalog.trust;
    if (!trust.judged) {
        return;
    }
    const TimeStampCheck& stamp = trust.timeStamp;
    if (stamp.kind != TimeStampKind::None && !stamp.verified) {
        Warn(report, "CATALOG_TIMESTAMP_INVALID",
             "The time stamp (" + std::string(TimeStampKindName(stamp.kind)) + ") of the catalog " +
                 Quote(catalog.name) + " does not verify: " + stamp.problem +
                 ". Windows checks the signature at the current time instead, and it fails once "
                 "the signer's certificate expires.");
    }
    if (trust.kind == TRUST_UNTRUSTED) {
        Warn(report, "CATALOG_UNTRUSTED",
             "The catalog " + Quote(catalog.name) + " is signed but not trusted: " + trust.why + ".");
    }
    if (!trust.trustedPublisherNote.empty()) {
        Warn(report, "TRUSTED_PUBLISHER_NOT_SIGNER",
             "--trusted-publisher does not apply: " + trust.trustedPublisherNote + ".");
    }
}

// The files a member names that no section installs: named once, never as changed.
void WarnNotInstalled(const std::vector<std::string>& notInstalled, PackageReport* report)
{
    if (!notInstalled.empty()) {
        Warn(report, "FILE_NOT_INSTALLED",
             "Not installed by any section of the INF for any target, so Windows never checks " +
                 std::string(notInstalled.size() == 1 ? "it" : "them") +
                 " against the catalog (no change after signing is claimed): " + LineList(notInstalled) +
                 ".");
    }
}

// Reads the catalog `catalog.name` beside the INF: its signature, its
// members against the package's files, and whom Windows trusts for it.
void ReadOneCatalog(CatalogReport& catalog, PackageReport* report, std::vector<std::string>* notInstalled)
{
    std::string infFolder = FolderOf(report->infPath);
    std::string der;
    if (!ReadBytes(JoinPath(infFolder, catalog.name), kCatalogReadLimit + 1, &der) ||
        der.size() > kCatalogReadLimit) {
        catalog.readResult = CATALOG_NOT_PKCS7;
        catalog.trust.kind = TRUST_BROKEN;
        catalog.trust.why = "it cannot be read";
        catalog.note =
            "the catalog cannot be read or is larger than " + std::to_string(kCatalogReadLimit) + " bytes";
        Warn(report, "CATALOG_UNREADABLE", "The catalog " + Quote(catalog.name) + ": " + catalog.note + ".");
        return;
    }
    std::string problem;
    catalog.readResult = ReadCatalog(der, &catalog.contents, &problem);
    if (catalog.readResult == CATALOG_READER_UNAVAILABLE) {
        catalog.note = problem;
        catalog.trust.judged = false;
        return;
    }
    if (catalog.readResult != CATALOG_READ_OK) {
        catalog.note = problem;
        catalog.trust.kind = TRUST_BROKEN;
        catalog.trust.why = problem;
        Warn(report, "CATALOG_UNREADABLE",
             "The catalog " + Quote(catalog.name) + " is not a signed catalog: " + problem +
                 ". Windows treats the package as unsigned.");
        return;
    }
    catalog.checked = true;
    if (!catalog.contents.signatureIntact) {
        // A catalog without a signer is an unsigned one; any other fault breaks it.
        bool noSigner = catalog.contents.signatureFailure == SignatureFailure::NoSigner;
        Warn(report, "CATALOG_SIGNATURE_INVALID",
             "The signature of the catalog " + Quote(catalog.name) +
                 (noSigner ? " is missing: " : " is broken: ") + catalog.contents.signatureProblem +
                 ". Windows treats the package as unsigned.");
        catalog.trust.kind = noSigner ? TRUST_NONE : TRUST_BROKEN;
        catalog.trust.why = catalog.contents.signatureProblem;
    }
    const size_t known = notInstalled->size();
    CheckMembers(catalog, report, notInstalled);
    WarnNotInstalled(
        std::vector<std::string>(notInstalled->begin() + static_cast<long>(known), notInstalled->end()),
        report);
    if (catalog.contents.signatureIntact) {
        JudgeTrust(der, catalog, report);
    }
}

}  // namespace

void CheckCatalog(const std::vector<InfLine>& lines, PackageReport* report)
{
    CatalogReport& catalog = report->catalog;
    // The names with %strkey% replaced, as Windows reads them; the line
    // reader's literal values only where the model did not read the INF.
    if (report->infRead) {
        if (const InfSection* version = report->inf.Find("Version")) {
            for (const InfEntry& entry : version->entries) {
                if (entry.hasKey && IsCatalogKey(entry.key) && !entry.fields.empty()) {
                    AddOnce(&catalog.names, entry.fields[0]);
                }
            }
        }
    } else {
        bool sawVersion = false;
        for (const VersionEntry& entry : VersionEntries(lines, &sawVersion)) {
            if (IsCatalogKey(entry.key)) {
                AddOnce(&catalog.names, entry.value);
            }
        }
    }
    catalog.trust.judged = true;  // until a catalog is read that this build cannot judge
    if (catalog.names.empty()) {
        Warn(report, "UNSIGNED_PACKAGE",
             "The INF's [Version] section names no CatalogFile: the package is unsigned, and "
             "64-bit Windows loads no unsigned driver (32-bit Windows asks the user or refuses).");
        catalog.note = "no catalog named";
        return;
    }
    // Windows looks for the catalog beside the INF, and refuses to stage an
    // INF whose catalog is not there.
    std::string infFolder = FolderOf(report->infPath);
    std::vector<std::string> missing;
    std::vector<std::string> others;
    for (const std::string& name : catalog.names) {
        bool present = IsPlainFileName(name.c_str()) == 1 && IsFile(JoinPath(infFolder, name));
        if (!present) {
            missing.push_back(name);
            Warn(report, "CATALOG_MISSING",
                 "The INF names the catalog " + Quote(name) +
                     ", which is not beside it in the package: Windows refuses to stage the INF.");
        } else if (!catalog.present) {
            catalog.name = name;
            catalog.present = true;
        } else {
            others.push_back(name);
        }
    }
    if (!missing.empty()) {
        Fail(report, EXIT_STAGING_FAILED,
             "Windows refuses to stage an INF whose catalog is not beside it: " + LineList(missing) + ".");
    }
    if (!catalog.present) {
        catalog.name = catalog.names[0];
        catalog.note = "the catalog is missing";
        return;
    }
    std::vector<std::string> notInstalled;
    ReadOneCatalog(catalog, report, &notInstalled);
    // The decorated catalogs of other architectures, for the targets that use them.
    for (const std::string& name : others) {
        CatalogReport other;
        other.name = name;
        other.present = true;
        other.trust.judged = true;
        ReadOneCatalog(other, report, &notInstalled);
        report->otherCatalogs.push_back(other);
    }
}
