#include "formats/bundle_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/archive.h"
#include "core/error.h"
#include "core/frontend.h"
#include "core/serialized_file.h"
#include "core/requests.h"
#include "formats/asset_reader.h"
#include "formats/lz4_codec.h"
#include "formats/lzma_codec.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "types/class_ids.h"

namespace kestrix {

namespace {

constexpr size_t kNameWindow = 255;
constexpr size_t kTextWindow = 16;
// A directory record takes 8 + 8 + 4 bytes and at least the zero byte of its name; a version 3
// table record 4 + 4 and the zero byte.
constexpr uint64_t kMinDirectoryRecord = 21;
constexpr uint64_t kMinTableRecord = 9;
constexpr uint64_t kBlockRecord = 10;

[[noreturn]] void Malformed(const std::string& what) { throw Error("Malformed bundle: " + what); }

// The unpacked file gets a name this run chose and checked was free, beside the archive (or in
// the system's temporary folder when that folder cannot be written): runs on one archive never
// share it, and each removes only its own. An unpack that fails removes it.
class WorkingFileWriter {
 public:
  explicit WorkingFileWriter(const OpenedArchive& a) : WorkingFileWriter(ArchiveName(a)) {}

  OutputFile& Out() { return out_; }
  std::shared_ptr<TemporaryFile> Commit() {
    out_.Close();
    return file_;
  }

 private:
  // The archive's path, without ".split0" for pieces.
  static std::string ArchiveName(const OpenedArchive& a) {
    return a.JoinedPath.empty() ? a.GivenPath : WithoutExtension(a.GivenPath);
  }
  explicit WorkingFileWriter(const std::string& name)
      : file_(MakeRunFile(FolderOf(name), "." + FileNameOf(name).substr(0, 64) + ".", ".TEMP")),
        out_(file_->Path(), OutputFile::Target::kRunFile) {}

