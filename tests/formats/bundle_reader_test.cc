// Bundle containers: every container variant and flag combination opens the asset file it holds,
// the unpacked ".TEMP" file is byte for byte what the builder says, and malformed bundles fail
// with a clear message and leave no temporary file behind.
#include "formats/bundle_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "core/error.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "support/bundle_builder.h"
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

// An asset file with `objects` objects, padded with data that compresses somewhat.
Bytes AssetWith(int objects, size_t payload = 3000) {
  testing::AssetSpec desc;
  desc.format = 17;
  for (int i = 0; i < objects; ++i) {
    Bytes data(payload);
    for (size_t k = 0; k < data.size(); ++k)
      data[k] = static_cast<uint8_t>((k * 7 + i) % 251 ^ (k >> 5));
    desc.objects.push_back({i % 2 ? 21 : 1, data});
  }
  return testing::BuildAssetFile(desc);
}

Bytes Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng() % 16);  // compressible, not trivially
  return b;
}

std::vector<BundleEntry> ThreeFiles() {
  return {{"archive:/CAB-0123/CAB-0123", AssetWith(5)},
          {"archive:/CAB-0123/CAB-0123.resS", Noise(300000, 1), 0},
          {"archive:/CAB-0456/CAB-0456", AssetWith(2)}};
}

struct Opened {
  TempDir dir;
  Session session;
  RecordingFrontend frontend;
  std::string path;
};

void Open(Opened& o, const Bytes& bundle, int index = 0,
          const std::string& name = "bundle.unity3d") {
  o.path = o.dir.File(name);
  testing::WriteFileBytes(o.path, bundle);
  OpenArchive(o.session, o.frontend, o.path, testing::Pick(index));
}

// Only the bundle itself is left in the folder: no ".TEMP", no half-written file.
void ExpectOnlyBundleLeft(const Opened& o) {
  EXPECT_EQ(testing::ListFiles(o.dir.Path()), std::vector<std::string>{"bundle.unity3d"});
}

void ExpectOpenedFirstFile(const Opened& o, const BuiltBundle& built) {
  const Session& s = o.session;
  ASSERT_EQ(s.Archive.Bundle.ContainedFiles.size(), 3u);
  EXPECT_EQ(s.Archive.Bundle.ContainedFiles[0].Name, NativeSeparators("/CAB-0123/CAB-0123"));
  EXPECT_EQ(s.Archive.Bundle.ContainedFiles[0].StoredName, "archive:/CAB-0123/CAB-0123");
  EXPECT_EQ(s.Archive.AssetBaseName, "CAB-0123");
  EXPECT_EQ(s.Archive.ArchiveFolderName, NativeSeparators("bundle/CAB-0123"));
  EXPECT_EQ(s.Archive.AssetBase, built.data_start + built.offsets[0]);
  EXPECT_EQ(s.Asset.ObjectCount, 5u);
  EXPECT_EQ(o.frontend.chooser.size(), 3u);
  EXPECT_EQ(o.frontend.chooser_selected, 0);
  const std::string& working = s.Archive.WorkingPath;
  if (built.unpacked.empty()) {
    EXPECT_EQ(s.Archive.ArchivePath, o.path);
    EXPECT_TRUE(working.empty());
    ExpectOnlyBundleLeft(o);
  } else {
    // A name of this run's own beside the bundle: hidden, ending in ".TEMP".
    EXPECT_EQ(s.Archive.ArchivePath, working);
    EXPECT_EQ(FolderOf(working), FolderOf(o.path));
    EXPECT_EQ(FileNameOf(working).rfind(".bundle.unity3d.", 0), 0u) << working;
    EXPECT_EQ(ExtensionOf(working), ".TEMP");
    EXPECT_EQ(testing::ListFiles(o.dir.Path()).size(), 2u);
    EXPECT_EQ(testing::ReadFileBytes(working), built.unpacked);
    EXPECT_EQ(s.Archive.Bundle.BlockDataStart == 0 ? s.Archive.Bundle.V3.HeaderSize
                                                   : s.Archive.Bundle.BlockDataStart,
              built.data_start);
  }
}

