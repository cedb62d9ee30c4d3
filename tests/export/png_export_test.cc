// PNG pictures of textures: the right way up, the same pixels as ImageMagick reads from the DDS
// of the same texture, cubemaps as a strip, refusals as notes.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/command_line.h"
#include "export/converter.h"
#include "export/png_file.h"
#include "platform/file_ops.h"
#include "support/converter_rig.h"
#include "support/image_tools.h"
#include "support/texture_payloads.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::ConverterRig;
using testing::Rgba;
using testing::TextureSpec;

Rgba Checker(int x, int y, int) {
  return (x / 4 + y / 4) % 2 ? Rgba{255, 0, 0, 255} : Rgba{0, 255, 255, 255};
}

TextureSpec Texture(int32_t format, int w, int h, int levels) {
  TextureSpec s;
  s.width = w, s.height = h, s.format = format, s.mip = static_cast<uint32_t>(levels);
  auto top_red = [](int x, int y, int level) {  // the top row on screen is the last stored row
    return y == std::max(16 >> level, 1) - 1 ? Rgba{255, 0, 0, 255} : Checker(x, y, level);
  };
  s.images = format >= 10 && format <= 12 ? testing::EncodeDxt(format, w, h, levels, top_red)
                                          : testing::EncodePixels(format, w, h, levels, top_red);
  return s;
}

TEST(PngExport, PicturesMatchImageMagicksReadOfTheDds) {
  for (int32_t format : {2, 3, 4, 5, 7, 10, 11, 12, 13, 14, 37}) {
    SCOPED_TRACE("format " + std::to_string(format));
    ConverterRig rig;
    const Bytes payload = testing::Texture2DPayload(Texture(format, 24, 16, 3));
    rig.Run(ExportPng, payload);
    rig.Run(ExportDds, payload);
    const RgbaImage png = ReadPngFile(rig.Out("Hero.tex.png"));
    ASSERT_EQ(png.width, 24);
    ASSERT_EQ(png.height, 16);
    for (int x = 0; x < 24; ++x) EXPECT_EQ(png.pixels[x * 4 + 1], 0) << "top row is red, x " << x;
    EXPECT_EQ(rig.frontend.lines.front(), "Hero.tex -> PNG");
    if (!testing::HaveImageMagick()) continue;
    Bytes magick = testing::DecodeViaPng(rig.Out("Hero.tex.dds"), rig.dir.File("m.png"));
    if (format == 10)  // DXT1: colour only
      for (size_t i = 3; i < magick.size(); i += 4) magick[i] = png.pixels[i];
    EXPECT_TRUE(magick == png.pixels);
  }
}

TEST(PngExport, CubemapFacesSitSideBySideInStoredOrder) {
  TextureSpec desc;
  desc.width = desc.height = 4;
  desc.format = 3;
  desc.mip = 1;
  desc.image_count = 6;
  for (int face = 0; face < 6; ++face) {
    Bytes image = testing::EncodePixels(3, 4, 4, 1, [&](int, int, int) {
      return Rgba{static_cast<uint8_t>(face * 40), 7, 9, 255};
    });
    desc.images.insert(desc.images.end(), image.begin(), image.end());
  }
  ConverterRig rig;
  rig.relative = "Unity_Assets_Files/demo/Cubemap/";
  rig.Run(ExportPng, testing::Texture2DPayload(desc), "Sky.cbm");
  const RgbaImage png = ReadPngFile(rig.Out("Sky.cbm.png"));
  ASSERT_EQ(png.width, 24);
  ASSERT_EQ(png.height, 4);
  for (int x = 0; x < 24; ++x) EXPECT_EQ(png.pixels[(2 * 24 + x) * 4], (x / 4) * 40) << x;
}

TEST(PngExport, FormatsWithoutDecoderAreNotedAndWriteNothing) {
  for (int32_t format : {29, 30}) {
    ConverterRig rig;
    TextureSpec desc;
    desc.format = format;
    desc.width = desc.height = 8;
    desc.mip = 0;
    desc.images = Bytes(32, 0x11);
    rig.Run(ExportPng, testing::Texture2DPayload(desc));
    EXPECT_FALSE(FileExists(rig.Out("Hero.tex.png")));
    ASSERT_EQ(rig.frontend.lines.size(), 1u);
    EXPECT_NE(rig.frontend.lines[0].find("Hero.tex: "), std::string::npos);
    EXPECT_NE(rig.frontend.lines[0].find("cannot be shown as a picture"), std::string::npos);
  }
  // A short image is damaged data, an error of the entry.
  ConverterRig rig;
  TextureSpec desc = Texture(12, 16, 16, 1);
  desc.complete_image_size = 4096;
  EXPECT_THROW(rig.Run(ExportPng, testing::Texture2DPayload(desc)), std::exception);
  EXPECT_FALSE(FileExists(rig.Out("Hero.tex.png")));
}

TEST(PngExport, TypeWordPngAsksForTexturesCubemapsAndSpritePictures) {
  ExportSwitches sw;
  EXPECT_EQ(TranslateTypeWords("PNG", sw), (std::vector<std::string>{"28", "89", "213"}));
  EXPECT_TRUE(sw.ExportPng && sw.ExportSource && sw.NoRawSprites);
  EXPECT_FALSE(sw.ExportDds || sw.ExportRawTextures);
  // Sprites asked for by their own word keep their raw copies beside the pictures.
  for (const char* words : {"png,sprite", "213,png"}) {
    ExportSwitches both;
    const std::vector<std::string> classes = TranslateTypeWords(words, both);
    EXPECT_EQ(std::count(classes.begin(), classes.end(), "213"), 1) << words;
    EXPECT_TRUE(both.ExportPng && !both.NoRawSprites) << words;
  }
}

}  // namespace
}  // namespace kestrix