  std::shared_ptr<TemporaryFile> file_;
  OutputFile out_;
};

// The unpacked file becomes the stream every operation reads, owned by the archive.
void AdoptWorkingFile(OpenedArchive& s, std::shared_ptr<TemporaryFile> file) {
  s.WorkingFile = std::move(file);
  s.WorkingPath = s.ArchivePath = s.WorkingFile->Path();
}

// A buffer that only grows, so that blocks of similar size reuse it without clearing it.
void Reserve(std::vector<uint8_t>& buffer, size_t size) {
  if (buffer.size() < size) buffer.resize(size);
}

void PutBig32(OutputFile& out, uint64_t pos, uint32_t value) {
  uint8_t b[4];
  Put32(b, value, ByteOrder::Big);
  out.PatchAt(pos, b, 4);
}

ContainedFile ReadContainedName(Reader& r) {
  ContainedFile f;
  f.StoredName = r.CString(kNameWindow);
  f.Name = NormaliseContainedName(f.StoredName);
  return f;
}

// Without a choice the bundle opens on its first serialized file; -i still picks any.
int FirstSerializedFile(const OpenedArchive& s, uint64_t base) {
  FileSource source(s.ArchivePath);
  Reader r(source);
  for (size_t i = 0; i < s.Bundle.ContainedFiles.size() && i < INT32_MAX; ++i) {
    const ContainedFile& f = s.Bundle.ContainedFiles[i];
    if (f.Offset <= UINT64_MAX - base && LooksLikeAssetFile(r, base + f.Offset, f.Size))
      return static_cast<int>(i);
  }
  return 0;
}

void CheckSelection(const OpenedArchive& s) {
  if (s.Bundle.ContainedFiles.empty()) throw Error("The bundle holds no contained files.");
  if (s.SelectedFileIndex == kFirstSerializedFile) return;  // chosen once the data is unpacked
  int count = static_cast<int>(std::min<size_t>(s.Bundle.ContainedFiles.size(), INT32_MAX));
  if (s.SelectedFileIndex < 0)
    throw Error("The contained file index must be a whole number from 0 to " +
                std::to_string(s.Bundle.ContainedFiles.size() - 1) + ".");
  if (s.SelectedFileIndex >= count)
    throw Error("Contained file index " + std::to_string(s.SelectedFileIndex) +
                " is not in the bundle: it holds " +
                std::to_string(s.Bundle.ContainedFiles.size()) + " files (indices 0 to " +
                std::to_string(s.Bundle.ContainedFiles.size() - 1) + ").");
}

// Settles the chosen contained file once the stream at ArchivePath holds the unpacked data.
void ChooseContainedFile(OpenedArchive& s, Frontend& frontend, uint64_t base) {
  if (s.SelectedFileIndex == kFirstSerializedFile && !s.Bundle.ContainedFiles.empty())
    s.SelectedFileIndex = FirstSerializedFile(s, base);
  CheckSelection(s);
  const ContainedFile& chosen = s.Bundle.ContainedFiles[static_cast<size_t>(s.SelectedFileIndex)];
  uint64_t size = FileSizeOf(s.ArchivePath);
  if (base > size || chosen.Offset > size - base || chosen.Size > size - base - chosen.Offset)
    Malformed("contained file " + chosen.StoredName + " reaches past the end of the data.");
  std::vector<std::string> names;
  names.reserve(s.Bundle.ContainedFiles.size());
  for (const ContainedFile& f : s.Bundle.ContainedFiles) names.push_back(f.Name);
  frontend.FillChooser(names, s.SelectedFileIndex);
  s.AssetBaseName = FileNameOf(chosen.Name);
  s.ArchiveFolderName = s.ArchiveFolderName + kSep + s.AssetBaseName;
  s.AssetBase = base + chosen.Offset;
}

// Signature, version (both read by the signature check) and the two version texts that every
// bundle header starts with.
void ReadHeaderStart(OpenedArchive& s, Reader& r) {
  r.Seek(0);
  r.CString(kTextWindow);
  r.Skip(4);
  s.Bundle.PlayerVersion = r.CString(kTextWindow);
  s.Bundle.EngineVersion = r.CString(kTextWindow);
}

// ---- Versions 1 to 5 ----

void ReadVersion3Header(OpenedArchive& s, Reader& r) {
  ReadHeaderStart(s, r);
  // Versions 4 and 5: a 16-byte hash and a CRC.
  if (s.Bundle.BundleVersion >= 4) {
    r.Require(20);
    r.Skip(20);
  }
  s.Bundle.V3.HasCompleteSize = s.Bundle.BundleVersion >= 2;
  s.Bundle.V3.FileSizePos = r.Tell();
  s.Bundle.V3.FileSize = r.U32(ByteOrder::Big);
  s.Bundle.V3.HeaderSize = r.U32(ByteOrder::Big);
  s.Bundle.V3.LevelsToDownload = r.U32(ByteOrder::Big);
  uint32_t levels = r.U32(ByteOrder::Big);
  if (levels > r.Remaining() / 8)
    Malformed("level count " + std::to_string(levels) + " is more than the header can hold.");
  s.Bundle.V3.FirstLevelPos = r.Tell();
  s.Bundle.V3.Levels.resize(levels);
  for (BundleLevel& level : s.Bundle.V3.Levels) {
    level.CompressedSize = r.U32(ByteOrder::Big);
    level.UncompressedSize = r.U32(ByteOrder::Big);
  }
}

// One LZMA stream follows the header: five property bytes, the unpacked size as 8 bytes
// little-endian, the coded data. It is decoded straight into the ".TEMP" file.
void UnpackVersion3(OpenedArchive& s, ByteSource& source) {
  const uint64_t header = s.Bundle.V3.HeaderSize;
  const uint64_t levels_end = s.Bundle.V3.FirstLevelPos + 8 * s.Bundle.V3.Levels.size();
  const bool complete = s.Bundle.V3.HasCompleteSize;
  // The complete-file-size field after the level table is patched, so it must lie in the header.
  if (header < levels_end + (complete ? 4 : 0) || header > source.Size())
    Malformed("header size " + std::to_string(header) + " does not fit the header fields.");
  const uint64_t avail = source.Size() - header;
  if (avail < 13) throw Error("input lzma *.TEMP file is too short.");
  uint8_t head[13];
  source.ReadAt(header, head, sizeof head);
  uint64_t size = Get64(head + 5, ByteOrder::Little);
  // Every size field of the header is 32 bits wide.
  if (size > UINT32_MAX - header)
    throw Error("The LZMA data of the bundle unpacks to " + std::to_string(size) +
                " bytes, more than its 32-bit header can describe.");

  WorkingFileWriter writer(s);
  OutputFile& out = writer.Out();
  out.CopyFrom(source, 0, header);
  LzmaDecode(head, source, header + 13, avail - 13, size,
             [&out](const uint8_t* data, size_t n) { out.Write(data, n); });
  const uint32_t length = static_cast<uint32_t>(header + size);
  const uint32_t data = static_cast<uint32_t>(size);
  PutBig32(out, s.Bundle.V3.FileSizePos, length);
  uint64_t last = s.Bundle.V3.FirstLevelPos + 8 * (s.Bundle.V3.Levels.size() - 1);
  PutBig32(out, last, data);
  PutBig32(out, last + 4, data);
  if (complete) PutBig32(out, levels_end, length);
  AdoptWorkingFile(s, writer.Commit());
  s.Bundle.V3.FileSize = length;
  s.Bundle.V3.Levels.back() = {data, data};
}

void ReadVersion3Table(OpenedArchive& s) {
  FileSource source(s.ArchivePath);
  Reader r(source);
  r.Seek(s.Bundle.V3.HeaderSize);
  uint32_t count = r.U32(ByteOrder::Big);
  if (count > r.Remaining() / kMinTableRecord)
    Malformed("contained file count " + std::to_string(count) + " is more than the data can hold.");
  s.Bundle.ContainedFiles.clear();
  s.Bundle.ContainedFiles.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    ContainedFile f = ReadContainedName(r);
    f.Offset = r.U32(ByteOrder::Big);
    f.Size = r.U32(ByteOrder::Big);
    s.Bundle.ContainedFiles.push_back(std::move(f));
  }
}

void OpenVersion3(OpenedArchive& s, Frontend& frontend) {
  {
    FileSource source(s.ArchivePath);
    Reader r(source, 4096);
    ReadVersion3Header(s, r);
    bool lzma =
        (s.Bundle.Signature == kSignatureWeb || s.Bundle.Signature == kSignatureFS) &&
        !s.Bundle.V3.Levels.empty() &&
        s.Bundle.V3.Levels.back().CompressedSize != s.Bundle.V3.Levels.back().UncompressedSize;
    if (lzma) UnpackVersion3(s, source);
  }
  ReadVersion3Table(s);
  ChooseContainedFile(s, frontend, s.Bundle.V3.HeaderSize);
}

// ---- Versions 6 to 8 ----

struct Version6Image {
  std::vector<uint8_t> bytes;  // header and uncompressed info, as the ".TEMP" file begins
  uint8_t kept_flags[4] = {};  // the flags the ".TEMP" header gets
  bool rewritten = false;      // the info is no longer as the archive stores it
  uint64_t data_start = 0;     // where block data begins in the archive
  bool padded = false;         // block data starts at a multiple of 16 (flag 0x200)
};

uint64_t AlignTo16(uint64_t pos) { return (pos + 15) & ~uint64_t{15}; }

[[noreturn]] void LooksEncrypted(const std::string& what, uint32_t flags) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", flags);
  throw Error("Unsupported bundle: this bundle looks encrypted: " + what + " " + hex +
              " set bits that mean neither compression nor layout.");
}

