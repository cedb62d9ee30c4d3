// The export driver on built archives: which files appear for which switches, what they hold,
// the converter reports, and entries that fail without stopping the run.
#include "export/export_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/error.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "support/asset_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"
#include "support/texture_payloads.h"
#include "types/type_info.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary

AssetSpec MixedAsset() {
  AssetSpec desc;
  auto add = [&](int32_t cls, Bytes data) { desc.objects.push_back({cls, std::move(data)}); };
  add(49, TextObject("readme", "hello"));             // 0
  add(49, TextObject("empty", ""));                   // 1 no file at all
  add(48, TextObject("Glow", "Shader \"Glow\" {}"));  // 2
  add(128, FontObject("Font", FontLayout::kMarker));  // 3 embedded font file
  add(128, FontObject("Bare", FontLayout::kNoData));  // 4 written raw
  add(152, MovieObject("intro", 16));                 // 5 embedded stream
  add(152, MovieObject("plain", 0));                  // 6 written raw
  add(28, TextureObject("Hero", 10));                 // 7
  add(28, TextureObject("Odd", 17));                  // 8 no converter takes 17
  add(28, TextureObject("Yuy", 21));                  // 9 PVR only
  add(43, TriangleMeshObject("Rock"));                // 10
  add(83, EmbeddedAudioObject("Boom"));               // 11
  add(-3, Bytes(20, 0x33));                           // 12
  add(21, NamedObject("Empty"));                      // 13 nothing after the name
  return desc;
}

struct ExportRun {
  TempDir dir;
  Session s;
  ExportRequest req;
  RecordingFrontend fe;
  ExportRunResult result;
  std::string Folder() const { return dir.File("out/Unity_Assets_Files/level0"); }
  std::vector<std::string> Files() const { return ListFiles(Folder()); }
  Bytes Read(const std::string& name) const { return ReadFileBytes(Folder() + "/" + name); }
};

void Open(const AssetSpec& desc, ExportRun& r, bool console = true, size_t cut = 0) {
  Bytes file = BuildAssetFile(desc);
  file.resize(file.size() - cut);
  WriteFileBytes(r.dir.File("level0.assets"), file);
  OpenOptions options;
  options.OutputRootGiven = true;
  options.OutputRootOption = r.dir.File("out");
  OpenArchive(r.s, r.fe, r.dir.File("level0.assets"), options);
  r.fe = RecordingFrontend();
  r.fe.window = !console;
}

std::vector<size_t> All(const Session& s) {
  std::vector<size_t> v(s.EntryCount());
  for (size_t i = 0; i < v.size(); ++i) v[i] = i;
  return v;
}

void ExportAll(ExportRun& r) { r.result = ExportEntries(r.s, r.req, r.fe, All(r.s)); }

