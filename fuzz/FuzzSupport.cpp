#include "FuzzSupport.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>

#include "SimPackage.h"
#include "TempFolder.h"

void FuzzCheck(bool condition, const char* text, const char* file, int line)
{
    if (!condition) {
        fprintf(stderr, "invariant violated at %s:%d: %s\n", file, line, text);
        abort();
    }
}

void FuzzFreshMachine()
{
    // One folder for the process, removed at its exit; emptied for each input.
    static TempFolder machineRoot("mervo-fuzz");
    FUZZ_CHECK(!machineRoot.path().empty());
    machineRoot.Empty();
    SimReset(machineRoot.path());
}

void FuzzWritePackage(const std::string& inf)
{
    WritePackage(inf);
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