// Engines before 2020.3.34, 2021.3.2 and 2022.1.1 used header flag 0x200 for encryption; later
// ones for the padding before the block data. An engine version the bundle does not state is
// taken to be a later one.
bool FlagMeansPadding(const std::string& engine_text) {
  const EngineVersion v = ParseEngineVersion(engine_text);
  if (!v.Known || v.Major == 0) return true;
  if (v.Major < 2020) return false;
  if (v.Major == 2020) return v.AtLeast(2020, 3, 34);
  if (v.Major == 2021) return v.AtLeast(2021, 3, 2);
  if (v.Major == 2022) return v.AtLeast(2022, 1, 1);
  return true;
}

const char* CodingName(uint32_t coding) {
  static const char* const kNames[] = {"none", "LZMA", "LZ4", "LZ4HC", "LZHAM"};
  return coding < 5 ? kNames[coding] : "unknown";
}

// Versions 7 and 8: the header flags are bit fields; bits that are neither a compression nor a
// layout flag mark encryption.
void CheckVersion7Flags(const OpenedArchive& s) {
  const uint32_t flags = s.Bundle.V6.FlagWord();
  uint32_t known = kInfoCompressionMask | kInfoCombined | kInfoAtEnd | kOldWebPluginCompatible;
  if (FlagMeansPadding(s.Bundle.EngineVersion)) known |= kPaddingBeforeData;
  if (flags & ~known) LooksEncrypted("its header flags", flags);
  const uint32_t coding = flags & kInfoCompressionMask;
  if (coding > 3)
    throw Error("Unsupported bundle: its block information is compressed with " +
                std::string(CodingName(coding)) + " (" + std::to_string(coding) +
                "), which is not supported.");
}

