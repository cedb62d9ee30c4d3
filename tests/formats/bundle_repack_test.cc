// Writing bundles back after an import: for every container variant an import that grows and
// then shrinks one contained file leaves a bundle that opens with the expected contents, whose
// compressed data is what the archive had (and what xz and lz4 decode), while the open archive
// keeps describing its working file. Pieces are cut again; a kill at any step leaves files that
// open as before or say clearly that they do not; real bundles survive a repack unchanged.
#include "formats/bundle_repack.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <csignal>
#include <cstdlib>
#include <random>

#include "core/archive.h"
#include "core/error.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "formats/lz4_codec.h"
#include "formats/lzma_codec.h"
#include "formats/split_pieces.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "support/bundle_builder.h"
#include "support/import_simulation.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using testing::BlockCodec;
using testing::BuiltBundle;
using testing::BundleEntry;
using testing::BundleV3Spec;
using testing::BundleV6Spec;
using testing::Bytes;
using testing::RecordingFrontend;
using testing::TempDir;

Bytes AssetWith(int objects, size_t payload, unsigned seed) {
  testing::AssetSpec desc;
  desc.format = 17;
  for (int i = 0; i < objects; ++i) {
    Bytes data(payload);
    for (size_t k = 0; k < data.size(); ++k)
      data[k] = static_cast<uint8_t>(((k * 7 + i + seed) % 251) ^ (k >> 5));
    desc.objects.push_back({i % 2 ? 21 : 1, data});
  }
  return testing::BuildAssetFile(desc);
}

Bytes Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

std::vector<BundleEntry> ThreeAssets() {
  return {{"archive:/CAB-a/CAB-a", AssetWith(3, 2000, 1)},
          {"archive:/CAB-b/CAB-b", AssetWith(4, 3000, 2)},
          {"CAB-c", AssetWith(2, 1500, 3)}};
}

// An asset file after imports that changed its length by `net` in total (SimulateImport).
Bytes Changed(Bytes asset, int64_t net) {
  for (int64_t k = 0; k < net; ++k)
    asset.push_back(testing::InsertedByte(static_cast<uint64_t>(k)));
  Put32(asset.data() + 4, static_cast<uint32_t>(asset.size()), ByteOrder::Big);
  return asset;
}

struct Reopened {
  Container bundle;
  std::vector<Bytes> files;
  int split_count = 0;
};

// Opens a copy of the bundle (or of its pieces) in a folder of its own, since opening unpacks
// beside the archive, and reads every contained file.
Reopened Reopen(const std::string& path) {
  TempDir dir;
  std::string copy = dir.File(FileNameOf(path));
  if (EndsWith(path, ".split0")) {
    const std::string base = WithoutExtension(path);
    for (int i = 0; FileExists(base + ".split" + std::to_string(i)); ++i)
      testing::CopyFile(base + ".split" + std::to_string(i),
                        dir.File(FileNameOf(base) + ".split" + std::to_string(i)));
  } else {
    testing::CopyFile(path, copy);
  }
  OpenedArchive a;
  RecordingFrontend fe;
  OpenContainer(a, fe, copy);
  Reopened r{a.Bundle, {}, a.SplitCount};
  FileSource source(a.ArchivePath);
  const uint64_t base = a.Bundle.HasBlocks() ? a.Bundle.BlockDataStart : a.Bundle.V3.HeaderSize;
  for (const ContainedFile& f : a.Bundle.ContainedFiles) {
    Bytes b(f.Size);
    source.ReadAt(base + f.Offset, b.data(), b.size());
    r.files.push_back(b);
  }
  return r;
}

// The block records and header of a version 6 to 8 bundle as its file stores them.
struct RawVersion6 {
  uint8_t flags = 0;       // the low byte
  uint32_t flag_word = 0;  // all of them
  uint64_t total = 0, data_start = 0;
  std::vector<BundleBlock> blocks;
};

RawVersion6 ParseVersion6(const Bytes& b) {
  MemorySource m(b);
  Reader r(m);
  RawVersion6 v;
  r.CString(16);
  const uint32_t version = r.U32(ByteOrder::Big);
  r.CString(16);
  r.CString(16);
  v.total = r.U64(ByteOrder::Big);
  const uint32_t packed = r.U32(ByteOrder::Big), plain = r.U32(ByteOrder::Big);
  v.flag_word = r.U32(ByteOrder::Big);
  v.flags = static_cast<uint8_t>(v.flag_word);
  if (version >= 7)
    r.Seek((r.Tell() + 15) & ~uint64_t{15});
  else
    r.Skip((v.flag_word >> 8) & 0xFF);
  const uint64_t end = r.Tell();
  const bool at_end = version >= 7 && (v.flag_word & 0x80);
  const uint64_t from = at_end ? b.size() - packed : end;
  const uint32_t coding = version >= 7                           ? (v.flag_word & 0x3F)
                          : (v.flags == 0x42 || v.flags == 0x43) ? 2
                                                                 : 0;
  Bytes info(plain);
  if (coding == 2 || coding == 3) {
    Lz4Decode(b.data() + from, packed, info.data(), info.size());
  } else if (coding == 1) {
    size_t at = 0;
    LzmaDecode(b.data() + from, m, from + 5, packed - 5, plain, [&](const uint8_t* d, size_t n) {
      std::copy(d, d + n, info.begin() + static_cast<long>(at));
      at += n;
    });
  } else {
    std::copy(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + plain),
              info.begin());
  }
  v.data_start = at_end ? end : end + packed;
  if (version >= 7 && (v.flag_word & 0x200)) v.data_start = (v.data_start + 15) & ~uint64_t{15};
  MemorySource mi(info);
  Reader ri(mi);
  ri.Skip(16);
  v.blocks.resize(ri.U32(ByteOrder::Big));
  for (BundleBlock& k : v.blocks) {
    k.UncompressedSize = ri.U32(ByteOrder::Big);
    k.CompressedSize = ri.U32(ByteOrder::Big);
    k.Flags = ri.U16(ByteOrder::Big);
  }
  return v;
}

