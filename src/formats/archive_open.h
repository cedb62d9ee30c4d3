// Open: turns a path into the stream the asset reader reads (joining ".split" pieces, unpacking
// bundles), then reads the asset file and names its entries.
#pragma once

#include <string>

#include "core/requests.h"

namespace kestrix {

struct Session;
struct OpenedArchive;
class Frontend;

// Refills the session from the archive at `path`, showing the contained file of a bundle that
// the options choose. Throws Error with the message to show when the archive cannot be read;
// the temporary files of a failed open are deleted.
void OpenArchive(Session& session, Frontend& frontend, const std::string& path,
                 const OpenOptions& options = {});
// The container stage of OpenArchive alone: joins pieces, reads the bundle tables, unpacks, and
// settles AssetBase, without reading the asset file (bundle extraction needs no more).
void OpenContainer(OpenedArchive& archive, Frontend& frontend, const std::string& path,
                   const OpenOptions& options = {});
// Opens another contained file of the bundle that is open (the window's chooser). The
// temporary files of the first open stay with the session.
void ReopenWithSelection(Session& session, Frontend& frontend, int selected_index,
                         const OpenOptions& options = {});
// Closes the archive: the session is emptied and the files this run made for it are deleted.
void CloseArchive(Session& session);

}  // namespace kestrix
