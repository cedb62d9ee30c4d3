// The export record: what export wrote into an export folder, so that a later import takes only
// what the user changed there. One small file in the folder, ".kestrix-export", notes per file
// (its path in the folder) a hash of the bytes written and the object it came from, and per
// object a hash of the object's bytes in the archive when they were written out.
//
// Import then skips files whose bytes still have their recorded hash (an unchanged file of an
// old export folder cannot undo a newer edit), and refuses a changed file whose object changed
// in the archive since (a conflict: two people edited one object). After an import the record
// notes the new bytes, so that importing the same folder again changes nothing.
//
// The folder may come from someone else: the record is only ever a reason to skip a file or
// to refuse one, never to write anything it names. Lines it cannot read are left out.
//
// The folder belongs to one archive: the record names it, so that an export or import of
// another archive that lands on the same folder (an older Kestrix named folders that could
// meet, and -p gathers archives of several folders) is refused instead of mixing the two, and
// an import takes only files the record lists. Records written before they named their
// archive have no owner and are read as before.
//
// The file is text, one note per line, fields separated by tabs:
//   kestrix-export-record 1
//   a <the archive's file name>
//   o <path id> <object hash>
//   f <file hash> <path id> <path in the folder, '/' between folders>
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/content_hash.h"

namespace kestrix {

class ByteSource;
struct OpenedArchive;

ContentHash HashBytes(ByteSource& source, uint64_t pos, uint64_t n);
// Hashes a whole file; throws IoError when it cannot be read.
ContentHash HashFile(const std::string& path);

inline constexpr char kExportRecordName[] = ".kestrix-export";

struct RecordedFile {
  ContentHash hash;
  int64_t path_id = 0;
};

class ExportRecord {
 public:
  // The record of `folder` (ending in a separator); empty when there is none or it cannot be
  // read.
  static ExportRecord Load(const std::string& folder);
  // Writes the record anew, whole or not at all. Throws IoError.
  void Save(const std::string& folder) const;

  void NoteObject(int64_t path_id, const ContentHash& hash) { objects_[path_id] = hash; }
  // `relative` is the file's path below the folder.
  void NoteFile(const std::string& relative, int64_t path_id, const ContentHash& hash);

  // The archive the folder belongs to; "" for a record of an older Kestrix.
  const std::string& Owner() const { return owner_; }
  void SetOwner(const std::string& owner) { owner_ = owner; }

  const RecordedFile* File(const std::string& relative) const;
  const ContentHash* Object(int64_t path_id) const;
  bool Empty() const { return files_.empty() && objects_.empty(); }

 private:
  std::string owner_;
  std::map<std::string, RecordedFile> files_;
  std::map<int64_t, ContentHash> objects_;
};

// The name a record gives the open archive: the file the user named (without ".split0").
std::string RecordOwnerName(const OpenedArchive& archive);

// Throws Error when `record` belongs to another archive than `owner`; `doing` is "export into"
// or "import from".
void RefuseOthersFolder(const ExportRecord& record, const std::string& owner,
                        const std::string& folder, const std::string& doing);

}  // namespace kestrix