std::string Sh(const std::string& path) { return "'" + path + "'"; }

// All that the first `coded` bytes of a raw LZMA1 stream (after its properties and size) decode
// to, as a reader that has received no more would find.
uint64_t DecodedFromPrefix(const uint8_t props[5], const uint8_t* coded_data, size_t coded) {
  lzma_options_lzma options{};
  options.lc = props[0] % 9;
  options.lp = props[0] / 9 % 5;
  options.pb = props[0] / 45;
  options.dict_size = Get32(props + 1, ByteOrder::Little);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_decoder(&stream, filters), LZMA_OK);
  Bytes out(1 << 20);
  stream.next_in = coded_data;
  stream.avail_in = coded;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    stream.next_out = out.data();
    stream.avail_out = out.size();
    ret = lzma_code(&stream, LZMA_RUN);
    if (stream.avail_out == out.size()) break;
  }
  const uint64_t decoded = stream.total_out;
  lzma_end(&stream);
  return decoded;
}

// Each level record of a version 3 bundle's LZMA data but the last says where a streaming
// reader can stop: its first compressed-end bytes (from the header size) decode to exactly its
// uncompressed end, one byte fewer does not reach `needed[i]`, and the ends grow level by level.
void ExpectLevelsStopInStream(const Bytes& bundle, const Version3Header& h,
                              const std::vector<uint64_t>& needed) {
  const uint8_t* stream = bundle.data() + h.HeaderSize;
  uint32_t last_packed = 0, last_plain = 0;
  for (size_t i = 0; i + 1 < h.Levels.size(); ++i) {
    SCOPED_TRACE("level " + std::to_string(i));
    const uint32_t packed = Get32(bundle.data() + h.FirstLevelPos + 8 * i, ByteOrder::Big);
    const uint32_t plain = Get32(bundle.data() + h.FirstLevelPos + 8 * i + 4, ByteOrder::Big);
    ASSERT_GE(packed, 13u);
    ASSERT_LE(packed, bundle.size() - h.HeaderSize);
    EXPECT_EQ(DecodedFromPrefix(stream, stream + 13, packed - 13), plain);
    EXPECT_GE(plain, needed[i]);
    if (packed > 13) {
      EXPECT_LT(DecodedFromPrefix(stream, stream + 13, packed - 14), needed[i]);
    }
    EXPECT_GE(packed, last_packed);
    EXPECT_GE(plain, last_plain);
    last_packed = packed;
    last_plain = plain;
  }
}

#ifndef _WIN32  // the reference decoders are Linux programs
// Decodes the compressed data of a written bundle with the reference tools and compares it with
// `plain`, the data part of the working file: a version 3 stream is a ".lzma" file as it stands;
// version 6 LZMA blocks become one by their size, LZ4 blocks a legacy LZ4 frame (blocks up to
// 8 MiB). Returns the number of blocks the tools decoded.
int ExpectToolsDecode(const Bytes& bundle, uint64_t v3_header, const Bytes& plain) {
  TempDir dir;
  auto decode = [&](const Bytes& file, const std::string& command, size_t at, size_t size) {
    testing::WriteFileBytes(dir.File("in"), file);
    int rc = std::system(
        (command + " " + Sh(dir.File("in")) + " > " + Sh(dir.File("out")) + " 2>/dev/null")
            .c_str());
    EXPECT_EQ(rc, 0) << command;
    EXPECT_TRUE(
        testing::ReadFileBytes(dir.File("out")) ==
        Bytes(plain.begin() + static_cast<long>(at), plain.begin() + static_cast<long>(at + size)))
        << command << " at " << at;
    return 1;
  };
  const std::string xz = "xz --format=lzma -d -c", lz4 = "lz4 -q -d -c";
  if (v3_header > 0)
    return decode(Bytes(bundle.begin() + static_cast<long>(v3_header), bundle.end()), xz, 0,
                  plain.size());
  RawVersion6 v = ParseVersion6(bundle);
  uint64_t pos = v.data_start, at = 0;
  int decoded = 0;
  for (const BundleBlock& b : v.blocks) {
    Bytes packed(bundle.begin() + static_cast<long>(pos),
                 bundle.begin() + static_cast<long>(pos + b.CompressedSize));
    if ((b.Flags & 0xFF) == 0x41 || (b.Flags & 0xFF) == 1) {
      Bytes file(packed.begin(), packed.begin() + 5);
      for (int i = 0; i < 8; ++i)
        file.push_back(static_cast<uint8_t>(static_cast<uint64_t>(b.UncompressedSize) >> (8 * i)));
      file.insert(file.end(), packed.begin() + 5, packed.end());
      decoded += decode(file, xz, at, b.UncompressedSize);
    } else if (((b.Flags & 0xFF) == 2 || (b.Flags & 0xFF) == 3) &&
               b.UncompressedSize <= (8 << 20)) {
      Bytes file = {0x02, 0x21, 0x4C, 0x18, 0, 0, 0, 0};
      Put32(file.data() + 4, b.CompressedSize, ByteOrder::Little);
      file.insert(file.end(), packed.begin(), packed.end());
      decoded += decode(file, lz4, at, b.UncompressedSize);
    }
    pos += b.CompressedSize;
    at += b.UncompressedSize;
  }
  return decoded;
}
#endif

// ---- Every container variant, two imports into one open archive ----

struct Variant {
  const char* label;
  int version;
  BundleV3Spec v3;
  BundleV6Spec v6;
  int index = 1;              // the imported contained file
  bool rebuilt_copy = false;  // the import hands over a rebuilt copy of the working file
  uint8_t header_flags = 0;   // version 6: the low flag byte the written bundle must have
  uint8_t block_flags = 0;    // version 6: the low flag byte of its blocks
};

