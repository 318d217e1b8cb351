// The INF model's answers to the INF rows, for both sides: the host build's
// machine gives them as its own, the Windows builds hold them to the Setup
// API's.
#include "Conformance.h"
#include "InfInstall.h"
#include "InfModel.h"

namespace {

// The Setup API refuses an INF with a section header it cannot read; a line
// before the first header it only skips.
bool Opens(const InfModel& model)
{
    for (const InfNote& note : model.notes) {
        if (note.code == "INF_BAD_SECTION_LINE") {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string ModelInfField(const std::string& bytes, const char* section, const char* key, int field)
{
    const InfModel model = ParseInf(bytes);
    if (!Opens(model)) {
        return "<not opened>";
    }
    const InfSection* found = model.Find(section);
    if (found == nullptr) {
        return "<no line>";
    }
    for (const InfEntry& entry : found->entries) {
        if (!entry.hasKey || !InfNameEquals(entry.key, key)) {
            continue;
        }
        if (field == 0) {
            return entry.key;
        }
        return static_cast<size_t>(field) <= entry.fields.size()
                   ? entry.fields[static_cast<size_t>(field) - 1]
                   : "<no field>";
    }
    return "<no line>";
}

std::string ModelActualSection(const std::string& bytes, const char* section)
{
    const InfModel model = ParseInf(bytes);
    InfPlatform platform;
    platform.architecture = sizeof(void*) == 4 ? "x86" : "amd64";
    if (!Opens(model)) {
        return "<none>";
    }
    // The Setup API names the undecorated section when no decorated one is
    // there, whether or not the INF holds it; the model answers "" for a
    // section that is missing altogether.
    const std::string actual = ActualInstallSection(model, section, platform);
    return actual.empty() ? section : actual;
}
