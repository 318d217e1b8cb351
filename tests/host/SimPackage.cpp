#include "SimPackage.h"

#include "platform/simulated/SimulatedPlatform.h"

void WritePackage(const std::string& inf, const std::string& folder)
{
    SimWriteFile(folder + "\\MERVOUSB.inf", inf);
    SimWriteFile(folder + "\\mervousb.sys", "USB driver bytes");
    SimWriteFile(folder + "\\mervoser.sys", "serial driver bytes");
    SimWriteFile(folder + "\\MERVODevCtl.exe", "tool");
}