std::vector<Variant> Variants() {
  std::vector<Variant> out;
  auto v3 = [&](const char* label, const char* signature, bool lzma, int levels, int index,
                bool copy, uint32_t version = 3) {
    Variant v{label, 3, {}, {}, index, copy};
    v.v3.version = version;
    v.v3.signature = signature;
    v.v3.lzma = lzma;
    v.v3.levels = levels;
    v.v3.files = ThreeAssets();
    out.push_back(v);
  };
  v3("UnityRaw read in place", "UnityRaw", false, 1, 1, false);
  v3("UnityRaw, rebuilt copy", "UnityRaw", false, 1, 1, true);
  v3("UnityWeb one level", "UnityWeb", true, 1, 1, false);
  v3("UnityWeb three levels, first file", "UnityWeb", true, 3, 0, false);
  v3("UnityFS signature, version 3, rebuilt copy", "UnityFS", true, 1, 2, true);
  v3("UnityWeb version 1", "UnityWeb", true, 1, 1, false, 1);
  v3("UnityRaw version 2, three levels", "UnityRaw", false, 3, 2, false, 2);
  v3("UnityWeb version 4, two levels", "UnityWeb", true, 2, 0, true, 4);
  v3("UnityWeb version 5", "UnityWeb", true, 1, 1, false, 5);
  auto v6 = [&](const char* label, uint32_t flags, BlockCodec codec, uint32_t block, bool copy,
                uint8_t header_flags, uint8_t block_flags, uint32_t version = 6) {
    Variant v{label, 6, {}, {}, 1, copy, header_flags, block_flags};
    v.v6.version = version;
    if (version >= 7) v.v6.engine_version = "2022.3.18f1";
    v.v6.flags = flags;
    v.v6.codec = codec;
    v.v6.block_size = block;
    v.v6.files = ThreeAssets();
    out.push_back(v);
  };
  v6("LZ4HC info, many LZ4HC blocks", 0x43, BlockCodec::kLz4Hc, 4096, false, 0x43, 3);
  v6("LZ4 info, LZ4 blocks, rebuilt copy", 0x42, BlockCodec::kLz4, 8192, true, 0x42, 2);
  v6("LZMA blocks, plain info", 0x40, BlockCodec::kLzma, 8192, false, 0x40, 0x41);
  v6("info at the end, LZ4 blocks", 0xC0, BlockCodec::kLz4, 8192, false, 0x40, 2);
  v6("stored blocks, LZ4 info", 0x43, BlockCodec::kStored, 8192, false, 0x43, 0x40);
  v6("stored one block read in place", 0x40, BlockCodec::kStored, 0, false, 0x40, 0x40);
  v6("stored blocks read in place", 0x40, BlockCodec::kStored, 8192, false, 0x40, 0x40);
  v6("version 7, LZ4HC info, LZ4HC blocks", 0x43, BlockCodec::kLz4Hc, 4096, false, 0x43, 3, 7);
  v6("version 7, LZMA info, LZMA blocks", 0x41, BlockCodec::kLzma, 8192, false, 0x41, 0x41, 7);
  v6("version 7, LZ4 info at the end, rebuilt copy", 0xC2, BlockCodec::kLz4, 8192, true, 0xC2, 2,
     7);
  v6("version 8, padded, LZ4HC", 0x243, BlockCodec::kLz4Hc, 8192, false, 0x43, 3, 8);
  v6("version 8, padded, LZMA info at the end", 0x2C1, BlockCodec::kLzma, 0, false, 0xC1, 0x41, 8);
  v6("version 8, padded, stored read in place", 0x240, BlockCodec::kStored, 8192, false, 0x40, 0x40,
     8);
  v6("version 8, padded, stored info at the end", 0x2C0, BlockCodec::kStored, 0, true, 0xC0, 0x40,
     8);
  return out;
}

