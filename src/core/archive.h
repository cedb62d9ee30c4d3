// The opened archive: which files open read and made, and the container around the asset file.
// Written by the container stage of open (formats/archive_open.cc, formats/bundle_reader.cc).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_ops.h"

namespace kestrix {

// A file contained in a bundle (both container generations).
struct ContainedFile {
  std::string Name;        // normalised: up to the last ":" removed, separators native
  std::string StoredName;  // as the bundle stores it (rewritten tables and repacking use it)
  uint64_t Offset = 0;     // version 3: from the header size; version 6: from the block data start
  uint64_t Size = 0;
  uint32_t Flags = 0;  // versions 6 to 8 only
};

struct BundleLevel {
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
};

struct BundleBlock {
  uint32_t UncompressedSize = 0;
  uint32_t CompressedSize = 0;
  uint16_t Flags = 0;
};

// Versions 1 to 5 ("UnityRaw", "UnityWeb"): the header values and where repacking patches
// them. Versions 4 and 5 put a hash and a CRC before the file size; version 1 has no
// complete-file size after the level table.
struct Version3Header {
  uint32_t FileSize = 0;
  uint32_t HeaderSize = 0;
  uint32_t LevelsToDownload = 0;
  std::vector<BundleLevel> Levels;
  uint64_t FileSizePos = 0;    // the file-size field
  uint64_t FirstLevelPos = 0;  // the first level record; the complete-file size follows the table
  bool HasCompleteSize = true;
};

// Versions 6 to 8 ("UnityFS"). After unpacking, the values describe the working file (one stored
// block), except the first block's flags, which keep what the archive had so that repacking
// knows how to compress again.
struct Version6Header {
  uint64_t TotalSize = 0;
  uint32_t CompressedInfoSize = 0;
  uint32_t UncompressedInfoSize = 0;
  uint8_t Flags[4] = {0, 0, 0, 0};  // as stored (big-endian)
  uint8_t Hash[16] = {};
  std::vector<BundleBlock> Blocks;
  // The block records as the archive stored them, kept when the open unpacks them into one
  // stored block: repacking writes blocks of the same size and compression again, so that the
  // engine still reads a chunked bundle block by block. Empty when nothing was unpacked.
  std::vector<BundleBlock> ArchiveBlocks;
  uint64_t HeaderEnd = 0;  // where the info begins when it follows the header
  uint64_t DataStart = 0;
  uint64_t TotalSizePos = 0;
  uint64_t FirstBlockPos = 0;

  uint32_t FlagWord() const {
    return static_cast<uint32_t>(Flags[0]) << 24 | static_cast<uint32_t>(Flags[1]) << 16 |
           static_cast<uint32_t>(Flags[2]) << 8 | Flags[3];
  }
};

// The container as read: a plain file has only a signature (and BundleVersion 0).
struct Container {
  std::string Signature;
  uint32_t BundleVersion = 0;
  std::string PlayerVersion;
  std::string EngineVersion;
  Version3Header V3;
  Version6Header V6;
  std::vector<ContainedFile> ContainedFiles;
  uint64_t BlockDataStart = 0;  // versions 6 to 8: where directory offsets count from

  bool IsBundle() const { return BundleVersion >= 1 && BundleVersion <= 8; }
  // Versions 6 to 8 keep their data in blocks; 1 to 5 in levels.
  bool HasBlocks() const { return BundleVersion >= 6; }
};

// A web build's data file ("UnityWebData1.0"): a table of files stored one after the other,
// the whole often wrapped in gzip or brotli. A block bundle inside it (data.unity3d) is opened
// through: its files take its place in the numbering of contained files.
struct WebDataEntry {
  std::string Name;  // as stored
  uint64_t Offset = 0;  // from the container's start
  uint64_t Size = 0;
  // The contained files of a bundle entry; empty for any other entry.
  std::vector<ContainedFile> Nested;
};

// The whole-file compression around a data file (formats/stream_wrappers.h).
enum class StreamWrapper { kNone, kGzip, kBrotli };

struct WebDataContainer {
  bool Present = false;
  StreamWrapper Wrapper = StreamWrapper::kNone;
  // The container unwrapped: the given file itself when it is not wrapped, else this run's copy.
  std::string ContainerPath;
  uint64_t HeaderSize = 0;
  std::vector<WebDataEntry> Entries;
  // The chosen file: the entry it is or lies in, and its place in that entry's bundle (-1 for an
  // entry chosen whole).
  int SelectedEntry = -1;
  int SelectedNested = -1;
  std::shared_ptr<TemporaryFile> UnwrappedFile;
  // The chosen bundle entry copied out of the container, for the bundle reader and writer.
  std::shared_ptr<TemporaryFile> BundleFile;
};

struct OpenedArchive {
  // The three files of an open. GivenPath is what the user named; JoinedPath the file this run
  // joined from ".split" pieces ("" when none); WorkingPath the ".TEMP" file this run unpacked
  // a bundle into ("" when none). ArchivePath is the stream every operation reads: the working
  // file, else the joined file, else the given one.
  std::string GivenPath;
  std::string JoinedPath;
  std::string WorkingPath;
  std::string ArchivePath;
  int SplitCount = 0;
  // The given file as this open found it; an import refuses to write a file another run has
  // changed since.
  FileStamp GivenStamp;

  // Names for the output tree (see ExportFolder) and for fallback entry names.
  std::string OutputRoot;
  std::string ArchiveBaseName;
  std::string ArchiveFolderName;
  std::string AssetBaseName;
  int SelectedFileIndex = 0;
  // The engine the user named for files whose version text is stripped ("" when none).
  std::string EngineOption;

  Container Bundle;
  WebDataContainer WebData;
  uint64_t AssetBase = 0;  // where the chosen asset file begins in the stream at ArchivePath

  // The temporary files this open made; each removes its file when the archive goes.
  std::shared_ptr<TemporaryFile> JoinedFile;
  std::shared_ptr<TemporaryFile> WorkingFile;
};

}  // namespace kestrix
