// Import into real bundles end to end: a longer object goes in through the standard importers
// and the container write-back, and the bundle the user named opens again with the edit in place
// and every other payload unchanged. Each bundle (and its pieces) is copied first.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/session.h"
#include "formats/archive_open.h"
#include "import/import_driver.h"
#include "import/standard_converters.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/bundle_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"
#include "types/class_ids.h"

namespace kestrix {
namespace {

bool HandledBundle(const testing::CorpusRow& row) {
  return testing::IsReadableBundle(row) && testing::FormatsWithin(row);
}

std::vector<testing::Bytes> Payloads(const Session& s) {
  FileSource source(s.Archive.ArchivePath);
  std::vector<testing::Bytes> out(s.EntryCount());
  for (size_t i = 0; i < s.EntryCount(); ++i) {
    out[i].resize(s.PayloadSize(i));
    if (!out[i].empty()) source.ReadAt(s.PayloadOffset(i), out[i].data(), out[i].size());
  }
  return out;
}

// A format 22 asset file in a version 8 bundle with padded block data (flag 0x200), LZ4HC info
// and blocks: a longer text goes in, and the bundle written back keeps its version and flags and
// opens with the new text and the other objects as they were.
TEST(BundleImport, FormatTwentyTwoInAPaddedVersionEightBundle) {
  testing::AssetSpec asset;
  asset.format = 22;
  asset.unity_version = "2022.3.18f1";
  asset.type_trees = true;
  asset.objects = {{kClassTextAsset, testing::TextObject("readme", "hello")},
                   {21, testing::NamedObject("Mat", testing::Bytes(64, 0x21))},
                   {1, testing::Bytes(40, 0x31)}};
  testing::BundleV6Spec desc;
  desc.version = 8;
  desc.engine_version = "2022.3.18f1";
  desc.flags = 0x243;
  desc.codec = testing::BlockCodec::kLz4Hc;
  desc.files = {{"CAB-a", testing::BuildAssetFile(asset)},
                {"CAB-a.resS", testing::Bytes(5000, 7), 0}};
  testing::TempDir tmp;
  const std::string path = tmp.File("scene.bundle");
  testing::WriteFileBytes(path, testing::BuildBundleV6(desc).bytes);

  Session s;
  testing::RecordingFrontend fe;
  ASSERT_NO_THROW(OpenArchive(s, fe, path));
  ASSERT_EQ(s.EntryCount(), 3u);
  const std::vector<testing::Bytes> before = Payloads(s);
  const std::string folder = ExportFolder(s.Archive);
  CreateFolders(folder);
  const testing::Bytes longer = {'h', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', '!'};
  testing::WriteFileBytes(folder + std::string(s.EntryName(0)), longer);
  ImportRequest request;
  ASSERT_NO_THROW(ImportAll(s, request, fe, StandardImportConverters()));
  CloseArchive(s);

  const testing::Bytes bundle = testing::ReadFileBytes(path);
  EXPECT_EQ(Get32(bundle.data() + 8, ByteOrder::Big), 8u);
  Session again;
  testing::RecordingFrontend fe2;
  ASSERT_NO_THROW(OpenArchive(again, fe2, path));
  EXPECT_EQ(again.Archive.Bundle.V6.FlagWord(), 0x243u);
  EXPECT_EQ(again.Archive.Bundle.BlockDataStart % 16, 0u);
  EXPECT_EQ(again.Asset.FormatVersion, 22u);
  EXPECT_EQ(again.Asset.AssetFileSize, again.Archive.Bundle.ContainedFiles[0].Size);
  const std::vector<testing::Bytes> after = Payloads(again);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[0], longer);
  EXPECT_EQ(after[1], before[1]);
  EXPECT_EQ(after[2], before[2]);
  CloseArchive(again);
}

TEST(BundleImport, ALongerObjectGoesBackIntoEveryCorpusBundle) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int bundles = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!HandledBundle(row)) continue;
    SCOPED_TRACE(row.relpath);
    testing::TempDir tmp;
    const std::string name = FileNameOf(row.relpath);
    testing::CopyFile(testing::CorpusDir() + "/" + row.relpath, tmp.File(name));
    const std::string path = tmp.File(name);
    // The corpus is read-only; the user's copy is not.
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    const uint64_t bundle_size = FileSizeOf(path);

    // The first contained asset file with an object that has a payload of its own.
    Session s;
    testing::RecordingFrontend fe;
    size_t edited = SIZE_MAX;
    int index = 0;
    for (;; ++index) {
      ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(index)));
      if (!s.Asset.RawSingleFile) {
        for (size_t i = 0; i < s.EntryCount() && edited == SIZE_MAX; ++i)
          if (s.EntryClass(i) == kClassTextAsset ||
              (!s.HasEmbeddedPayload(i) && s.PayloadSize(i) >= 8 && s.PayloadSize(i) < (1u << 20)))
            edited = i;
      }
      if (edited != SIZE_MAX) break;
      const size_t files = s.Archive.Bundle.ContainedFiles.size();
      CloseArchive(s);
      ASSERT_LT(static_cast<size_t>(index + 1), files) << "no object to edit";
    }
    std::vector<testing::Bytes> before = Payloads(s);
    testing::Bytes longer = before[edited];
    for (int k = 0; k < 37; ++k) longer.push_back(static_cast<uint8_t>('a' + k % 26));
    const std::string folder = ExportFolder(s.Archive);
    CreateFolders(folder);
    testing::WriteFileBytes(folder + std::string(s.EntryName(edited)), longer);

    ImportRequest request;
    try {
      ImportAll(s, request, fe, StandardImportConverters());
    } catch (const std::exception& e) {
      ADD_FAILURE() << "import failed: " << e.what();
      continue;
    }
    EXPECT_TRUE(fe.errors.empty()) << fe.errors.front();
    CloseArchive(s);
    EXPECT_NE(FileSizeOf(path), bundle_size);

    // The bundle the user named, opened afresh.
    Session again;
    testing::RecordingFrontend fe2;
    ASSERT_NO_THROW(OpenArchive(again, fe2, path, testing::Pick(index)));
    ASSERT_EQ(again.EntryCount(), before.size());
    std::vector<testing::Bytes> after = Payloads(again);
    for (size_t i = 0; i < before.size(); ++i)
      EXPECT_EQ(after[i], i == edited ? longer : before[i]) << "entry " << i;
    CloseArchive(again);
    ++bundles;
  }
  EXPECT_GE(bundles, 15);
}

}  // namespace
}  // namespace kestrix
