// ReadCatalog on arbitrary bytes: a clear result code for anything that is
// not a signed trust list, problem text exactly when it fails, and for a
// decoded list a verdict on its signature that always comes with its reason.
#include <cstdint>
#include <string>

#include "CatalogReader.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string der(reinterpret_cast<const char*>(data), size);
    CatalogContents contents;
    std::string problem;
    int result = ReadCatalog(der, &contents, &problem);

    FUZZ_CHECK(result >= CATALOG_READ_OK && result <= CATALOG_BAD_TRUST_LIST);
    FUZZ_CHECK((result == CATALOG_READ_OK) == problem.empty());
    if (result != CATALOG_READ_OK) {
        FUZZ_CHECK(contents.members.empty() && !contents.signatureIntact);
        return 0;
    }
    FUZZ_CHECK(contents.signatureIntact == contents.signatureProblem.empty());
    FUZZ_CHECK(contents.signingTime.empty() == contents.signingTimeSource.empty());
    FUZZ_CHECK(contents.signingTime.empty() || contents.signingTime.size() >= 20);
    for (const CatalogMember& member : contents.members) {
        // Every text is bounded by the input it came from.
        FUZZ_CHECK(member.digest.size() <= size && member.file.size() <= size &&
                   member.osAttr.size() <= size);
    }
    return 0;
}
