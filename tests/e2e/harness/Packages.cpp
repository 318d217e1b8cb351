// The package folders of the tests and the driver store the runs start from.
#include "HarnessInternal.h"

namespace e2e {

std::string TestFolder()
{
    std::string name = "runner";
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (test != nullptr)
        name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ':')
            c = '_';
    }
    std::string folder = JoinPath(WorkRoot(), name);
    MakeFolders(folder);
    return folder;
}

// Wine 10 also keeps every staged package in the driver store, and staging a
// package that is there again fails with "file not found" once the stager
// has deleted the INF folder's copy that the store entry names. Every run
// starts with an empty store (Wine 8 keeps none), the 32-bit programs' one
// (in SysWOW64) included.
void EmptyDriverStore(const std::string& systemFolder)
{
    const std::string store = JoinPath(systemFolder, "driverstore\\filerepository");
    for (const FolderEntry& entry : ListFolder(store)) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) && !RemoveTree(JoinPath(store, entry.name)))
            Fail("cannot empty the driver store entry " + entry.name);
    }
}

std::string PreparePackage(const std::string& name, const PackageOptions& options)
{
    return PreparePackageAt(JoinPath(TestFolder(), name), options);
}

std::string ExampleInfWithoutVersionSection()
{
    std::string inf = ReadFileBytes(JoinPath(ExamplePackage(), "MERVOUSB.inf"));
    size_t from = inf.find("[Version]");
    size_t to = inf.find("[Manufacturer]");
    if (from == std::string::npos || to == std::string::npos || to < from) {
        return "";
    }
    return inf.erase(from, to - from);
}

std::string PreparePackageAt(const std::string& folder, const PackageOptions& options)
{
    if (!RemoveTree(folder))
        Fail("cannot empty " + folder);
    if (!MakeFolders(folder))
        Fail("cannot create " + folder);
    if (options.examplePackage) {
        bool found = false;
        for (const FolderEntry& entry : ListFolder(ExamplePackage(), &found)) {
            if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !CopyOneFile(JoinPath(ExamplePackage(), entry.name), JoinPath(folder, entry.name))) {
                Fail("cannot copy " + entry.name);
            }
        }
        if (!found)
            Fail("no example package at " + ExamplePackage());
    }
    if (options.stager && !CopyOneFile(StagerExePath(), JoinPath(folder, "MERVODriverStager.exe"))) {
        Fail("cannot copy the stager from " + StagerExePath());
    }
    if (options.stager && HandOffLayout() &&
        !CopyOneFile(Stager64ExePath(), JoinPath(folder, "MERVODriverStager64.exe"))) {
        Fail("cannot copy the 64-bit stager from " + Stager64ExePath());
    }
    if (options.companionDouble && !CopyOneFile(DoubleExePath(), JoinPath(folder, "MERVODevCtl.exe"))) {
        Fail("cannot copy the double from " + DoubleExePath());
    }
    for (const auto& file : options.files) {
        if (!WriteFileBytes(JoinPath(folder, file.first), file.second)) {
            Fail("cannot write " + file.first);
        }
    }
    return folder;
}

bool CopyCompanionTool(const std::string& folder)
{
    bool ok = CopyOneFile(DevCtlExePath(), JoinPath(folder, "MERVODevCtl.exe"));
    if (!DevCtl64ExePath().empty()) {
        ok = CopyOneFile(DevCtl64ExePath(), JoinPath(folder, "MERVODevCtl64.exe")) && ok;
    }
    return ok;
}

}  // namespace e2e