void CheckVersion7Blocks(const OpenedArchive& s) {
  for (const BundleBlock& b : s.Bundle.V6.Blocks) {
    if (b.Flags & ~0x7Fu) LooksEncrypted("a block's flags", b.Flags);
    const uint32_t coding = b.Flags & kInfoCompressionMask;
    if (coding > 3)
      throw Error("Unsupported bundle: a block is compressed with " +
                  std::string(CodingName(coding)) + " (" + std::to_string(coding) +
                  "), which is not supported.");
  }
}

void ReadVersion6Header(OpenedArchive& s, Reader& r) {
  ReadHeaderStart(s, r);
  s.Bundle.V6.TotalSizePos = r.Tell();
  s.Bundle.V6.TotalSize = r.U64(ByteOrder::Big);
  s.Bundle.V6.CompressedInfoSize = r.U32(ByteOrder::Big);
  s.Bundle.V6.UncompressedInfoSize = r.U32(ByteOrder::Big);
  r.Read(s.Bundle.V6.Flags, 4);
  if (s.Bundle.BundleVersion >= 7) {
    CheckVersion7Flags(s);
    // The info starts at the next multiple of 16.
    const uint64_t pad = AlignTo16(r.Tell()) - r.Tell();
    r.Require(pad);
    r.Skip(pad);
  } else {
    uint64_t skip = s.Bundle.V6.Flags[2];  // bits 8-15 of the big-endian value
    r.Require(skip);
    r.Skip(skip);
  }
  s.Bundle.V6.HeaderEnd = r.Tell();
}

// Versions 7 and 8: the info compressed by bits 0-5 of the header flags, after the header or
// (0x80) at the end of the file; the block data after the info or right after the header,
// moved to a multiple of 16 with flag 0x200. The ".TEMP" header keeps the flags but for the
// compression and the place of the info, which it holds stored after the header.
Version6Image BuildVersion7Image(OpenedArchive& s, ByteSource& source) {
  Version6Image image;
  const uint64_t end = s.Bundle.V6.HeaderEnd;
  const uint64_t info = s.Bundle.V6.CompressedInfoSize;
  const uint64_t plain = s.Bundle.V6.UncompressedInfoSize;
  const uint64_t size = source.Size();
  const uint32_t flags = s.Bundle.V6.FlagWord();
  const uint32_t coding = flags & kInfoCompressionMask;
  const bool at_end = (flags & kInfoAtEnd) != 0;
  if (end > size || info > size - end)
    Malformed("the block and directory information reaches past the end of the file.");
  const uint64_t from = at_end ? size - info : end;
  image.bytes.resize(static_cast<size_t>(end));
  source.ReadAt(0, image.bytes.data(), image.bytes.size());
  if (coding == 0) {
    image.bytes.resize(static_cast<size_t>(end + info));
    source.ReadAt(from, image.bytes.data() + end, static_cast<size_t>(info));
  } else if (coding == 1) {
    if (info < 5 || !LzmaSizesPossible(info - 5, plain))
      Malformed("the LZMA-compressed block information has impossible sizes.");
    uint8_t props[5];
    source.ReadAt(from, props, 5);
    image.bytes.reserve(static_cast<size_t>(end + plain));
    std::vector<uint8_t>& bytes = image.bytes;
    LzmaDecode(props, source, from + 5, info - 5, plain, [&bytes](const uint8_t* data, size_t n) {
      bytes.insert(bytes.end(), data, data + n);
    });
  } else {
    if (!Lz4SizesPossible(info, plain)) throw Error("Error size lz4 in data stream.");
    std::vector<uint8_t> packed(static_cast<size_t>(info));
    source.ReadAt(from, packed.data(), packed.size());
    image.bytes.resize(static_cast<size_t>(end + plain));
    Lz4Decode(packed.data(), packed.size(), image.bytes.data() + end, static_cast<size_t>(plain));
  }
  image.rewritten = coding != 0 || at_end;
  image.padded = (flags & kPaddingBeforeData) != 0;
  const uint32_t kept = flags & ~(kInfoCompressionMask | kInfoAtEnd);
  for (int i = 0; i < 4; ++i) image.kept_flags[i] = static_cast<uint8_t>(kept >> (24 - 8 * i));
  image.data_start = at_end ? end : end + info;
  if (image.padded) image.data_start = AlignTo16(image.data_start);
  return image;
}

