// Planning and writing the catalogs of a package.
#include "MakeCatalog.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "CheckParts.h"
#include "FileDigests.h"
#include "InfModel.h"
#include "PackageFacts.h"

namespace {

// `relative` with "\" as "/" and "." parts dropped; false when it is absolute
// or a ".." part leaves the folder.
bool InsideFolder(const std::string& relative, std::string* normal)
{
    std::string path = relative;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty() || path[0] == '/' || (path.size() > 1 && path[1] == ':')) {
        return false;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part == "..") {
            if (parts.empty()) {
                return false;
            }
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    normal->clear();
    for (const std::string& part : parts) {
        *normal += (normal->empty() ? "" : "/") + part;
    }
    return !parts.empty();
}

void AddOnce(std::vector<std::string>* list, const std::string& item)
{
    if (std::find(list->begin(), list->end(), item) == list->end()) {
        list->push_back(item);
    }
}

enum class Found { File, Missing, NotAFile };

// The path of `normal` (relative, "/"-separated) in `folder` as the folder
// spells it: Windows finds package files whatever their case, so each part is
// matched exactly or else case-insensitively. Symbolic links are not
// followed: a link may lead out of the folder.
Found FindInFolder(const std::string& folder, const std::string& normal, std::string* actual)
{
    actual->clear();
    size_t start = 0;
    while (true) {
        size_t end = normal.find('/', start);
        std::string part = normal.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string parent = folder + (actual->empty() ? "" : "/" + *actual);
        std::string spelled = part;
        struct stat status = {};
        if (lstat((parent + "/" + part).c_str(), &status) != 0) {
            spelled.clear();
            if (DIR* listing = opendir(parent.c_str())) {
                while (const dirent* entry = readdir(listing)) {
                    if (strcasecmp(entry->d_name, part.c_str()) == 0) {
                        spelled = entry->d_name;
                        break;
                    }
                }
                closedir(listing);
            }
            if (spelled.empty() || lstat((parent + "/" + spelled).c_str(), &status) != 0) {
                return Found::Missing;
            }
        }
        *actual += (actual->empty() ? "" : "/") + spelled;
        if (end == std::string::npos) {
            return S_ISREG(status.st_mode) ? Found::File : Found::NotAFile;
        }
        if (!S_ISDIR(status.st_mode)) {
            return Found::NotAFile;
        }
        start = end + 1;
    }
}

// Whether a package file is there as a regular file; an error naming it when not.
bool Present(const std::string& folder, const std::string& normal, const std::string& why,
             std::string* actual, std::vector<std::string>* errors)
{
    switch (FindInFolder(folder, normal, actual)) {
    case Found::File:
        return true;
    case Found::Missing:
        AddOnce(errors, "missing: " + normal + " (" + why + ")");
        return false;
    case Found::NotAFile:
        AddOnce(errors, "not a regular file: " + normal + " (" + why + "; a symbolic link or a folder)");
        return false;
    }
    return false;
}

// What goes into one catalog.
struct Planned {
    std::string path;
    std::vector<const CatalogOsName*> systems;
    std::vector<std::string> infs;             // normal relative paths
    std::map<std::string, std::string> files;  // relative path as the folder spells it -> installed name
    std::vector<std::string> hardwareIds;
};

// "2:5.1,2:6.0": the versions of the systems, oldest first.
std::string OsAttrOf(const std::vector<const CatalogOsName*>& systems)
{
    std::vector<std::pair<std::pair<long, long>, std::string>> versions;
    for (const CatalogOsName* os : systems) {
        for (const std::string& entry : OsAttrEntries(*os)) {
            char* end = nullptr;
            long major = strtol(entry.c_str() + 2, &end, 10);
            long minor = *end == '.' ? strtol(end + 1, nullptr, 10) : 0;
            versions.push_back({{major, minor}, entry});
        }
    }
    std::sort(versions.begin(), versions.end());
    std::vector<std::string> entries;
    for (const auto& version : versions) {
        AddOnce(&entries, version.second);
    }
    std::string osAttr;
    for (const std::string& entry : entries) {
        osAttr += (osAttr.empty() ? "" : ",") + entry;
    }
    return osAttr;
}

// The catalog's list: members sorted by tag, then the OS attribute and the
// hardware ids from the last to the first, as real catalogs hold them.
bool BuildList(const MakeRequest& request, const Planned& planned, CatalogList* list,
               std::vector<std::string>* errors)
{
    list->sha256 = true;
    for (const CatalogOsName* os : planned.systems) {
        list->sha256 = list->sha256 && VerifiesSha256Members(TargetOf(*os));
    }
    // SHA-1 lists in the older catalogs' form, which the oldest systems read.
    list->obsoleteLinks = !list->sha256;
    const std::string osAttr = OsAttrOf(planned.systems);
    std::set<std::string> members(planned.infs.begin(), planned.infs.end());
    for (const auto& file : planned.files) {
        members.insert(file.first);
    }
    bool ok = true;
    for (const std::string& path : members) {
        FileDigests digests;
        std::string problem;
        if (!DigestFile(request.folder + "/" + path, list->sha256, &digests, &problem)) {
            errors->push_back(path + " " + problem);
            ok = false;
            continue;
        }
        ListMember member;
        // The name the package holds it by, as the checker looks members up.
        member.file = InfLower(MemberFileName(path));
        member.osAttr = osAttr;
        member.kind = digests.peImage ? MemberKind::PeImage : MemberKind::Flat;
        member.algorithm = list->sha256 ? "sha256" : "sha1";
        member.digest = list->sha256 ? digests.sha256 : digests.sha1;
        member.tag = MemberTag(list->sha256, member.digest);
        list->members.push_back(member);
        if (list->sha256) {
            // Beside each SHA-256 member, one tagged with the SHA-1 alone.
            ListMember sha1 = member;
            sha1.indirectData = false;
            sha1.algorithm = "sha1";
            sha1.digest = digests.sha1;
            sha1.tag = MemberTag(true, digests.sha1);
            list->members.push_back(sha1);
        }
    }
    std::sort(list->members.begin(), list->members.end(), [](const ListMember& a, const ListMember& b) {
        return a.tag != b.tag ? a.tag < b.tag : a.file < b.file;
    });
    // The same bytes under the same name (a file two sections install) are one member.
    list->members.erase(std::unique(list->members.begin(), list->members.end(),
                                    [](const ListMember& a, const ListMember& b) {
                                        return a.tag == b.tag && a.file == b.file;
                                    }),
                        list->members.end());
    std::string words;
    for (const CatalogOsName& os : CatalogOsNames()) {
        if (std::find(planned.systems.begin(), planned.systems.end(), &os) != planned.systems.end()) {
            words += (words.empty() ? "" : ",") + std::string(os.osWord);
        }
    }
    list->attributes.push_back({"OS", words});
    for (size_t k = planned.hardwareIds.size(); k > 0; --k) {
        list->attributes.push_back({"HWID" + std::to_string(k), planned.hardwareIds[k - 1]});
    }
    list->time = request.time;
    list->listId = ListIdentifier(*list);
    return ok;
}

// An INF read for every target of the table, once.
struct InfRead {
    std::string problem;                            // why it cannot be read; empty when it was
    std::map<std::string, InfTargetFacts> targets;  // by target name
};

// The catalog a system gets from `inf`, and what it installs there, into `plans`.
void PlanSystem(const MakeRequest& request, const std::string& inf, const InfRead& read,
                const CatalogOsName& os, std::map<std::string, Planned>* plans,
                std::vector<std::string>* errors)
{
    const WindowsTarget& target = TargetOf(os);
    if (!read.problem.empty()) {
        AddOnce(errors, inf + ": " + read.problem);
        return;
    }
    const InfTargetFacts& facts = read.targets.at(target.name);
    const std::string system = std::string(os.kitName) + " (" + target.name + ")";
    if (facts.hardwareIds.empty()) {
        errors->push_back(inf + " serves no device on " + system);
        return;
    }
    std::string catalog = request.output;
    if (catalog.empty()) {
        if (facts.catalog.empty()) {
            errors->push_back(inf + " names no catalog for " + system);
            return;
        }
        std::string normal;
        if (!InsideFolder(facts.catalog, &normal)) {
            errors->push_back(inf + " names a catalog outside the package folder: " + facts.catalog);
            return;
        }
        // Windows finds the catalog whatever its case: an old one is replaced
        // under the name it has.
        std::string actual;
        if (FindInFolder(request.folder, normal, &actual) == Found::Missing) {
            actual = normal;
        }
        catalog = request.folder + "/" + actual;
    }
    Planned& planned = (*plans)[InfLower(catalog)];
    if (planned.path.empty()) {
        planned.path = catalog;
    }
    if (std::find(planned.systems.begin(), planned.systems.end(), &os) == planned.systems.end()) {
        planned.systems.push_back(&os);
    }
    AddOnce(&planned.infs, inf);
    for (const std::string& id : facts.hardwareIds) {
        AddOnce(&planned.hardwareIds, InfLower(id));
    }
    // Each file the system installs, in every architecture's build the INF
    // names: a catalog holds them all, so that any of them matches.
    std::set<std::string> names;
    for (const InstalledFile& file : facts.files) {
        names.insert(InfLower(file.name));
    }
    std::vector<InstalledFile> sources;
    for (const auto& [other, more] : read.targets) {
        for (const InstalledFile& file : more.files) {
            if (names.count(InfLower(file.name)) != 0) {
                sources.push_back(file);
            }
        }
    }
    for (const InstalledFile& file : sources) {
        std::string normal;
        if (!InsideFolder(file.source, &normal)) {
            AddOnce(errors,
                    inf + " installs " + file.name + " from outside the package folder: " + file.source);
        } else if (std::string actual;
                   Present(request.folder, normal, inf + " installs " + file.name, &actual, errors)) {
            planned.files.emplace(actual, file.name);
        }
    }
}

}  // namespace

