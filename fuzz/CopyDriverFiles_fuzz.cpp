// CopyDriverFiles on arbitrary INF bytes and an arbitrary InfFileName: files
// are written only into the driver folder, read only from the program folder,
// deleted only from the Windows INF folder, and the INF stream is closed.
//
// Input: the InfFileName text up to the first newline, then the INF bytes.
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "app/MERVODriverStager.h"
#include "common/BoundedText.h"
#include "inf/INFManager.h"
#include "log/LogFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    std::string name = newline == std::string::npos ? "MERVOUSB.inf" : input.substr(0, newline);
    name = name.substr(0, name.find('\0'));
    const std::string inf = newline == std::string::npos ? input : input.substr(newline + 1);

    FuzzFreshMachine();
    FuzzWritePackage(inf);
    CopyText(InfFileName, sizeof InfFileName, name.c_str());  // cut at 499 like any long name
    OpenLog("C:\\Temp\\MERVOStageLog.txt");                   // long log texts are exercised too

    int result = CopyDriverFiles("C:\\pkg\\MERVOUSB.inf", InfFileName, "C:\\pkg");
    CloseLog();

    FUZZ_CHECK(result == 0);
    FUZZ_CHECK(Sim().openStreams == 0);
    FuzzCheckFileRecords(false, "C:\\pkg\\MERVOUSB.inf");
    // The log is the one file written outside the driver folder, by the log.
    for (const std::string& path : Sim().filesWritten) {
        FUZZ_CHECK(path.find("MERVOStageLog") == std::string::npos || FuzzIsDirectlyIn(path, "C:\\Temp"));
    }
    return 0;
}
