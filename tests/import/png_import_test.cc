// PNG import: a picture exported, edited in one pixel and imported gives a texture whose picture
// differs from the original only around the edit; pictures of another size and formats without
// an encoder are refused with nothing written.
#include <gtest/gtest.h>

#include <algorithm>

#include "export/converter.h"
#include "export/png_file.h"
#include "export/texture_header.h"
#include "import/texture_import.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "support/converter_rig.h"
#include "support/texture_payloads.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::ConverterRig;
using testing::Rgba;
using testing::TextureSpec;

const std::string kRaw = "Unity_Assets_Files/demo/Hero.tex";

void RunImport(ConverterRig& rig, const Bytes& payload, const std::string& source,
               const std::string& engine = "5.6.3f1") {
  Bytes working(20 + payload.size(), 0xEE);
  std::copy(payload.begin(), payload.end(), working.begin() + 20);
  MemorySource bytes(working);
  ImporterCall call{bytes, 20, static_cast<uint32_t>(payload.size()), false, rig.Base(), source,
                    kRaw};
  call.engine = ParseEngineVersion(engine);
  ImporterContext ctx{rig.frontend, rig.Base(), false};
  ImportPng(call, ctx);
}

// The picture of every image of a payload, side by side.
RgbaImage PictureOf(const Bytes& payload) {
  const TextureHeader h = ReadTextureHeader(payload, false);
  const uint8_t* data = payload.data() + h.image_start;
  return DecodeTextureLevel(h.format, data, h.image_data_size, h.width, h.height);
}

Rgba Smooth(int x, int y, int) {
  return {static_cast<uint8_t>(x * 8), static_cast<uint8_t>(y * 8), 90, 255};
}

TEST(PngImport, AnEditedPixelChangesOnlyItsBlockAndTheChainIsRebuilt) {
  struct Case {
    int32_t format;
    int levels;
    int reach;      // how far from the edit the picture may change: the codec's block
    int drift = 0;  // ASTC's encoder does not give back the blocks it decoded: its error
  };
  for (Case c :
       {Case{4, 5, 0}, Case{7, 1, 0}, Case{13, 3, 0}, Case{12, 5, 4}, Case{10, 3, 4},
        Case{34, 3, 4}, Case{26, 2, 4}, Case{27, 1, 4}, Case{48, 2, 4, 6}, Case{51, 1, 8, 16}}) {
    SCOPED_TRACE("format " + std::to_string(c.format));
#if !KESTRIX_HAVE_ASTC
    if (c.format >= 48) continue;  // a build without the ASTC codec refuses these
#endif
    const int w = 16, h = 16;
    TextureSpec desc;
    desc.width = w, desc.height = h, desc.format = c.format, desc.mip = c.levels;
    // Start from what the encoders make of the picture, so that only the edit differs.
    {
      RgbaImage picture;
      picture.width = w, picture.height = h;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const Rgba p = Smooth(x, y, 0);
          picture.pixels.insert(picture.pixels.end(), {p.r, p.g, p.b, p.a});
        }
      ConverterRig seed;
      testing::WriteFileBytes(seed.dir.File("seed.png"), EncodePng(picture));
      TextureSpec blank = desc;
      uint64_t size = 0;
      for (int l = 0, lw = w, lh = h; l < c.levels;
           ++l, lw = std::max(lw / 2, 1), lh = std::max(lh / 2, 1))
        size += PictureLevelBytes(c.format, lw, lh);
      blank.images = Bytes(size, 0);
      RunImport(seed, testing::Texture2DPayload(blank), seed.dir.File("seed.png"));
      ASSERT_TRUE(seed.frontend.messages.empty()) << seed.frontend.messages[0];
      const Bytes raw = testing::ReadFileBytes(seed.Base() + kRaw);
      const TextureHeader rh = ReadTextureHeader(raw, false);
      desc.images.assign(raw.begin() + rh.image_start,
                         raw.begin() + rh.image_start + rh.image_data_size);
    }
    const Bytes payload = testing::Texture2DPayload(desc);
    ConverterRig rig;
    rig.session.Asset.Engine = ParseEngineVersion("5.6.3f1");  // codes 26 and 27 are BC4, BC5
    rig.Run(ExportPng, payload);
    const std::string png = rig.Out("Hero.tex.png");
    RgbaImage picture = ReadPngFile(png);
    const int ex = 9, ey = 6;  // top-down
    uint8_t* p = &picture.pixels[(ey * w + ex) * 4];
    p[0] = 255 - p[0], p[1] = 255 - p[1], p[2] = 0;
    testing::WriteFileBytes(png, EncodePng(picture));

    RunImport(rig, payload, png);
    ASSERT_TRUE(rig.frontend.messages.empty()) << rig.frontend.messages[0];
    const Bytes imported = testing::ReadFileBytes(rig.Base() + kRaw);
    ASSERT_EQ(imported.size(), payload.size());  // same format, size and levels
    const TextureHeader ih = ReadTextureHeader(imported, false);
    EXPECT_EQ(ih.format, c.format);
    EXPECT_EQ(ih.mip_field, desc.mip);
    const RgbaImage before = PictureOf(payload), after = PictureOf(imported);
    int changed_at_edit = 0;
    // The block holding the edit: blocks are counted from the stored (bottom) row.
    auto near_edit = [&](int x, int y) {
      return c.reach == 0
                 ? (x == ex && y == ey)
                 : (x / c.reach == ex / c.reach && (h - 1 - y) / c.reach == (h - 1 - ey) / c.reach);
    };
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        bool same = true;
        for (int k = 0; k < 3; ++k)
          same &= std::abs(before.pixels[(y * w + x) * 4 + k] -
                           after.pixels[(y * w + x) * 4 + k]) <= (near_edit(x, y) ? 0 : c.drift);
        if (near_edit(x, y))
          changed_at_edit += !same;
        else
          EXPECT_TRUE(same) << "pixel " << x << "," << y;
      }
    EXPECT_GT(changed_at_edit, 0);
  }
}

