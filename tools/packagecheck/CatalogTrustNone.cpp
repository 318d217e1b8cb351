// The Windows builds read no catalog, so they judge no trust either.
#include "CatalogTrust.h"

int CheckTrustOptions(const TrustOptions&, std::string*)
{
    return 0;
}

void JudgeCatalogTrust(const std::string&, const TrustOptions&, CatalogTrust* trust)
{
    *trust = CatalogTrust();
    trust->judged = false;
}
