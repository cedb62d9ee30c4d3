// DDS files from Texture2D, Cubemap and ProceduralTexture payloads, checked byte by byte and by
// ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/error.h"
#include "export/converter.h"
#include "export/texture_header.h"
#include "platform/byte_order.h"
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

const Rgba kRed{255, 0, 0, 255};
const Rgba kBlue{0, 0, 255, 255};

// A picture whose last stored row (the top row on screen) is red and the rest blue.
TextureSpec RedTopTexture(int32_t format, int w, int h, int levels) {
  TextureSpec s;
  s.width = w;
  s.height = h;
  s.format = format;
  s.mip = static_cast<uint32_t>(levels);
  auto pixel = [](int, int y, int level) {
    int rows = std::max(8 >> level, 1);
    return y == rows - 1 ? kRed : kBlue;
  };
  s.images = format >= 10 && format <= 12 ? testing::EncodeDxt(format, w, h, levels, pixel)
                                          : testing::EncodePixels(format, w, h, levels, pixel);
  return s;
}

bool IsColour(const uint8_t* px, const Rgba& c) {
  auto near = [](int a, int b) { return a - b < 24 && b - a < 24; };
  return near(px[0], c.r) && near(px[1], c.g) && near(px[2], c.b);
}

TEST(DdsExport, ImageMagickReadsEveryFormatTheRightWayUp) {
  if (!testing::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  for (int32_t format : {2, 3, 4, 5, 7, 10, 11, 12, 13, 14, 37}) {
    SCOPED_TRACE("format " + std::to_string(format));
    ConverterRig rig;
    TextureSpec desc = RedTopTexture(format, 16, 8, 3);
    rig.Run(ExportDds, testing::Texture2DPayload(desc));
    const std::string dds = rig.Out("Hero.tex.dds");
    ASSERT_TRUE(FileExists(dds));
    EXPECT_EQ(FileSizeOf(dds), 128 + desc.images.size());
    EXPECT_EQ(testing::IdentifySize(dds), "16 8");
    Bytes rgba = testing::DecodeViaPng(dds, rig.dir.File("out.png"));
    ASSERT_EQ(rgba.size(), 16u * 8 * 4);
    for (int x = 0; x < 16; ++x) EXPECT_TRUE(IsColour(&rgba[x * 4], kRed)) << "top row, x " << x;
    for (int y = 1; y < 8; ++y)
      EXPECT_TRUE(IsColour(&rgba[(y * 16 + 3) * 4], kBlue)) << "row " << y;
    EXPECT_EQ(rig.frontend.lines, (std::vector<std::string>{"Hero.tex -> DDS"}));
  }
}

// Sizes that are not multiples of 4 end in partial blocks, which hold whole blocks of data. The
// last stored block row turns over as a whole, so the picture sits 4 - height % 4 rows low: the
// top rows show that block's padding (the encoder repeats the top pixel row into it).
TEST(DdsExport, PartialBlocksAreWholeBlocksAndFlipBack) {
  struct Case {
    int32_t format;
    int w, h, levels, layout;
  };
  for (Case c : {Case{12, 768, 169, 10, 2}, Case{10, 10, 6, 4, 1}}) {
    SCOPED_TRACE(::testing::Message() << c.format << " " << c.w << "x" << c.h);
    TextureSpec desc;
    desc.layout = c.layout;
    desc.width = c.w;
    desc.height = c.h;
    desc.format = c.format;
    desc.mip = c.layout == 1 ? 1 : static_cast<uint32_t>(c.levels);  // layout 1 counts them
    auto pixel = [](int x, int y, int) { return (x / 5 + y / 3) % 2 ? kRed : kBlue; };
    desc.images = testing::EncodeDxt(c.format, c.w, c.h, c.levels, pixel);
    ASSERT_EQ(desc.images.size(), testing::DxtChainSize(c.format, c.w, c.h, c.levels));
    ConverterRig rig;
    rig.Run(ExportDds, testing::Texture2DPayload(desc));
    const std::string dds = rig.Out("Hero.tex.dds");
    Bytes file = testing::ReadFileBytes(dds);
    ASSERT_EQ(file.size(), 128 + desc.images.size());
    EXPECT_EQ(Get32(file.data() + 28, ByteOrder::Little), static_cast<uint32_t>(c.levels));
    const int blocks_across = (c.w + 3) / 4, block_rows = (c.h + 3) / 4;
    EXPECT_EQ(Get32(file.data() + 20, ByteOrder::Little),
              static_cast<uint32_t>(blocks_across * block_rows * (c.format == 10 ? 8 : 16)));
    Bytes back;
    WriteImageFlipped(back, file.data() + 128, file.size() - 128, c.w, c.h, c.format, c.levels, 0);
    EXPECT_EQ(back, desc.images);

    if (!testing::HaveImageMagick()) continue;
    EXPECT_EQ(testing::IdentifySize(dds), std::to_string(c.w) + " " + std::to_string(c.h));
    Bytes rgba = testing::DecodeViaPng(dds, rig.dir.File("out.png"));
    ASSERT_EQ(rgba.size(), static_cast<size_t>(c.w) * c.h * 4);
    int wrong = 0;
    for (int row = 0; row < c.h; ++row) {
      const int stored = std::min(4 * block_rows - 1 - row, c.h - 1);
      for (int x = 0; x < c.w; ++x)
        wrong += !IsColour(&rgba[(static_cast<size_t>(row) * c.w + x) * 4], pixel(x, stored, 0));
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(DdsExport, Rgb24IsSwappedAndFlippedUnlessFlipIsOff) {
  TextureSpec desc;
  desc.format = 3;
  desc.width = 2;
  desc.height = 2;
  desc.layout = 1;
  desc.mip = 0;
  desc.images = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  {
    ConverterRig rig;
    rig.Run(ExportDds, testing::Texture2DPayload(desc));
    Bytes dds = testing::ReadFileBytes(rig.Out("Hero.tex.dds"));
    EXPECT_EQ(Bytes(dds.begin() + 128, dds.end()), (Bytes{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
  }
  {
    ConverterRig rig;
    rig.request.NoTextureFlip = true;
    rig.Run(ExportDds, testing::Texture2DPayload(desc));
    Bytes dds = testing::ReadFileBytes(rig.Out("Hero.tex.dds"));
    EXPECT_EQ(Bytes(dds.begin() + 128, dds.end()), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
  }
}

TEST(DdsExport, AtcIsNotFlippedAndBigEndianHeadersAreSwapped) {
  TextureSpec desc;
  desc.big_endian = true;
  desc.format = 36;
  desc.width = 8;
  desc.height = 8;
  desc.mip = 1;
  for (int i = 0; i < 64; ++i) desc.images.push_back(static_cast<uint8_t>(i));
  ConverterRig rig;
  rig.Run(ExportDds, testing::Texture2DPayload(desc), "Hero.tex", true);
  Bytes dds = testing::ReadFileBytes(rig.Out("Hero.tex.dds"));
  EXPECT_EQ(Get32(dds.data() + 16, ByteOrder::Little), 8u);
  EXPECT_EQ(Bytes(dds.begin() + 128, dds.end()), desc.images);
}

TEST(DdsExport, CubemapGivesOneFilePerFace) {
  ConverterRig rig;
  rig.relative = "Unity_Assets_Files/demo/Cubemap/";
  TextureSpec desc;
  desc.format = 14;
  desc.width = desc.height = 2;
  desc.mip = 1;
  desc.image_count = 6;
  for (int face = 0; face < 6; ++face)
    for (int i = 0; i < 16; ++i) desc.images.push_back(static_cast<uint8_t>(face * 16 + i));
  rig.Run(ExportDds, testing::Texture2DPayload(desc), "Sky.cbm");
  EXPECT_EQ(testing::ListFiles(rig.Base() + rig.relative),
            (std::vector<std::string>{"Sky.cbm_nx.dds", "Sky.cbm_ny.dds", "Sky.cbm_nz.dds",
                                      "Sky.cbm_px.dds", "Sky.cbm_py.dds", "Sky.cbm_pz.dds"}));
  Bytes third = testing::ReadFileBytes(rig.Out("Sky.cbm_py.dds"));
  ASSERT_EQ(third.size(), 128u + 16);
  EXPECT_EQ(third[128], 32 + 8);  // face 3, its bottom stored row first
}

TEST(DdsExport, StreamedDataComesFromTheResourceFileIntoASubfolder) {
  for (std::string resource : {"sharedassets0.assets.resS", "streamdata"}) {
    SCOPED_TRACE(resource);
    ConverterRig rig;
    testing::TempDir elsewhere;  // output under -p, the resource beside the archive
    TextureSpec desc = RedTopTexture(4, 4, 8, 1);
    desc.layout = 3;
    desc.resource_path = resource;
    desc.resource_offset = 4100;
    testing::WriteFileBytes(rig.dir.File(resource), testing::TextureResourceFile(desc));
    rig.output_root = elsewhere.Path() + "/";
    rig.Run(ExportDds, testing::Texture2DPayload(desc));
    std::string sub = resource == "streamdata" ? "res_streamdata/" : "res_sharedassets0/";
    std::string dds = rig.Out(sub + "Hero.tex.dds");
    ASSERT_TRUE(FileExists(dds));
    Bytes bytes = testing::ReadFileBytes(dds);
    ASSERT_EQ(bytes.size(), 128u + 4 * 8 * 4);
    EXPECT_EQ(Bytes(bytes.begin() + 128, bytes.begin() + 132), (Bytes{0, 0, 255, 255}));  // red
    EXPECT_TRUE(rig.frontend.messages.empty());
  }
}

TEST(DdsExport, MissingOrEscapingResourceFilesAreReportedAndNothingIsWritten) {
  for (std::string resource : {"sharedassets9.assets.resS", "../outside.resS", "/etc/hostname",
                               "sub/../../x.resS", "C:\\x.resS"}) {
    SCOPED_TRACE(resource);
    ConverterRig rig;
    TextureSpec desc = RedTopTexture(4, 4, 4, 1);
    desc.layout = 3;
    desc.resource_path = resource;
    std::string failure;
    try {
      rig.Run(ExportDds, testing::Texture2DPayload(desc));
    } catch (const MissingResourceError& e) {
      failure = e.what();
    }
    if (resource == "sharedassets9.assets.resS")
      EXPECT_EQ(failure, "Missing file: " + rig.dir.File(resource));
    else
      EXPECT_EQ(failure, "Resource path refused, it leaves the archive's folder: " + resource);
    EXPECT_FALSE(FolderExists(rig.Base() + "Unity_Assets_Files"));
    EXPECT_TRUE(rig.frontend.lines.empty());
  }
}

TEST(DdsExport, MalformedPayloadsAreErrorsNotCrashes) {
  auto expect_error = [](const Bytes& payload, const std::string& words,
                         const Bytes& resource = {}) {
    ConverterRig rig;
    if (!resource.empty()) testing::WriteFileBytes(rig.dir.File("r.resS"), resource);
    try {
      rig.Run(ExportDds, payload);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
    EXPECT_FALSE(FolderExists(rig.Base() + "Unity_Assets_Files"));
  };
  TextureSpec desc = RedTopTexture(4, 4, 4, 1);
  Bytes good = testing::Texture2DPayload(desc);
  expect_error(Bytes(good.begin(), good.begin() + 50), "shorter than its header claims");
  expect_error(Bytes(good.begin(), good.begin() + 100), "shorter than its header claims");

  TextureSpec huge = desc;
  huge.image_count = static_cast<int32_t>(0x80000000u);
  expect_error(testing::Texture2DPayload(huge), "image count -2147483648 is not valid");

  TextureSpec three = desc;  // a resource file that holds one image of three
  three.layout = 3;
  three.resource_path = "r.resS";
  three.image_count = 3;
  three.images.resize(3 * 64);
  Bytes resource = testing::TextureResourceFile(three);
  resource.resize(64);
  expect_error(testing::Texture2DPayload(three), "shorter than its header claims", resource);

  TextureSpec levels = RedTopTexture(10, 8, 8, 1);
  levels.mip = 7;  // one level of data, seven asked for
  expect_error(testing::Texture2DPayload(levels), "runs past the image data");
}

TEST(DdsExport, EmptyImagesWriteNothing) {
  ConverterRig rig;
  TextureSpec desc;
  desc.images = {};
  rig.Run(ExportDds, testing::Texture2DPayload(desc));
  TextureSpec none = RedTopTexture(4, 4, 4, 1);
  none.image_count = 0;
  rig.Run(ExportDds, testing::Texture2DPayload(none));
  EXPECT_FALSE(FolderExists(rig.Base() + "Unity_Assets_Files"));
}

TEST(ProceduralDds, WritesTheImageWithItsTrailingSizes) {
  for (bool big : {false, true}) {
    ConverterRig rig;
    rig.relative = "Unity_Assets_Files/demo/ProceduralTextures/";
    testing::ProceduralSpec desc;
    desc.big_endian = big;
    desc.width = 2;
    desc.height = 2;
    desc.format = 4;
    desc.image = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    rig.Run(ExportProceduralDds, testing::ProceduralTexturePayload(desc), "Noise.ptex", big);
    Bytes dds = testing::ReadFileBytes(rig.Out("Noise.ptex.dds"));
    ASSERT_EQ(dds.size(), 128u + 16);
    EXPECT_EQ(Get32(dds.data() + 12, ByteOrder::Little), 2u);
    EXPECT_EQ(Bytes(dds.begin() + 128, dds.end()),
              (Bytes{11, 10, 9, 12, 15, 14, 13, 16, 3, 2, 1, 4, 7, 6, 5, 8}));
  }
  ConverterRig rig;
  rig.Run(ExportProceduralDds, Bytes(88, 0));
  testing::ProceduralSpec bad;
  bad.image = Bytes(16, 1);
  Bytes payload = testing::ProceduralTexturePayload(bad);
  payload[60] = 0xFF;  // image length past the end
  EXPECT_THROW(rig.Run(ExportProceduralDds, payload), Error);
  EXPECT_FALSE(FolderExists(rig.Base() + "Unity_Assets_Files"));
}

}  // namespace
}  // namespace kestrix
