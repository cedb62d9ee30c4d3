// The import driver: puts the edited files of the export folder back into the open archive.
//
// The converted sources (textures, sounds) are first turned into raw object files by the
// importers; then every raw file named like an entry replaces that entry's payload. The result
// is byte for byte what replacing the payloads in place and moving the data behind them would
// give: the same object table, header file size, embedded length fields and padding. It is built
// as a new file beside the working file and renamed over it only when complete, so an import
// that fails or is killed leaves the archive as it was, and the session with it. When every
// object keeps its stored size nothing moves, and only the changed bytes are written, over the
// old ones, behind a rollback journal (platform/rollback_journal.h): a failure puts the old bytes
// back at once, a kill leaves them to the next open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/requests.h"
#include "import/importer.h"

namespace kestrix {

struct Session;
class Frontend;

struct ImportResult {
  size_t candidates = 0;   // raw files listed
  size_t not_found = 0;    // listed files that name no entry
  size_t replaced = 0;     // entries whose payload was replaced
  bool rebuilt = false;    // the working file was replaced by the rebuilt one
  bool in_place = false;   // nothing moved: the new bytes were written over the old ones
  int64_t net_change = 0;  // signed change of the asset's size (what bundle repacking needs)
  uint64_t file_size = 0;  // the working file's length afterwards
};

// Runs the converters (a null importer leaves its run out), lists the candidates and writes
// the working file anew. The main commands are disabled meanwhile. Throws Error or IoError when
// something cannot be imported; nothing has been written into the archive then. A file that
// names no entry is shown ("File not found in archive: ...") and passed over. With
// request.RepackBundle set and a bundle open, repacking runs after the rebuild.
ImportResult ImportAll(Session& session, const ImportRequest& request, Frontend& frontend,
                       const ImportConverters& converters);

}  // namespace kestrix