TEST(RepackBundle, TwoImportsIntoOneOpenArchiveInEveryVariant) {
  for (const Variant& v : Variants()) {
    SCOPED_TRACE(v.label);
    const BuiltBundle built =
        v.version == 3 ? testing::BuildBundleV3(v.v3) : testing::BuildBundleV6(v.v6);
    const std::vector<BundleEntry>& entries = v.version == 3 ? v.v3.files : v.v6.files;
    TempDir dir;
    const std::string path = dir.File("b.unity3d");
    testing::WriteFileBytes(path, built.bytes);
    OpenedArchive a;
    RecordingFrontend fe;
    ASSERT_NO_THROW(OpenContainer(a, fe, path, testing::Pick(v.index)));
    const bool unpacked = !built.unpacked.empty();
    const Container opened = a.Bundle;

    int64_t net = 0;
    for (int64_t change : {int64_t{100}, int64_t{-40}}) {
      SCOPED_TRACE(change);
      const std::string rebuilt = v.rebuilt_copy ? dir.File("rebuilt") : "";
      const Bytes before = testing::ReadFileBytes(path);
      const uint64_t old_size = testing::SimulateImport(a, change, rebuilt);
      RepackOptions options;
      options.RebuiltPath = rebuilt;
      ASSERT_NO_THROW(RepackBundle(a, change, old_size, options));
      if (v.rebuilt_copy) {
        // The caller puts its copy in place: until then the bundle it read stays as it was.
        if (!unpacked) {
          EXPECT_EQ(testing::ReadFileBytes(path), before);
        }
        ReplaceFile(rebuilt, a.ArchivePath);
      }
      net += change;

      std::vector<std::string> beside = {"b.unity3d"};
      if (unpacked) beside.insert(beside.begin(), FileNameOf(a.WorkingPath));
      EXPECT_EQ(testing::ListFiles(dir.Path()), beside);

      const Reopened r = Reopen(path);
      ASSERT_EQ(r.files.size(), 3u);
      for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(r.files[i] == (static_cast<int>(i) == v.index ? Changed(entries[i].data, net)
                                                                  : entries[i].data))
            << "contained file " << i;

      // The open archive describes its working file exactly as a fresh open of it would.
      const Reopened w = Reopen(a.ArchivePath);
      for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(a.Bundle.ContainedFiles[i].Offset, w.bundle.ContainedFiles[i].Offset);
        EXPECT_EQ(a.Bundle.ContainedFiles[i].Size, w.bundle.ContainedFiles[i].Size);
      }
      EXPECT_EQ(a.Bundle.ContainedFiles[v.index].Size, entries[v.index].data.size() + net);
      const Bytes bundle = testing::ReadFileBytes(path);
      const Bytes working = testing::ReadFileBytes(a.ArchivePath);
      if (v.version == 3) {
        const Version3Header& h = a.Bundle.V3;
        EXPECT_EQ(h.FileSize, working.size());
        ASSERT_EQ(h.Levels.size(), w.bundle.V3.Levels.size());
        // Levels that end where the imported file ended, or later, moved with it; the others
        // stayed, but not past its new end. The working file holds its data stored, so there
        // a level's compressed end is its uncompressed end.
        const uint64_t asset_end = built.offsets[v.index] + entries[v.index].data.size();
        std::vector<uint64_t> needed;
        for (size_t i = 0; i + 1 < h.Levels.size(); ++i) {
          const BundleLevel& was = opened.V3.Levels[i];
          const uint64_t end = was.UncompressedSize >= asset_end
                                   ? was.UncompressedSize + net
                                   : std::min<uint64_t>(was.UncompressedSize, asset_end + net);
          EXPECT_EQ(h.Levels[i].UncompressedSize, end) << i;
          EXPECT_EQ(h.Levels[i].CompressedSize,
                    unpacked ? end : was.CompressedSize + (end - was.UncompressedSize))
              << i;
          EXPECT_EQ(w.bundle.V3.Levels[i].CompressedSize, h.Levels[i].CompressedSize);
          needed.push_back(end);
        }
        if (unpacked) {
          ExpectLevelsStopInStream(bundle, h, needed);
        } else {
          for (size_t i = 0; i + 1 < h.Levels.size(); ++i)
            EXPECT_EQ(r.bundle.V3.Levels[i].UncompressedSize, h.Levels[i].UncompressedSize);
        }
        EXPECT_EQ(h.Levels.back().UncompressedSize, working.size() - h.HeaderSize);
        if (unpacked) {
          const Bytes props = {0x5D, 0x00, 0x00, 0x08, 0x00};
          EXPECT_TRUE(std::equal(props.begin(), props.end(), bundle.begin() + h.HeaderSize));
          EXPECT_EQ(Get64(bundle.data() + h.HeaderSize + 5, ByteOrder::Little),
                    working.size() - h.HeaderSize);
          EXPECT_EQ(Get32(bundle.data() + h.FileSizePos, ByteOrder::Big), bundle.size());
          const uint64_t last = h.FirstLevelPos + 8 * (h.Levels.size() - 1);
          EXPECT_EQ(Get32(bundle.data() + last, ByteOrder::Big), bundle.size() - h.HeaderSize);
          if (h.HasCompleteSize) {
            EXPECT_EQ(Get32(bundle.data() + last + 8, ByteOrder::Big), bundle.size());
          }
          Bytes data(working.begin() + h.HeaderSize, working.end());
#ifndef _WIN32  // the reference decoders are Linux programs
          EXPECT_EQ(ExpectToolsDecode(bundle, h.HeaderSize, data), 1);
#endif
        }
      } else {
        EXPECT_EQ(a.Bundle.V6.TotalSize, working.size());
        EXPECT_EQ(a.Bundle.V6.Blocks.size(), w.bundle.V6.Blocks.size());
        const RawVersion6 raw = ParseVersion6(bundle);
        EXPECT_EQ(raw.total, bundle.size());
        EXPECT_EQ(raw.flags, v.header_flags);
        // Versions 7 and 8 keep every header flag, the padding among them.
        if (v.v6.version >= 7) {
          EXPECT_EQ(raw.flag_word, v.v6.flags);
          if (v.v6.flags & 0x200) {
            EXPECT_EQ(raw.data_start % 16, 0u);
          }
        }
        uint64_t data = 0;
        for (const BundleBlock& b : raw.blocks) {
          EXPECT_EQ(b.Flags & 0xFF, v.block_flags);
          data += b.UncompressedSize;
        }
        EXPECT_EQ(data, working.size() - a.Bundle.BlockDataStart);
        if (unpacked) {
          // The archive's own block size: all blocks but the last hold that much.
          const uint64_t block = v.v6.block_size == 0 ? data : v.v6.block_size;
          EXPECT_EQ(raw.blocks.size(), std::max<uint64_t>(1, (data + block - 1) / block));
          for (size_t i = 0; i + 1 < raw.blocks.size(); ++i)
            EXPECT_EQ(raw.blocks[i].UncompressedSize, block) << i;
          if (v.block_flags == 0x41) {
            EXPECT_TRUE(std::equal(kLzmaEncodedProps, kLzmaEncodedProps + 5,
                                   bundle.begin() + static_cast<long>(raw.data_start)));
          }
          Bytes plain(working.begin() + static_cast<long>(a.Bundle.BlockDataStart), working.end());
#ifndef _WIN32  // the reference decoders are Linux programs
          EXPECT_EQ(ExpectToolsDecode(bundle, 0, plain),
                    v.block_flags == 0x40 ? 0 : static_cast<int>(raw.blocks.size()));
#endif
        } else {
          // Read in place: the block count stays, every block but the last as it was.
          ASSERT_EQ(raw.blocks.size(), opened.V6.Blocks.size());
          for (size_t i = 0; i + 1 < raw.blocks.size(); ++i)
            EXPECT_EQ(raw.blocks[i].UncompressedSize, opened.V6.Blocks[i].UncompressedSize);
        }
      }
    }
  }
}