TEST(PngImport, OtherSizesAndFormatsWithoutEncoderAreRefused) {
  struct Case {
    int32_t format;
    int png_width;
    const char* says;
    const char* engine = "5.6.3f1";
  };
  // BC4's code is a console format in engines before 5.5.
  for (Case c : {Case{4, 8, "the texture needs 16x16"}, Case{45, 16, "no encoder here"},
                 Case{25, 16, "no encoder here"}, Case{26, 16, "no encoder here", "5.4.1f1"}}) {
    ConverterRig rig;
    TextureSpec desc;
    desc.width = desc.height = 16;
    desc.format = c.format;
    desc.mip = 0;
    desc.images = Bytes(c.format == 4 ? 1024 : 256, 0x40);
    RgbaImage picture;
    picture.width = c.png_width, picture.height = 16;
    picture.pixels.assign(static_cast<size_t>(c.png_width) * 16 * 4, 200);
    const std::string png = rig.dir.File("Hero.tex.png");
    testing::WriteFileBytes(png, EncodePng(picture));
    // A picture of another size ends the import; a format without an encoder is passed over,
    // and is a failure of the run all the same.
    std::vector<std::string> said;
    try {
      RunImport(rig, testing::Texture2DPayload(desc), png, c.engine);
      said = rig.frontend.errors;
      EXPECT_TRUE(rig.frontend.messages.empty());
    } catch (const std::exception& e) {
      said.push_back(e.what());
      EXPECT_EQ(c.png_width, 8);
    }
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find(png), std::string::npos);
    EXPECT_NE(said[0].find(c.says), std::string::npos) << said[0];
    EXPECT_FALSE(FileExists(rig.Base() + kRaw));
  }
  // A file that is not a PNG ends the import with a message naming it.
  ConverterRig rig;
  const std::string bad = rig.dir.File("Hero.tex.png");
  testing::WriteFileBytes(bad, Bytes(40, 7));
  TextureSpec desc;
  desc.width = desc.height = 4, desc.format = 4, desc.mip = 0, desc.images = Bytes(64, 1);
  try {
    RunImport(rig, testing::Texture2DPayload(desc), bad);
    ADD_FAILURE() << "imported";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find(bad), std::string::npos);
  }
  EXPECT_FALSE(FileExists(rig.Base() + kRaw));
}

}  // namespace
}  // namespace kestrix