std::string ListIdentifier(const CatalogList& list)
{
    CatalogList fixed = list;
    fixed.listId.assign(16, '\0');
    fixed.time = 0;
    std::string der = EncodeCatalog(fixed);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (der.empty() || EVP_Digest(der.data(), der.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        return std::string(16, '\0');
    }
    return std::string(reinterpret_cast<char*>(digest), 16);
}

bool PlanCatalogs(const MakeRequest& request, std::vector<MadeCatalog>* catalogs,
                  std::vector<std::string>* errors)
{
    std::map<std::string, Planned> plans;
    std::vector<std::string> infs;
    for (const std::string& inf : request.infs) {
        std::string normal;
        if (!InsideFolder(inf, &normal)) {
            errors->push_back("the INF is outside the package folder: " + inf);
        } else if (std::string actual; Present(request.folder, normal, "the INF", &actual, errors)) {
            infs.push_back(actual);
        }
    }
    for (const std::string& inf : infs) {
        InfRead read;
        ReadInfForTargets(request.folder, inf, &read.targets, &read.problem);
        for (const CatalogOsName* os : request.systems) {
            PlanSystem(request, inf, read, *os, &plans, errors);
        }
    }
    if (!errors->empty()) {
        return false;
    }
    // The other INFs of the folder that name one of these catalogs are its members too.
    std::vector<std::string> folderInfs;
    if (DIR* folder = opendir(request.folder.c_str())) {
        while (dirent* entry = readdir(folder)) {
            std::string name = entry->d_name;
            std::string actual;
            if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".inf") == 0 &&
                FindInFolder(request.folder, name, &actual) == Found::File) {
                folderInfs.push_back(name);
            }
        }
        closedir(folder);
    }
    std::sort(folderInfs.begin(), folderInfs.end());
    for (const std::string& inf : request.output.empty() ? folderInfs : std::vector<std::string>()) {
        for (const std::string& named : CatalogsNamedBy(request.folder, inf)) {
            std::string normal;
            auto planned = plans.end();
            if (InsideFolder(named, &normal)) {
                planned = plans.find(InfLower(request.folder + "/" + normal));
            }
            if (planned != plans.end()) {
                AddOnce(&planned->second.infs, inf);
            }
        }
    }
    bool ok = true;
    for (const auto& [key, planned] : plans) {
        MadeCatalog made;
        made.path = planned.path;
        ok = BuildList(request, planned, &made.list, errors) && ok;
        catalogs->push_back(made);
    }
    return ok;
}