// Data larger than MaxBlockSize is cut into blocks of the same compression; LZ4 blocks that do
// not shrink (random data) are stored, with the stored flag.
TEST(RepackBundle, LargeDataIsCutIntoBlocksAndIncompressibleLz4BlocksAreStored) {
  for (BlockCodec codec : {BlockCodec::kLz4, BlockCodec::kLzma, BlockCodec::kStored}) {
    SCOPED_TRACE(static_cast<int>(codec));
    BundleV6Spec desc;
    desc.flags = 0x43;
    desc.codec = codec;
    desc.block_flags = codec == BlockCodec::kStored ? 0 : -1;  // stored data with LZ4 info unpacks
    desc.files = {{"CAB-a", AssetWith(6, 4000, 5)}, {"CAB-a.resS", Random(100000, 9), 0}};
    const BuiltBundle built = testing::BuildBundleV6(desc);
    TempDir dir;
    const std::string path = dir.File("b");
    testing::WriteFileBytes(path, built.bytes);
    OpenedArchive a;
    RecordingFrontend fe;
    OpenContainer(a, fe, path);
    RepackOptions options;
    options.MaxBlockSize = 32 * 1024;
    RepackBundle(a, 0, 0, options);

    const Bytes bundle = testing::ReadFileBytes(path);
    const RawVersion6 raw = ParseVersion6(bundle);
    const uint64_t data = FileSizeOf(a.ArchivePath) - a.Bundle.BlockDataStart;
    EXPECT_EQ(raw.blocks.size(), (data + 32767) / 32768);
    int stored = 0;
    uint64_t pos = raw.data_start;
    for (const BundleBlock& b : raw.blocks) {
      EXPECT_LE(b.UncompressedSize, 32u * 1024);
      if (codec == BlockCodec::kLzma) {
        EXPECT_EQ(b.Flags, 0x41);
        EXPECT_TRUE(std::equal(kLzmaEncodedProps, kLzmaEncodedProps + 5, bundle.begin() + pos));
      } else if ((b.Flags & 0xFF) == 0) {
        EXPECT_EQ(b.CompressedSize, b.UncompressedSize);
        ++stored;
      } else {
        EXPECT_EQ(b.Flags, 2);
        EXPECT_LT(b.CompressedSize, b.UncompressedSize);
      }
      pos += b.CompressedSize;
    }
    EXPECT_EQ(pos, bundle.size());
    if (codec == BlockCodec::kLz4) {
      EXPECT_GE(stored, 2);  // the random file spans three blocks or more
    } else if (codec == BlockCodec::kStored) {
      EXPECT_EQ(stored, static_cast<int>(raw.blocks.size()));
    }
    const Reopened r = Reopen(path);
    EXPECT_TRUE(r.files[0] == desc.files[0].data && r.files[1] == desc.files[1].data);
    const Bytes working = testing::ReadFileBytes(a.ArchivePath);
    const Bytes plain(working.begin() + static_cast<long>(a.Bundle.BlockDataStart), working.end());
#ifndef _WIN32  // the reference decoders are Linux programs
    ExpectToolsDecode(bundle, 0, plain);
#endif
  }
}

