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

namespace {

// A real vendor-signed package with a kernel driver per architecture and a
// catalog per architecture, judged per target, as shipped and with its x64
// driver changed after signing (a byte of its code). No device is served on
// ARM64, which the catalogs do not cover either: not warned about as unserved.
struct RealCase {
    const char* name;
    bool x64DriverChanged;
    const char* target;
    const char* catalog;  // the catalog that applies there
    const char* staging;  // StagingName(), with " 0x..." when refused
    const char* driver;   // "" none installed; else its verdict: "<file> loads" or "<file> not loaded"
    const char* warning;  // a warning code given for the target; "" none asked for
};

// clang-format off
const RealCase kRealCases[] = {
    {"as_shipped_7_x86",   false, "7-x86",    "ArgyllCMS.cat",     "prompt",           "bin\\x86\\libusb0.sys loads",       "STAGING_PROMPTS"},
    {"as_shipped_7_x64",   false, "7-x64",    "ArgyllCMS_x64.cat", "prompt",           "bin\\amd64\\libusb0.sys loads",     "STAGING_PROMPTS"},
    {"as_shipped_10_x86",  false, "10-x86",   "ArgyllCMS.cat",     "warn",             "bin\\x86\\libusb0.sys not loaded",  "DRIVER_NOT_LOADED"},
    {"as_shipped_10_x64",  false, "10-x64",   "ArgyllCMS_x64.cat", "refused 0xE0000244", "bin\\amd64\\libusb0.sys not loaded", "CATALOG_OS_NOT_COVERED"},
    {"as_shipped_11_arm64", false, "11-arm64", "ArgyllCMS.cat",    "refused 0xE0000244", "",                                "CATALOG_OS_NOT_COVERED"},
    {"changed_7_x86",      true,  "7-x86",    "ArgyllCMS.cat",     "prompt",           "bin\\x86\\libusb0.sys loads",       ""},
    {"changed_7_x64",      true,  "7-x64",    "ArgyllCMS_x64.cat", "warn",             "bin\\amd64\\libusb0.sys not loaded", "DRIVER_NOT_LOADED"},
    {"changed_10_x64",     true,  "10-x64",   "ArgyllCMS_x64.cat", "refused 0xE000024B", "bin\\amd64\\libusb0.sys not loaded", "STAGING_REFUSED"},
};
// clang-format on

class SignedDriverPackageTest : public testing::TestWithParam<RealCase> {};

TEST_P(SignedDriverPackageTest, IsJudgedByWhatEachTargetInstalls)
{
    const RealCase& c = GetParam();
    TempPackage package;
    package.CopyFrom(MERVO_SIGNED_PACKAGES "/argyll-libusb0");
    if (c.x64DriverChanged) {
        std::string driver = package.Read("bin/amd64/libusb0.sys");
        driver[0x500] = static_cast<char>(driver[0x500] ^ 1);
        package.Write("bin/amd64/libusb0.sys", driver);
    }
    CheckOptions options = DefaultCheckOptions();
    options.targets = {c.target};
    const PackageReport report = CheckFolder(package.path(), "ArgyllCMS.inf", options);
    ASSERT_EQ(1u, report.targets.size());
    ASSERT_EQ(1u, report.targetInstalls.size());
    const TargetVerdict& verdict = report.targets[0];
    EXPECT_EQ(c.catalog, report.targetInstalls[0].install.catalog);
    char code[16] = "";
    if (verdict.code != 0) {
        snprintf(code, sizeof code, " 0x%08X", static_cast<unsigned>(verdict.code));
    }
    EXPECT_EQ(c.staging, std::string(StagingName(verdict.staging)) + code) << verdict.cause;
    std::string drivers;
    for (const DriverVerdict& driver : verdict.drivers) {
        drivers += driver.file + (driver.loads ? " loads" : " not loaded");
    }
    EXPECT_EQ(c.driver, drivers);
    const std::vector<std::string> warnings = TargetWarnings(report);
    if (*c.warning != '\0') {
        EXPECT_NE(warnings.end(),
                  std::find(warnings.begin(), warnings.end(), std::string(c.target) + " " + c.warning))
            << FormatReportText(report);
    }
    // The ia64 build is installed by no section: named once, never as changed.
    const std::vector<std::string> codes = WarningCodes(report);
    EXPECT_EQ(1, std::count(codes.begin(), codes.end(), "FILE_NOT_INSTALLED"));
    EXPECT_EQ(c.x64DriverChanged ? 1 : 0, std::count(codes.begin(), codes.end(), "CATALOG_HASH_MISMATCH"));
}

INSTANTIATE_TEST_SUITE_P(ArgyllLibusb0, SignedDriverPackageTest, testing::ValuesIn(kRealCases), CaseName());

}  // namespace
