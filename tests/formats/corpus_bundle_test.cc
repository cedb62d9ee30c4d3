// Real bundles from games: every bundle (versions 3, 6, 7 and 8) gives up each contained file
// intact, and those whose asset files are of formats 6 to 22 open every contained asset file with
// the object counts the manifest states. Each bundle is copied first, since unpacking writes beside
// it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/session.h"
#include "formats/archive_open.h"
#include "formats/bundle_extract.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

bool ReadableBundle(const testing::CorpusRow& row) { return testing::IsReadableBundle(row); }

// Every asset file of the bundle is of a format the asset reader handles.
bool HandledFormats(const testing::CorpusRow& row) { return testing::FormatsWithin(row); }

std::string CopyIn(const testing::TempDir& tmp, const testing::CorpusRow& row) {
  std::string name = row.relpath.substr(row.relpath.find_last_of('/') + 1);
  testing::CopyFile(testing::CorpusDir() + "/" + row.relpath, tmp.File(name));
  return tmp.File(name);
}

TEST(CorpusBundles, ExtractionWritesEveryContainedFile) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int bundles = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!ReadableBundle(row)) continue;
    testing::TempDir tmp;
    std::string path = CopyIn(tmp, row);
    Session s;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenContainer(s.Archive, fe, path)) << row.relpath;
    std::string folder = tmp.File("out/");
    ASSERT_EQ(ExtractBundleFiles(s.Archive, fe, folder),
              static_cast<int>(s.Archive.Bundle.ContainedFiles.size()))
        << row.relpath;
    for (const ContainedFile& f : s.Archive.Bundle.ContainedFiles) {
      testing::Bytes bytes = testing::ReadFileBytes(folder + f.Name);
      EXPECT_EQ(bytes.size(), f.Size) << row.relpath << " " << f.Name;
      // An asset file states its own length in its header: a check that does not depend on the
      // bundle's tables.
      if (EndsWith(f.Name, ".resS") || EndsWith(f.Name, ".resource") || EndsWith(f.Name, ".dll"))
        continue;
      // Format 22 and later keep it as 64 bits at 24.
      ASSERT_GE(bytes.size(), 32u) << f.Name;
      const bool wide = Get32(bytes.data() + 8, ByteOrder::Big) >= 22;
      EXPECT_EQ(
          wide ? Get64(bytes.data() + 24, ByteOrder::Big) : Get32(bytes.data() + 4, ByteOrder::Big),
          bytes.size())
          << row.relpath << " " << f.Name;
    }
    CloseArchive(s);
    EXPECT_FALSE(FileExists(path + ".TEMP"));
    ++bundles;
  }
  EXPECT_GE(bundles, 27);
}

TEST(CorpusBundles, EveryContainedAssetFileOpens) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int bundles = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!ReadableBundle(row) || !HandledFormats(row)) continue;
    testing::TempDir tmp;
    std::string path = CopyIn(tmp, row);
    Session first;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(first, fe, path, testing::Pick(0))) << row.relpath;
    const size_t files = first.Archive.Bundle.ContainedFiles.size();
    CloseArchive(first);
    long objects = 0;
    int assets = 0;
    for (size_t i = 0; i < files; ++i) {
      Session s;
      testing::RecordingFrontend f;
      ASSERT_NO_THROW(OpenArchive(s, f, path, testing::Pick(static_cast<int>(i))))
          << row.relpath << " -i " << i;
      // A contained file that is not serialized opens as one raw object, and says so.
      const size_t notes = s.Asset.RawSingleFile ? 1 : 0;
      EXPECT_EQ(f.messages.size(), notes) << row.relpath << " -i " << i << ": " << f.messages.front();
      if (notes) {
        EXPECT_NE(f.messages.front().find("is not a serialized file"), std::string::npos);
      }
      if (!s.Asset.RawSingleFile) {
        objects += s.Asset.ObjectCount;
        ++assets;
      }
      CloseArchive(s);
    }
    EXPECT_GE(assets, 1) << row.relpath;
    EXPECT_EQ(objects, row.object_count) << row.relpath;
    ++bundles;
  }
  EXPECT_GE(bundles, 27);
}

// Web player bundles list their code first; the command line reaches the asset files with -i.
TEST(CorpusBundles, IndexOptionReachesWebPlayerAssets) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (row.relpath.find("Boids_u412") == std::string::npos) continue;
    testing::TempDir tmp;
    std::string path = CopyIn(tmp, row);
    const std::string out = tmp.File("out");
    for (const char* index : {"0", "1", "2"}) {
      auto r = testing::RunKestrix({"export", path, "-i", index, "-p", out});
      EXPECT_EQ(r.status, 0) << index << ": " << r.err;
    }
    // The engine 4.1 mesh of the scene file decodes through the rows of 4.0-4.2 releases.
    const std::string assets = out + "/Unity_Assets_Files/Boids_u412/sharedassets0.assets/";
    EXPECT_TRUE(FileExists(assets + "Cone.mesh"));
    EXPECT_TRUE(FileExists(assets + "Mesh/Cone.mesh.obj"));
    EXPECT_EQ(testing::RunKestrix({"export", path, "-i", "3", "-p", out}).status, 1);
    // Beside the bundle: nothing but the output folder (no .TEMP left behind).
    std::vector<std::string> beside;
    for (const auto& e : std::filesystem::directory_iterator(tmp.Path()))
      beside.push_back(e.path().filename().string());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"Boids_u412.unity3d", "out"}));
    return;
  }
  GTEST_SKIP() << "Boids_u412.unity3d not in the corpus";
}

}  // namespace
}  // namespace kestrix