// A chunked bundle keeps its block size through imports that grow it past block boundaries and
// shrink it back: every block but the last holds the archive's block size, there are as many
// as the data needs (as many as before once the size is back), each compressed as the archive's
// were, and the bundle opens with the changed contents. That holds too after the window's
// chooser reopened the working file, which by itself no longer says how the archive was packed.
TEST(RepackBundle, ChunkedBundleKeepsItsBlockSize) {
  struct Case {
    const char* label;
    uint32_t version, flags;
    BlockCodec codec;
    uint32_t block;
    uint8_t block_flags;  // the low byte of every written block
    bool chooser_reopened;
  } cases[] = {
      {"LZ4, 128 KiB blocks", 6, 0x43, BlockCodec::kLz4, 128 * 1024, 2, false},
      {"LZ4HC, version 8, padded", 8, 0x243, BlockCodec::kLz4Hc, 64 * 1024, 3, false},
      {"LZMA, 64 KiB blocks", 6, 0x43, BlockCodec::kLzma, 64 * 1024, 0x41, false},
      {"stored, LZ4 info", 7, 0x43, BlockCodec::kStored, 64 * 1024, 0x40, false},
      {"LZ4HC after the chooser reopened it", 6, 0x43, BlockCodec::kLz4Hc, 64 * 1024, 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    BundleV6Spec desc;
    desc.version = c.version;
    if (c.version >= 7) desc.engine_version = "2022.3.18f1";
    desc.flags = c.flags;
    desc.codec = c.codec;
    desc.block_size = c.block;
    desc.files = {{"CAB-a", AssetWith(6, 4000, 5)}, {"CAB-a.resS", AssetWith(40, 10000, 7), 0}};
    TempDir dir;
    const std::string path = dir.File("b");
    testing::WriteFileBytes(path, testing::BuildBundleV6(desc).bytes);
    Session s;
    RecordingFrontend fe;
    OpenArchive(s, fe, path);
    if (c.chooser_reopened) ReopenWithSelection(s, fe, 0);
    OpenedArchive& a = s.Archive;
    const size_t count = ParseVersion6(testing::ReadFileBytes(path)).blocks.size();
    ASSERT_GE(count, 4u);

    int64_t net = 0;
    for (int64_t change : {int64_t{150000}, int64_t{-149900}, int64_t{-100}}) {
      SCOPED_TRACE(change);
      RepackBundle(a, change, testing::SimulateImport(a, change));
      net += change;
      const Bytes bundle = testing::ReadFileBytes(path);
      const RawVersion6 raw = ParseVersion6(bundle);
      const uint64_t data = FileSizeOf(a.ArchivePath) - a.Bundle.BlockDataStart;
      ASSERT_EQ(raw.blocks.size(), (data + c.block - 1) / c.block);
      for (size_t i = 0; i < raw.blocks.size(); ++i) {
        EXPECT_EQ(raw.blocks[i].UncompressedSize,
                  i + 1 < raw.blocks.size() ? c.block : data - c.block * i)
            << i;
        EXPECT_EQ(raw.blocks[i].Flags & 0xFF, c.block_flags) << i;
      }
      EXPECT_EQ(raw.flag_word, c.flags);
      if (c.flags & 0x200) {
        EXPECT_EQ(raw.data_start % 16, 0u);
      }
      const Reopened r = Reopen(path);
      EXPECT_TRUE(r.files[0] == Changed(desc.files[0].data, net));
      EXPECT_TRUE(r.files[1] == desc.files[1].data);
    }
    EXPECT_EQ(ParseVersion6(testing::ReadFileBytes(path)).blocks.size(), count);
  }
}

// A size change that the working file does not bear out is refused before anything is written.
TEST(RepackBundle, ChangesThatDoNotFitAreRefusedBeforeWriting) {
  struct Case {
    const char* label;
    int64_t simulated, claimed;
  } cases[] = {{"claims more than the file grew", 100, 5000},
               {"shrinks below zero", 0, -100000},
               {"claims a shrink of a grown file", 100, -4000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    BundleV6Spec desc;
    desc.files = ThreeAssets();
    const BuiltBundle built = testing::BuildBundleV6(desc);
    TempDir dir;
    const std::string path = dir.File("b");
    testing::WriteFileBytes(path, built.bytes);
    OpenedArchive a;
    RecordingFrontend fe;
    OpenContainer(a, fe, path, testing::Pick(1));
    const uint64_t old_size = testing::SimulateImport(a, c.simulated);
    const Bytes working = testing::ReadFileBytes(a.ArchivePath);
    const Container values = a.Bundle;
    EXPECT_THROW(RepackBundle(a, c.claimed, old_size), Error);
    EXPECT_EQ(testing::ReadFileBytes(path), built.bytes);
    EXPECT_EQ(testing::ReadFileBytes(a.ArchivePath), working);
    EXPECT_EQ(a.Bundle.V6.TotalSize, values.V6.TotalSize);
    EXPECT_EQ(testing::ListFiles(dir.Path()),
              (std::vector<std::string>{FileNameOf(a.WorkingPath), "b"}));
  }
}

// ---- Pieces ----

// A compressed bundle of 2.5 MiB that came in five pieces is written back as three pieces of the
// working file: 1 MiB, 1 MiB and the rest; the pieces past them go.
TEST(ResplitPieces, SplitBundleBecomesPiecesOfTheWorkingFile) {
  BundleV6Spec desc;
  desc.files = {{"CAB-a", AssetWith(3, 2000, 1)}, {"CAB-a.resS", Random(2560 * 1024, 4), 0}};
  const BuiltBundle built = testing::BuildBundleV6(desc);
  TempDir dir;
  const std::string base = dir.File("level0");
  ASSERT_EQ(testing::WriteSplitPieces(base, built.bytes, 600 * 1024), 5);
  OpenedArchive a;
  RecordingFrontend fe;
  OpenContainer(a, fe, base + ".split0");
  ASSERT_EQ(a.SplitCount, 5);
  const uint64_t old_size = testing::SimulateImport(a, 100);
  RepackBundle(a, 100, old_size);
  ResplitPieces(a);

  EXPECT_EQ(a.SplitCount, 3);
  const uint64_t working = FileSizeOf(a.ArchivePath);
  EXPECT_EQ(FileSizeOf(base + ".split0"), kPieceSize);
  EXPECT_EQ(FileSizeOf(base + ".split1"), kPieceSize);
  EXPECT_EQ(FileSizeOf(base + ".split2"), working - 2 * kPieceSize);
  Bytes joined;
  for (int i = 0; i < 3; ++i) {
    Bytes piece = testing::ReadFileBytes(base + ".split" + std::to_string(i));
    joined.insert(joined.end(), piece.begin(), piece.end());
  }
  EXPECT_TRUE(joined == testing::ReadFileBytes(a.ArchivePath));
  EXPECT_FALSE(FileExists(base + ".split3"));
  EXPECT_FALSE(FileExists(base + ".split4"));
  // Beside the pieces: only our joined and working files, which go with the archive.
  EXPECT_EQ(testing::ListFiles(dir.Path()).size(), 5u);

  const Reopened r = Reopen(base + ".split0");
  EXPECT_EQ(r.split_count, 3);
  EXPECT_TRUE(r.files[0] == Changed(desc.files[0].data, 100));
  EXPECT_TRUE(r.files[1] == desc.files[1].data);
}

// ---- A kill at each step ----

// The write-back runs in a child process that imports into contained file `index` (+100 bytes)
// and kills itself at the step; the bundle (or the pieces) it leaves must be byte for byte what
// was there before the write-back, open with the new contents, or be refused clearly.
TEST(RepackBundle, KillAtAnyStepLeavesOldOrNewFiles) {
  enum Leaves { kOld, kNew };
  struct Kill {
    const char* label;
    std::string_view step;  // "" = run to the end
    Leaves leaves;
  };
  struct Archive {
    const char* label;
    Bytes bytes;
    bool pieces;
    int index;
    bool in_place;  // the working file is the bundle itself
    std::vector<Kill> kills;
  };
  BundleV3Spec raw;
  raw.signature = "UnityRaw";
  raw.lzma = false;
  raw.files = ThreeAssets();
  BundleV3Spec web;
  web.files = ThreeAssets();
  BundleV6Spec split;
  split.files = {{"CAB-a", AssetWith(3, 2000, 1)}, {"CAB-a.resS", Random(2200 * 1024, 4), 0}};
  const Archive archives[] = {
      {"UnityRaw read in place",
       testing::BuildBundleV3(raw).bytes,
       false,
       1,
       true,
       {{"temporary bundle complete", kStepBundleWritten, kOld},
        {"bundle replaced", kStepBundleReplaced, kNew}}},
      {"UnityWeb",
       testing::BuildBundleV3(web).bytes,
       false,
       1,
       false,
       {{"working file patched", kStepTablesUpdated, kOld},
        {"temporary bundle complete", kStepBundleWritten, kOld},
        {"run to the end", "", kNew}}},
      {"UnityFS in pieces",
       testing::BuildBundleV6(split).bytes,
       true,
       0,
       false,
       {{"new pieces written", kStepPiecesWritten, kOld},
        // Once the renames are listed the next open finishes them.
        {"renames listed", kStepPiecesListed, kNew},
        {"first piece renamed", kStepPieceReplaced, kNew},
        {"run to the end", "", kNew}}},
  };
  for (const Archive& archive : archives) {
    for (const Kill& k : archive.kills) {
      SCOPED_TRACE(std::string(archive.label) + ", " + k.label);
      TempDir dir;
      std::string path = dir.File("b");
      std::vector<std::string> files;  // what the write-back replaces
      if (archive.pieces) {
        const int count = testing::WriteSplitPieces(path, archive.bytes, 700 * 1024);
        for (int i = 0; i < count; ++i) files.push_back(path + ".split" + std::to_string(i));
        path += ".split0";
      } else {
        testing::WriteFileBytes(path, archive.bytes);
        files.push_back(path);
      }
      const Reopened original = Reopen(path);
      std::vector<Bytes> old;
      for (const std::string& f : files) old.push_back(testing::ReadFileBytes(f));
      if (archive.in_place) {
        // An in-place bundle has had its asset rebuilt, under the old tables, before the
        // write-back starts: that is the "before" a kill must leave.
        TempDir twin;
        testing::WriteFileBytes(twin.File("b"), archive.bytes);
        OpenedArchive a;
        RecordingFrontend fe;
        OpenContainer(a, fe, twin.File("b"), testing::Pick(archive.index));
        testing::SimulateImport(a, 100);
        old[0] = testing::ReadFileBytes(twin.File("b"));
      }

      const testing::RunResult run = testing::RunProgram(
          KESTRIX_REPACK_CHILD,
          {path, std::to_string(archive.index), "100", k.step.empty() ? "-" : std::string(k.step)});
      if (k.step.empty()) {
        EXPECT_EQ(run.status, 0) << run.err;
      } else {
        EXPECT_EQ(run.signal, SIGKILL) << run.err;
      }
      switch (k.leaves) {
        case kOld:
          for (size_t i = 0; i < files.size(); ++i)
            EXPECT_TRUE(testing::ReadFileBytes(files[i]) == old[i]) << files[i];
          break;
        case kNew: {
          {
            // The open where the pieces lie finishes renames a kill interrupted.
            OpenedArchive a;
            RecordingFrontend fe;
            OpenContainer(a, fe, path);
          }
          const Reopened now = Reopen(path);
          ASSERT_EQ(now.files.size(), original.files.size());
          for (size_t i = 0; i < now.files.size(); ++i)
            EXPECT_TRUE(now.files[i] == (static_cast<int>(i) == archive.index
                                             ? Changed(original.files[i], 100)
                                             : original.files[i]))
                << "contained file " << i;
          break;
        }
      }
    }
  }
}

// ---- Real bundles ----

bool ReadableBundle(const testing::CorpusRow& row) { return testing::IsReadableBundle(row); }

// Every real bundle, repacked without an edit, opens again with every contained file as it was,
// and its compressed data decodes with xz and lz4.
TEST(CorpusRepack, EveryBundleSurvivesARepackUnchanged) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int bundles = 0, decoded = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!ReadableBundle(row)) continue;
    SCOPED_TRACE(row.relpath);
    TempDir dir;
    const std::string path = dir.File(FileNameOf(row.relpath));
    testing::CopyFile(testing::CorpusDir() + "/" + row.relpath, path);
    const Reopened before = Reopen(path);
    OpenedArchive a;
    RecordingFrontend fe;
    ASSERT_NO_THROW(OpenContainer(a, fe, path));
    ASSERT_NO_THROW(RepackBundle(a, 0, 0));
    const Reopened after = Reopen(path);
    ASSERT_EQ(after.files.size(), before.files.size());
    for (size_t i = 0; i < after.files.size(); ++i)
      EXPECT_TRUE(after.files[i] == before.files[i]) << before.bundle.ContainedFiles[i].Name;
    if (!a.WorkingPath.empty()) {
      const Bytes working = testing::ReadFileBytes(a.ArchivePath);
      const uint64_t start =
          a.Bundle.HasBlocks() ? a.Bundle.BlockDataStart : a.Bundle.V3.HeaderSize;
#ifndef _WIN32  // the reference decoders are Linux programs
      decoded +=
          ExpectToolsDecode(testing::ReadFileBytes(path), a.Bundle.HasBlocks() ? 0 : start,
                            Bytes(working.begin() + static_cast<long>(start), working.end()));
#endif
    }
    ++bundles;
  }
  EXPECT_GE(bundles, 20);
