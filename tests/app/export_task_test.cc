// The "export" and "list" tasks through the real binary: -t choices, console lines, exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "app/tasks.h"
#include "platform/byte_order.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary

AssetSpec ScriptsAndTextures() {
  AssetSpec desc;
  desc.objects.push_back({28, TextureObject("Hero", 10)});
  desc.objects.push_back({-3, Bytes(12, 3)});
  desc.objects.push_back({114, Bytes(12, 4)});
  desc.objects.push_back({21, NamedObject("Wood", Bytes(8, 1))});
  desc.objects.push_back({-5, Bytes(12, 5)});
  desc.objects.push_back({89, TextureObject("Sky", 4)});
  desc.objects.push_back({43, TriangleMeshObject("Rock")});
  return desc;
}

// What an export without -t writes for ScriptsAndTextures().
const std::vector<std::string> kEverything = {"Cubemap/Sky.cbm.dds",
                                              "Hero.tex",
                                              "Mesh/Rock.mesh.obj",
                                              "Rock.mesh",
                                              "Sky.cbm",
                                              "Textures/Hero.tex.dds",
                                              "Wood.mat",
                                              "level0_00001.-3",
                                              "level0_00001.-5",
                                              "level0_00001.114"};

struct TaskRun {
  TempDir dir;
  RunResult run;
  std::string Archive() const { return dir.File("level0.assets"); }
  std::string Folder() const { return dir.File("out/Unity_Assets_Files/level0"); }
};

