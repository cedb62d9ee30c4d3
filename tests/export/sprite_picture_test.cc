// Sprites cut from a small texture whose every pixel says where it lies, so that each case's
// expected picture is written out by hand; and the corpus's sprites against their textures as
// ImageMagick cuts them.
#include "export/sprite_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include "core/error.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "export/entry_preview.h"
#include "export/export_driver.h"
#include "export/png_file.h"
#include "export/sprite_layouts.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/reader.h"
#include "support/image_tools.h"
#include "support/test_env.h"
#include "types/object_layouts.h"
#include "types/tree_walker.h"

namespace kestrix {
namespace {

// 4 x 3 pixels, top row first; pixel (column c, row r from the top) is (c, r, 7, 255).
RgbaImage Labelled() {
  RgbaImage t;
  t.width = 4;
  t.height = 3;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c)
      t.pixels.insert(t.pixels.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(r), 7, 255});
  return t;
}

// "c,r" for a texture pixel, "-" for a cleared one; rows top first, separated by "/".
std::string Describe(const RgbaImage& p) {
  std::string out;
  for (int y = 0; y < p.height; ++y) {
    if (y) out += " / ";
    for (int x = 0; x < p.width; ++x) {
      const uint8_t* px = &p.pixels[(static_cast<size_t>(y) * p.width + x) * 4];
      if (x) out += ' ';
      out += px[3] == 0 && px[0] == 0 && px[1] == 0 && px[2] == 0
                 ? std::string("-")
                 : std::to_string(px[0]) + "," + std::to_string(px[1]);
    }
  }
  return out;
}

constexpr uint32_t kPacked = 1, kRectMode = 2;
constexpr uint32_t Turn(uint32_t rotation) { return rotation << 2; }

TEST(SpritePicture, CutCountsFromTheBottomUndoesThePackingAndClearsOutsideTheMesh) {
  const std::vector<SpritePoint> corner = {{0, 0}, {1.9f, 0}, {0, 1.9f}};
  struct Case {
    const char* what;
    float x, y, w, h;
    uint32_t settings;
    std::vector<SpritePoint> mesh;
    const char* expect;
  } cases[] = {
      {"plain", 1, 0, 2, 2, 0, {}, "1,1 2,1 / 1,2 2,2"},
      {"rotation of an unpacked sprite ignored", 1, 0, 2, 2, Turn(1), {}, "1,1 2,1 / 1,2 2,2"},
      {"flip horizontal", 1, 0, 2, 2, kPacked | kRectMode | Turn(1), {}, "2,1 1,1 / 2,2 1,2"},
      {"flip vertical", 1, 0, 2, 2, kPacked | kRectMode | Turn(2), {}, "1,2 2,2 / 1,1 2,1"},
      {"rotate 180", 1, 0, 2, 2, kPacked | kRectMode | Turn(3), {}, "2,2 1,2 / 2,1 1,1"},
      {"rotate 90", 0, 0, 3, 2, kPacked | kRectMode | Turn(4), {}, "0,2 0,1 / 1,2 1,1 / 2,2 2,1"},
      {"top right corner", 2, 1, 2, 2, 0, {}, "2,0 3,0 / 2,1 3,1"},
      {"tight: outside the mesh cleared", 1, 0, 2, 2, kPacked, corner, "- - / 1,2 -"},
      {"tight mesh of an unpacked sprite ignored", 1, 0, 2, 2, 0, corner, "1,1 2,1 / 1,2 2,2"},
      {"rectangle packing keeps the rectangle", 1, 0, 2, 2, kPacked | kRectMode, corner,
       "1,1 2,1 / 1,2 2,2"},
      {"tight and flipped: the mesh is the shown sprite's", 1, 0, 2, 2, kPacked | Turn(1), corner,
       "- - / 2,2 -"},
  };
  for (const Case& c : cases) {
    SpriteCut cut{c.x, c.y, c.w, c.h, PackingOf(c.settings), c.mesh};
    EXPECT_EQ(Describe(CutSprite(Labelled(), cut)), c.expect) << c.what;
  }
}

