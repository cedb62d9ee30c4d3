// The export driver: writes entries of the open archive into the output tree, raw or through
// the converters, under the session's export switches.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrix {

struct Session;
class Frontend;
class Reader;

// OutputRoot + "Unity_Assets_Files/" + ArchiveFolderName + "/".
std::string ExportFolder(const Session& session);

// Exports entry `index` (0-based). `data` reads the stream at ArchivePath. A failure of the
// entry is shown with frontend.ErrorBox and gives false; files already written for it stay.
bool ExportEntry(const Session& session, size_t index, Reader& data, Frontend& frontend);

struct ExportRunResult {
  size_t exported = 0;
  size_t failed = 0;
};

// A run: opens ArchivePath, exports the listed entries in the given order and closes the stream.
// The main commands are disabled meanwhile. In console mode each entry's output path is printed
// before it is exported; in the window the progress moves (and, with `process_messages`, the
// window handles its events between entries). A stream that cannot be opened throws.
ExportRunResult ExportEntries(const Session& session, Frontend& frontend,
                              const std::vector<size_t>& entries, bool process_messages = true);

}  // namespace kestrix