namespace {

// Writes `bytes` to a new temporary file beside `path`, named in `temporary`.
bool WriteTemporary(const std::string& path, const std::string& bytes, std::string* temporary,
                    std::string* problem)
{
    *temporary = path + ".XXXXXX";
    int descriptor = mkstemp(&(*temporary)[0]);
    if (descriptor < 0) {
        *problem = "cannot write beside " + path + ": " + strerror(errno);
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = write(descriptor, bytes.data() + done, bytes.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    // Readable like any file the user makes (mkstemp gives 0600).
    mode_t mask = umask(0);
    umask(mask);
    ok = ok && fchmod(descriptor, 0666 & ~mask) == 0 && fsync(descriptor) == 0;
    ok = close(descriptor) == 0 && ok;
    if (!ok) {
        *problem = "cannot write " + path + ": " + strerror(errno);
        unlink(temporary->c_str());
    }
    return ok;
}

// A catalog that has taken its place, and the old file it replaced, kept
// under a second name until every catalog has taken its place.
struct Placed {
    std::string path;
    std::string kept;  // empty: there was no old file
};

// Keeps the old file at `path` (if any) under a new name beside it: a second
// link to it, or a copy where the file system has no links.
bool KeepOld(const std::string& path, std::string* kept, std::string* problem)
{
    kept->clear();
    struct stat status = {};
    if (lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        *problem = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *problem = "cannot write " + path + ": something other than a file is there";
        return false;
    }
    std::string temporary;
    if (!WriteTemporary(path, std::string(), &temporary, problem)) {
        return false;
    }
    unlink(temporary.c_str());
    if (link(path.c_str(), temporary.c_str()) == 0) {
        *kept = temporary;
        return true;
    }
    std::string bytes;
    FILE* old = fopen(path.c_str(), "rb");
    bool read = old != nullptr;
    char buffer[65536];
    for (size_t n; read && (n = fread(buffer, 1, sizeof buffer, old)) > 0;) {
        bytes.append(buffer, n);
    }
    read = read && ferror(old) == 0;
    if (old != nullptr) {
        fclose(old);
    }
    if (!read) {
        *problem = "cannot keep the old " + path + " while writing the new one";
        return false;
    }
    return WriteTemporary(path, bytes, kept, problem);
}

// Puts back what the placed catalogs replaced, last first.
void PutBack(const std::vector<Placed>& placed)
{
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
        if (it->kept.empty()) {
            unlink(it->path.c_str());
        } else {
            rename(it->kept.c_str(), it->path.c_str());
        }
    }
}

}  // namespace

bool MakeCatalogs(const MakeRequest& request, std::vector<std::string>* written,
                  std::vector<std::string>* errors)
{
    std::vector<MadeCatalog> catalogs;
    if (!PlanCatalogs(request, &catalogs, errors)) {
        return false;
    }
    // Every catalog encoded and written beside its place before any takes it.
    std::vector<std::string> temporaries;
    bool ok = true;
    for (const MadeCatalog& catalog : catalogs) {
        std::string der = EncodeCatalog(catalog.list);
        std::string temporary;
        std::string problem;
        if (der.empty()) {
            errors->push_back("the catalog " + catalog.path + " could not be encoded");
            ok = false;
        } else if (!WriteTemporary(catalog.path, der, &temporary, &problem)) {
            errors->push_back(problem);
            ok = false;
        } else {
            temporaries.push_back(temporary);
        }
        if (!ok) {
            break;
        }
    }
    // Then each takes its place in turn, the old file kept until all have: a
    // failure on the way puts every old file back and leaves no new one.
    std::vector<Placed> placed;
    for (size_t k = 0; ok && k < temporaries.size(); ++k) {
        Placed place{catalogs[k].path, std::string()};
        std::string problem;
        if (!KeepOld(place.path, &place.kept, &problem)) {
            errors->push_back(problem);
            ok = false;
        } else if (rename(temporaries[k].c_str(), place.path.c_str()) != 0) {
            errors->push_back("cannot write " + place.path + ": " + strerror(errno));
            if (!place.kept.empty()) {
                unlink(place.kept.c_str());
            }
            ok = false;
        } else {
            placed.push_back(place);
        }
    }
    if (!ok) {
        PutBack(placed);
        for (size_t k = placed.size(); k < temporaries.size(); ++k) {
            unlink(temporaries[k].c_str());
        }
        return false;
    }
    for (const Placed& place : placed) {
        if (!place.kept.empty()) {
            unlink(place.kept.c_str());
        }
        written->push_back(place.path);
    }
    return true;
}
