// Archives cut into pieces named ".split0", ".split1", ...
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kestrix {

struct OpenedArchive;

// The size of every piece Kestrix cuts but the last.
inline constexpr uint64_t kPieceSize = 1 << 20;

// Appends base + ".split0", ".split1", ... (while the next exists) into the file `joined`, which
// is written anew. Returns the number of pieces joined. A list of pending renames left by an
// interrupted ResplitPieces is finished first (FinishPendingPieces).
int JoinSplitPieces(const std::string& base, const std::string& joined);

// Settles a list of pending renames beside the pieces of `base` (a run cut the pieces again
// and stopped during the renames): the list is written only once every new piece is on the
// disk, so the set is completed forward: each new piece still under its hidden name takes its
// place, old pieces past the new count go, and the list goes last. Returns whether a list was
// found. The caller holds the pieces alone (a write lock on the first piece). Throws Error,
// leaving everything as it is, when the list names files that are not pieces of this set.
bool FinishPendingPieces(const std::string& base);
bool PendingPiecesExist(const std::string& base);

// Reports each step of a write-back once it is done and on the disk. Progress for the curious,
// and the place where tests stop the process to show that a kill at any step leaves files that
// open as the old ones or the new ones, or say clearly that they do not.
using StepHook = std::function<void(std::string_view step)>;

// The steps ResplitPieces reports, in order.
inline constexpr std::string_view kStepPiecesWritten = "pieces written";  // old pieces untouched
inline constexpr std::string_view kStepPiecesListed = "pieces listed";    // renames about to start
inline constexpr std::string_view kStepPieceReplaced = "piece replaced";  // once per piece
inline constexpr std::string_view kStepPiecesReplaced = "pieces replaced";

// For an archive opened from ".split" pieces (SplitCount > 0): cuts the working file at
// ArchivePath into pieces of kPieceSize named like the old ones (the given path without
// ".split0", then ".split0", ".split1", ...), removes old pieces past the new count, and sets
// SplitCount. For a bundle, call it after RepackBundle, with the rebuilt file in place. Does
// nothing for SplitCount 0.
//
// Every new piece is written and flushed under a free name beside the pieces before any old
// piece is touched. Then a list of the pending renames is written beside them (a hidden file
// named "." + base name + ".split-pending-" + random characters), the old pieces past the new
// count are removed, each new piece is renamed into place, and the list is removed last. A
// kill before the list exists leaves the old pieces whole (plus unused hidden files); a kill
// after it leaves the list, and JoinSplitPieces then refuses the set with a message naming it.
// A failure before the list exists removes the new pieces; one during the renames leaves the
// list, as a kill does. `source`, when given, is the file to cut instead of ArchivePath (a
// rebuilt working file not yet in place).
void ResplitPieces(OpenedArchive& archive, const StepHook& step_done = {},
                   const std::string& source = "");

}  // namespace kestrix
