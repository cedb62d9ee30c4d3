// Bundle extraction: every contained file comes out with its exact bytes, folder parts become
// folders, names that would leave the target folder are skipped, and a plain file writes nothing.
// The command line's "exportbundle" task and the -i option run through the real binary.
#include "formats/bundle_extract.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/command_line.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "support/bundle_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using testing::BundleEntry;
using testing::Bytes;
using testing::RunKestrix;
using testing::TempDir;

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 7));
  return b;
}

Bytes SmallAsset() {
  testing::AssetSpec desc;
  desc.objects.push_back({1, Bytes(40, 0x11)});
  desc.objects.push_back({21, testing::NamedObject("Wood", Bytes(32, 0x22))});
  return testing::BuildAssetFile(desc);
}

std::vector<BundleEntry> Contents() {
  return {{"archive:/CAB-1/CAB-1", SmallAsset()},
          {"archive:/CAB-1/CAB-1.resS", Pattern(70000, 3), 0},
          {"Data\\Managed/Assembly-CSharp.dll", Pattern(999, 5)},
          {"empty.bin", {}}};
}

struct Extracted {
  TempDir dir;
  Session session;
  testing::RecordingFrontend frontend;
  std::string folder;
  int written = 0;
};

void Extract(Extracted& x, const Bytes& archive) {
  std::string path = x.dir.File("pack.unity3d");
  testing::WriteFileBytes(path, archive);
  OpenContainer(x.session.Archive, x.frontend, path);
  x.folder = x.dir.File("out/Bundle/");
  x.written = ExtractBundleFiles(x.session.Archive, x.frontend, x.folder);
  CloseArchive(x.session);
}

void ExpectContents(const Extracted& x, const std::vector<BundleEntry>& files) {
  std::vector<std::string> lines;
  for (const BundleEntry& f : files) {
    std::string name = f.name.substr(f.name.rfind(':') + 1);
    for (char& c : name)
      if (c == '\\') c = '/';
    EXPECT_EQ(testing::ReadFileBytes(x.folder + name), f.data) << name;
    lines.push_back("Export archive: " + x.folder + name);
  }
  EXPECT_EQ(testing::NativeLines(x.frontend.lines), testing::NativeLines(lines));
  EXPECT_EQ(x.written, static_cast<int>(files.size()));
}

TEST(BundleExtract, EveryContainerWritesExactBytes) {
  testing::BundleV3Spec web;
  web.files = Contents();
  testing::BundleV3Spec raw = web;
  raw.signature = "UnityRaw";
  testing::BundleV6Spec fs;
  fs.codec = testing::BlockCodec::kLz4;
  fs.block_size = 16 * 1024;
  fs.files = Contents();
  testing::BundleV6Spec fs_lzma = fs;
  fs_lzma.codec = testing::BlockCodec::kLzma;
  fs_lzma.flags = 0xC0;
  for (const Bytes& archive :
       {testing::BuildBundleV3(web).bytes, testing::BuildBundleV3(raw).bytes,
        testing::BuildBundleV6(fs).bytes, testing::BuildBundleV6(fs_lzma).bytes}) {
    Extracted x;
    Extract(x, archive);
    ExpectContents(x, Contents());
    EXPECT_EQ(testing::ListFiles(x.dir.File("out/Bundle")),
              (std::vector<std::string>{"CAB-1/CAB-1", "CAB-1/CAB-1.resS",
                                        "Data/Managed/Assembly-CSharp.dll", "empty.bin"}));
  }
}

TEST(BundleExtract, NamesLeavingTheFolderAreSkipped) {
  std::vector<BundleEntry> files = Contents();
  files.push_back({"archive:/../../escaped", Pattern(10, 1)});
  files.push_back({"CAB-2\\..\\..\\up", Pattern(10, 2)});
  files.push_back({"archive:/", Pattern(10, 3)});
  testing::BundleV6Spec fs;
  fs.files = files;
  Extracted x;
  Extract(x, testing::BuildBundleV6(fs).bytes);
  ExpectContents(x, Contents());
  ASSERT_EQ(x.frontend.messages.size(), 3u);
  EXPECT_NE(x.frontend.messages[0].find("archive:/../../escaped"), std::string::npos);
  EXPECT_NE(x.frontend.messages[1].find("CAB-2\\..\\..\\up"), std::string::npos);
  // Nothing was written outside the target folder.
  EXPECT_EQ(testing::ListFiles(x.dir.Path()).size(), 5u);  // the bundle and four files
}

TEST(BundleExtract, RootedNamesStayInsideTheFolder) {
  // Names are appended to the folder text, so a leading separator cannot reach the root.
  testing::BundleV3Spec raw;
  raw.signature = "UnityRaw";
  raw.files = {{"/tmp/kestrix-rooted", Pattern(10, 4)}, {"\\server\\share", Pattern(10, 5)}};
  Extracted x;
  Extract(x, testing::BuildBundleV3(raw).bytes);
  EXPECT_EQ(x.written, 2);
  EXPECT_TRUE(x.frontend.messages.empty());
  EXPECT_EQ(testing::ReadFileBytes(x.folder + "tmp/kestrix-rooted"), Pattern(10, 4));
  EXPECT_EQ(testing::ReadFileBytes(x.folder + "server/share"), Pattern(10, 5));
}

