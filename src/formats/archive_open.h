// Open: turns a path into the stream the asset reader reads (joining ".split" pieces, unpacking
// bundles), then reads the asset file and names its entries.
#pragma once

#include <string>

namespace kestrix {

struct Session;
class Frontend;

// Refills the session from the archive at `path`, showing contained file `selected_index` of a
// bundle. Throws Error with the message to show when the archive cannot be read; the temporary
// files of a failed open are deleted.
void OpenArchive(Session& session, Frontend& frontend, const std::string& path, int selected_index = 0);
// The container stage of OpenArchive alone: joins pieces, reads the bundle tables, unpacks, and
// settles AssetBase, without reading the asset file (bundle extraction needs no more).
void OpenContainer(Session& session, Frontend& frontend, const std::string& path,
                   int selected_index = 0);
// Opens another contained file of the bundle that is open (the window's chooser). The
// temporary files of the first open stay owned by the session.
void ReopenWithSelection(Session& session, Frontend& frontend, int selected_index);
// Deletes what open created: the unpacked ".TEMP" file and the file joined from pieces.
void CleanupTemporaryFiles(Session& session);

}  // namespace kestrix
