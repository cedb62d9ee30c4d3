// The archive session: the one in-memory model of the open archive. Open fills it; export,
// import, bundle extraction, the list and the search read it. It holds no open file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/list_row.h"
#include "platform/memory.h"

namespace kestrix {

// Positions inside an entry row. The first RecordWords values are the object record as stored
// (each word in host order); the seven derived values follow.
struct ColumnMap {
  int OffsetColumn = 0;
  int SizeColumn = 1;
  int ClassColumn = 2;
  int ClassWordColumn = 3;  // -1 where the record has no such word (formats 17 and later)
  int RecordWords = 4;

  int ClassOrdinalColumn() const { return RecordWords; }
  int DuplicateNumberColumn() const { return RecordWords + 1; }
  int PrefixSkipColumn() const { return RecordWords + 2; }
  int NameFieldSizeColumn() const { return RecordWords + 3; }
  int PayloadSkipColumn() const { return RecordWords + 4; }
  int PayloadLengthColumn() const { return RecordWords + 5; }
  int SizeChangeColumn() const { return RecordWords + 6; }
  int RowWidth() const { return RecordWords + 7; }
};

// The column map of a serialized file format, and the one of raw single-file mode.
ColumnMap ColumnMapForFormat(uint32_t format_version);
ColumnMap RawColumnMap();

// Every entry row in one flat array, `width` values each.
class EntryTable {
 public:
  void Reset(size_t count, int width) {
    width_ = width;
    count_ = count;
    ResizeLarge(cells_, count * static_cast<size_t>(width));
  }
  size_t Count() const { return count_; }
  int Width() const { return width_; }
  int32_t* Row(size_t i) { return cells_.data() + i * static_cast<size_t>(width_); }
  const int32_t* Row(size_t i) const { return cells_.data() + i * static_cast<size_t>(width_); }

 private:
  int width_ = 0;
  size_t count_ = 0;
  std::vector<int32_t> cells_;
};

// Per-entry texts of which there are few distinct ones (the type texts): each distinct text is
// kept once and every entry holds its number. Reads give the text itself.
class SharedTexts {
 public:
  size_t size() const { return ids_.size(); }
  bool empty() const { return ids_.empty(); }
  const std::string& operator[](size_t i) const { return pool_[ids_[i]]; }
  void clear() {
    ids_.clear();
    pool_.clear();
    index_.clear();
  }
  void assign(size_t count, const std::string& text) {
    clear();
    const uint32_t id = Intern(text);
    ResizeLarge(ids_, count);
    if (id != 0) std::fill(ids_.begin(), ids_.end(), id);
  }
  // The number of a text, adding it when new; Set(i, number) then gives entry i that text.
  uint32_t Intern(const std::string& text);
  void Set(size_t i, uint32_t id) { ids_[i] = id; }
  void Set(size_t i, const std::string& text) { ids_[i] = Intern(text); }

 private:
  std::vector<uint32_t> ids_;
  std::vector<std::string> pool_;
  std::unordered_map<std::string, uint32_t> index_;
};

// A file contained in a bundle (both container generations).
struct ContainedFile {
  std::string Name;        // normalised: up to the last ":" removed, separators native
  std::string StoredName;  // as the bundle stores it (rewritten tables and repacking use it)
  uint64_t Offset = 0;  // version 3: from the header size; version 6: from the block data start
  uint64_t Size = 0;
  uint32_t Flags = 0;   // version 6 only
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

// Options of the command line and the window's export commands.
struct RunOptions {
  bool ConsoleMode = false;
  bool ConsoleOutput = false;
  bool TypeFilterGiven = false;
  std::vector<std::string> TypeFilter;
  bool OutputRootGiven = false;
  std::string OutputRootOption;  // the -p folder as given
  bool NoTextureFlip = false;
  bool NoConsoleDetect = false;
  bool FontContainer = false;
  // -i: the contained file of a bundle to open; -1 when the value is not a number.
  int SelectedFileIndex = 0;
};

struct ExportSwitches {
  bool ExportSource = false;
  bool ExportRawTextures = false;
  bool ExportDds = false;
  bool ExportCrn = false;
  bool ExportKtx = false;
  bool ExportPvr = false;
  bool ExportRawAudio = false;
  bool ExportRawMeshes = false;
  bool ExportObj = false;
};

struct Session {
  // Paths and names.
  std::string ArchivePath;
  std::string OutputRoot;
  std::string ArchiveBaseName;
  std::string ArchiveFolderName;
  std::string AssetBaseName;
  int SplitCount = 0;
  std::string JoinedPath;       // the file joined from ".split" pieces ("" when none)
  bool TempCreated = false;     // this session unpacked a bundle into ArchivePath
  int SelectedFileIndex = 0;