bool Has(const std::vector<std::string>& v, const std::string& x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

const std::vector<std::string> kAlwaysWritten = {"Bare.font_raw", "Empty.mat", "Font.ttf",
                                                 "Glow.shader",   "intro.ogm", "level0_00001.-3",
                                                 "plain.ogm",     "readme.txt"};

TEST(ExportDriver, AllFilesWritesEveryEntryOnceWithEmbeddedPayloadsCut) {
  ExportRun r;
  Open(MixedAsset(), r);
  ExportSwitches& w = r.req.Switches;
  w.ExportSource = w.ExportRawTextures = w.ExportDds = w.ExportCrn = w.ExportPvr = true;
  w.ExportRawAudio = w.ExportRawMeshes = w.ExportObj = true;
  ExportAll(r);
  std::vector<std::string> expected = kAlwaysWritten;
  for (const char* f :
       {"Boom.snd", "Hero.tex", "Odd.tex", "Rock.mesh", "Yuy.tex", "Mesh/Rock.mesh.obj",
        "Sounds/Boom.snd.ogg", "Textures/Hero.tex.dds", "Textures/Yuy.tex.pvr"})
    expected.push_back(f);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(r.Files(), expected);
  EXPECT_EQ(r.result.exported, 14u);
  EXPECT_EQ(r.result.failed, 0u);
  EXPECT_TRUE(r.fe.errors.empty());

  Bytes text = r.Read("readme.txt");
  EXPECT_EQ(std::string(text.begin(), text.end()), "hello");
  EXPECT_EQ(r.Read("Font.ttf"), FakeTrueTypeFont());
  EXPECT_EQ(r.Read("intro.ogm"), FakeOggStream());
  const Bytes rock = TriangleMeshObject("Rock");
  EXPECT_EQ(r.Read("Rock.mesh"), Bytes(rock.begin() + 8, rock.end()));
  EXPECT_EQ(r.Read("Bare.font_raw").size(), 16u);
  EXPECT_TRUE(r.Read("Empty.mat").empty());
  const Bytes hero = TextureObject("Hero", 10);
  EXPECT_EQ(r.Read("Hero.tex"), Bytes(hero.begin() + 8, hero.end()));

  // Console: one path line per entry before it, the converters' completion lines after it, and
  // the one report of an unconvertible format.
  const std::string f = r.Folder() + "/";
  const std::vector<std::string> lines = {
      f + "readme.txt",
      f + "empty.txt",
      f + "Glow.shader",
      f + "Font.ttf",
      f + "Bare.font_raw",
      f + "intro.ogm",
      f + "plain.ogm",
      f + "Hero.tex",
      "Hero.tex -> DDS",
      f + "Odd.tex",
      "Not supported format compression " + TextureFormatName(17) + " Odd.tex",
      f + "Yuy.tex",
      "Yuy.tex -> PVR",
      f + "Rock.mesh",
      "Rock.mesh -> OBJ",
      f + "Boom.snd",
      "Boom.snd -> Audio File - .ogg",
      f + "level0_00001.-3",
      f + "Empty.mat"};
  EXPECT_EQ(NativeLines(r.fe.lines), NativeLines(lines));
  EXPECT_TRUE(r.fe.progress.empty());
}

TEST(ExportDriver, RawSwitchesAndSourceSwitchesDecideTheRawCopies) {
  {
    // "Export selected": raw copies only, no converters and so no reports.
    ExportRun r;
    Open(MixedAsset(), r);
    r.req.Switches.ExportRawTextures = r.req.Switches.ExportRawAudio =
        r.req.Switches.ExportRawMeshes = true;
    ExportAll(r);
    EXPECT_EQ(r.Files().size(), 13u);
    for (const std::string& line : r.fe.lines)
      EXPECT_EQ(line.find("Not supported"), std::string::npos);
  }
  {
    // "Export source files": textures, meshes and sounds are not copied raw.
    ExportRun r;
    Open(MixedAsset(), r);
    ExportSwitches& w = r.req.Switches;
    w.ExportSource = w.ExportDds = w.ExportCrn = w.ExportPvr = w.ExportObj = true;
    ExportAll(r);
    std::vector<std::string> files = r.Files();
    std::vector<std::string> expected = kAlwaysWritten;
    for (const char* f : {"Mesh/Rock.mesh.obj", "Sounds/Boom.snd.ogg", "Textures/Hero.tex.dds",
                          "Textures/Yuy.tex.pvr"})
      expected.push_back(f);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
    EXPECT_TRUE(
        Has(r.fe.lines, "Not supported format compression " + TextureFormatName(17) + " Odd.tex"));
  }
}

TEST(ExportDriver, KtxAloneReportsPvrOnlyFormatsInTheWindow) {
  ExportRun r;
  Open(MixedAsset(), r, /*console=*/false);
  r.req.Switches.ExportSource = r.req.Switches.ExportKtx = true;
  ExportAll(r);
  EXPECT_TRUE(r.fe.lines.empty());
  ASSERT_EQ(r.fe.messages.size(), 2u);
  EXPECT_EQ(r.fe.messages[0],
            "Not supported format compression " + TextureFormatName(17) + " Odd.tex");
  EXPECT_EQ(r.fe.messages[1],
            "Not supported ktx " + TextureFormatName(21) + " Yuy.tex \xD0\x9ENLY PVR!!!");
  EXPECT_EQ(r.fe.progress.back(), 100);
  EXPECT_EQ(r.fe.progress.size(), 14u);
  EXPECT_EQ(r.fe.enables, (std::vector<bool>{false, true}));
  // With PVR also on, a YUY2 texture has its writer and nothing is reported for it.
  RecordingFrontend fe;
  fe.window = true;
  r.req.Switches.ExportPvr = true;
  ExportEntries(r.s, r.req, fe, {9});
  EXPECT_TRUE(fe.messages.empty());
}

TEST(ExportDriver, DamagedEntriesFailAloneAndWriteNothing) {
  AssetSpec desc;
  desc.objects.push_back({21, NamedObject("first", Bytes(8, 1))});
  ByteWriter long_text;
  long_text.Str("story").U32(0x7FFFFFF0).Text("abc").Align(4);
  desc.objects.push_back({49, long_text.Take()});  // text length past the file
  desc.objects.push_back({21, NamedObject("far", Bytes(8, 1))});
  desc.record_overrides.push_back({2, 0x7FFFFF00u, 64});  // offset past the file
  ByteWriter tight;
  tight.U32(1).Text("x");  // name field longer than object
  desc.objects.push_back({21, tight.Take()});
  desc.objects.push_back({21, NamedObject("big", Bytes(8, 1))});
  desc.record_overrides.push_back({4, 0, 0xFFFFFF00u});  // size past the file
  desc.objects.push_back({21, NamedObject("last", Bytes(8, 2))});
  ExportRun r;
  Open(desc, r);
  ExportAll(r);
  EXPECT_EQ(r.Files(), (std::vector<std::string>{"first.mat", "last.mat"}));
  EXPECT_EQ(r.result.failed, 4u);
  ASSERT_EQ(r.fe.errors.size(), 4u);
  EXPECT_NE(r.fe.errors[0].find("story.txt"), std::string::npos) << r.fe.errors[0];
  EXPECT_NE(r.fe.errors[0].find("past the end"), std::string::npos) << r.fe.errors[0];
  EXPECT_NE(r.fe.errors[1].find("level0_00002.mat"), std::string::npos) << r.fe.errors[1];
  EXPECT_NE(r.fe.errors[2].find("smaller than its name"), std::string::npos) << r.fe.errors[2];
  // Every entry still had its path line.
  EXPECT_EQ(r.fe.lines.size(), 6u);
}

// A texture of an engine newer than the layout tables, in a file without type trees: the
// failure names the version, and the raw copy the user asked for is still written. The same
// texture in a release the tables know converts.
TEST(ExportDriver, TexturesOfUnknownNewerEnginesAreNamedAndStillWrittenRaw) {
  for (const char* engine : {"7000.0.23f1", "2022.3.18f1"}) {
    SCOPED_TRACE(engine);
    TextureSpec tex;
    tex.engine = "2022.3.18f1";
    tex.width = tex.height = 4;
    tex.format = 10;
    tex.mip = 1;
    tex.images = Bytes(8, 0x33);
    AssetSpec desc;
    desc.unity_version = engine;
    desc.objects.push_back({28, TextureObject("Hero", tex)});
    ExportRun r;
    Open(desc, r);
    ExportSwitches& w = r.req.Switches;
    w.ExportSource = w.ExportRawTextures = w.ExportDds = true;
    ExportAll(r);
    const bool known = std::string(engine) == "2022.3.18f1";
    EXPECT_EQ(r.Files(), known ? (std::vector<std::string>{"Hero.tex", "Textures/Hero.tex.dds"})
                               : (std::vector<std::string>{"Hero.tex"}));
    EXPECT_EQ(r.Read("Hero.tex"), Texture2DPayload(tex));
    EXPECT_EQ(r.result.failed, known ? 0u : 1u);
    if (!known) {
      ASSERT_EQ(r.fe.errors.size(), 1u);
      EXPECT_NE(r.fe.errors[0].find("Hero.tex"), std::string::npos) << r.fe.errors[0];
      EXPECT_NE(r.fe.errors[0].find("7000.0.23"), std::string::npos) << r.fe.errors[0];
    }
  }
}

TEST(ExportDriver, NamesNeverLeaveTheExportFolder) {
  AssetSpec desc;
  desc.objects.push_back({21, NamedObject("a", Bytes(8, 1))});
  desc.objects.push_back({21, NamedObject("b", Bytes(8, 1))});
  desc.objects.push_back({21, NamedObject("c", Bytes(8, 1))});
  ExportRun r;
  Open(desc, r);
  r.s.Entries.SetName(0, "..");
  r.s.Entries.SetName(1, "../../escaped.mat");
  ExportAll(r);
  EXPECT_EQ(r.fe.errors.size(), 2u);
  EXPECT_EQ(ListFiles(r.dir.File("out")),
            (std::vector<std::string>{"Unity_Assets_Files/level0/c.mat"}));

  r.s.Archive.ArchiveFolderName = "level0/..";
  EXPECT_THROW(ExportEntries(r.s, r.req, r.fe, {2}), Error);
  Bytes nothing;
  MemorySource source(nothing);
  Reader data(source);
  EXPECT_FALSE(ExportEntry(r.s, r.req, 2, data, r.fe));
}

}  // namespace
}  // namespace kestrix
