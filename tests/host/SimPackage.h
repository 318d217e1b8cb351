// A package folder on the simulated machine, laid out alike for the host
// tests and the fuzz targets (no test framework: the fuzz targets compile it).
#pragma once

#include <string>

#include "InfFixtures.h"

// Writes into `folder` MERVOUSB.inf with `inf`, the two driver files of
// kTypicalInf ("USB driver bytes", "serial driver bytes") and the companion tool.
void WritePackage(const std::string& inf = kTypicalInf, const std::string& folder = "C:\\pkg");
