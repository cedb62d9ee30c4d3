// The temporary files of this run: working and joined files, new versions written beside their
// targets, side files of a repack. Each is named `stem` + 8 random characters (a-z, 0-9) +
// `suffix`, and while it exists it is
//   - marked in use: this run holds a shared lock (flock) on it, so that the next run's cleanup
//     (RemoveAbandonedTemporaries), which removes only files it can lock alone, leaves it be;
//   - listed for SIGINT and SIGTERM: the handler (RemoveTemporariesOnSignals) removes every
//     listed file before the run ends the way the signal ends it.
// A run killed outright (SIGKILL, a power cut) leaves its temporaries unmarked, and the next
// run on that archive or export folder removes them.
//
// The rollback journal is not a temporary: it is what lets the next open put an interrupted
// in-place write right, so no signal and no cleanup removes the journal of a file that exists.
#pragma once

#include <string>

namespace kestrix {

// 8 random characters (a-z, 0-9) for a new file's name. Unpredictable to others (seeded from the
// system's random source once per thread), cheap enough for a name per output file.
std::string RandomNamePart();

// Creates a new empty file `folder` + `stem` + 8 random characters + `suffix` under a name no
// file had, marked in use and listed. Returns "" when the folder refuses (errno says why).
std::string CreateTemporaryIn(const std::string& folder, const std::string& stem,
                              const std::string& suffix);
// Marks and lists a file this run made by other means (a name linked for an unnamed file).
// `mark` false lists it only: the file is about to be renamed and locked by its new owner.
void AdoptTemporary(const std::string& path, bool mark = true);
// Removes a listed file and forgets it.
void RemoveTemporary(const std::string& path);
// Drops the mark but keeps the file listed: it is about to be renamed over a file whose lock
// the rename hands over (HandOverArchiveLock), and two locks of one run on one file conflict.
void UnmarkTemporary(const std::string& path);
// The file was renamed away (or is kept on purpose): forgets it without touching it.
void ForgetTemporary(const std::string& path);
// A new file was renamed over `path`: when `path` is a listed temporary (a working file an
// import rebuilt), the mark moves to the new file, since the old one held the replaced file.
void RenewTemporaryMark(const std::string& path);

// True when `path` is a listed temporary of this run.
bool IsTemporary(const std::string& path);

// Installs the handler of SIGINT and SIGTERM that removes the listed temporaries and then ends
// the run as the signal would have (so the exit status says which signal). Called once, before
// a second thread starts.
void RemoveTemporariesOnSignals();

// While an object of this class lives (in any thread), SIGINT and SIGTERM wait: the handler
// notes them, and the last of these objects to go ends the run. For short steps that must not
// be cut, such as a sequence of renames that a list on the disk describes.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// Removes `path` when it is a regular file that no living run marks in use (checked by taking
// an exclusive lock without waiting). Returns true when it was removed.
bool RemoveIfAbandoned(const std::string& path);

// Removes the temporaries that runs which were killed left for the archive at `archive_path`
// (as given: a file, a bundle or the ".split0" of a set of pieces) beside it and in the system's
// temporary folder: new versions (".import-", ".new-", split pieces' ".new-"), repack side files
// (".blocks-"), working and joined files (".TEMP", ".joined-"), and the journals of temporaries
// that are gone. In `export_folder` (may be "" or missing) it removes the abandoned ".new-"
// files. Files a living run marks in use stay, and so do new pieces that a pending-rename list
// names. Call it holding the archive's write lock, before the first write.
void RemoveAbandonedTemporaries(const std::string& archive_path, const std::string& export_folder);

}  // namespace kestrix
