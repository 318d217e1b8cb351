// Placeholder until the INF model is merged (see the note).
#include "PackageFacts.h"

bool ReadInfForTarget(const std::string&, const std::string&, const WindowsTarget&, InfTargetFacts*,
                      std::string* problem)
{
    *problem = "the INF model is not built in";
    return false;
}

std::vector<std::string> CatalogsNamedBy(const std::string&, const std::string&)
{
    return {};
}
