// The texture header in its three layouts, the DDS header, pixel conversions and the flip.
#include "export/texture_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "core/error.h"
#include "platform/byte_order.h"
#include "support/texture_payloads.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::TextureSpec;

uint32_t Le32(const std::array<uint8_t, 128>& b, size_t at) {
  return Get32(b.data() + at, ByteOrder::Little);
}

TextureSpec Dxt1Spec(int layout, bool big_endian = false) {
  TextureSpec s;
  s.layout = layout;
  s.big_endian = big_endian;
  s.width = 8;
  s.height = 4;
  s.format = 10;
  s.mip = layout == 1 ? 1 : 3;
  s.images = Bytes(16 + 8 + 8, 0x33);
  s.resource_path = "sharedassets0.assets.resS";
  s.resource_offset = 4096;
  s.tail = {1, 2, 3, 4, 5, 6, 7, 8};
  return s;
}

TEST(TextureHeader, ReadsEachLayoutInEitherByteOrder) {
  for (bool big : {false, true}) {
    for (int layout : {1, 2, 3}) {
      SCOPED_TRACE("layout " + std::to_string(layout) + (big ? " big-endian" : ""));
      TextureSpec desc = Dxt1Spec(layout, big);
      desc.image_count = 6;  // a cubemap's count byte sits elsewhere in big-endian data
      desc.images = Bytes(6 * 32, 0x44);
      Bytes payload = testing::Texture2DPayload(desc);
      TextureHeader h = ReadTextureHeader(payload, big);
      EXPECT_EQ(h.layout, layout);
      EXPECT_EQ(h.width, 8);
      EXPECT_EQ(h.height, 4);
      EXPECT_EQ(h.complete_image_size, 32);
      EXPECT_EQ(h.format, 10);
      EXPECT_EQ(h.MipByte(), layout == 1 ? 1 : 3);
      EXPECT_EQ(h.ImageCount(), 6);
      EXPECT_EQ(h.settings[7], 1);
      EXPECT_EQ(h.tail, desc.tail);
      if (layout == 3) {
        EXPECT_EQ(h.image_data_size, 0u);
        EXPECT_EQ(h.resource_offset, 4096u);
        EXPECT_EQ(h.resource_size, 6u * 32);
        EXPECT_EQ(h.resource_path, "sharedassets0.assets.resS");
        EXPECT_EQ(h.image_start, 72u + 28);  // path padded from 25 to 28 bytes
      } else {
        EXPECT_EQ(h.image_data_size, 6u * 32);
        EXPECT_EQ(h.image_start, layout == 1 ? 56u : 60u);
        EXPECT_EQ(payload[h.image_start], 0x44);
      }
    }
  }
}

TEST(TextureHeader, UnmatchedSizesFallBackToLayoutOne) {
  TextureSpec desc = Dxt1Spec(2);
  desc.complete_image_size = 31;  // matches no size field
  EXPECT_EQ(DetectTextureLayout(testing::Texture2DPayload(desc), false), 1);
  EXPECT_EQ(DetectTextureLayout(Bytes(10, 0), false), 1);
}

TEST(TextureHeader, ShortPayloadsAreRefusedWithAClearMessage) {
  Bytes payload = testing::Texture2DPayload(Dxt1Spec(2));
  Bytes cut(payload.begin(), payload.begin() + 70);  // the image data size says 32 bytes follow
  try {
    ReadTextureHeader(cut, false);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("shorter than its header claims"), std::string::npos);
  }
  EXPECT_THROW(ReadTextureHeader(Bytes(payload.begin(), payload.begin() + 40), false), Error);

  TextureSpec streamed = Dxt1Spec(3);
  Bytes p3 = testing::Texture2DPayload(streamed);
  p3[68] = 0xFF;  // path length far past the end
  p3[69] = 0xFF;
  EXPECT_THROW(ReadTextureHeader(p3, false), Error);
}

TEST(DdsHeader, CountsLevelsFromTheSizes) {
  DdsHeader h = BuildDdsHeader(10, 43704, 256, 256, 1);
  EXPECT_EQ(h.mip_map_count, 9u);
  EXPECT_EQ(Le32(h.bytes, 0), 0x20534444u);
  EXPECT_EQ(Le32(h.bytes, 4), 124u);
  EXPECT_EQ(Le32(h.bytes, 8), 0xA1007u);
  EXPECT_EQ(Le32(h.bytes, 12), 256u);
  EXPECT_EQ(Le32(h.bytes, 16), 256u);
  EXPECT_EQ(Le32(h.bytes, 20), 32768u);
  EXPECT_EQ(Le32(h.bytes, 28), 9u);
  EXPECT_EQ(Le32(h.bytes, 76), 32u);
  EXPECT_EQ(Le32(h.bytes, 80), 0x4u);
  EXPECT_EQ(Le32(h.bytes, 84), 0x31545844u);  // "DXT1"
  EXPECT_EQ(Le32(h.bytes, 108), 0x401008u);
  EXPECT_EQ(h.bytes_per_pixel, 0.5);
}

