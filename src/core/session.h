// The open archive as operations see it: the opened archive (container stage of open), the
// serialized file (asset reader) and the entries (naming pass). Each part is written by its own
// layer; export, import, extraction, the list and the search read them. It holds no open file.
#pragma once

#include <cstdint>
#include <string>

#include "core/archive.h"
#include "core/entries.h"
#include "core/frontend.h"
#include "core/serialized_file.h"
#include "platform/archive_lock.h"

namespace kestrix {

struct Session {
  OpenedArchive Archive;
  SerializedFile Asset;
  EntryList Entries;

  size_t EntryCount() const { return Entries.Count(); }
  const ObjectRecord& Object(size_t i) const { return Asset.Objects[i]; }
  int32_t EntryClass(size_t i) const { return Asset.Objects[i].ClassId; }
  uint64_t EntryOffset(size_t i) const { return Asset.Objects[i].Offset; }
  uint32_t EntrySize(size_t i) const { return Asset.Objects[i].Size; }
  std::string_view EntryName(size_t i) const { return Entries.Name(i); }
  // PrefixSkip + NameFieldSize + PayloadSkip.
  uint32_t HeaderSkip(size_t i) const;
  bool HasEmbeddedPayload(size_t i) const;
  // Absolute position of the payload in the stream at ArchivePath.
  uint64_t PayloadOffset(size_t i) const;
  // Payload length as the list shows it (unsigned 32-bit arithmetic).
  uint32_t PayloadSize(size_t i) const;
};

// The folder a run of export or import works in: OutputRoot + "Unity_Assets_Files/" +
// ArchiveFolderName + "/".
std::string ExportFolder(const OpenedArchive& archive);
// Where bundle extraction writes: OutputRoot + "Unity_Assets_Files/" + ArchiveBaseName +
// "/Bundle/".
std::string BundleFolder(const OpenedArchive& archive);
// The name of the stream as the user knows it: the given path (without ".split0" for joined
// pieces), with ".TEMP" when a bundle was unpacked. Resource names are made from it.
std::string StreamFileName(const OpenedArchive& archive);
// Where resource files (".resS", ".resource") are looked for: the folder of the given archive.
std::string ResourceFolder(const OpenedArchive& archive);

// Locks the archive the user named for an operation on this open (`kind`: reading or writing),
// and checks that it is still the file the open read: the offsets of a file another run has
// rewritten since would cut the wrong bytes, and writing over it would lose that run's edit.
// Throws Error "Cannot <cannot> <path>: another run changed it ..., then <task>."
ArchiveLock HoldOpenedArchive(const OpenedArchive& archive, LockKind kind, Frontend& frontend,
                              const std::string& cannot, const std::string& task);

}  // namespace kestrix
