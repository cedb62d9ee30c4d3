// The export driver: writes entries of the open archive into the output tree, raw or through
// the converters, under the session's export switches.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/requests.h"

namespace kestrix {

struct Session;
class Frontend;
class Reader;

// Exports entry `index` (0-based). `data` reads the stream at ArchivePath. A failure of the
// entry is shown with frontend.ErrorBox and gives false; files already written for it stay.
bool ExportEntry(const Session& session, const ExportRequest& request, size_t index, Reader& data,
                 Frontend& frontend);

struct ExportRunResult {
  size_t exported = 0;
  size_t failed = 0;
  size_t json_written = 0;  // with ExportJson: objects written as JSON
  size_t json_skipped = 0;  // and those passed over (no known layout), told in the summary
};

// A run: opens ArchivePath, exports the listed entries in the given order and closes the stream.
// The main commands are disabled meanwhile. Each entry's output path goes to the frontend as a
// console line before it is exported, and the progress moves (with `process_messages` the window
// handles its events between entries). A stream that cannot be opened throws.
ExportRunResult ExportEntries(const Session& session, const ExportRequest& request,
                              Frontend& frontend, const std::vector<size_t>& entries,
                              bool process_messages = true);

}  // namespace kestrix
