// Common frame of the end-to-end tests: a package folder of the test's own
// with the example package, the stager and the companion-tool double, a
// record file for the double, and a clean run log.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "StagerHarness.h"

class StagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(e2e::RemoveFile(e2e::RunLogPath()));
        Prepare(e2e::PackageOptions());
    }
    void TearDown() override
    {
        e2e::EndDoubles(record_);
        // A run handed to the 64-bit build writes nothing into the 32-bit
        // programs' system folder.
        if (e2e::HandOffLayout()) {
            for (const char* name : {"drivers\\mervousb.sys", "drivers\\mervoser.sys"}) {
                EXPECT_FALSE(e2e::FileExists(e2e::JoinPath(e2e::SysWow64Folder(), name))) << name;
            }
        }
    }

    // (Re)makes the package folder `name` with the given options.
    void Prepare(const e2e::PackageOptions& options, const std::string& name = "package")
    {
        if (!record_.empty())
            e2e::EndDoubles(record_);
        package_ = e2e::PreparePackage(name, options);
        record_ = e2e::JoinPath(package_, "double-record.txt");
    }

    // Runs the stager of the package folder; the double records into record_.
    e2e::RunResult Run(const std::string& argumentText,
                       std::vector<std::pair<std::string, std::string>> environment = {},
                       DWORD limitMs = 60000)
    {
        environment.emplace_back(e2e::kDoubleRecord, record_);
        e2e::RunResult run = e2e::RunStager(
            {e2e::JoinPath(package_, "MERVODriverStager.exe"), argumentText, environment, limitMs});
        EXPECT_TRUE(run.started);
        return run;
    }

    // The package folder with the example INF without its [Version] section,
    // which the Setup API refuses.
    void PrepareWithoutVersionSection()
    {
        e2e::PackageOptions options;
        options.files = {{"MERVOUSB.inf", e2e::ExampleInfWithoutVersionSection()}};
        ASSERT_FALSE(options.files[0].second.empty());
        Prepare(options);
    }

    // The package folder with the real companion tool instead of the double.
    void PrepareWithCompanionTool()
    {
        e2e::PackageOptions options;
        options.companionDouble = false;
        Prepare(options);
        ASSERT_TRUE(e2e::CopyCompanionTool(package_));
    }

    std::string PackageFile(const std::string& name) const { return e2e::JoinPath(package_, name); }

    // The command lines the double recorded, in order.
    std::vector<std::string> ToolCommandLines() const
    {
        std::vector<std::string> lines;
        for (const auto& launch : e2e::ReadDoubleRecord(record_))
            lines.push_back(launch.commandLine);
        return lines;
    }

    std::string RemoveCommand(const std::string& infName = "MERVOUSB.inf") const
    {
        return "\"" + PackageFile("MERVODevCtl.exe") + "\" remove \"" + PackageFile(infName) +
               "\" *VID_1A2B*";
    }
    std::string RescanCommand() const { return "\"" + PackageFile("MERVODevCtl.exe") + "\" rescan"; }

    std::string package_;
    std::string record_;
};

// Log entries of the module "MERVODriverStager" and its sequence.
inline std::string SequenceEntry(const std::string& text)
{
    return e2e::Entry("MERVODriverStager", "Default_Pre_Installer", text);
}
inline std::string CopyEntry(const std::string& text)
{
    return e2e::Entry("INFManager", "CopyDriverFiles", text);
}

// True when `entries` holds `wanted` as a subsequence, in that order.
inline bool InOrder(const std::vector<std::string>& entries, const std::vector<std::string>& wanted)
{
    size_t next = 0;
    for (const std::string& entry : entries) {
        if (next < wanted.size() && entry == wanted[next])
            ++next;
    }
    return next == wanted.size();
}
