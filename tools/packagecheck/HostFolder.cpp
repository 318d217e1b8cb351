// The host's way to the package: the simulated Windows with drive P: mapped
// onto the package folder and the stager's module path pointed at
// P:\MERVODriverStager.exe, so the readers see the folder as the stager would.
// Drive C: (which the simulator fills with its Windows folders) lies in a
// temporary folder of its own, so nothing is ever written into the package.
//
// The package is untrusted input: every file the check opens must be a
// regular file reached through real folders of the package. A symbolic link
// (to a file or a folder), a FIFO or a device is refused like a file that
// cannot be read, without being opened for reading and without waiting.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "PackageCheck.h"
#include "common/BoundedText.h"
#include "platform/simulated/SimulatedPlatform.h"
#include "system/Dirs.h"

namespace {

std::string systemRoot;   // the temporary host folder behind drive C:
std::string packageRoot;  // the host folder behind drive P:

// Drive Q: is mapped onto the check's own open descriptors, so that the
// simulated stream opens the very file that was checked, not a name that
// could have changed since.
const char kDescriptorDrive = 'Q';
const char kDescriptorFolder[] = "/proc/self/fd";

FILE* (*simulatedOpenStream)(const char* path, const char* mode) = nullptr;
char descriptorPath[32];  // "Q:\<descriptor>"

// Opens `host`, a path below the package folder, for reading: every folder on
// the way must be a real folder and the file a regular file. Returns the
// descriptor, or -1 with errno ENOENT when nothing of that name is there and
// EACCES when something else is there.
int OpenRegularFile(const std::string& host)
{
    const std::string prefix = packageRoot + "/";
    if (host.compare(0, prefix.size(), prefix) != 0) {
        errno = EACCES;
        return -1;
    }
    int folder = open(packageRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t from = prefix.size();
    while (folder >= 0) {
        size_t slash = host.find('/', from);
        std::string part = host.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        bool last = slash == std::string::npos;
        struct stat info;
        // Looked at before it is opened: opening a device can do things.
        if (fstatat(folder, part.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            int error = errno;
            close(folder);
            errno = error == ENOENT ? ENOENT : EACCES;
            return -1;
        }
        int next = -1;
        if (last ? S_ISREG(info.st_mode) : S_ISDIR(info.st_mode)) {
            next =
                openat(folder, part.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (last ? 0 : O_DIRECTORY));
        }
        close(folder);
        // What was opened must still be what was looked at.
        if (next >= 0 &&
            (fstat(next, &info) != 0 || !(last ? S_ISREG(info.st_mode) : S_ISDIR(info.st_mode)))) {
            close(next);
            next = -1;
        }
        if (next < 0) {
            errno = EACCES;
            return -1;
        }
        if (last) {
            return next;
        }
        folder = next;
        from = slash + 1;
    }
    errno = EACCES;
    return -1;
}

// The Platform table's OpenStream while a package is open: reading is
// allowed only from regular files of the package.
FILE* OpenPackageStream(const char* path, const char* mode)
{
    std::string host = path != nullptr ? SimHostPath(path) : std::string();
    bool reading = mode != nullptr && mode[0] == 'r' && strchr(mode, '+') == nullptr;
    if (!reading || host.empty()) {
        return simulatedOpenStream(path, mode);  // the simulator gives its own answer
    }
    int descriptor = OpenRegularFile(host);
    if (descriptor < 0) {
        if (errno == ENOENT) {
            return simulatedOpenStream(path, mode);  // missing: as the simulator reports it
        }
        Platform.SetLastError(PS_ERROR_ACCESS_DENIED);
        return nullptr;
    }
    FILE* stream = nullptr;
    if (FormatText(descriptorPath, sizeof descriptorPath, "%c:\\%d", kDescriptorDrive, descriptor) == 0) {
        stream = simulatedOpenStream(descriptorPath, mode);
    }
    close(descriptor);
    return stream;
}

}  // namespace

int OpenPackageFolder(const char* folder, std::string* programFolder, std::string* error)
{
    std::error_code failure;
    std::filesystem::path package = std::filesystem::absolute(folder, failure);
    if (failure || !std::filesystem::is_directory(package, failure)) {
        *error = std::string("no such folder: ") + folder;
        return 1;
    }
    std::string pattern =
        (std::filesystem::temp_directory_path(failure) / "mervo-packagecheck-XXXXXX").string();
    if (failure || mkdtemp(&pattern[0]) == nullptr) {
        *error = "cannot make a temporary folder for the simulated Windows";
        return 1;
    }
    systemRoot = pattern;
    packageRoot = package.string();
    while (packageRoot.size() > 1 && packageRoot.back() == '/') {
        packageRoot.pop_back();
    }
    SimReset(systemRoot);
    SimMapDrive('P', packageRoot);
    SimMapDrive(kDescriptorDrive, kDescriptorFolder);
    simulatedOpenStream = Platform.OpenStream;
    Platform.OpenStream = OpenPackageStream;
    Sim().modulePath = "P:\\MERVODriverStager.exe";
    Sim().currentDirectory = "P:\\";
    char moduleFolder[DIRS_PATH_SIZE];
    if (GetModuleDirectory(moduleFolder) != 0) {
        *error = "the simulated program folder is unknown";
        ClosePackageFolder();
        return 1;
    }
    *programFolder = moduleFolder;
    return 0;
}

void ClosePackageFolder()
{
    if (simulatedOpenStream != nullptr) {
        Platform.OpenStream = simulatedOpenStream;
        simulatedOpenStream = nullptr;
    }
    if (!systemRoot.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(systemRoot, ignored);
        systemRoot.clear();
    }
}

std::vector<std::string> ListPackageFiles(const std::string&)
{
    std::vector<std::string> names;
    std::error_code failure;
    std::filesystem::recursive_directory_iterator walk(packageRoot, failure);
    for (; !failure && walk != std::filesystem::recursive_directory_iterator(); walk.increment(failure)) {
        // Links, FIFOs and the like are listed too (not followed): a member
        // that names one finds a file it cannot read.
        std::error_code ignored;
        if (!walk->is_directory(ignored) || walk->is_symlink(ignored)) {
            std::string name = walk->path().lexically_relative(packageRoot).string();
            for (char& c : name) {
                c = c == '/' ? '\\' : c;
            }
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ExecutableFolder()
{
    std::error_code failure;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failure);
    return failure ? std::string() : program.parent_path().string();
}

bool IsFolder(const std::string& hostPath)
{
    std::error_code failure;
    return std::filesystem::is_directory(hostPath, failure);
}