// ---- Version 3 ----

struct V3Case {
  const char* label;
  const char* signature;
  bool lzma;
  bool end_marker;
  int levels;
  bool first_levels_differ;
  uint32_t version = 3;
};

class Version3 : public ::testing::TestWithParam<V3Case> {};

TEST_P(Version3, OpensAndUnpacksExactly) {
  const V3Case& c = GetParam();
  BundleV3Spec desc;
  desc.signature = c.signature;
  desc.lzma = c.lzma;
  desc.end_marker = c.end_marker;
  desc.levels = c.levels;
  desc.first_levels_differ = c.first_levels_differ;
  desc.version = c.version;
  desc.files = ThreeFiles();
  BuiltBundle built = testing::BuildBundleV3(desc);
  EXPECT_EQ(built.unpacked.empty(), !c.lzma || std::string(c.signature) == "UnityRaw");
  Opened o;
  Open(o, built.bytes);
  ExpectOpenedFirstFile(o, built);
  EXPECT_EQ(o.session.Archive.Bundle.BundleVersion, c.version);
  EXPECT_EQ(o.session.Archive.Bundle.V3.HasCompleteSize, c.version >= 2);
  EXPECT_EQ(o.session.Archive.Bundle.V3.Levels.size(), static_cast<size_t>(c.levels));
  if (!built.unpacked.empty()) {
    EXPECT_EQ(o.session.Archive.Bundle.V3.FileSize, built.unpacked.size());
    EXPECT_EQ(o.session.Archive.Bundle.V3.Levels.back().CompressedSize,
              o.session.Archive.Bundle.V3.Levels.back().UncompressedSize);
  }
  CloseArchive(o.session);
  ExpectOnlyBundleLeft(o);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, Version3,
    ::testing::Values(V3Case{"Raw", "UnityRaw", false, false, 1, false},
                      V3Case{"RawIgnoresLzmaWish", "UnityRaw", true, false, 2, false},
                      V3Case{"WebLzma", "UnityWeb", true, false, 1, false},
                      V3Case{"WebLzmaEndMarker", "UnityWeb", true, true, 1, false},
                      V3Case{"WebLzmaLevels", "UnityWeb", true, false, 3, true},
                      V3Case{"WebStoredLastLevelEqual", "UnityWeb", false, false, 3, true},
                      V3Case{"FsSignatureVersion3", "UnityFS", true, false, 1, false},
                      V3Case{"WebVersion1", "UnityWeb", true, false, 1, false, 1},
                      V3Case{"RawVersion1", "UnityRaw", false, false, 1, false, 1},
                      V3Case{"WebVersion2Levels", "UnityWeb", true, false, 3, true, 2},
                      V3Case{"RawVersion2", "UnityRaw", false, false, 2, false, 2},
                      V3Case{"WebVersion4", "UnityWeb", true, false, 1, false, 4},
                      V3Case{"RawVersion4", "UnityRaw", false, false, 1, false, 4},
                      V3Case{"WebVersion5Levels", "UnityWeb", true, true, 2, true, 5}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- Version 6 ----

struct V6Case {
  const char* label;
  uint32_t flags;
  BlockCodec codec;
  uint32_t block_size;
  int block_flags;
  bool end_marker;
  uint32_t version = 6;
  const char* signature = "UnityFS";
};

int CodecFlags(BlockCodec codec) {
  switch (codec) {
    case BlockCodec::kLz4:
      return 2;
    case BlockCodec::kLz4Hc:
      return 3;
    case BlockCodec::kLzma:
      return 0x41;
    default:
      return 0x40;
  }
}

class Version6 : public ::testing::TestWithParam<V6Case> {};

TEST_P(Version6, OpensAndUnpacksExactly) {
  const V6Case& c = GetParam();
  BundleV6Spec desc;
  desc.flags = c.flags;
  desc.codec = c.codec;
  desc.block_size = c.block_size;
  desc.block_flags = c.block_flags;
  desc.end_marker = c.end_marker;
  desc.version = c.version;
  desc.signature = c.signature;
  // Flag 0x200 pads the block data only for engines from 2020.3.34 on.
  if (c.version >= 7) desc.engine_version = "2022.3.18f1";
  desc.files = ThreeFiles();
  BuiltBundle built = testing::BuildBundleV6(desc);
  Opened o;
  Open(o, built.bytes);
  ExpectOpenedFirstFile(o, built);
  const Session& s = o.session;
  EXPECT_EQ(s.Archive.Bundle.BundleVersion, c.version);
  if (c.version >= 7 && (c.flags & 0x200)) {
    EXPECT_EQ(s.Archive.Bundle.BlockDataStart % 16, 0u);
  }
  EXPECT_EQ(s.Archive.Bundle.BlockDataStart, built.data_start);
  if (!built.unpacked.empty()) {
    // The session describes the working file: one block whose flags are the archive's.
    ASSERT_EQ(s.Archive.Bundle.V6.Blocks.size(), 1u);
    EXPECT_EQ(s.Archive.Bundle.V6.Blocks[0].UncompressedSize,
              s.Archive.Bundle.V6.Blocks[0].CompressedSize);
    EXPECT_EQ(s.Archive.Bundle.V6.Blocks[0].Flags,
              c.block_flags >= 0 ? c.block_flags : CodecFlags(c.codec));
    EXPECT_EQ(s.Archive.Bundle.V6.CompressedInfoSize, s.Archive.Bundle.V6.UncompressedInfoSize);
    EXPECT_EQ(s.Archive.Bundle.V6.TotalSize, built.unpacked.size());
  }
  // The session keeps the archive's info form; version 6 forgets info at the end.
  if (c.version >= 7)
    EXPECT_EQ(s.Archive.Bundle.V6.FlagWord(), c.flags);
  else
    EXPECT_EQ(s.Archive.Bundle.V6.Flags[3], (c.flags & 0xFF) == 0xC0 ? 0x40 : c.flags & 0xFF);
  CloseArchive(o.session);
  ExpectOnlyBundleLeft(o);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, Version6,
    ::testing::Values(
        V6Case{"Lz4hcInfoLz4hcBlocks", 0x43, BlockCodec::kLz4Hc, 128 * 1024, -1, false},
        V6Case{"Lz4InfoLz4Blocks", 0x42, BlockCodec::kLz4, 64 * 1024, -1, false},
        V6Case{"Lz4InfoOneLz4Block", 0x43, BlockCodec::kLz4, 0, -1, false},
        V6Case{"Lz4InfoLzmaBlock", 0x43, BlockCodec::kLzma, 0, -1, false},
        V6Case{"Lz4InfoLzmaBlocksEndMarker", 0x43, BlockCodec::kLzma, 100000, -1, true},
        V6Case{"Lz4InfoStoredBlock", 0x43, BlockCodec::kStored, 0, -1, false},
        V6Case{"StoredInfoStoredBlockInPlace", 0x40, BlockCodec::kStored, 0, -1, false},
        V6Case{"StoredInfoStoredBlocksInPlace", 0x40, BlockCodec::kStored, 50000, -1, false},
        V6Case{"StoredInfoZeroFlagBlocksInPlace", 0x40, BlockCodec::kStored, 50000, 0, false},
        V6Case{"StoredInfoLz4Blocks", 0x40, BlockCodec::kLz4, 128 * 1024, -1, false},
        V6Case{"StoredInfoLzmaBlock", 0x40, BlockCodec::kLzma, 0, -1, false},
        V6Case{"InfoAtEndStoredBlock", 0xC0, BlockCodec::kStored, 0, -1, false},
        V6Case{"InfoAtEndLz4Blocks", 0xC0, BlockCodec::kLz4Hc, 32 * 1024, -1, false},
        V6Case{"HeaderSkipBytes", 0x0343, BlockCodec::kLz4, 128 * 1024, -1, false},
        // LZMA without the 0x40 bit is not LZMA: its bytes are copied as they are.
        V6Case{"UnknownBlockFlagsCopied", 0x40, BlockCodec::kStored, 50000, 0x01, false},
        V6Case{"WebSignatureVersion6", 0x43, BlockCodec::kLz4, 64 * 1024, -1, false, 6, "UnityWeb"},
        // Versions 7 and 8: bit fields, the header padded to 16.
        V6Case{"V7Lz4hcInfoLz4hcBlocks", 0x43, BlockCodec::kLz4Hc, 128 * 1024, -1, false, 7},
        V6Case{"V7LzmaInfoLzmaBlock", 0x41, BlockCodec::kLzma, 0, -1, false, 7},
        V6Case{"V7Lz4InfoStoredBlock", 0x42, BlockCodec::kStored, 0, -1, false, 7},
        V6Case{"V7StoredInfoStoredBlocksInPlace", 0x40, BlockCodec::kStored, 50000, -1, false, 7},
        V6Case{"V7Lz4InfoAtEndLz4Blocks", 0xC2, BlockCodec::kLz4, 64 * 1024, -1, false, 7},
        V6Case{"V7StoredInfoAtEnd", 0xC0, BlockCodec::kStored, 0, -1, false, 7},
        V6Case{"V7OldWebPluginFlag", 0x143, BlockCodec::kLz4Hc, 0, -1, false, 7},
        V6Case{"V7StreamedLzmaBlocksWithoutStreamBit", 0x43, BlockCodec::kLzma, 100000, 0x01, false,
               7},
        V6Case{"V8PaddedLz4hcInfoLz4hcBlocks", 0x243, BlockCodec::kLz4Hc, 64 * 1024, -1, false, 8},
        V6Case{"V8PaddedStoredInPlace", 0x240, BlockCodec::kStored, 50000, -1, false, 8},
        V6Case{"V8PaddedLzmaInfoAtEndLzmaBlocks", 0x2C1, BlockCodec::kLzma, 100000, -1, true, 8},
        V6Case{"V8PaddedStoredInfoAtEnd", 0x2C0, BlockCodec::kStored, 0, -1, false, 8},
        V6Case{"V8PaddedLz4InfoStoredBlocks", 0x242, BlockCodec::kStored, 50000, -1, false, 8}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Bundle, UnpackedFileOpensAgainWithoutUnpacking) {
  BundleV6Spec desc;
  desc.files = ThreeFiles();
  BuiltBundle built = testing::BuildBundleV6(desc);
  Opened o;
  Open(o, built.bytes);
  const std::string working = o.session.Archive.WorkingPath;
  ASSERT_TRUE(FileExists(working));
  // Opening the ".TEMP" file itself reads it in place and does not own it.
  Session again;
  RecordingFrontend fe;
  OpenArchive(again, fe, working, testing::Pick(2));
  EXPECT_EQ(again.Archive.ArchivePath, working);
  EXPECT_TRUE(again.Archive.WorkingPath.empty());
  EXPECT_EQ(again.Archive.WorkingFile, nullptr);
  EXPECT_EQ(testing::ListFiles(o.dir.Path()).size(), 2u);
  EXPECT_EQ(again.Archive.AssetBase, built.data_start + built.offsets[2]);
  EXPECT_EQ(again.Asset.ObjectCount, 2u);
  CloseArchive(again);
  EXPECT_TRUE(FileExists(working));
  // The chooser reopens the working file with another contained file.
  ReopenWithSelection(o.session, o.frontend, 2);
  EXPECT_EQ(o.session.Archive.ArchiveFolderName, NativeSeparators("bundle/CAB-0456"));
  EXPECT_EQ(o.session.Asset.ObjectCount, 2u);
  EXPECT_EQ(o.session.Archive.WorkingPath, working);
  EXPECT_EQ(testing::ReadFileBytes(working), built.unpacked);
  CloseArchive(o.session);
  ExpectOnlyBundleLeft(o);
}

TEST(Bundle, SelectedIndexChoosesTheContainedFile) {
  BundleV3Spec desc;
  desc.files = ThreeFiles();
  desc.files[0].name = "Assembly-CSharp.dll";
  BuiltBundle built = testing::BuildBundleV3(desc);
  Opened o;
  Open(o, built.bytes, 2);
  EXPECT_EQ(o.session.Archive.AssetBaseName, "CAB-0456");
  EXPECT_EQ(o.session.Asset.ObjectCount, 2u);
  EXPECT_EQ(o.frontend.chooser_selected, 2);
  // A file that is no asset file is shown as one raw entry.
  Opened dll;
  Open(dll, built.bytes, 1);
  EXPECT_TRUE(dll.session.Asset.RawSingleFile);
  ASSERT_EQ(dll.session.EntryCount(), 1u);
  EXPECT_EQ(dll.session.EntryName(0), "CAB-0123.resS");
  CloseArchive(o.session);
  CloseArchive(dll.session);
}

TEST(Bundle, NamesAreNormalised) {
  // Into the system's separators: "/" here, "\\" on Windows.
  EXPECT_EQ(NormaliseContainedName("archive:/CAB-0123/CAB-0123"),
            NativeSeparators("/CAB-0123/CAB-0123"));
  EXPECT_EQ(NormaliseContainedName("a:b:c\\d/e"), NativeSeparators("c/d/e"));
  EXPECT_EQ(NormaliseContainedName("mainData"), "mainData");
  EXPECT_EQ(NormaliseContainedName("resources\\unity_builtin_extra"),
            NativeSeparators("resources/unity_builtin_extra"));
}

TEST(Bundle, SplitPiecesAreJoinedThenUnpacked) {
  BundleV6Spec desc;
  desc.files = ThreeFiles();
  BuiltBundle built = testing::BuildBundleV6(desc);
  TempDir dir;
  std::string base = dir.File("bundle.unity3d");
  int pieces = testing::WriteSplitPieces(base, built.bytes, (built.bytes.size() + 2) / 3);
  ASSERT_EQ(pieces, 3);
  // A file the user keeps under the joined name is neither overwritten nor deleted.
  const Bytes own = {'m', 'i', 'n', 'e'};
  for (bool user_file : {false, true}) {
    if (user_file) testing::WriteFileBytes(base, own);
    Session s;
    RecordingFrontend fe;
    OpenArchive(s, fe, base + ".split0");
    EXPECT_EQ(s.Archive.SplitCount, 3);
    EXPECT_NE(s.Archive.JoinedPath, base);
    EXPECT_EQ(FolderOf(s.Archive.JoinedPath), dir.Path() + "/");
    EXPECT_EQ(testing::ReadFileBytes(s.Archive.JoinedPath), built.bytes);
    EXPECT_EQ(s.Archive.ArchivePath, s.Archive.WorkingPath);
    EXPECT_EQ(FileNameOf(s.Archive.WorkingPath).rfind(".bundle.unity3d.", 0), 0u);
    EXPECT_EQ(s.Archive.ArchiveBaseName, "bundle");
    EXPECT_EQ(StreamFileName(s.Archive), "bundle.unity3d.TEMP");
    EXPECT_EQ(testing::ReadFileBytes(s.Archive.ArchivePath), built.unpacked);
    EXPECT_EQ(s.Asset.ObjectCount, 5u);
    if (user_file) {
      EXPECT_EQ(testing::ReadFileBytes(base), own);
    }
    CloseArchive(s);
    std::vector<std::string> left = {"bundle.unity3d.split0", "bundle.unity3d.split1",
                                     "bundle.unity3d.split2"};
    if (user_file) left.insert(left.begin(), "bundle.unity3d");
    EXPECT_EQ(testing::ListFiles(dir.Path()), left);
    if (user_file) {
      EXPECT_EQ(testing::ReadFileBytes(base), own);
    }
  }
}

// ---- Malformed bundles ----

std::string OpenFails(const Bytes& bundle, int index = 0) {
  Opened o;
  std::string message;
  try {
    Open(o, bundle, index);
    message = "(opened)";
  } catch (const std::exception& e) {
    message = e.what();
  }
  ExpectOnlyBundleLeft(o);
  return message;
}

Bytes Cut(Bytes b, size_t keep) {
  b.resize(keep);
  return b;
}

TEST(BundleMalformed, EmptyTableOrIndexPastTheEnd) {
  BundleV3Spec v3;
  BundleV6Spec v6;
  EXPECT_EQ(OpenFails(testing::BuildBundleV3(v3).bytes), "The bundle holds no contained files.");
  EXPECT_EQ(OpenFails(testing::BuildBundleV6(v6).bytes), "The bundle holds no contained files.");
  v3.files = v6.files = ThreeFiles();
  EXPECT_EQ(OpenFails(testing::BuildBundleV3(v3).bytes, 3),
            "Contained file index 3 is not in the bundle: it holds 3 files (indices 0 to 2).");
  EXPECT_EQ(OpenFails(testing::BuildBundleV6(v6).bytes, 7),
            "Contained file index 7 is not in the bundle: it holds 3 files (indices 0 to 2).");
  // -1 asks for the first serialized file; below that nothing is meant.
  EXPECT_NE(OpenFails(testing::BuildBundleV6(v6).bytes, -2).find("whole number from 0 to 2"),
            std::string::npos);
}

// Newer versions, encryption flags and compressions this program does not read are refused by
// name.
TEST(BundleMalformed, UnsupportedVersionsFlagsAndCompressions) {
  struct Case {
    const char* label;
    uint32_t version;
    uint32_t flags;
    int block_flags;
    const char* engine;
    const char* message;
  } cases[] = {
      {"version 9", 9, 0x43, -1, "2023.1.0f1",
       "Unsupported bundle: \"UnityFS\" version 9 is not supported yet (versions 1 to 8 are)."},
      {"header bit 0x400", 7, 0x443, -1, "2022.3.18f1", "this bundle looks encrypted"},
      {"0x200 of an engine before padding", 7, 0x243, -1, "2020.3.20f1",
       "this bundle looks encrypted: its header flags 0x243 set bits"},
      {"block bit 0x100", 8, 0x243, 0x143, "2022.3.18f1",
       "this bundle looks encrypted: a block's flags 0x143 set bits"},
      {"LZHAM info", 7, 0x44, -1, "2020.2.2f1",
       "its block information is compressed with LZHAM (4), which is not supported."},
      {"LZHAM blocks", 8, 0x40, 0x44, "2022.3.18f1",
       "a block is compressed with LZHAM (4), which is not supported."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    BundleV6Spec desc;
    desc.version = c.version;
    desc.flags = c.flags;
    desc.block_flags = c.block_flags;
    desc.engine_version = c.engine;
    desc.codec = BlockCodec::kStored;
    desc.files = ThreeFiles();
    const std::string message = OpenFails(testing::BuildBundleV6(desc).bytes);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
  // "UnityWeb" of a version past 8 and an unstated version alike.
  BundleV3Spec web;
  web.version = 12;
  web.files = ThreeFiles();
  EXPECT_EQ(OpenFails(testing::BuildBundleV3(web).bytes),
            "Unsupported bundle: \"UnityWeb\" version 12 is not supported yet (versions 1 to 8 "
            "are).");
  EXPECT_EQ(OpenFails(Bytes{'U', 'n', 'i', 't', 'y', 'F', 'S', 0, 0, 0}),
            "Unsupported bundle: \"UnityFS\" version 0 is not supported yet (versions 1 to 8 "
            "are).");
}

TEST(BundleMalformed, TruncatedCompressedData) {
  BundleV6Spec desc;
  desc.files = ThreeFiles();
  desc.codec = BlockCodec::kLz4;
  Bytes lz4 = testing::BuildBundleV6(desc).bytes;
  EXPECT_EQ(OpenFails(Cut(lz4, lz4.size() - 10)), "Error size lz4 in data stream.");
  // The info itself cut short.
  EXPECT_EQ(OpenFails(Cut(lz4, 60)), "Error size lz4 in data stream.");

  desc.codec = BlockCodec::kLzma;
  desc.block_size = 0;
  Bytes lzma = testing::BuildBundleV6(desc).bytes;
  EXPECT_EQ(OpenFails(Cut(lzma, lzma.size() - 10)), "Error lzma in data stream.");

  BundleV3Spec v3;
  v3.files = ThreeFiles();
  BuiltBundle web = testing::BuildBundleV3(v3);
  const size_t header = web.data_start;
  EXPECT_EQ(OpenFails(Cut(web.bytes, web.bytes.size() - 100)), "Error lzma in data stream.");
  EXPECT_EQ(OpenFails(Cut(web.bytes, header + 4)), "input lzma *.TEMP file is too short.");
}

TEST(BundleMalformed, BadLzmaPropertiesAndData) {
  BundleV3Spec v3;
  v3.files = ThreeFiles();
  BuiltBundle web = testing::BuildBundleV3(v3);
  Bytes props = web.bytes;
  props[web.data_start] = 0xFF;
  EXPECT_EQ(OpenFails(props), "Incorrect stream properties lzma.");
  Bytes garbage = web.bytes;
  for (size_t i = web.data_start + 13; i < garbage.size(); ++i)
    garbage[i] = static_cast<uint8_t>(i * 131);
  EXPECT_EQ(OpenFails(garbage), "Error lzma in data stream.");
  // A size field beyond what the 32-bit header can describe is refused before decoding.
  Bytes huge = web.bytes;
  huge[web.data_start + 5 + 4] = 1;
  EXPECT_NE(OpenFails(huge).find("more than its 32-bit header can describe"), std::string::npos);
}

TEST(BundleMalformed, CountsAndSizesBeyondTheInfo) {
  BundleV6Spec desc;
  desc.flags = 0x40;
  desc.codec = BlockCodec::kLz4;
  desc.files = ThreeFiles();
  BuiltBundle built = testing::BuildBundleV6(desc);
  // The stored info follows the header: "UnityFS", version, "5.x.x", "5.6.7f1", total size,
  // both info sizes and the flags take 46 bytes; the hash comes first.
  const size_t block_count = 46 + 16;
  Bytes blocks = built.bytes;
  blocks[block_count] = 0x7F;
  EXPECT_NE(OpenFails(blocks).find("block count"), std::string::npos);
  Bytes no_blocks = built.bytes;
  for (int i = 0; i < 4; ++i) no_blocks[block_count + i] = 0;
  EXPECT_NE(OpenFails(no_blocks).find("Malformed bundle"), std::string::npos);
  const uint32_t count =
      (static_cast<uint32_t>(built.bytes[block_count + 2]) << 8) | built.bytes[block_count + 3];
  const size_t dir_count = block_count + 4 + 10 * count;
  Bytes dirs = built.bytes;
  dirs[dir_count] = 0x10;
  EXPECT_NE(OpenFails(dirs).find("directory count"), std::string::npos);
  // A block that claims to unpack to 256 MiB from a few bytes is refused before allocating.
  Bytes bomb = built.bytes;
  bomb[block_count + 4] = 0x10;
  EXPECT_EQ(OpenFails(bomb), "Error size lz4 in data stream.");
  // A compressed size past the end of the file.
  Bytes past = built.bytes;
  past[block_count + 4 + 4] = 0x7F;
  EXPECT_EQ(OpenFails(past), "Error size lz4 in data stream.");
  // A contained file that lies past the end of the data.
  Bytes far = built.bytes;
  far[dir_count + 4 + 2] = 0x7F;
  EXPECT_NE(OpenFails(far).find("reaches past the end"), std::string::npos);
}

TEST(BundleMalformed, TruncatedHeadersAndGarbage) {
  BundleV6Spec desc;
  desc.files = ThreeFiles();
  Bytes fs = testing::BuildBundleV6(desc).bytes;
  BundleV3Spec v3;
  v3.files = ThreeFiles();
  Bytes web = testing::BuildBundleV3(v3).bytes;
  for (size_t keep : {16, 20, 30, 40, 45, 55}) {
    EXPECT_NE(OpenFails(Cut(fs, keep)), "(opened)") << keep;
    EXPECT_NE(OpenFails(Cut(web, keep)), "(opened)") << keep;
  }
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    Bytes bad = round % 2 ? fs : web;
    for (int k = 0; k < 6; ++k) bad[20 + rng() % 120] = static_cast<uint8_t>(rng());
    Opened o;
    try {
      Open(o, bad);
      CloseArchive(o.session);
    } catch (const std::exception&) {
    }
    ExpectOnlyBundleLeft(o);
  }
}

}  // namespace
}  // namespace kestrix