TEST(SpritePicture, RectanglesOutsideTheTextureAndUnknownRotationsAreRefused) {
  const SpriteCut bad[] = {
      {3, 0, 2, 1, {}, {}},   // past the right edge
      {0, 2, 1, 2, {}, {}},   // past the top
      {-1, 0, 2, 1, {}, {}},  // left of the texture
      {1, 1, 0, 1, {}, {}},   // empty
  };
  for (const SpriteCut& cut : bad) EXPECT_THROW(CutSprite(Labelled(), cut), Error) << cut.x;
  EXPECT_THROW(PackingOf(kPacked | Turn(5)), Error);
}

// ---- The corpus ----

// The corpus files with sprites that Kestrix opens, and each of their serialized files.
template <typename Visit>
void ForEachFileWithSprites(Visit visit) {
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (row.classes_present.find("213x") == std::string::npos) continue;
    if (!testing::IsReadableBundle(row) && !testing::IsHandledPlainFile(row) &&
        row.container != "webgl")
      continue;
    testing::TempDir tmp;
    const std::string path = testing::CorpusArchiveToOpen(row, tmp);
    size_t contained = 1;
    for (size_t k = 0; k < contained; ++k) {
      Session s;
      testing::RecordingFrontend fe;
      const std::string where = row.relpath + " -i " + std::to_string(k);
      ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(static_cast<int>(k)))) << where;
      contained = std::max<size_t>(1, fe.chooser.size());
      if (!s.Asset.RawSingleFile) visit(s, fe, where);
      CloseArchive(s);
    }
  }
}

