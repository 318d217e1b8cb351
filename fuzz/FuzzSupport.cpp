#include "FuzzSupport.h"

#include <ftw.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void FuzzCheck(bool condition, const char* text, const char* file, int line)
{
    if (!condition) {
        fprintf(stderr, "invariant violated at %s:%d: %s\n", file, line, text);
        abort();
    }
}

namespace {

std::string machineRoot;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW* where)
{
    // The root itself stays; everything below it goes.
    return where->level == 0 ? 0 : remove(path);
}

int RemoveAll(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

void RemoveMachineRoot()
{
    if (!machineRoot.empty()) {
        nftw(machineRoot.c_str(), RemoveAll, 16, FTW_DEPTH | FTW_PHYS);
    }
}

}  // namespace

void FuzzFreshMachine()
{
    if (machineRoot.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/mervo-fuzz-XXXXXX";
        char name[512];
        snprintf(name, sizeof name, "%s", pattern.c_str());
        FUZZ_CHECK(mkdtemp(name) != nullptr);
        machineRoot = name;
        atexit(RemoveMachineRoot);
    } else {
        nftw(machineRoot.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    SimReset(machineRoot);
}

void FuzzWritePackage(const std::string& inf)
{
    SimWriteFile("C:\\pkg\\MERVOUSB.inf", inf);
    SimWriteFile("C:\\pkg\\mervousb.sys", "USB driver bytes");
    SimWriteFile("C:\\pkg\\mervoser.sys", "serial driver bytes");
    SimWriteFile("C:\\pkg\\MERVODevCtl.exe", "tool");
    SimWriteFile("C:\\WINDOWS\\inf\\MERVOUSB.inf", "stale");
    SimWriteFile("C:\\WINDOWS\\inf\\MERVOUSB.pnf", "stale compiled");
    // Bait: a program that could be led outside its folders would touch these.
    SimWriteFile("C:\\secret.sys", "not to be read");
    SimWriteFile("C:\\WINDOWS\\system32\\hal.dll", "not to be replaced");
    SimWriteFile("C:\\WINDOWS\\system.ini", "not to be deleted");
}

bool FuzzIsDirectlyIn(const std::string& path, const std::string& folder)
{
    const std::string prefix = folder + "\\";
    return path.size() > prefix.size() && strncasecmp(path.c_str(), prefix.c_str(), prefix.size()) == 0 &&
           path.find('\\', prefix.size()) == std::string::npos;
}

void FuzzCheckFileRecords(bool wholeRun, const std::string& infPath)
{
    const std::string infHost = SimHostPath(infPath);
    for (const std::string& path : Sim().filesWritten) {
        bool allowed = FuzzIsDirectlyIn(path, "C:\\WINDOWS\\System32\\Drivers") ||
                       strcasecmp(path.c_str(), "C:\\Temp\\MERVOStageLog.txt") == 0 ||
                       (wholeRun && FuzzIsDirectlyIn(path, "C:\\WINDOWS\\inf"));
        if (!allowed)
            fprintf(stderr, "written: %s\n", path.c_str());
        FUZZ_CHECK(allowed);
    }
    for (const std::string& path : Sim().filesRead) {
        bool allowed =
            FuzzIsDirectlyIn(path, "C:\\pkg") || (!infHost.empty() && SimHostPath(path) == infHost);
        if (!allowed)
            fprintf(stderr, "read: %s\n", path.c_str());
        FUZZ_CHECK(allowed);
    }
    for (const std::string& path : Sim().filesDeleted) {
        bool allowed = FuzzIsDirectlyIn(path, "C:\\WINDOWS\\inf");
        if (!allowed)
            fprintf(stderr, "deleted: %s\n", path.c_str());
        FUZZ_CHECK(allowed);
    }
}