Version6Image BuildVersion6Image(OpenedArchive& s, ByteSource& source) {
  if (s.Bundle.BundleVersion >= 7) return BuildVersion7Image(s, source);
  Version6Image image;
  const uint64_t end = s.Bundle.V6.HeaderEnd;
  const uint64_t info = s.Bundle.V6.CompressedInfoSize;
  const uint64_t size = source.Size();
  image.bytes.resize(static_cast<size_t>(end));
  source.ReadAt(0, image.bytes.data(), image.bytes.size());
  std::copy(s.Bundle.V6.Flags, s.Bundle.V6.Flags + 4, image.kept_flags);
  const uint8_t low = s.Bundle.V6.Flags[3];
  if (low == 0x42 || low == 0x43) {
    const uint64_t plain = s.Bundle.V6.UncompressedInfoSize;
    if (info > size - end || !Lz4SizesPossible(info, plain))
      throw Error("Error size lz4 in data stream.");
    std::vector<uint8_t> packed(static_cast<size_t>(info));
    source.ReadAt(end, packed.data(), packed.size());
    image.bytes.resize(static_cast<size_t>(end + plain));
    Lz4Decode(packed.data(), packed.size(), image.bytes.data() + end, static_cast<size_t>(plain));
    image.rewritten = true;
    image.kept_flags[3] = 0x40;
    image.data_start = end + info;
  } else {
    if (info > size - end)
      Malformed("the block and directory information reaches past the end of the file.");
    uint64_t from = low == 0xC0 ? size - info : end;
    image.bytes.resize(static_cast<size_t>(end + info));
    source.ReadAt(from, image.bytes.data() + end, static_cast<size_t>(info));
    if (low == 0xC0) {
      image.rewritten = true;
      image.kept_flags[3] = 0x40;
      s.Bundle.V6.Flags[3] = 0x40;
      image.data_start = end;
    } else {
      image.data_start = end + info;
    }
  }
  return image;
}

void ReadVersion6Info(OpenedArchive& s, const Version6Image& image) {
  MemorySource memory(image.bytes);
  Reader r(memory);
  r.Seek(s.Bundle.V6.HeaderEnd);
  r.Read(s.Bundle.V6.Hash, 16);
  uint32_t blocks = r.U32(ByteOrder::Big);
  if (blocks > r.Remaining() / kBlockRecord)
    Malformed("block count " + std::to_string(blocks) + " is more than the information can hold.");
  if (blocks == 0) Malformed("it has no data blocks.");
  s.Bundle.V6.FirstBlockPos = r.Tell();
  s.Bundle.V6.Blocks.resize(blocks);
  for (BundleBlock& b : s.Bundle.V6.Blocks) {
    b.UncompressedSize = r.U32(ByteOrder::Big);
    b.CompressedSize = r.U32(ByteOrder::Big);
    b.Flags = r.U16(ByteOrder::Big);
  }
  uint32_t count = r.U32(ByteOrder::Big);
  if (count > r.Remaining() / kMinDirectoryRecord)
    Malformed("directory count " + std::to_string(count) +
              " is more than the information can hold.");
  s.Bundle.ContainedFiles.clear();
  s.Bundle.ContainedFiles.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t offset = r.U64(ByteOrder::Big);
    uint64_t size = r.U64(ByteOrder::Big);
    uint32_t flags = r.U32(ByteOrder::Big);
    ContainedFile f = ReadContainedName(r);
    f.Offset = offset;
    f.Size = size;
    f.Flags = flags;
    s.Bundle.ContainedFiles.push_back(std::move(f));
  }
}

// The blocks as one: a single block record followed by the directory, names as stored.
void RewriteToOneBlock(OpenedArchive& s, Version6Image& image) {
  std::vector<uint8_t>& b = image.bytes;
  b.resize(static_cast<size_t>(s.Bundle.V6.FirstBlockPos + kBlockRecord));
  Put32(b.data() + s.Bundle.V6.FirstBlockPos - 4, 1, ByteOrder::Big);
  auto put32 = [&b](uint32_t v) {
    uint8_t t[4];
    Put32(t, v, ByteOrder::Big);
    b.insert(b.end(), t, t + 4);
  };
  auto put64 = [&b](uint64_t v) {
    uint8_t t[8];
    Put64(t, v, ByteOrder::Big);
    b.insert(b.end(), t, t + 8);
  };
  put32(static_cast<uint32_t>(s.Bundle.ContainedFiles.size()));
  for (const ContainedFile& f : s.Bundle.ContainedFiles) {
    put64(f.Offset);
    put64(f.Size);
    put32(f.Flags);
    b.insert(b.end(), f.StoredName.begin(), f.StoredName.end());
    b.push_back(0);
  }
}