// The engine's own built-in layout (not a neighbour tried after it) reads every sprite of the
// corpus, and reads it exactly as the tree of a file that carries one does.
TEST(SpriteLayouts, TheEnginesOwnLayoutReadsEverySpriteAsItsTreeDoes) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  size_t compared = 0, walked = 0;
  ForEachFileWithSprites([&](Session& s, testing::RecordingFrontend&, const std::string& where) {
    FileSource source(s.Archive.ArchivePath);
    Reader reader(source);
    const ObjectTree builtin(
        SpriteTreeOf(SpriteFeaturesFor(s.Asset.Engine, s.Asset.FormatVersion)));
    const ByteOrder order = s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
    for (size_t i = 0; i < s.EntryCount(); ++i) {
      if (s.EntryClass(i) != kClassSprite) continue;
      const uint64_t start = s.Asset.DataStart + s.EntryOffset(i);
      const TypeTree* tree = ObjectTypeTree(s.Asset, i);
      std::string expect;
      if (tree) {
        // The cursors share the reader's position: one after the other.
        ObjectCursor own(reader, start, start + s.EntrySize(i), order);
        expect = ObjectTree(*tree).ToJson(own);
      }
      ObjectCursor ours(reader, start, start + s.EntrySize(i), order);
      std::string got;
      EXPECT_NO_THROW(got = builtin.ToJson(ours)) << where << " " << s.Asset.UnityVersion;
      if (tree) {
        EXPECT_EQ(got, expect) << where << " " << s.Asset.UnityVersion;
        ++compared;
      }
      ++walked;
    }
  });
  EXPECT_GE(compared, 8u);
  EXPECT_GE(walked, 130u);
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The picture of `file` below `folder`, wherever export put it (streamed textures go to a
// subfolder named after their resource).
std::string FindBelow(const std::string& folder, const std::string& file) {
  if (!std::filesystem::is_directory(folder)) return "";
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    if (e.path().filename() == file) return e.path().string();
  return "";
}

// A sprite's mesh, placed by its pivot and the texture rectangle's offset, outlines what the
// rectangle holds: the rectangle is the mesh's bounds, up to the pixel the packer rounds to.
void ExpectMeshFillsRectangle(const SpriteCut& cut, const std::string& where) {
  ASSERT_FALSE(cut.triangles.empty()) << where;
  float left = cut.width, right = 0, bottom = cut.height, top = 0;
  for (const SpritePoint& p : cut.triangles) {
    left = std::min(left, p.x);
    right = std::max(right, p.x);
    bottom = std::min(bottom, p.y);
    top = std::max(top, p.y);
  }
  constexpr float kPixel = 0.5f;
  EXPECT_NEAR(left, 0, kPixel) << where;
  EXPECT_NEAR(right, cut.width, kPixel) << where;
  EXPECT_NEAR(bottom, 0, kPixel) << where;
  EXPECT_NEAR(top, cut.height, kPixel) << where;
}

struct SpriteCheck {
  std::string sprite_png, texture_png, crop, where;
};

// Every sprite of the corpus: the texture's own PNG cut by ImageMagick at the sprite's texture
// rectangle (counted from the bottom) must equal the sprite's PNG.
TEST(SpriteCorpus, EverySpriteIsItsTexturesRectangle) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  if (!testing::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  testing::TempDir out;
  std::vector<SpriteCheck> checks;
  size_t sprites = 0, unreadable = 0, runs = 0;
  ForEachFileWithSprites([&](Session& s, testing::RecordingFrontend& fe, const std::string& where) {
    s.Archive.OutputRoot = out.Path() + "/" + std::to_string(runs++) + "/";
    FileSource source(s.Archive.ArchivePath);
    Reader reader(source);
    SpriteTextures textures;
    // The sprites and the textures they name, read before export so that it writes no others.
    std::map<size_t, SpriteSource> read;
    std::set<size_t> entries;
    for (size_t i = 0; i < s.EntryCount(); ++i) {
      if (s.EntryClass(i) != kClassSprite) continue;
      const SpriteSource& sprite = read[i] = ReadSpriteSource(s, i, reader, textures, true);
      ExpectMeshFillsRectangle(sprite.cut, where + " " + std::string(s.EntryName(i)));
      ASSERT_EQ(sprite.texture_file, 0) << where << " " << s.EntryName(i);
      const int64_t t = textures.IndexOf(s, sprite.texture_path_id);
      ASSERT_GE(t, 0) << where << " " << s.EntryName(i);
      entries.insert(i);
      entries.insert(static_cast<size_t>(t));
    }
    ExportRequest request;
    request.Switches.ExportSource = request.Switches.ExportPng = true;
    ExportEntries(s, request, fe, std::vector<size_t>(entries.begin(), entries.end()), false);
    // The corpus leaves some resource files out: their textures, and the sprites cut from
    // them, fail for the missing file. Nothing else may keep a sprite from its picture.
    for (const std::string& e : fe.errors) {
      const std::string missing = testing::MissingFileOf(e);
      EXPECT_TRUE(!missing.empty() && !FileExists(missing)) << where << " " << e;
      unreadable += e.find(".sprite: ") != std::string::npos;
    }
    const std::string folder = ExportFolder(s.Archive);
    for (const auto& [i, sprite] : read) {
      ++sprites;
      const std::string name(s.EntryName(i));
      const size_t t = static_cast<size_t>(textures.IndexOf(s, sprite.texture_path_id));
      const std::string texture_png =
          FindBelow(folder + "Textures", std::string(s.EntryName(t)) + ".png");
      if (texture_png.empty()) continue;  // its resource file is missing
      const SpriteCut& r = sprite.cut;
      const long x = std::lround(r.x), y = std::lround(r.y);
      const long w = std::lround(r.x + r.width) - x, h = std::lround(r.y + r.height) - y;
      const int32_t texture_height = ReadPngFile(texture_png).height;
      const std::string sprite_png = folder + kSpriteFolder + "/" + name + ".png";
      // The window previews the picture export wrote.
      const EntryPreview preview = MakeEntryPreview(s, i);
      EXPECT_EQ(preview.kind, EntryPreview::Kind::kPicture) << where << " " << preview.caption;
      EXPECT_TRUE(preview.picture.pixels == ReadPngFile(sprite_png).pixels) << where << " " << name;
      checks.push_back({sprite_png, texture_png,
                        std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) +
                            "+" + std::to_string(texture_height - y - h),
                        where + " " + name});
      // The crop undoes no packing: it holds for the corpus, whose sprites are not packed.
      EXPECT_FALSE(r.packing.packed) << where << " " << name;
    }
  });
  for (const SpriteCheck& c : checks) {
    int status = 0;
    const std::string differ = testing::CaptureCommand(
        "convert " + Quoted(c.texture_png) + " -crop " + c.crop + " +repage png:- | (compare " +
            "-metric AE - " + Quoted(c.sprite_png) + " null: 2>&1)",
        &status);
    EXPECT_EQ(differ, "0") << c.where << ": crop " << c.crop;
  }
  EXPECT_EQ(checks.size() + unreadable, sprites);
  EXPECT_GE(checks.size(), 70u) << sprites << " sprites, " << unreadable
                                << " without their texture";
}

}  // namespace
}  // namespace kestrix