TEST(BundleExtract, PlainAssetFileWritesNothing) {
  Extracted x;
  Extract(x, SmallAsset());
  EXPECT_EQ(x.written, 0);
  EXPECT_FALSE(FolderExists(x.dir.File("out")));
}

TEST(BundleCommand, IndexOptionIsParsedAnywhere) {
  auto index = [](std::vector<std::string> args) {
    return ParseCommandLine(args).open.SelectedFileIndex;
  };
  EXPECT_EQ(index({"export", "a.unity3d"}), kFirstSerializedFile);
  EXPECT_EQ(index({"export", "a.unity3d", "-t", "tex", "-I", "12"}), 12);
  EXPECT_EQ(index({"export", "-i", "3", "a.unity3d"}), 3);
  EXPECT_NE(ParseCommandLine({"list", "a.unity3d", "-i", "x1"}).Problem, "");
}

TEST(BundleCommand, ExportBundleWritesIntoTheBundleFolder) {
  TempDir dir;
  testing::BundleV6Spec fs;
  fs.files = Contents();
  testing::WriteFileBytes(dir.File("pack.v1.unity3d"), testing::BuildBundleV6(fs).bytes);
  auto r = RunKestrix({"exportbundle", dir.File("pack.v1.unity3d"), "-p", dir.File("out")});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string folder = dir.File("out") + "/Unity_Assets_Files/pack/Bundle/";
  EXPECT_NE(NativeSeparators(r.out).find(
                NativeSeparators("export\n\nExport archive: " + folder + "/CAB-1/CAB-1\n")),
            std::string::npos)
      << r.out;
  EXPECT_EQ(testing::ReadFileBytes(folder + "CAB-1/CAB-1.resS"), Contents()[1].data);
  // The unpacked file went when the command finished.
  for (const std::string& f : testing::ListFiles(dir.Path())) EXPECT_NE(ExtensionOf(f), ".TEMP");
}

TEST(BundleCommand, IndexOptionChoosesAndIsChecked) {
  TempDir dir;
  testing::BundleV3Spec web;
  web.files = Contents();
  web.files[0].name = "Assembly-CSharp.dll";  // web players list their code first
  web.files.push_back({"mainData", SmallAsset()});
  testing::WriteFileBytes(dir.File("web.unity3d"), testing::BuildBundleV3(web).bytes);
  testing::WriteFileBytes(dir.File("plain.assets"), SmallAsset());

  EXPECT_EQ(RunKestrix({"export", dir.File("web.unity3d"), "-i", "4"}).status, 0);
  auto past = RunKestrix({"export", dir.File("web.unity3d"), "-i", "5"});
  EXPECT_EQ(past.status, 1);
  EXPECT_NE(past.err.find("Contained file index 5 is not in the bundle: it holds 5 files"),
            std::string::npos)
      << past.err;
  EXPECT_EQ(RunKestrix({"export", dir.File("web.unity3d"), "-i", "two"}).status, kExitUsage);
  EXPECT_EQ(RunKestrix({"export", dir.File("plain.assets"), "-i", "0"}).status, 0);
  auto plain = RunKestrix({"export", dir.File("plain.assets"), "-i", "1"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.err.find("not a bundle"), std::string::npos) << plain.err;
  // Failed opens leave no temporary file (the successful exports wrote their folders).
  std::vector<std::string> left;
  for (const std::string& f : testing::ListFiles(dir.Path()))
    if (f.rfind("Unity_Assets_Files/", 0) != 0) left.push_back(f);
  EXPECT_EQ(left, (std::vector<std::string>{"plain.assets", "web.unity3d"}));
}

// Web player bundles list their code first: without -i a bundle opens on its first serialized
// file, -i still opens any (a file that is not serialized as one raw object, with a note), and so
// does a file that is no Unity archive at all.
TEST(BundleCommand, OpensOnTheFirstSerializedFileAndAnythingElseAsOneRawObject) {
  TempDir dir;
  testing::BundleV3Spec web;
  web.files = {{"Assembly-CSharp.dll", Pattern(999, 5)},
               {"Assembly-UnityScript.dll", Pattern(500, 7)},
               {"mainData", SmallAsset()}};
  testing::WriteFileBytes(dir.File("web.unity3d"), testing::BuildBundleV3(web).bytes);
  testing::WriteFileBytes(dir.File("notes.bin"), Pattern(300, 9));
  struct Case {
    std::vector<std::string> args;
    size_t rows;
    std::string err;
  };
  const Case cases[] = {
      {{"list", dir.File("web.unity3d")}, 2, ""},
      {{"list", dir.File("web.unity3d"), "-i", "1"},
       1,
       "Assembly-UnityScript.dll in the bundle is not a serialized file: it is opened as one raw "
       "object.\n"},
      {{"list", dir.File("notes.bin")},
       1,
       "notes.bin is not a Unity archive: it is opened as one raw object.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    auto r = RunKestrix(c.args, {"LC_ALL=C"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n')), c.rows) << r.out;
  }
  auto first = RunKestrix({"list", dir.File("web.unity3d")});
  EXPECT_NE(first.out.find("Wood"), std::string::npos) << first.out;
}

}  // namespace
}  // namespace kestrix