#ifndef _WIN32  // the reference decoders are Linux programs
  EXPECT_GE(decoded, 15);
#endif
}

// An import into a real bundle that this test does not parse: `n` bytes inserted at the end of
// the chosen contained file of the working file. Returns that file's size before.
uint64_t GrowChosenFile(const OpenedArchive& a, size_t n) {
  Bytes bytes = testing::ReadFileBytes(a.ArchivePath);
  const uint64_t size = a.Bundle.ContainedFiles[static_cast<size_t>(a.SelectedFileIndex)].Size;
  Bytes inserted(n);
  for (size_t k = 0; k < n; ++k) inserted[k] = testing::InsertedByte(k);
  bytes.insert(bytes.begin() + static_cast<long>(a.AssetBase + size), inserted.begin(),
               inserted.end());
  testing::WriteFileBytes(a.ArchivePath, bytes);
  return size;
}

// Every real bundle after an import that grows its first contained file opens with that file
// grown and the others as they were. Chunked ones keep their block size and as many blocks as
// the data needs, each compressed as the archive's block at its place (or stored when it no
// longer shrinks), and the padding before the block data; version 3 bundles of several levels
// get level records that say where the new stream can stop.
TEST(CorpusRepack, BundlesKeepTheirLayoutAfterAnImport) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int chunked = 0, levelled = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!ReadableBundle(row)) continue;
    SCOPED_TRACE(row.relpath);
    TempDir dir;
    const std::string path = dir.File(FileNameOf(row.relpath));
    testing::CopyFile(testing::CorpusDir() + "/" + row.relpath, path);
    const Bytes original = testing::ReadFileBytes(path);
    const Reopened before = Reopen(path);
    OpenedArchive a;
    RecordingFrontend fe;
    ASSERT_NO_THROW(OpenContainer(a, fe, path));
    ASSERT_NO_THROW(RepackBundle(a, 100, GrowChosenFile(a, 100)));
    const Reopened after = Reopen(path);
    ASSERT_EQ(after.files.size(), before.files.size());
    // The file grown is the one opened: the first serialized one (web player bundles begin with
    // their .dll files).
    const size_t chosen = static_cast<size_t>(a.SelectedFileIndex);
    ASSERT_LT(chosen, before.files.size());
    Bytes grown = before.files[chosen];
    for (size_t k = 0; k < 100; ++k) grown.push_back(testing::InsertedByte(k));
    EXPECT_TRUE(after.files[chosen] == grown);
    for (size_t i = 0; i < after.files.size(); ++i) {
      if (i != chosen) {
        EXPECT_TRUE(after.files[i] == before.files[i]);
      }
    }
    if (a.WorkingPath.empty()) continue;
    const Bytes bundle = testing::ReadFileBytes(path);
    if (a.Bundle.HasBlocks()) {
      const RawVersion6 was = ParseVersion6(original), now = ParseVersion6(bundle);
      uint64_t block = 0;
      for (const BundleBlock& b : was.blocks) block = std::max<uint64_t>(block, b.UncompressedSize);
      const uint64_t data = FileSizeOf(a.ArchivePath) - a.Bundle.BlockDataStart;
      if (was.blocks.size() == 1) {
        EXPECT_EQ(now.blocks.size(), 1u);
      } else {
        EXPECT_EQ(now.blocks.size(), (data + block - 1) / block);
        for (size_t i = 0; i + 1 < now.blocks.size(); ++i)
          EXPECT_EQ(now.blocks[i].UncompressedSize, block) << i;
        ++chunked;
      }
      for (size_t i = 0; i < now.blocks.size(); ++i) {
        const uint16_t want = was.blocks[std::min(i, was.blocks.size() - 1)].Flags;
        EXPECT_TRUE(now.blocks[i].Flags == want || now.blocks[i].Flags == (want & ~0x3F)) << i;
      }
      EXPECT_EQ(now.flag_word & 0x200, was.flag_word & 0x200);
      if (was.flag_word & 0x200) {
        EXPECT_EQ(now.data_start % 16, 0u);
      }
    } else if (a.Bundle.V3.Levels.size() > 1) {
      std::vector<uint64_t> needed;
      for (size_t i = 0; i + 1 < a.Bundle.V3.Levels.size(); ++i)
        needed.push_back(a.Bundle.V3.Levels[i].UncompressedSize);
      ExpectLevelsStopInStream(bundle, a.Bundle.V3, needed);
      ++levelled;
    }
  }
  EXPECT_GE(chunked, 2);
  EXPECT_GE(levelled, 1);
}

