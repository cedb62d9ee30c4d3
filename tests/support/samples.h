// The demo archives of samples/: what the README's first command exports.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/asset_builder.h"

namespace kestrix::testing {

// File name and bytes of every demo archive.
std::vector<std::pair<std::string, Bytes>> SampleArchives();
// Resource files that sample archives stream their data from; they lie beside the archives.
std::vector<std::pair<std::string, Bytes>> SampleResources();
void WriteSamples(const std::string& folder);

}  // namespace kestrix::testing
