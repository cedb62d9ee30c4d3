// The import driver: puts the edited files of the export folder back into the open archive.
//
//   converters      edited pictures and sounds -> raw object files in the export folder
//   candidates      the raw files the run looks at (all, or those the type words name)
//   take changed    files export recorded with the bytes they still have are left out; a
//                   changed file whose object changed in the archive since is a conflict;
//                   every other file is checked against its entry (import/import_plan.h)
//   plan            the new layout, worked out without writing
//   commit          the one write, old archive or new, session last (import/commit.h)
//   record          the export record notes what went in
//
// A file that is refused (a conflict, a file that is not what it claims, a link leading out of
// the folder) is reported and counted; the others still go in.
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
  size_t unchanged = 0;    // files left out: they still have the bytes export wrote
  size_t refused = 0;      // files reported and left out: conflicts, files that do not fit
  size_t replaced = 0;     // entries whose payload was replaced
  bool rebuilt = false;    // the working file was replaced by the rebuilt one
  bool in_place = false;   // nothing moved: the new bytes were written over the old ones
  int64_t net_change = 0;  // signed change of the asset's size
  uint64_t file_size = 0;  // the working file's length afterwards
};

// Runs the converters (a null importer leaves its run out), lists the candidates and commits
// what changed. The main commands are disabled meanwhile. A refused file is shown with
// frontend.ErrorBox and passed over; a file that names no entry is shown ("File not found in
// archive: ...") and passed over. Throws Error or IoError when the import as a whole cannot be
// done; nothing has been written into the archive then.
ImportResult ImportAll(Session& session, const ImportRequest& request, Frontend& frontend,
                       const ImportConverters& converters);

}  // namespace kestrix