// Block formats count whole 4x4 blocks, down to one block for levels below 4 pixels, so the
// linear size is the top level's blocks and a full chain ends exactly at the image size.
TEST(DdsHeader, BlockFormatsCountWholeBlocks) {
  struct Case {
    int32_t format, w, h;
    uint32_t total, linear, levels;
  };
  for (Case c : {Case{10, 256, 256, 43704, 32768, 9}, Case{12, 768, 169, 175984, 132096, 10},
                 Case{10, 10, 6, 48 + 16 + 8 + 8, 48, 4}, Case{11, 3, 3, 16, 16, 0},
                 Case{35, 10, 6, 48 + 16 + 8 + 8, 48, 4}, Case{36, 2, 2, 16, 16, 0}}) {
    SCOPED_TRACE(::testing::Message() << c.format << " " << c.w << "x" << c.h);
    DdsHeader h = BuildDdsHeader(c.format, static_cast<int32_t>(c.total), c.w, c.h, 1);
    EXPECT_EQ(Le32(h.bytes, 20), c.linear);
    EXPECT_EQ(h.mip_map_count, c.levels);
    if (c.format >= 35) continue;  // ATC is written as stored, not flipped
    // The flip walks the same levels: all of them fit, and not one more.
    Bytes image(c.total, 0x5A);
    std::vector<uint8_t> out;
    EXPECT_NO_THROW(
        WriteImageFlipped(out, image.data(), image.size(), c.w, c.h, c.format, h.Levels(), 1));
    EXPECT_THROW(
        WriteImageFlipped(out, image.data(), image.size(), c.w, c.h, c.format, h.Levels() + 1, 1),
        Error);
  }
}

TEST(DdsHeader, SingleLevelAndPixelFormats) {
  // A layout-2 mip count of 1 counts the levels, and one level fills the image.
  DdsHeader one = BuildDdsHeader(4, 64, 4, 4, 1);
  EXPECT_EQ(one.mip_map_count, 0u);
  EXPECT_EQ(Le32(one.bytes, 8), 0x81007u);
  EXPECT_EQ(Le32(one.bytes, 108), 0x1000u);
  EXPECT_EQ(Le32(one.bytes, 28), 0u);
  EXPECT_EQ(Le32(one.bytes, 92), 0xFF0000u);

  DdsHeader atc = BuildDdsHeader(36, 16, 4, 4, 0);
  EXPECT_EQ(Le32(atc.bytes, 80), 0x5u);
  EXPECT_EQ(Le32(atc.bytes, 84), 0x41435441u);  // "ATCA"

  // ARGB4444 words are A4R4G4B4 as stored, the masks of R4G4B4A4 after its rotation.
  for (int32_t code : {2, 13}) {
    DdsHeader argb = BuildDdsHeader(code, 32, 4, 4, 0);
    EXPECT_EQ(Le32(argb.bytes, 88), 16u);
    EXPECT_EQ(Le32(argb.bytes, 92), 0x0F00u);
    EXPECT_EQ(Le32(argb.bytes, 100), 0x000Fu);
    EXPECT_EQ(Le32(argb.bytes, 104), 0xF000u);
  }

  DdsHeader unknown = BuildDdsHeader(60, 16, 2, 2, 0);
  EXPECT_EQ(unknown.bytes_per_pixel, 4);
  EXPECT_EQ(Le32(unknown.bytes, 20), 16u);
  EXPECT_EQ(RoundSize(5.5), 6u);  // half to even
  EXPECT_EQ(RoundSize(4.5), 4u);
}

// Found by fuzz_texture (tests/data/fuzz/fuzz_texture): a width and height of -2^31 make a
// 2^64-byte level, which no longer converted to a 64-bit size.
TEST(DdsHeader, SizesPastSixtyFourBitsSaturate) {
  EXPECT_EQ(RoundSize(18446744073709551616.0), UINT64_MAX);
  EXPECT_EQ(RoundSize(1e300), UINT64_MAX);
  EXPECT_EQ(RoundSize(std::numeric_limits<double>::infinity()), UINT64_MAX);
  EXPECT_EQ(RoundSize(std::numeric_limits<double>::quiet_NaN()), 0u);
  EXPECT_EQ(RoundSize(9007199254740992.0), 9007199254740992u);
  DdsHeader huge = BuildDdsHeader(4, 64, INT32_MIN, INT32_MIN, 1);
  EXPECT_EQ(Le32(huge.bytes, 20), 0xFFFFFFFFu);
  EXPECT_EQ(huge.mip_map_count, 0u);
  std::vector<uint8_t> out;
  const uint8_t image[64] = {};
  EXPECT_THROW(WriteImageFlipped(out, image, sizeof image, INT32_MAX, INT32_MAX, 10, 1, 8.0),
               Error);
}

