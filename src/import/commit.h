// The commit of an import: the one place that writes the open archive's files. It takes a plan
// (import/import_plan.h) and puts it in place so that a failure or a kill at any moment leaves
// the old archive or the new one, never a mix:
//
//   same-size edits of a file read in place  -> the new bytes over the old ones, behind a
//                                               rollback journal the next open replays
//   anything else                            -> the new working file written beside the old
//                                               one; for a bundle its tables patched and the
//                                               bundle recompressed into the user's file; for
//                                               pieces the pieces cut again; the working file
//                                               renamed into place last
//
// The session changes only once everything is in place; until then a failure leaves it, and
// the container values it holds, as they were.
#pragma once

#include <cstdint>
#include <string_view>

#include "formats/split_pieces.h"
#include "import/import_plan.h"

namespace kestrix {

struct Session;
class FileSource;
class Frontend;

// The steps a commit reports through its hook, besides those of bundle repacking and piece
// cutting (formats/bundle_repack.h, formats/split_pieces.h).
inline constexpr std::string_view kStepJournalWritten = "journal written";  // nothing changed yet
inline constexpr std::string_view kStepBytesWritten = "bytes written";  // journal not yet removed
inline constexpr std::string_view kStepWorkingFileWritten = "working file written";  // not renamed
inline constexpr std::string_view kStepWorkingFileReplaced = "working file replaced";

struct CommitResult {
  bool in_place = false;  // written over the old bytes
};

// Refuses, before anything is written, an archive whose files nobody may write: the file the
// user named and, for pieces, every piece. The rebuilt file is renamed into place, which the
// folder's permissions allow even where the file's own do not, so this is checked here.
void RefuseReadOnlyArchive(const Session& session);

// Writes the plan into the archive and then brings the session up to date. `working` is the
// open working file (the stream at ArchivePath). Throws Error or IoError; the archive's files
// and the session are then as they were.
CommitResult CommitImport(Session& session, const ImportPlan& plan, FileSource& working,
                          Frontend& frontend, const StepHook& step_done);

}  // namespace kestrix
