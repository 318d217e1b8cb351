// The checker's INF model on arbitrary bytes, then what every Windows target
// installs from it: no crash, each section found again by its name in any
// case, lines in file order, text bounded by the input and the replacement
// limit, a bounded number of notes, and per target devices, install sections
// and files that the INF holds, each source path once.
#include <cstdint>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "InfInstall.h"
#include "InfModel.h"
#include "SigningPolicy.h"

namespace {

void CheckInstall(const InfModel& inf, const WindowsTarget& target)
{
    const InfTargetInstall install = InstallFor(inf, target);
    FUZZ_CHECK(install.target == target.name);
    const std::set<std::string> chosen(install.modelsSections.begin(), install.modelsSections.end());
    for (const InfDevice& device : install.devices) {
        FUZZ_CHECK(chosen.count(device.modelsSection) == 1);
        FUZZ_CHECK(inf.Find(device.modelsSection) != nullptr);
        FUZZ_CHECK(device.ddInstall.empty() || inf.Find(device.ddInstall) != nullptr);
    }
    std::set<std::string> sources;
    for (const InfInstalledFile& file : install.files) {
        FUZZ_CHECK(!file.name.empty() && !file.source.empty());
        FUZZ_CHECK(sources.insert(InfLower(file.source)).second);
    }
    FUZZ_CHECK(install.catalog.empty() || !install.catalogKey.empty());
    FUZZ_CHECK(install.notes.size() <= 400);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const InfModel inf = ParseInf(bytes);

    size_t text = 0;
    for (const InfSection& section : inf.sections) {
        FUZZ_CHECK(inf.Find(section.name) == &section);
        FUZZ_CHECK(inf.Find(InfLower(section.name)) == &section);
        int line = 0;
        for (const InfEntry& entry : section.entries) {
            FUZZ_CHECK(entry.line > line);  // each line once, in file order
            line = entry.line;
            FUZZ_CHECK(!entry.fields.empty() && (entry.hasKey || entry.key.empty()));
            text += entry.key.size() + entry.rawKey.size();
            for (const std::string& field : entry.fields) {
                text += field.size();
            }
        }
    }
    // UTF-16 turned to UTF-8 grows by half at most; a key is kept twice.
    FUZZ_CHECK(text <= 5 * size + kInfReplacedLimit);
    // Notes of one code stop after a few and a summary.
    FUZZ_CHECK(inf.notes.size() <= 200);
    for (const InfNote& note : inf.notes) {
        FUZZ_CHECK(!note.code.empty() && !note.message.empty() && note.line >= 0);
    }

    for (const WindowsTarget& target : WindowsTargets()) {
        CheckInstall(inf, target);
    }
    for (const char* architecture : {"x86", "amd64", "arm64"}) {
        InfPlatform platform;
        platform.architecture = architecture;
        for (const InfSection& section : inf.sections) {
            const std::string actual = ActualInstallSection(inf, section.name, platform);
            FUZZ_CHECK(inf.Find(actual) != nullptr);  // "" only for a section named "[]"
        }
    }
    return 0;
}