  // Container state.
  std::string Signature;
  uint32_t BundleVersion = 0;
  std::string PlayerVersion;
  std::string EngineVersion;
  // Version 3.
  uint32_t V3FileSize = 0;
  uint32_t V3HeaderSize = 0;
  uint32_t V3LevelsToDownload = 0;
  std::vector<BundleLevel> V3Levels;
  uint64_t V3FileSizePos = 0;
  uint64_t V3FirstLevelPos = 0;
  // Version 6.
  uint64_t V6TotalSize = 0;
  uint32_t V6CompressedInfoSize = 0;
  uint32_t V6UncompressedInfoSize = 0;
  uint8_t V6Flags[4] = {0, 0, 0, 0};
  uint8_t V6Hash[16] = {};
  std::vector<BundleBlock> V6Blocks;
  uint64_t V6HeaderEnd = 0;
  uint64_t V6DataStart = 0;
  uint64_t V6TotalSizePos = 0;
  uint64_t V6FirstBlockPos = 0;
  std::vector<ContainedFile> ContainedFiles;
  uint64_t BlockDataStart = 0;
  uint64_t AssetBase = 0;

  // Asset header.
  uint32_t AssetFileSize = 0;
  uint32_t FormatVersion = 0;
  uint64_t DataStart = 0;
  uint32_t BigEndian = 0;
  std::string UnityVersion;
  int32_t MajorVersion = 0;
  int32_t Platform = 0;
  uint8_t TypeTreeFlag = 0;
  uint32_t TypeCount = 0;
  std::vector<int32_t> TypeClassIds;
  uint32_t ObjectCount = 0;
  uint64_t ObjectTableStart = 0;
  bool RawSingleFile = false;
  std::string ShownKind;  // raw single-file mode: "OggS", "MP3", ... or "unknown"

  // Entry table.
  ColumnMap Columns;
  EntryTable Entries;
  std::vector<std::string> EntryName;
  SharedTexts TypeText;
  std::vector<int32_t> TextureFormat;
  // The list's row cache (window mode); rows may be in another order than the entries.
  std::vector<ListRow> ListRows;

  RunOptions Options;
  ExportSwitches Switches;

  size_t EntryCount() const { return Entries.Count(); }
  int32_t EntryClass(size_t i) const { return Entries.Row(i)[Columns.ClassColumn]; }
  uint32_t EntryOffset(size_t i) const { return static_cast<uint32_t>(Entries.Row(i)[Columns.OffsetColumn]); }
  uint32_t EntrySize(size_t i) const { return static_cast<uint32_t>(Entries.Row(i)[Columns.SizeColumn]); }
  // PrefixSkip + NameFieldSize + PayloadSkip.
  uint32_t HeaderSkip(size_t i) const;
  bool HasEmbeddedPayload(size_t i) const;
  // Absolute position of the payload in the stream at ArchivePath.
  uint64_t PayloadOffset(size_t i) const;
  // Payload length as the list shows it (unsigned 32-bit arithmetic).
  uint32_t PayloadSize(size_t i) const;
};

// Clears everything that open fills (paths, container, header, entries); keeps the options.
void ResetArchiveState(Session& session);

}  // namespace kestrix
