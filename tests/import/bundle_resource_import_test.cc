// Import of textures and sounds whose data lives in a resource entry of a real bundle: the new
// data goes into that entry (over the old bytes when it has their length, after the entry's end
// when it is longer), the bundle is written back, and it opens again with the new data and
// every other object and contained file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/bundle_resource.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

struct Snapshot {
  std::vector<testing::Bytes> objects;    // per entry, the whole object
  std::vector<testing::Bytes> contained;  // per contained file
};

Snapshot Take(const std::string& path) {
  Session s;
  testing::RecordingFrontend fe;
  OpenArchive(s, fe, path);
  FileSource source(s.Archive.ArchivePath);
  Snapshot snap;
  for (size_t i = 0; i < s.EntryCount(); ++i) {
    testing::Bytes b(s.EntrySize(i));
    source.ReadAt(s.Asset.DataStart + s.EntryOffset(i), b.data(), b.size());
    snap.objects.push_back(std::move(b));
  }
  const uint64_t base = ContainedFilesBase(s.Archive.Bundle);
  for (const ContainedFile& f : s.Archive.Bundle.ContainedFiles) {
    testing::Bytes b(f.Size);
    source.ReadAt(base + f.Offset, b.data(), b.size());
    snap.contained.push_back(std::move(b));
  }
  return snap;
}

// The first file export wrote below a resource subfolder, relative to the export folder.
std::string StreamedFile(const std::string& folder) {
  for (const std::string& f : testing::ListFiles(folder))
    if (f.find("/res_") != std::string::npos) return f;
  return "";
}

TEST(BundleResourceImport, EditedDataGoesIntoTheResourceEntry) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  struct Case {
    const char* bundle;
    size_t resource;  // contained file holding the data
    size_t grow;      // bytes appended to the edited file (0: same length, written over)
  };
  const Case cases[] = {
      {"bundles/unityfs/unitypy_xinzexi_2_n_tex", 1, 0},   // texture, UnityFS LZMA
      {"bundles/unityfs/ab2020_3_sound_bundle", 1, 1000},  // sound, UnityFS LZMA
      {"bundles/unityweb/ab50_kiyoaki_bgm_02", 1, 333},    // sound, version 3 LZMA
      {"bundles/unityfs/unitypack_audio-2019.3.13f1-no-compression", 1, 4096},  // read in place
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bundle);
    testing::TempDir tmp;
    const std::string path = tmp.File(FileNameOf(c.bundle));
    testing::CopyFile(testing::CorpusDir() + "/" + c.bundle, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    const Snapshot before = Take(path);
    ASSERT_EQ(testing::RunKestrix({"export", path, "-p", tmp.File("out")}).status, 0);
    Session s;
    testing::RecordingFrontend fe;
    OpenArchive(s, fe, path);
    const std::string folder =
        tmp.File("out") + "/Unity_Assets_Files/" + s.Archive.ArchiveFolderName;
    ASSERT_EQ(s.Archive.Bundle.ContainedFiles.size(), before.contained.size());
    CloseArchive(s);
    const std::string edited = StreamedFile(folder);
    ASSERT_FALSE(edited.empty());

    // New bytes near the end (past any file header), and more of them when the case says so.
    testing::Bytes data = testing::ReadFileBytes(folder + "/" + edited);
    ASSERT_GT(data.size(), 64u);
    for (size_t k = data.size() - 32; k < data.size(); ++k) data[k] ^= 0x5A;
    for (size_t k = 0; k < c.grow; ++k) data.push_back(static_cast<uint8_t>(k * 7));
    testing::WriteFileBytes(folder + "/" + edited, data);
    const testing::RunResult run = testing::RunKestrix({"import", path, "-p", tmp.File("out")});
    ASSERT_EQ(run.status, 0) << run.err;

    // A fresh export shows the new data.
    ASSERT_EQ(testing::RunKestrix({"export", path, "-p", tmp.File("again")}).status, 0);
    const std::string again = tmp.File("again") + "/Unity_Assets_Files/" +
                              folder.substr(folder.find("/Unity_Assets_Files/") + 20);
    EXPECT_EQ(testing::ReadFileBytes(again + "/" + edited), data);

    // Every other contained file is as it was; the resource entry keeps its old bytes but for
    // the edited object's, and grows by the longer data at most (with alignment).
    const Snapshot after = Take(path);
    ASSERT_EQ(after.contained.size(), before.contained.size());
    ASSERT_EQ(after.objects.size(), before.objects.size());
    for (size_t k = 0; k < before.contained.size(); ++k) {
      if (k == c.resource || k == 0) continue;
      EXPECT_EQ(after.contained[k], before.contained[k]) << "contained file " << k;
    }
    const testing::Bytes& old_res = before.contained[c.resource];
    const testing::Bytes& new_res = after.contained[c.resource];
    size_t differing = 0;
    for (size_t k = 0; k < old_res.size() && k < new_res.size(); ++k)
      differing += old_res[k] != new_res[k];
    if (c.grow == 0) {
      EXPECT_EQ(new_res.size(), old_res.size());
      EXPECT_GT(differing, 0u);
      EXPECT_LE(differing, 32u);
    } else {
      EXPECT_EQ(differing, 0u);
      EXPECT_GE(new_res.size(), old_res.size() + data.size());
      EXPECT_LT(new_res.size(), old_res.size() + data.size() + 16);
    }
    // One object changed at most (the one whose offset and size now point at the new data).
    size_t changed = 0;
    for (size_t i = 0; i < before.objects.size(); ++i)
      changed += after.objects[i] != before.objects[i];
    EXPECT_EQ(changed, c.grow == 0 ? 0u : 1u);
  }
}

}  // namespace
}  // namespace kestrix
