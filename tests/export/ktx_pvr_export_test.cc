// KTX and PVR containers around mobile texture data: level counts, level prefixes, headers.
#include <gtest/gtest.h>

#include "core/error.h"
#include "export/converter.h"
#include "export/ktx_pvr_formats.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"
#include "support/converter_rig.h"
#include "support/texture_payloads.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::ConverterRig;
using testing::TextureSpec;

uint32_t Le32(const Bytes& b, size_t at) { return Get32(b.data() + at, ByteOrder::Little); }

// The level sizes of a KTX file, walking its prefixes; `rest` gets what follows the last level.
std::vector<uint32_t> KtxLevels(const Bytes& ktx, size_t* rest = nullptr) {
  std::vector<uint32_t> sizes;
  size_t pos = 64;
  for (uint32_t i = 0; i < Le32(ktx, 56); ++i) {
    sizes.push_back(Le32(ktx, pos));
    pos += 4 + sizes.back();
  }
  if (rest) *rest = ktx.size() - pos;
  return sizes;
}

TextureSpec Mobile(int32_t format, int w, int h, uint32_t mip, size_t bytes) {
  TextureSpec s;
  s.format = format;
  s.width = w;
  s.height = h;
  s.mip = mip;
  for (size_t i = 0; i < bytes; ++i) s.images.push_back(static_cast<uint8_t>(i * 31));
  return s;
}

TEST(MobileLevels, CountsLevelsWithTheEightPixelTrial) {
  const MobileFormat& pvrtc4 = *FindMobileFormat(33);
  // 256x256 down to 4x4, three levels at the 4-pixel floor.
  EXPECT_EQ(PlanLevels(pvrtc4, 256, 256, 43704, 1).count, 9);
  // 16x16 with 256 bytes adds up only with an 8-pixel floor: 128 + 4 x 32.
  LevelPlan trial = PlanLevels(pvrtc4, 16, 16, 256, 1);
  EXPECT_EQ(trial.count, 5);
  EXPECT_EQ(trial.min_width, 8);
  // A mip byte other than 1 is the count; 0 means one level.
  EXPECT_EQ(PlanLevels(pvrtc4, 16, 16, 256, 3).count, 3);
  EXPECT_EQ(PlanLevels(pvrtc4, 16, 16, 256, 0).count, 1);
  // ASTC 6x6 at 100x100: 17 x 17 blocks of 16 bytes on top, down to single blocks.
  const MobileFormat& astc6 = *FindMobileFormat(50);
  EXPECT_EQ(MobileLevelSize(astc6, 100, 100, true), 4624u);
  EXPECT_EQ(PlanLevels(astc6, 100, 100, 4624 + 1296 + 400 + 64 + 16, 1).count, 5);
  // Partial bytes: 2x1 at 2 bits per pixel.
  const MobileFormat& pvrtc2 = *FindMobileFormat(30);
  EXPECT_EQ(MobileLevelSize(pvrtc2, 2, 1, false), 0u);
  EXPECT_EQ(MobileLevelSize(pvrtc2, 2, 1, true), 1u);
}

// ETC, EAC and ATC levels are whole 4x4 blocks: 10x6 is 3 x 2 blocks, and 5x3, 2x1 and 1x1 one
// block row each, so the chain of four levels ends exactly at the data.
TEST(MobileLevels, FourByFourBlockFormatsCountWholeBlocks) {
  for (auto [code, block] : {std::pair{34, 8u}, std::pair{35, 8u}, std::pair{36, 16u},
                             std::pair{42, 8u}, std::pair{43, 16u}, std::pair{47, 16u}}) {
    SCOPED_TRACE(code);
    const MobileFormat& f = *FindMobileFormat(code);
    for (bool round_up : {false, true}) {
      EXPECT_EQ(MobileLevelSize(f, 10, 6, round_up), 6 * block);
      EXPECT_EQ(MobileLevelSize(f, 2, 1, round_up), block);
    }
    const uint64_t chain = (6 + 2 + 1 + 1) * block;
    LevelPlan plan = PlanLevels(f, 10, 6, chain, 1);
    EXPECT_EQ(plan.count, 4);
    EXPECT_EQ(RequireLevels(f, plan, 10, 6, chain), chain);
  }
}

TEST(KtxExport, WritesSizePrefixedLevels) {
  struct Case {
    int w, h;
    size_t bytes;
    std::vector<uint32_t> levels;
  };
  for (const Case& c : {Case{256, 256, 43704, {32768, 8192, 2048, 512, 128, 32, 8, 8, 8}},
                        Case{16, 16, 256, {128, 32, 32, 32, 32}}}) {
    ConverterRig rig;
    TextureSpec desc = Mobile(33, c.w, c.h, 1, c.bytes);
    rig.Run(ExportKtx, testing::Texture2DPayload(desc));
    Bytes ktx = testing::ReadFileBytes(rig.Out("Hero.tex.ktx"));
    ASSERT_GE(ktx.size(), 64u);
    EXPECT_EQ(Bytes(ktx.begin(), ktx.begin() + 12),
              (Bytes{0xAB, 0x4B, 0x54, 0x58, 0x20, 0x31, 0x31, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A}));
    EXPECT_EQ(Le32(ktx, 12), 0x04030201u);
    EXPECT_EQ(Le32(ktx, 20), 1u);
    EXPECT_EQ(Le32(ktx, 28), 0x8C02u);
    EXPECT_EQ(Le32(ktx, 32), 0x1908u);
    EXPECT_EQ(Le32(ktx, 36), static_cast<uint32_t>(c.w));
    EXPECT_EQ(Le32(ktx, 40), static_cast<uint32_t>(c.h));
    EXPECT_EQ(Le32(ktx, 52), 1u);
    size_t rest = 99;
    EXPECT_EQ(KtxLevels(ktx, &rest), c.levels);
    EXPECT_EQ(rest, 0u);
    EXPECT_EQ(ktx.size(), 64 + 4 * c.levels.size() + c.bytes);
    EXPECT_EQ(ktx[68], desc.images[0]);
    EXPECT_EQ(rig.frontend.lines, (std::vector<std::string>{"Hero.tex -> KTX"}));
  }
}

