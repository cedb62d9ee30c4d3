// Every archive gets an export folder of its own: the short name (up to the first dot) unless
// another archive beside it shares it. Which neighbours are archives is told by content.
#include "formats/export_names.h"

#include <gtest/gtest.h>

#include "formats/archive_detect.h"
#include "support/asset_builder.h"
#include "support/bundle_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary

Bytes Asset(uint32_t format) {
  AssetSpec desc;
  desc.format = format;
  desc.objects = {{21, NamedObject("M", Bytes(16, 1))}};
  return BuildAssetFile(desc);
}

Bytes WithSignature(const std::string& signature) {
  Bytes b(signature.begin(), signature.end());
  b.push_back(0);
  b.resize(200, 7);
  return b;
}

const Bytes kNotArchive = Bytes(300, 0x5A);

TEST(ExportNames, CollidingShortNamesTakeWholeNames) {
  struct Case {
    std::vector<std::pair<std::string, Bytes>> files;
    std::vector<std::string> expected;  // the folder name of each file, in order
  };
  const Bytes fs = WithSignature("UnityFS");
  const Case cases[] = {
      // Two archives that share their short name.
      {{{"globalgamemanagers", Asset(17)}, {"globalgamemanagers.assets", Asset(17)}},
       {"globalgamemanagers", "globalgamemanagers.assets"}},
      {{{"x-2019.3.13f1-lzma", fs}, {"x-2019.3.13f1-lz4", fs}},
       {"x-2019.3.13f1-lzma", "x-2019.3.13f1-lz4"}},
      // A resource file is not an archive: the archive keeps its short name, while the resource
      // file, opened on its own, makes way for it.
      {{{"resources.assets", Asset(22)}, {"resources.resource", fs}},
       {"resources", "resources.resource"}},
      {{{"sharedassets0.assets", Asset(15)}, {"sharedassets0.assets.resS", fs}},
       {"sharedassets0", "sharedassets0.assets.resS"}},
      // A neighbour whose content is no archive takes no name, but makes way for the archive.
      {{{"level0.assets", Asset(9)}, {"level0.txt", kNotArchive}}, {"level0", "level0.txt"}},
      // Pieces: only the first stands for the archive.
      {{{"data.unity3d", fs}, {"data.split0", fs}, {"data.split1", fs}},
       {"data.unity3d", "data.split0", "data.split1"}},
      // Nothing shared: the names of today.
      {{{"sharedassets0.assets", Asset(17)}, {"sharedassets1.assets", Asset(17)}, {"level0", fs}},
       {"sharedassets0", "sharedassets1", "level0"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const auto& [name, bytes] : c.files) WriteFileBytes(dir.File(name), bytes);
    for (size_t i = 0; i < c.files.size(); ++i)
      EXPECT_EQ(ExportFolderBaseFor(dir.File(c.files[i].first)), c.expected[i])
          << c.files[i].first << " among " << c.files.size() << " files";
  }
}

TEST(ArchiveDetect, ContentDecidesNotTheName) {
  Bytes truncated = Asset(17);
  truncated.resize(truncated.size() - 1);  // the header states another size
  Bytes wrong_format = Asset(17);
  wrong_format[11] = 99;
  struct Case {
    std::string name;
    Bytes bytes;
    bool archive;
  };
  const Case cases[] = {
      {"a", WithSignature("UnityFS"), true},
      {"a.unity3d", WithSignature("UnityRaw"), true},
      {"a.dat", WithSignature("UnityWeb"), true},
      {"WebGL.data", WithSignature("UnityWebData1.0"), true},
      {"level0", Asset(9), true},
      {"level1", Asset(15), true},
      {"x.assets", Asset(17), true},
      {"y.assets", Asset(22), true},
      {"z.assets", truncated, false},
      {"w.assets", wrong_format, false},
      {"UnityFSX", WithSignature("UnityFSX"), false},
      {"notes.txt", kNotArchive, false},
      {"empty", {}, false},
      {"tex.resS", WithSignature("UnityFS"), false},
      {"clip.resource", Asset(17), false},
      {"big.split1", WithSignature("UnityFS"), false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFileBytes(dir.File(c.name), c.bytes);
    EXPECT_EQ(LooksLikeArchive(dir.File(c.name)), c.archive) << c.name;
  }
  // The first piece of a split serialized file states the size of the whole.
  TempDir dir;
  Bytes whole = Asset(17);
  Bytes first(whole.begin(), whole.begin() + 64);
  WriteFileBytes(dir.File("level2.split0"), first);
  WriteFileBytes(dir.File("level2x"), first);
  EXPECT_TRUE(LooksLikeArchive(dir.File("level2.split0")));
  EXPECT_FALSE(LooksLikeArchive(dir.File("level2x")));
}

}  // namespace
}  // namespace kestrix
