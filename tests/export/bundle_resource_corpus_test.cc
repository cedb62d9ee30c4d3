// Real bundles whose textures and sounds keep their data in a resource entry of the bundle
// (".resS", ".resource"): a plain export writes them, byte for byte what exporting the resource
// entries first and the bundle afterwards writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

bool IsResourceName(const std::string& name) {
  const std::string ext = AsciiLower(ExtensionOf(name));
  return ext == ".ress" || ext == ".resource";
}

// Files written below a streamed resource's subfolder ("res_..." or "resS_...").
size_t StreamedOutputs(const std::vector<std::string>& files) {
  size_t n = 0;
  for (const std::string& f : files)
    if (f.find("/res_") != std::string::npos || f.find("/resS_") != std::string::npos) ++n;
  return n;
}

TEST(Corpus, BundleResourcesExportWithoutAnEarlierStep) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int bundles = 0, with_resources = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    const bool first_piece =
        row.relpath.rfind("split/", 0) == 0 && AsciiLower(ExtensionOf(row.relpath)) == ".split0";
    if (!testing::IsReadableBundle(row) && !first_piece) continue;
    testing::TempDir tmp;
    const std::string path = testing::CorpusArchiveToOpen(row, tmp);
    Session s;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(s, fe, path)) << row.relpath;
    std::vector<std::string> resource_entries;
    for (size_t k = 0; k < s.Archive.Bundle.ContainedFiles.size(); ++k)
      if (IsResourceName(s.Archive.Bundle.ContainedFiles[k].Name))
        resource_entries.push_back(std::to_string(k));
    const std::string folder = "/Unity_Assets_Files/" + s.Archive.ArchiveFolderName;
    const bool reads_objects = !s.Asset.RawSingleFile;
    CloseArchive(s);

    const testing::RunResult plain = testing::RunKestrix({"export", path, "-p", tmp.File("plain")});
    EXPECT_EQ(plain.status, 0) << row.relpath << "\n" << plain.err;
    EXPECT_EQ(plain.err, "") << row.relpath;
    for (const std::string& k : resource_entries)
      testing::RunKestrix({"export", path, "-i", k, "-p", tmp.File("two")});
    const testing::RunResult two = testing::RunKestrix({"export", path, "-p", tmp.File("two")});
    EXPECT_EQ(two.status, 0) << row.relpath << "\n" << two.err;

    const std::vector<std::string> files = testing::ListFiles(tmp.File("plain") + folder);
    ASSERT_EQ(files, testing::ListFiles(tmp.File("two") + folder)) << row.relpath;
    for (const std::string& f : files)
      EXPECT_EQ(testing::ReadFileBytes(tmp.File("plain") + folder + "/" + f),
                testing::ReadFileBytes(tmp.File("two") + folder + "/" + f))
          << row.relpath << ": " << f;
    // Every bundle that carries resource entries and is read as an asset file streams from them.
    if (!resource_entries.empty() && reads_objects) {
      EXPECT_GT(StreamedOutputs(files), 0u) << row.relpath;
      ++with_resources;
    }
    ++bundles;
  }
  EXPECT_GE(bundles, 30);
  EXPECT_GE(with_resources, 6);
}

}  // namespace
}  // namespace kestrix
