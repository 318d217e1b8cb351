// Reads a catalog through the system's own wintrust and says whether each
// given file is one of its members: CryptCATOpen and CryptCATEnumerateMember
// list the members' tags, CryptCATAdminCalcHashFromFileHandle hashes each
// file as the system does, and the tag of that hash must be a member's.
// (Wine 8 reads SHA-1 member lists only, and hashes a PE image whole where
// Windows takes its Authenticode image hash: under Wine, give it flat files.)
//
//   MERVOCatalogMembers.exe CATALOG FILE...
// Prints the member count and one line per file; exit 0 when every file is
// a member and every member is one of the files, 1 otherwise, 2 on usage.
#include <windows.h>
// clang-format off
#include <wincrypt.h>
#include <mscat.h>
// clang-format on

#include <cstdio>
#include <set>
#include <string>

namespace {

std::wstring Wide(const char* text)
{
    int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

// The file's hash as the system computes it for catalogs, upper-case hex (a member's tag).
bool FileTag(const char* path, std::wstring* tag)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BYTE hash[64];
    DWORD size = sizeof hash;
    BOOL ok = CryptCATAdminCalcHashFromFileHandle(file, &size, hash, 0);
    CloseHandle(file);
    if (!ok) {
        return false;
    }
    tag->clear();
    for (DWORD k = 0; k < size; ++k) {
        wchar_t hex[3];
        swprintf(hex, 3, L"%02X", hash[k]);
        *tag += hex;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: MERVOCatalogMembers CATALOG FILE...\n");
        return 2;
    }
    std::wstring catalogPath = Wide(argv[1]);
    HANDLE catalog = CryptCATOpen(&catalogPath[0], 0, 0, 0, 0);
    if (catalog == INVALID_HANDLE_VALUE) {
        printf("CryptCATOpen failed: %lu\n", GetLastError());
        return 1;
    }
    std::set<std::wstring> tags;
    for (CRYPTCATMEMBER* member = CryptCATEnumerateMember(catalog, nullptr); member != nullptr;
         member = CryptCATEnumerateMember(catalog, member)) {
        tags.insert(member->pwszReferenceTag);
        printf("tag %ls\n", member->pwszReferenceTag);
    }
    printf("members: %u\n", static_cast<unsigned>(tags.size()));
    std::set<std::wstring> found;
    int missing = 0;
    for (int k = 2; k < argc; ++k) {
        std::wstring tag;
        if (!FileTag(argv[k], &tag)) {
            printf("NOT HASHED %s (%lu)\n", argv[k], GetLastError());
            ++missing;
        } else if (tags.count(tag) != 0) {
            printf("member %s\n", argv[k]);
            found.insert(tag);
        } else {
            printf("NOT A MEMBER %s %ls\n", argv[k], tag.c_str());
            ++missing;
        }
    }
    CryptCATClose(catalog);
    bool every = missing == 0 && found.size() == tags.size();
    if (every) {
        printf("every member found\n");
    } else {
        printf("%u of %u members found\n", static_cast<unsigned>(found.size()),
               static_cast<unsigned>(tags.size()));
    }
    return every ? 0 : 1;
}
