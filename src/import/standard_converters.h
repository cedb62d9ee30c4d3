// The importers a real import runs: the texture importers for DDS, CRN, KTX, PVR and procedural
// DDS files, the audio importer and the JSON importer. Only the program's entry points (the command line and the
// window) take them from here; tests hand the driver importers of their own.
#pragma once

#include <cstdint>
#include <string>

#include "import/importer.h"

namespace kestrix {

ImportConverters StandardImportConverters();

}  // namespace kestrix