void Export(TaskRun& t, const AssetSpec& desc, std::vector<std::string> extra) {
  WriteFileBytes(t.Archive(), BuildAssetFile(desc));
  std::vector<std::string> args = {"export", t.Archive(), "-p", t.dir.File("out")};
  args.insert(args.end(), extra.begin(), extra.end());
  t.run = RunKestrix(args);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(ExportTask, TexturesAndEveryScriptObjectOnce) {
  TaskRun t;
  // "114" and "-3" both match the script object of class -3: it is still exported once.
  Export(t, ScriptsAndTextures(), {"-t", "28,114,-3"});
  EXPECT_EQ(t.run.status, 0) << t.run.err;
  EXPECT_EQ(ListFiles(t.Folder()),
            (std::vector<std::string>{"Hero.tex", "level0_00001.-3", "level0_00001.-5",
                                      "level0_00001.114"}));
  std::vector<std::string> lines = Lines(t.run.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "export");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(NativeSeparators(lines[2]), NativeSeparators(t.Folder() + "/Hero.tex"));
  EXPECT_EQ(NativeSeparators(lines[3]), NativeSeparators(t.Folder() + "/level0_00001.-3"));
}

TEST(ExportTask, TypeWordsChooseRawOrConverted) {
  {
    // A bare class number gives the objects as stored, textures included.
    TaskRun t;
    Export(t, ScriptsAndTextures(), {"-t", "28,89,43"});
    EXPECT_EQ(ListFiles(t.Folder()),
              (std::vector<std::string>{"Hero.tex", "Rock.mesh", "Sky.cbm"}));
  }
  {
    // "dds" converts and writes no raw textures; "tex" writes them raw.
    TaskRun t;
    Export(t, ScriptsAndTextures(), {"-t", "dds"});
    EXPECT_EQ(t.run.status, 0);
    EXPECT_EQ(ListFiles(t.Folder()),
              (std::vector<std::string>{"Cubemap/Sky.cbm.dds", "Textures/Hero.tex.dds"}));
    TaskRun u;
    Export(u, ScriptsAndTextures(), {"-t", "tex"});
    EXPECT_EQ(ListFiles(u.Folder()), (std::vector<std::string>{"Hero.tex"}));
  }
  {
    // No -t: everything, raw and converted.
    TaskRun t;
    Export(t, ScriptsAndTextures(), {});
    EXPECT_EQ(t.run.status, 0) << t.run.err;
    EXPECT_EQ(ListFiles(t.Folder()), kEverything);
  }
}

TEST(ExportTask, AFailedEntryIsReportedAndTheOthersExported) {
  AssetSpec desc = ScriptsAndTextures();
  desc.record_overrides.push_back({3, 0x7FFFFF00u, 64});
  TaskRun t;
  Export(t, desc, {});
  EXPECT_EQ(t.run.status, 1);
  EXPECT_NE(t.run.err.find("past the end"), std::string::npos) << t.run.err;
  std::vector<std::string> others = kEverything;
  others.erase(std::find(others.begin(), others.end(), "Wood.mat"));
  EXPECT_EQ(ListFiles(t.Folder()), others);
}

TEST(ListTask, OneTabSeparatedLinePerEntry) {
  TempDir dir;
  AssetSpec desc;
  desc.objects.push_back({21, NamedObject("Wood", Bytes(8, 1))});
  desc.objects.push_back({28, TextureObject("Hero", 10)});
  desc.objects.push_back({-3, Bytes(12, 3)});
  Bytes file = BuildAssetFile(desc);
  WriteFileBytes(dir.File("level0"), file);
  RunResult run = RunKestrix({"list", dir.File("level0"), "-ndc"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 26), "1\tWood.mat\t21 (Material)\t8");
  const size_t hero_size = TextureObject("Hero", 10).size() - 8;  // after the name field
  EXPECT_EQ(lines[1].substr(0, lines[1].rfind('\t')),
            "2\tHero.tex\t28 (Texture2D id: 10 - DXT1)\t" + std::to_string(hero_size));
  EXPECT_EQ(lines[2].substr(0, lines[2].find("\t0x")),
            "3\tlevel0_00001.-3\t-3 (MonoBehaviour id: 114)\t12");
  // The offset column: "0x" and 8 upper-case hexadecimal digits of the payload position.
  const std::string offset = lines[1].substr(lines[1].rfind('\t') + 1);
  ASSERT_EQ(offset.size(), 10u);
  EXPECT_EQ(offset.substr(0, 2), "0x");
  const unsigned long at = std::stoul(offset.substr(2), nullptr, 16);
  const Bytes hero = TextureObject("Hero", 10);
  EXPECT_EQ(Bytes(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at) + 16),
            Bytes(hero.begin() + 8, hero.begin() + 24));
  EXPECT_EQ(offset.substr(2).find_first_not_of("0123456789ABCDEF"), std::string::npos) << offset;

  RunResult missing = RunKestrix({"list", dir.File("nothing")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.out.empty());
}

// An object whose data lies past 4 GiB (data offset + object offset): the list shows its
// whole position and export copies it from there. The file is sparse.
TEST(ListTask, ObjectsPastFourGibListAndExportAtTheirPositions) {
  TempDir dir;
  AssetSpec desc;
  desc.objects.push_back({21, NamedObject("near", Bytes(8, 1))});
  const Bytes far = TextObject("far", "beyond four gigabytes");
  desc.objects.push_back({49, far});
  constexpr uint32_t kFarOffset = 0xFFFFFFF0u;
  desc.record_overrides.push_back({1, kFarOffset, static_cast<uint32_t>(far.size())});
  const Bytes file = BuildAssetFile(desc);
  const uint64_t data_start = Get32(file.data() + 12, ByteOrder::Big);
  const uint64_t at = data_start + kFarOffset;
  ASSERT_GT(at, uint64_t{1} << 32);
  const std::string path = dir.File("level0.assets");
  WriteFileBytes(path, file);
  {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseeko(f, static_cast<off_t>(at), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(far.data(), 1, far.size(), f), far.size());
    std::fclose(f);
  }
  RunResult list = RunKestrix({"list", path});
  ASSERT_EQ(list.status, 0) << list.err;
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 2u);
  // The text starts after the name field (4 + 4) and its length (4).
  char expected[64];
  std::snprintf(expected, sizeof expected, "2\tfar.txt\t49 (TextAsset)\t21\t0x%llX",
                static_cast<unsigned long long>(at + 12));
  EXPECT_EQ(lines[1], expected);
  RunResult run = RunKestrix({"export", path, "-p", dir.File("out")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(dir.File("out/Unity_Assets_Files/level0/far.txt")),
            Bytes(far.begin() + 12, far.begin() + 33));
}

}  // namespace
}  // namespace kestrix