// Decodes every block in order into the ".TEMP" file after the image, then patches its header
// to describe one stored block. Only the largest block is ever held in memory.
void UnpackVersion6(OpenedArchive& s, ByteSource& source, const Version6Image& image) {
  const uint32_t version = s.Bundle.BundleVersion;
  uint64_t data_length = 0;
  for (const BundleBlock& b : s.Bundle.V6.Blocks)
    data_length += BlockCodingOf(version, b.Flags) != BlockCoding::kStored ? b.UncompressedSize
                                                                           : b.CompressedSize;
  if (data_length > UINT32_MAX)
    throw Error("The blocks of the bundle unpack to " + std::to_string(data_length) +
                " bytes, more than one block record can describe.");

  WorkingFileWriter writer(s);
  OutputFile& out = writer.Out();
  out.Write(image.bytes);
  const uint64_t data_start = image.padded ? AlignTo16(image.bytes.size()) : image.bytes.size();
  const uint8_t zeros[16] = {};
  out.Write(zeros, static_cast<size_t>(data_start - image.bytes.size()));
  const uint64_t size = source.Size();
  uint64_t pos = image.data_start;
  std::vector<uint8_t> packed, plain;
  for (size_t i = 0; i < s.Bundle.V6.Blocks.size(); ++i) {
    const BundleBlock& b = s.Bundle.V6.Blocks[i];
    const uint64_t left = pos <= size ? size - pos : 0;
    const BlockCoding coding = BlockCodingOf(version, b.Flags);
    if (coding == BlockCoding::kLz4) {
      if (b.CompressedSize > left || !Lz4SizesPossible(b.CompressedSize, b.UncompressedSize))
        throw Error("Error size lz4 in data stream.");
      Reserve(packed, b.CompressedSize);
      Reserve(plain, b.UncompressedSize);
      source.ReadAt(pos, packed.data(), b.CompressedSize);
      Lz4Decode(packed.data(), b.CompressedSize, plain.data(), b.UncompressedSize);
      out.Write(plain.data(), b.UncompressedSize);
    } else if (coding == BlockCoding::kLzma) {
      if (std::min<uint64_t>(b.CompressedSize, left) < 5)
        throw Error("input lzma *.TEMP file is too short.");
      if (b.CompressedSize > left) throw Error("Error lzma in data stream.");
      uint8_t props[5];
      source.ReadAt(pos, props, 5);
      LzmaDecode(props, source, pos + 5, b.CompressedSize - 5, b.UncompressedSize,
                 [&out](const uint8_t* data, size_t n) { out.Write(data, n); });
    } else {
      if (b.CompressedSize > left)
        Malformed("block " + std::to_string(i) + " reaches past the end of the file.");
      out.CopyFrom(source, pos, b.CompressedSize);
    }
    pos += b.CompressedSize;
  }

  const uint64_t file_length = out.Tell();
  const uint32_t info_length = static_cast<uint32_t>(image.bytes.size() - s.Bundle.V6.HeaderEnd);
  const uint32_t data = static_cast<uint32_t>(file_length - data_start);
  uint8_t head[20];
  Put64(head, file_length, ByteOrder::Big);
  Put32(head + 8, info_length, ByteOrder::Big);
  Put32(head + 12, info_length, ByteOrder::Big);
  std::copy(image.kept_flags, image.kept_flags + 4, head + 16);
  out.PatchAt(s.Bundle.V6.TotalSizePos, head, sizeof head);
  uint8_t record[10];
  Put32(record, data, ByteOrder::Big);
  Put32(record + 4, data, ByteOrder::Big);
  Put16(record + 8, 0x0040, ByteOrder::Big);
  out.PatchAt(s.Bundle.V6.FirstBlockPos, record, sizeof record);
  std::shared_ptr<TemporaryFile> unpacked = writer.Commit();

  // The session now describes the working file: one block, whose flags stay as the archive had
  // them so that repacking knows how to compress it again.
  AdoptWorkingFile(s, std::move(unpacked));
  s.Bundle.V6.TotalSize = file_length;
  s.Bundle.V6.CompressedInfoSize = s.Bundle.V6.UncompressedInfoSize = info_length;
  uint16_t first_flags = s.Bundle.V6.Blocks.front().Flags;
  s.Bundle.V6.ArchiveBlocks = std::move(s.Bundle.V6.Blocks);
  s.Bundle.V6.Blocks.assign(1, BundleBlock{data, data, first_flags});
  s.Bundle.V6.DataStart = data_start;
}

