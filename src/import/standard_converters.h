// The importers a real import runs: the texture importers for DDS, CRN, KTX, PVR and procedural
// DDS files, and the audio importer. Only the program's entry points (the command line and the
// window) take them from here; tests hand the driver importers of their own.
#pragma once

#include <cstdint>
#include <string>

#include "import/importer.h"

namespace kestrix {

struct OpenedArchive;

ImportConverters StandardImportConverters();

// The container write-back of a real import (ImportRequest::RepackBundle): the bundle's tables,
// recompression and the bundle file, then the ".split" pieces.
void WriteBackContainer(OpenedArchive& archive, int64_t net_change, uint64_t old_asset_file_size,
                        const std::string& rebuilt_path);

}  // namespace kestrix
