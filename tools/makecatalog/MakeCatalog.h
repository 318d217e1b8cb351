// The catalog maker: from a package folder, its INF(s) and the Windows
// systems a catalog is for, the members and attributes of each catalog the
// INF names, and the catalog files written whole or not at all.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "CatalogAsn1.h"
#include "CatalogOsNames.h"

struct MakeRequest {
    std::string folder;
    std::vector<std::string> infs;              // relative to the folder
    std::vector<const CatalogOsName*> systems;  // as listed
    std::string output;                         // one catalog for all systems at this path; empty: the INF's
    time_t time = 0;
};

// One catalog to write: its path and its trust list.
struct MadeCatalog {
    std::string path;
    CatalogList list;
};

// The catalogs of the request, every file hashed. False with every problem
// found in `errors` (each names its file); then nothing is to be written.
bool PlanCatalogs(const MakeRequest& request, std::vector<MadeCatalog>* catalogs,
                  std::vector<std::string>* errors);

// The list identifier: 16 bytes of the SHA-256 of the list with a zero
// identifier and a fixed time, so that the same members and attributes give
// the same identifier, whenever made.
std::string ListIdentifier(const CatalogList& list);

// Makes the request's catalogs: all of them written, or none (each problem in
// `errors`). The paths written go to `written`.
bool MakeCatalogs(const MakeRequest& request, std::vector<std::string>* written,
                  std::vector<std::string>* errors);
