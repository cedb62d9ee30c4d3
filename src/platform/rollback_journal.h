// Writing over parts of an existing file without copying it, so that a kill or a failure still
// leaves the old file or the new one: before the first byte is written, the bytes about to be
// overwritten are saved in a journal beside the file and flushed to the disk. Once the new bytes
// are flushed the journal is removed; until then, the next open of the file puts the old bytes
// back (RecoverInterruptedWrite).
//
// The journal is named "." + the file's name + ".kestrix-journal", in the file's folder. It
// holds, little-endian:
//   8 bytes  "KXJOURN1"
//   u64      the file's length (the writes never change it)
//   u64      the number of regions
//   per region: u64 position, u64 length, then that many old bytes
//   u64      FNV-1a (64 bit) of every byte before it
// A journal that does not end exactly with a matching checksum was cut short by a kill while it
// was written, before the file was touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

class ByteSource;

struct JournalRegion {
  uint64_t position = 0;
  uint64_t length = 0;
};

std::string JournalPathFor(const std::string& file);

class RollbackJournal {
 public:
  // Opens `file` for writing, saves the bytes of `regions` (each inside the file, none
  // overlapping another) in the journal and flushes it and the folder. Throws IoError; then
  // the file is untouched and no journal is left. A journal already there is left over from a
  // working file of a killed run (the user's own files are recovered when opened) and is
  // replaced; so is a link at the name, which is removed, never written through.
  RollbackJournal(const std::string& file, std::vector<JournalRegion> regions);
  // Not finished: the old bytes are put back and the journal removed. Should that fail too, the
  // journal stays, and the next open puts them back.
  ~RollbackJournal();
  RollbackJournal(const RollbackJournal&) = delete;
  RollbackJournal& operator=(const RollbackJournal&) = delete;

  // Writes inside a saved region. Throws IoError.
  void WriteAt(uint64_t pos, const void* data, size_t n);
  // Writes n bytes of `source` from `from` at `pos`, in bounded chunks.
  void CopyAt(uint64_t pos, ByteSource& source, uint64_t from, uint64_t n);
  // Flushes the file and removes the journal: the new bytes stand. Throws IoError (the
  // destructor then puts the old bytes back).
  void Finish();

 private:
  void RollBack();

  std::string file_;
  std::string journal_;
  std::vector<JournalRegion> regions_;
  int fd_ = -1;
  bool written_ = false;
  bool finished_ = false;
};

enum class JournalRecovery {
  kNone,        // no journal beside the file (a link at its name, never one, is removed)
  kRolledBack,  // a complete journal: the old bytes were put back
  kDiscarded,   // a journal cut short: the file was never touched, the journal is gone
};

// Looks for a journal beside `file` and settles it. Throws Error, leaving the file and the
// journal as they are, when a complete journal states another length than the file has:
// something else changed the file since, and putting the old bytes back would damage it.
// Throws IoError when the old bytes cannot be put back (the journal stays).
JournalRecovery RecoverInterruptedWrite(const std::string& file);

}  // namespace kestrix
