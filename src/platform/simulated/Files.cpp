// File operations of the simulated Windows: attributes, deleting and
// copying, with the checks Windows makes.
#include "platform/simulated/SimMachine.h"

#include <unistd.h>

namespace simulated {

namespace {

// Copies `source` onto `target` after the checks Windows makes; 0 or an error code.
uint32_t CopyChecked(const Resolved& source, const Resolved& target, bool failIfExists)
{
    if (source.error != 0) {
        return source.error;
    }
    if (!source.exists) {
        return MissingError(source);
    }
    if (source.isFolder) {
        return PS_ERROR_ACCESS_DENIED;
    }
    if (target.error != 0) {
        return target.error;
    }
    if (!target.parentIsFolder) {
        return PS_ERROR_PATH_NOT_FOUND;
    }
    if (target.exists) {
        if (failIfExists) {
            return ERR_FILE_EXISTS;
        }
        if (target.isFolder || IsReadOnly(target)) {
            return PS_ERROR_ACCESS_DENIED;
        }
        if (target.host == source.host) {
            return ERR_SHARING_VIOLATION;
        }
        // The copy is made with the source's attributes, and Windows does not
        // replace a hidden or system file with one that lacks them.
        uint32_t kept = StoredAttributes(target) & (PS_FILE_ATTRIBUTE_HIDDEN | PS_FILE_ATTRIBUTE_SYSTEM);
        if ((StoredAttributes(source) & kept) != kept) {
            return PS_ERROR_ACCESS_DENIED;
        }
    }
    std::string bytes;
    if (!ReadHostFile(source.host, &bytes)) {
        return PS_ERROR_ACCESS_DENIED;
    }
    if (!WriteHostFile(target.host, bytes)) {
        return PS_ERROR_ACCESS_DENIED;
    }
    uint32_t copied = StoredAttributes(source) & ~static_cast<uint32_t>(PS_FILE_ATTRIBUTE_NORMAL);
    StoreAttributes(target.host, copied | PS_FILE_ATTRIBUTE_ARCHIVE);
    return 0;
}

}  // namespace

int32_t SimSetFileAttributesA(const char* path, uint32_t attributes)
{
    if (Enter(SIM_SetFileAttributesA, "SetFileAttributesA " + Text(path) + " " + Hex(attributes))) {
        return 0;
    }
    Resolved file;
    if (uint32_t error = ResolveExisting(path, &file)) {
        return static_cast<int32_t>(Fail(error));
    }
    StoreAttributes(file.host, attributes);
    return 1;
}

uint32_t SimGetFileAttributesA(const char* path)
{
    if (Enter(SIM_GetFileAttributesA, "GetFileAttributesA " + Text(path))) {
        return PS_INVALID_FILE_ATTRIBUTES;
    }
    Resolved file;
    if (uint32_t error = ResolveExisting(path, &file)) {
        if (file.device) {
            return PS_FILE_ATTRIBUTE_ARCHIVE;  // NUL and CON answer as files
        }
        Fail(error);
        return PS_INVALID_FILE_ATTRIBUTES;
    }
    return StoredAttributes(file);
}

int32_t SimDeleteFileA(const char* path)
{
    if (Enter(SIM_DeleteFileA, "DeleteFileA " + Text(path))) {
        return 0;
    }
    Resolved file;
    if (uint32_t error = ResolveExisting(path, &file)) {
        return static_cast<int32_t>(Fail(error));
    }
    if (file.isFolder || IsReadOnly(file) || unlink(file.host.c_str()) != 0) {
        return static_cast<int32_t>(Fail(PS_ERROR_ACCESS_DENIED));
    }
    State().attributes.erase(file.host);
    Sim().filesDeleted.push_back(file.windows);
    return 1;
}

int32_t SimCopyFileA(const char* existing, const char* target, int32_t failIfExists)
{
    if (Enter(SIM_CopyFileA, "CopyFileA " + Text(existing) + " " + Text(target))) {
        return 0;
    }
    Resolved from = ResolvePath(existing);
    Resolved to = ResolvePath(target);
    uint32_t error = CopyChecked(from, to, failIfExists != 0);
    if (error != 0) {
        return static_cast<int32_t>(Fail(error));
    }
    Sim().filesRead.push_back(from.windows);
    Sim().filesWritten.push_back(to.windows);
    Sim().lastError = PS_ERROR_SUCCESS;
    return 1;
}

}  // namespace simulated