TEST(PixelConversion, SwapsRotatesAndReverses) {
  Bytes rgb = {1, 2, 3, 4, 5, 6, 7};
  ConvertPixels(3, rgb.data(), rgb.size());
  EXPECT_EQ(rgb, (Bytes{3, 2, 1, 6, 5, 4, 7}));  // the partial unit stays
  Bytes rgba = {1, 2, 3, 4};
  ConvertPixels(4, rgba.data(), rgba.size());
  EXPECT_EQ(rgba, (Bytes{3, 2, 1, 4}));
  Bytes argb = {1, 2, 3, 4};
  ConvertPixels(5, argb.data(), argb.size());
  EXPECT_EQ(argb, (Bytes{4, 3, 2, 1}));
  Bytes r4g4b4a4 = {0x34, 0x12, 0xCD, 0xAB, 0x99};  // words 0x1234, 0xABCD
  ConvertPixels(13, r4g4b4a4.data(), r4g4b4a4.size());
  EXPECT_EQ(r4g4b4a4, (Bytes{0x23, 0x41, 0xBC, 0xDA, 0x99}));
  for (int32_t code : {2, 14}) {
    Bytes same = {1, 2, 3, 4};
    ConvertPixels(code, same.data(), same.size());
    EXPECT_EQ(same, (Bytes{1, 2, 3, 4})) << code;
  }
}

TEST(DxtFlip, BlocksTurnOverAndBackAgain) {
  uint8_t dxt1[8] = {1, 2, 3, 4, 0xA0, 0xB1, 0xC2, 0xD3};
  FlipDxt1Block(dxt1);
  EXPECT_EQ(Bytes(dxt1, dxt1 + 8), (Bytes{1, 2, 3, 4, 0xD3, 0xC2, 0xB1, 0xA0}));

  uint8_t dxt3[16] = {0x10, 0x11, 0x20, 0x21, 0x30, 0x31, 0x40, 0x41, 8, 9, 10, 11, 12, 13, 14, 15};
  FlipDxt3Block(dxt3);
  EXPECT_EQ(Bytes(dxt3, dxt3 + 16),
            (Bytes{0x40, 0x41, 0x30, 0x31, 0x20, 0x21, 0x10, 0x11, 8, 9, 10, 11, 15, 14, 13, 12}));

  // DXT5 alpha indices: rows of 12 bits 0x321, 0x654, 0x987, 0xCBA become 0xCBA, 0x987, ...
  uint8_t dxt5[16] = {0xFF, 0x00, 0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB, 8, 9, 10, 11, 12, 13, 14, 15};
  FlipDxt5Block(dxt5);
  EXPECT_EQ(Bytes(dxt5, dxt5 + 8), (Bytes{0xFF, 0x00, 0xBA, 0x7C, 0x98, 0x54, 0x16, 0x32}));
  EXPECT_EQ(Bytes(dxt5 + 12, dxt5 + 16), (Bytes{15, 14, 13, 12}));
}

TEST(DxtFlip, FlippingAnImageTwiceGivesItBack) {
  struct Case {
    int32_t format;
    int w, h, levels;
    double bpp;
  };
  // Partial blocks (768x169, 10x6, 3x3) flip as whole ones and come back all the same.
  for (Case c : {Case{10, 16, 8, 5, 0.5}, Case{11, 8, 8, 4, 1}, Case{12, 32, 32, 6, 1},
                 Case{12, 768, 169, 10, 1}, Case{10, 10, 6, 4, 0.5}, Case{11, 3, 3, 2, 1},
                 Case{4, 8, 4, 4, 4}, Case{3, 5, 3, 2, 3}}) {
    SCOPED_TRACE(c.format);
    Bytes image;
    for (int i = 0; i < 200000; ++i) image.push_back(static_cast<uint8_t>(i * 7 + i / 13));
    image.resize(c.format >= 10 ? testing::DxtChainSize(c.format, c.w, c.h, c.levels) + 5 : 200);
    Bytes once, twice;
    WriteImageFlipped(once, image.data(), image.size(), c.w, c.h, c.format, c.levels, c.bpp);
    ASSERT_EQ(once.size(), image.size());
    EXPECT_NE(once, image);
    WriteImageFlipped(twice, once.data(), once.size(), c.w, c.h, c.format, c.levels, c.bpp);
    EXPECT_EQ(twice, image);
  }
}

TEST(DxtFlip, RowsOfPlainPixelsComeBottomUp) {
  Bytes image = {1, 2, 3, 4, 5, 6, 9};  // 2x3 Alpha8, one spare byte
  Bytes out;
  WriteImageFlipped(out, image.data(), image.size(), 2, 3, 1, 1, 1);
  EXPECT_EQ(out, (Bytes{5, 6, 3, 4, 1, 2, 9}));
}

TEST(DxtFlip, LevelsPastTheImageAreAnError) {
  Bytes image(32768 + 8192, 0);  // two levels of a 256x256 DXT1, asked for nine
  Bytes out;
  EXPECT_THROW(WriteImageFlipped(out, image.data(), image.size(), 256, 256, 10, 9, 0.5), Error);
  Bytes rgba(64, 0);
  EXPECT_THROW(WriteImageFlipped(out, rgba.data(), rgba.size(), 4, 8, 4, 1, 4), Error);
  // An absurd level count ends once the levels shrink to nothing.
  out.clear();
  WriteImageFlipped(out, rgba.data(), rgba.size(), 2, 2, 4, 0x7FFFFFFF, 4);
  EXPECT_EQ(out.size(), rgba.size());
}

}  // namespace
}  // namespace kestrix