// The engine's own level records are stream checkpoints as LzmaCheckpoints finds them: for each
// level's uncompressed end, its compressed end is the fewest stream bytes that reach it (after
// the 13 bytes of properties and size), and those bytes decode to exactly that end. The
// write-back fills the records of a new stream by that rule.
TEST(CorpusRepack, EngineLevelRecordsAreStreamCheckpoints) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int levelled = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (row.container.rfind("UnityWeb-v", 0) != 0) continue;
    SCOPED_TRACE(row.relpath);
    TempDir dir;
    const std::string path = dir.File(FileNameOf(row.relpath));
    testing::CopyFile(testing::CorpusDir() + "/" + row.relpath, path);
    OpenedArchive a;
    RecordingFrontend fe;
    ASSERT_NO_THROW(OpenContainer(a, fe, path));
    // The open patched only the last record, in the working file.
    const Version3Header& h = a.Bundle.V3;
    if (h.Levels.size() < 2) continue;
    FileSource source(path);
    uint8_t head[13];
    source.ReadAt(h.HeaderSize, head, sizeof head);
    std::vector<uint64_t> ends;
    for (size_t i = 0; i + 1 < h.Levels.size(); ++i) ends.push_back(h.Levels[i].UncompressedSize);
    const std::vector<LzmaCheckpoint> points =
        LzmaCheckpoints(head, source, h.HeaderSize + 13, source.Size() - h.HeaderSize - 13,
                        Get64(head + 5, ByteOrder::Little), ends);
    for (size_t i = 0; i < points.size(); ++i) {
      EXPECT_EQ(points[i].coded + 13, h.Levels[i].CompressedSize) << i;
      EXPECT_EQ(points[i].decoded, h.Levels[i].UncompressedSize) << i;
    }
    ++levelled;
  }
  EXPECT_GE(levelled, 1);
}

// Pieces cut again from an unchanged joined file are the pieces that came in.
TEST(CorpusRepack, SplitPiecesAreCutAgainIdentically) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int sets = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!EndsWith(row.relpath, ".split0")) continue;
    SCOPED_TRACE(row.relpath);
    TempDir dir;
    const std::string path = testing::CorpusArchiveToOpen(row, dir);
    const std::string base = WithoutExtension(path);
    OpenedArchive a;
    RecordingFrontend fe;
    ASSERT_NO_THROW(OpenContainer(a, fe, path));
    const int count = a.SplitCount;
    std::vector<Bytes> pieces;
    for (int i = 0; i < count; ++i)
      pieces.push_back(testing::ReadFileBytes(base + ".split" + std::to_string(i)));
    ResplitPieces(a);
    EXPECT_EQ(a.SplitCount, count);
    for (int i = 0; i < count; ++i)
      EXPECT_TRUE(testing::ReadFileBytes(base + ".split" + std::to_string(i)) == pieces[i]) << i;
    EXPECT_FALSE(FileExists(base + ".split" + std::to_string(count)));
    ++sets;
  }
  EXPECT_GE(sets, 1);
}

}  // namespace
}  // namespace kestrix
