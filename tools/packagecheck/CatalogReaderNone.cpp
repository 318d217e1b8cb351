// The Windows builds carry no DER decoder: they report that the catalog was
// not checked (the Linux build checks it).
#include "CatalogReader.h"

int ReadCatalog(const std::string&, CatalogContents*, std::string* problem)
{
    *problem =
        "this build of MERVOPackageCheck does not read catalogs; the Linux build checks "
        "the signature and the hashes";
    return CATALOG_READER_UNAVAILABLE;
}

bool DigestRanges(const std::string&, const std::string&, const std::vector<ByteRange>&, std::string*)
{
    return false;
}

void DigestChunks(const std::vector<std::string>& algorithms, const ChunkReader&,
                  std::vector<std::string>* digests)
{
    digests->assign(algorithms.size(), std::string());
}