TEST(KtxExport, LeftoverBytesFollowTheLastLevel) {
  ConverterRig rig;
  TextureSpec desc = Mobile(45, 8, 8, 2, 32 + 8 + 5);  // ETC2: levels of 32 and 8, then 5 more
  rig.Run(ExportKtx, testing::Texture2DPayload(desc));
  Bytes ktx = testing::ReadFileBytes(rig.Out("Hero.tex.ktx"));
  size_t rest = 0;
  EXPECT_EQ(KtxLevels(ktx, &rest), (std::vector<uint32_t>{32, 8}));
  EXPECT_EQ(rest, 5u);
  EXPECT_EQ(Le32(ktx, 28), 0x9274u);
}

TEST(KtxExport, CubemapGivesSixFilesThatEachSaySixFaces) {
  ConverterRig rig;
  rig.relative = "Unity_Assets_Files/demo/Cubemap/";
  TextureSpec desc = Mobile(47, 4, 4, 1, 6 * 16);
  desc.image_count = 6;
  rig.Run(ExportKtx, testing::Texture2DPayload(desc), "Sky.cbm");
  std::vector<std::string> files = testing::ListFiles(rig.Base() + rig.relative);
  ASSERT_EQ(files.size(), 6u);
  const char* const tags[] = {"px", "nx", "py", "ny", "pz", "nz"};
  for (int face = 1; face <= 6; ++face) {
    std::string name = std::string("Sky.cbm_") + tags[face - 1] + ".ktx";
    Bytes ktx = testing::ReadFileBytes(rig.Out(name));
    EXPECT_EQ(Le32(ktx, 52), 6u) << name;
    EXPECT_EQ(KtxLevels(ktx), (std::vector<uint32_t>{16})) << name;
    EXPECT_EQ(ktx[68], desc.images[(face - 1) * 16]) << name;
  }
}

TEST(KtxExport, LevelsPastTheImageAreAnErrorAndWriteNothing) {
  ConverterRig rig;
  TextureSpec desc = Mobile(32, 64, 64, 9, 2048);  // one level of data, nine asked for
  EXPECT_THROW(rig.Run(ExportKtx, testing::Texture2DPayload(desc)), Error);
  EXPECT_FALSE(FolderExists(rig.Base() + "Unity_Assets_Files"));
}

TEST(PvrExport, WritesTheVersion3HeaderAndTheDataAsItIs) {
  struct Case {
    int32_t format;
    uint32_t pvr_format, channel;
  };
  for (Case c : {Case{21, 17, 0}, Case{42, 25, 5}, Case{55, 29, 0}}) {
    SCOPED_TRACE(c.format);
    ConverterRig rig;
    TextureSpec desc = Mobile(c.format, 20, 10, 1,
                              c.format == 21   ? 400
                              : c.format == 42 ? 100
                                               : 128);
    rig.Run(ExportPvr, testing::Texture2DPayload(desc));
    Bytes pvr = testing::ReadFileBytes(rig.Out("Hero.tex.pvr"));
    ASSERT_EQ(pvr.size(), 52 + desc.images.size());
    EXPECT_EQ(Le32(pvr, 0), 0x03525650u);
    EXPECT_EQ(Le32(pvr, 4), 0u);
    EXPECT_EQ(Le32(pvr, 8), c.pvr_format);
    EXPECT_EQ(Le32(pvr, 12), 0u);
    EXPECT_EQ(Le32(pvr, 20), c.channel);
    EXPECT_EQ(Le32(pvr, 24), 10u);
    EXPECT_EQ(Le32(pvr, 28), 20u);
    EXPECT_EQ(Le32(pvr, 32), 1u);
    EXPECT_EQ(Le32(pvr, 36), 1u);
    EXPECT_EQ(Le32(pvr, 40), 1u);
    EXPECT_EQ(Le32(pvr, 44), 1u);
    EXPECT_EQ(Le32(pvr, 48), 0u);
    EXPECT_EQ(Bytes(pvr.begin() + 52, pvr.end()), desc.images);
    EXPECT_EQ(rig.frontend.lines, (std::vector<std::string>{"Hero.tex -> PVR"}));
  }
}

TEST(PvrExport, StreamedCubemapFacesLandInTheResourceSubfolder) {
  ConverterRig rig;
  rig.relative = "Unity_Assets_Files/demo/Cubemap/";
  TextureSpec desc = Mobile(34, 8, 8, 1, 6 * 32);
  desc.image_count = 6;
  desc.layout = 3;
  desc.resource_path = "level0.resS";
  desc.resource_offset = 8;
  testing::WriteFileBytes(rig.dir.File("level0.resS"), testing::TextureResourceFile(desc));
  rig.Run(ExportPvr, testing::Texture2DPayload(desc), "Sky.cbm");
  Bytes face6 = testing::ReadFileBytes(rig.Out("res_level0/Sky.cbm_nz.pvr"));
  EXPECT_EQ(Le32(face6, 40), 6u);
  EXPECT_EQ(Bytes(face6.begin() + 52, face6.end()),
            Bytes(desc.images.begin() + 5 * 32, desc.images.end()));
}

}  // namespace
}  // namespace kestrix
