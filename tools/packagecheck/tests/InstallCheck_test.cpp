// The check judges each target by what it installs: the warnings about what
// Windows serves, copies and loads there, per target, on small packages.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "CheckSupport.h"
#include "PeImage.h"

namespace {

// Decorated models for three architectures; the ARM64 disk is the x64 folder
// (an x64 build where an ARM64 one belongs); x64 serves one device more.
const char kDecoratedInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
    "[Manufacturer]\r\n%Mfg%=Models,NTx86,NTamd64,NTarm64\r\n"
    "[Models.NTx86]\r\n%Dev%=Inst, USB\\VID_0123&PID_4567\r\n"
    "[Models.NTamd64]\r\n%Dev%=Inst, USB\\VID_0123&PID_4567\r\n%Dev%=Inst, USB\\VID_0123&PID_9999\r\n"
    "[Models.NTarm64]\r\n%Dev%=Inst, USB\\VID_0123&PID_4567\r\n"
    "[Inst.NT]\r\nCopyFiles=Drv\r\n[Inst.NT.Services]\r\nAddService=drv,2,Svc\r\n"
    "[Svc]\r\nServiceBinary=%12%\\drv.sys\r\n[Drv]\r\ndrv.sys\r\n[DestinationDirs]\r\nDefaultDestDir=12\r\n"
    "[SourceDisksNames.x86]\r\n1=%Disk%,,,\\x86\r\n[SourceDisksNames.amd64]\r\n1=%Disk%,,,\\x64\r\n"
    "[SourceDisksNames.arm64]\r\n1=%Disk%,,,\\x64\r\n[SourceDisksFiles]\r\ndrv.sys=1\r\n"
    "[Strings]\r\nMfg=\"MERVO\"\r\nDev=\"Device\"\r\nDisk=\"Disk\"\r\n";

struct InstallCase {
    const char* name;
    bool decorated;  // kDecoratedInf, else the undecorated GoodInf()
    const char* target;
    std::vector<std::string> codes;  // of the install warnings for the target, in order
    const char* driver;              // the driver verdict's file; "" none of the INF's own
    const char* cause;               // in that verdict's cause; "" any
};

// clang-format off
const InstallCase kCases[] = {
    {"missing_x86_build",      true,  "7-x86",    {"FILE_MISSING_FOR_TARGET"}, "",            ""},
    {"x64_serves_more",        true,  "7-x64",    {"STAGER_DEVICES_DIFFER"},   "x64\\drv.sys", "embedded signature"},
    {"x64_driver_on_arm64",    true,  "11-arm64", {"DRIVER_WRONG_MACHINE"},    "x64\\drv.sys", "Windows does not stage"},
    {"undecorated_on_x86",     false, "7-x86",    {},                          "mervousb.sys", ""},
    {"undecorated_on_x64",     false, "10-x64",   {"NO_DEVICE_SERVED"},        "mervousb.sys", ""},
};
// clang-format on

class InstallTest : public testing::TestWithParam<InstallCase> {};

TEST_P(InstallTest, WarnsPerTarget)
{
    const InstallCase& c = GetParam();
    TempPackage package;
    package.AddCompanionTool();
    if (c.decorated) {
        package.Write("MERVOUSB.inf", kDecoratedInf);
        std::filesystem::create_directories(package.File("x64"));
        package.Write("x64/drv.sys", ReadFile(MERVO_PE_SAMPLES "/sample64.dll"));
    } else {
        package.Write("MERVOUSB.inf", GoodInf());
        package.Write("mervousb.sys", "driver bytes");
    }
    CheckOptions options = DefaultCheckOptions();
    options.targets = {c.target};
    PackageReport report = CheckFolder(package.path(), nullptr, options);

    std::vector<std::string> codes;
    for (const std::string& warning : TargetWarnings(report)) {
        for (const char* code : {"NO_DEVICE_SERVED", "FILE_MISSING_FOR_TARGET", "DRIVER_WRONG_MACHINE",
                                 "STAGER_DEVICES_DIFFER"}) {
            if (warning == std::string(c.target) + " " + code) {
                codes.push_back(code);
            }
        }
    }
    EXPECT_EQ(c.codes, codes) << FormatReportText(report);
    ASSERT_EQ(1u, report.targets.size());
    const std::vector<DriverVerdict>& drivers = report.targets[0].drivers;
    auto driver = std::find_if(drivers.begin(), drivers.end(),
                               [&c](const DriverVerdict& verdict) { return verdict.file == c.driver; });
    if (*c.driver == '\0') {
        EXPECT_TRUE(drivers.empty()) << FormatReportText(report);
    } else {
        ASSERT_NE(driver, drivers.end()) << FormatReportText(report);
        EXPECT_NE(std::string::npos, driver->cause.find(c.cause)) << driver->cause;
    }
    ExpectJsonMatchesText(FormatReportJson(report), FormatReportText(report));
}

INSTANTIATE_TEST_SUITE_P(Packages, InstallTest, testing::ValuesIn(kCases), CaseName());

// The machine type decides before any signature: an x64 driver is never
// loaded on ARM64, whatever the catalog; the JSON gives its type.
TEST(InstallCheck, NamesTheMachineTypeOfEachInstalledDriver)
{
    TempPackage package;
    package.Write("MERVOUSB.inf", kDecoratedInf);
    std::filesystem::create_directories(package.File("x64"));
    package.Write("x64/drv.sys", ReadFile(MERVO_PE_SAMPLES "/sample64.dll"));
    PackageReport report = CheckFolder(package.path(), nullptr);
    ASSERT_EQ(report.targets.size(), report.targetInstalls.size());
    for (const TargetInstallReport& install : report.targetInstalls) {
        const WindowsTarget* target = FindWindowsTarget(install.target);
        ASSERT_NE(target, nullptr);
        if (target->release == Release::Windows2000) {
            EXPECT_TRUE(install.files.empty());  // it reads no decoration, and [Models] is not there
            continue;
        }
        // x86 targets copy from x86\, which the package lacks.
        ASSERT_EQ(1u, install.files.size()) << install.target;
        EXPECT_EQ(target->architecture != Architecture::X86, install.files[0].present) << install.target;
        EXPECT_EQ(target->architecture != Architecture::X86 ? PE_MACHINE_AMD64 : 0, install.files[0].machine);
    }
}

}  // namespace