void OpenVersion6(OpenedArchive& s, Frontend& frontend) {
  {
    FileSource source(s.ArchivePath);
    Reader r(source, 4096);
    ReadVersion6Header(s, r);
    Version6Image image = BuildVersion6Image(s, source);
    ReadVersion6Info(s, image);
    if (s.Bundle.BundleVersion >= 7) CheckVersion7Blocks(s);
    // Nothing is unpacked for a file that cannot be shown.
    CheckSelection(s);
    const uint32_t version = s.Bundle.BundleVersion;
    bool unpack = std::any_of(s.Bundle.V6.Blocks.begin(), s.Bundle.V6.Blocks.end(),
                              [version](const BundleBlock& b) {
                                // Version 6 unpacks for any flags but 0 and 0x40, even those it
                                // then copies.
                                if (version >= 7)
                                  return BlockCodingOf(version, b.Flags) != BlockCoding::kStored;
                                return (b.Flags & 0xFF) != 0 && (b.Flags & 0xFF) != 0x40;
                              });
    if (s.Bundle.V6.Blocks.size() > 1) RewriteToOneBlock(s, image);
    s.Bundle.V6.DataStart = image.data_start;
    if (image.rewritten || unpack) UnpackVersion6(s, source, image);
    s.Bundle.BlockDataStart = s.Bundle.V6.DataStart;
  }
  ChooseContainedFile(s, frontend, s.Bundle.BlockDataStart);
}

}  // namespace

BlockCoding BlockCodingOf(uint32_t bundle_version, uint16_t flags) {
  if (bundle_version >= 7) {
    switch (flags & kInfoCompressionMask) {
      case 1:
        return BlockCoding::kLzma;
      case 2:
      case 3:
        return BlockCoding::kLz4;
      default:
        return BlockCoding::kStored;
    }
  }
  if ((flags & 0xFF) == 2 || (flags & 0xFF) == 3) return BlockCoding::kLz4;
  if ((flags & 0xFF) == 0x41) return BlockCoding::kLzma;
  return BlockCoding::kStored;
}

bool IsHandledBundle(const std::string& signature, uint32_t version) {
  return IsBundleSignature(signature) && IsHandledBundleVersion(version);
}

std::string NormaliseContainedName(const std::string& stored) {
  size_t colon = stored.rfind(':');
  return NativeSeparators(colon == std::string::npos ? stored : stored.substr(colon + 1));
}

std::vector<ContainedFile> ReadBlockBundleDirectory(ByteSource& source) {
  OpenedArchive s;
  Reader r(source, 4096);
  s.Bundle.Signature = r.CStringToEnd(16);
  if (!IsBundleSignature(s.Bundle.Signature) || r.Remaining() < 4) return {};
  s.Bundle.BundleVersion = r.U32(ByteOrder::Big);
  if (!IsHandledBundle(s.Bundle.Signature, s.Bundle.BundleVersion) || !s.Bundle.HasBlocks())
    return {};
  ReadVersion6Header(s, r);
  Version6Image image = BuildVersion6Image(s, source);
  ReadVersion6Info(s, image);
  if (s.Bundle.BundleVersion >= 7) CheckVersion7Blocks(s);
  return std::move(s.Bundle.ContainedFiles);
}

void OpenBundle(OpenedArchive& s, Frontend& frontend) {
  const std::string read_path = s.ArchivePath;
  const bool had_working = s.WorkingFile != nullptr;
  try {
    if (!s.Bundle.HasBlocks()) {
      OpenVersion3(s, frontend);
    } else {
      OpenVersion6(s, frontend);
    }
  } catch (...) {
    // An unpacked file whose table turned out unusable goes with the failed open.
    if (!had_working && s.WorkingFile) {
      s.WorkingFile.reset();
      s.WorkingPath.clear();
      s.ArchivePath = read_path;
    }
    throw;
  }
}

}  // namespace kestrix
