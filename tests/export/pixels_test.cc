// Texture pictures: every decoder against pixels the test knows, the top row first.
#include "export/pixels.h"

#include <ETC1/etc1.h>
#if KESTRIX_HAVE_ASTC
#include <astcenc.h>
#endif
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "core/error.h"
#include "support/image_tools.h"
#include "support/test_env.h"
#include "support/texture_payloads.h"
#include "types/type_info.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::Rgba;

// Channels of 0 and 255 only, so that every plain format holds them exactly; the stored row y
// (bottom first) is what the picture shows at row h - 1 - y.
Rgba Pattern(int x, int y, int) {
  return {static_cast<uint8_t>(x & 1 ? 255 : 0), static_cast<uint8_t>(y & 1 ? 255 : 0),
          static_cast<uint8_t>((x + y) % 3 ? 255 : 0), static_cast<uint8_t>(x % 3 ? 255 : 0)};
}

void ExpectPicture(const RgbaImage& image, int w, int h, const std::function<Rgba(int, int)>& want,
                   bool alpha = true, int tolerance = 0) {
  ASSERT_EQ(image.width, w);
  ASSERT_EQ(image.height, h);
  ASSERT_EQ(image.pixels.size(), static_cast<size_t>(w * h * 4));
  int wrong = 0;
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &image.pixels[(row * w + x) * 4];
      const Rgba c = want(x, h - 1 - row);
      const int got[4] = {p[0], p[1], p[2], p[3]}, exp[4] = {c.r, c.g, c.b, c.a};
      for (int k = 0; k < (alpha ? 4 : 3); ++k)
        if (std::abs(got[k] - exp[k]) > tolerance && ++wrong < 5)
          ADD_FAILURE() << "pixel " << x << "," << row << " channel " << k << ": " << got[k]
                        << " != " << exp[k];
    }
}

TEST(Pixels, PlainFormatsDecodeExactlyTopRowFirst) {
  struct Case {
    int32_t format;
    std::function<Rgba(Rgba)> shown;  // what the format keeps of a colour
  };
  auto opaque = [](Rgba c) { return Rgba{c.r, c.g, c.b, 255}; };
  const Case cases[] = {
      {1,
       [](Rgba c) {
         return Rgba{255, 255, 255, c.a};
       }},
      {2, [](Rgba c) { return c; }},
      {3, opaque},
      {4, [](Rgba c) { return c; }},
      {5, [](Rgba c) { return c; }},
      {7, opaque},
      {13, [](Rgba c) { return c; }},
      {14, [](Rgba c) { return c; }},
      {37, [](Rgba c) { return c; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("format " + std::to_string(c.format));
    const int w = 7, h = 5;  // odd sizes: rows are not padded
    const Bytes data = testing::EncodePixels(c.format, w, h, 1, Pattern);
    ASSERT_EQ(data.size(), PictureLevelBytes(c.format, w, h));
    ExpectPicture(DecodeTextureLevel(c.format, data.data(), data.size(), w, h), w, h,
                  [&](int x, int y) { return c.shown(Pattern(x, y, 0)); });
  }
}

TEST(Pixels, WideChannelsAndFloatsScaleAndClamp) {
  // One pixel each: the stored bytes and the colour they show.
  struct Case {
    int32_t format;
    Bytes data;
    Rgba want;
  };
  auto f32 = [](float v) {
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
  };
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const Case cases[] = {
      {9, {0x80, 0x80}, {128, 128, 128, 255}},  // R16, shown grey
      {texture_format::kR8, {200}, {200, 0, 0, 255}},
      {texture_format::kRG16, {10, 20}, {10, 20, 0, 255}},
      {15, {0x00, 0x38}, {128, 0, 0, 255}},                                       // half 0.5
      {16, {0x00, 0x3C, 0x00, 0xC0}, {255, 0, 0, 255}},                           // 1.0, -2.0
      {17, {0x00, 0x7C, 0x00, 0x00, 0x00, 0x34, 0x00, 0x3C}, {255, 0, 64, 255}},  // inf, 0, .25
      {18, f32(0.2f), {51, 0, 0, 255}},
      {19, cat({f32(2.f), f32(0.6f)}), {255, 153, 0, 255}},
      {20, cat({f32(0.f), f32(1.f), f32(NAN), f32(0.5f)}), {0, 255, 0, 128}},
      {texture_format::kRGBA64, {0, 0, 0xFF, 0xFF, 0x80, 0x80, 0xFF, 0xFF}, {0, 255, 128, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("format " + std::to_string(c.format));
    RgbaImage image = DecodeTextureLevel(c.format, c.data.data(), c.data.size(), 1, 1);
    ExpectPicture(image, 1, 1, [&](int, int) { return c.want; });
  }
}

TEST(Pixels, DxtBlocksDecodeWithPartialBlocksCut) {
  // Two colours per block come out exact from the builder's encoder; 6x5 leaves partial blocks
  // on the right and at the top of the picture.
  auto two = [](int x, int y, int) {
    return (x + y) % 2 ? Rgba{255, 0, 0, 255}
                       : Rgba{0, 0, 255, static_cast<uint8_t>(y > 2 ? 0 : 255)};
  };
  for (int32_t format : {10, 11, 12}) {
    SCOPED_TRACE("format " + std::to_string(format));
    const Bytes data = testing::EncodeDxt(format, 6, 5, 1, two);
    ASSERT_EQ(data.size(), PictureLevelBytes(format, 6, 5));
    // DXT1 keeps no alpha from the builder's blocks.
    ExpectPicture(
        DecodeTextureLevel(format, data.data(), data.size(), 6, 5), 6, 5,
        [&](int x, int y) { return two(x, y, 0); }, format != 10);
  }
}

// A smooth picture encoded by libetc1, in stored order.
Bytes EtcEncoded(int w, int h, Bytes* rgb_out) {
  Bytes rgb(static_cast<size_t>(w * h * 3));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(y * w + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / w), p[1] = static_cast<uint8_t>(y * 255 / h),
      p[2] = static_cast<uint8_t>((x * y) % 256);
    }
  Bytes data(etc1_get_encoded_data_size(w, h));
  EXPECT_EQ(etc1_encode_image(rgb.data(), w, h, 3, w * 3, data.data()), 0);
  if (rgb_out) *rgb_out = rgb;
  return data;
}

TEST(Pixels, EtcDecodesLikeLibEtc1AndEtc2ReadsEtc1Blocks) {
  const int w = 16, h = 12;
  Bytes source;
  const Bytes data = EtcEncoded(w, h, &source);
  Bytes reference(static_cast<size_t>(w * h * 3));
  ASSERT_EQ(etc1_decode_image(data.data(), reference.data(), w, h, 3, w * 3), 0);
  auto want = [&](int x, int y) {
    const uint8_t* p = &reference[(y * w + x) * 3];
    return Rgba{p[0], p[1], p[2], 255};
  };
  // ETC2 RGB is a superset of ETC1, and the RGBA8 format puts an alpha block before each one.
  ExpectPicture(DecodeTextureLevel(34, data.data(), data.size(), w, h), w, h, want);
  ExpectPicture(DecodeTextureLevel(45, data.data(), data.size(), w, h), w, h, want);
  // Against the source, within the codec's error.
  ExpectPicture(
      DecodeTextureLevel(34, data.data(), data.size(), w, h), w, h,
      [&](int x, int y) {
        const uint8_t* p = &source[(y * w + x) * 3];
        return Rgba{p[0], p[1], p[2], 255};
      },
      false, 40);
  Bytes rgba8;
  for (size_t b = 0; b < data.size(); b += 8) {
    // Alpha block: base 100, multiplier 1, table 13, every index 7 (modifier 9): alpha 109.
    const uint8_t alpha[8] = {100, 0x1D, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    rgba8.insert(rgba8.end(), alpha, alpha + 8);
    rgba8.insert(rgba8.end(), data.begin() + b, data.begin() + b + 8);
  }
  ExpectPicture(DecodeTextureLevel(47, rgba8.data(), rgba8.size(), w, h), w, h, [&](int x, int y) {
    Rgba c = want(x, y);
    c.a = 109;
    return c;
  });
}

// Sets bits [high..low] of a 64-bit block word.
void SetBits(uint64_t& v, int high, int low, uint64_t value) {
  const uint64_t mask = ((uint64_t{1} << (high - low + 1)) - 1) << low;
  v = (v & ~mask) | (value << low & mask);
}

Bytes BigEndian(uint64_t v) {
  Bytes b(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
  return b;
}

TEST(Pixels, Etc2ModesAndEacBlocksByHand) {
  struct Case {
    const char* what;
    int32_t format;
    Bytes block;
    std::function<Rgba(int, int)> want;  // x, stored row
  };
  // T mode: the red field overflows (R 31, dR +1 through the free bits 63..61 and 58).
  uint64_t t = 0;
  // Red field 0b11110 (30) with delta 0b011 (+3) leaves 0..31.
  SetBits(t, 63, 61, 7), SetBits(t, 58, 58, 0);
  SetBits(t, 60, 59, 0b10), SetBits(t, 57, 56, 0b11);  // c1 red 0b1011 = 11 -> 187
  SetBits(t, 55, 52, 0), SetBits(t, 51, 48, 0xF);      // c1 = (187, 0, 255)
  SetBits(t, 47, 44, 0x8), SetBits(t, 43, 40, 0x8), SetBits(t, 39, 36, 0x8);  // c2 = 136 grey
  SetBits(t, 35, 34, 0b01), SetBits(t, 33, 33, 1), SetBits(t, 32, 32, 0);     // distance 2 -> 11
  // Pixel index: column 0 paint 0, column 1 paint 1, column 2 paint 2, column 3 paint 3.
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) {
      const int i = x * 4 + y;
      SetBits(t, i + 16, i + 16, x >> 1), SetBits(t, i, i, x & 1);
    }
  const Rgba t_paint[4] = {
      {187, 0, 255, 255}, {147, 147, 147, 255}, {136, 136, 136, 255}, {125, 125, 125, 255}};
  // Planar: blue overflows; origin, horizontal and vertical colours set so that red grows to
  // the right and green upwards in stored rows.
  uint64_t p = 0;
  SetBits(p, 33, 33, 1);
  SetBits(p, 62, 57, 0);                                                // RO 0
  SetBits(p, 56, 56, 0), SetBits(p, 54, 49, 0);                         // GO 0
  SetBits(p, 48, 48, 0), SetBits(p, 44, 43, 0), SetBits(p, 41, 39, 0);  // BO 0
  SetBits(p, 38, 34, 0b11111), SetBits(p, 32, 32, 1);                   // RH 63 -> 255
  SetBits(p, 31, 25, 0), SetBits(p, 24, 19, 0);
  SetBits(p, 18, 13, 0), SetBits(p, 12, 6, 0x7F), SetBits(p, 5, 0, 0);  // GV 127 -> 255
  // Red 0 + 0 and green 0 + 0 stay in range; blue 0 with delta 0b100 (-4) leaves it.
  SetBits(p, 47, 45, 0), SetBits(p, 42, 42, 1), SetBits(p, 63, 63, 0), SetBits(p, 55, 55, 0);
  // EAC R11: base 128, multiplier 2, table 0, every index 4 (+2): 128*8 + 4 + 2*2*8 = 1060.
  uint64_t eac = 0;
  SetBits(eac, 63, 56, 128), SetBits(eac, 55, 52, 2), SetBits(eac, 51, 48, 0);
  for (int i = 0; i < 16; ++i) SetBits(eac, 47 - 3 * i, 45 - 3 * i, 4);
  const uint8_t eac8 = static_cast<uint8_t>((1060 * 255 + 1023) / 2047);
  // Punch-through with the opaque bit clear: index 2 is transparent black.
  uint64_t pt = 0;
  SetBits(pt, 63, 59, 16), SetBits(pt, 55, 51, 16), SetBits(pt, 47, 43, 16);  // 132 grey, dX 0
  for (int y = 0; y < 4; ++y) SetBits(pt, y + 16, y + 16, 1);                 // column 0: index 2
  const Case cases[] = {
      {"T mode", 45, BigEndian(t), [&](int x, int) { return t_paint[x]; }},
      {"planar", 45, BigEndian(p),
       [](int x, int y) {
         return Rgba{static_cast<uint8_t>((x * 255 + 2) >> 2),
                     static_cast<uint8_t>((y * 255 + 2) >> 2), 0, 255};
       }},
      {"EAC R11", 41, BigEndian(eac),
       [&](int, int) {
         return Rgba{eac8, 0, 0, 255};
       }},
      {"EAC RG11", 43,
       [&] {
         Bytes b = BigEndian(eac), g = BigEndian(eac);
         b.insert(b.end(), g.begin(), g.end());
         return b;
       }(),
       [&](int, int) {
         return Rgba{eac8, eac8, 0, 255};
       }},
      {"punch-through", 46, BigEndian(pt),
       [](int x, int) {
         return x == 0 ? Rgba{0, 0, 0, 0} : Rgba{132, 132, 132, 255};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectPicture(DecodeTextureLevel(c.format, c.block.data(), c.block.size(), 4, 4), 4, 4, c.want);
  }
}

TEST(Pixels, Bc4AndBc5ChannelsByHand) {
  // End points 200 and 100 (eight steps), indexes 0, 1, 2, 7 along each row.
  Bytes bc4 = {200, 100};
  uint64_t bits = 0;
  const int idx[4] = {0, 1, 2, 7};
  for (int p = 0; p < 16; ++p) bits |= uint64_t(idx[p % 4]) << (3 * p);
  for (int i = 0; i < 6; ++i) bc4.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  const uint8_t values[4] = {200, 100, (6 * 200 + 100) / 7, (200 + 6 * 100) / 7};
  ExpectPicture(DecodeTextureLevel(texture_format::kBC4, bc4.data(), bc4.size(), 4, 4), 4, 4,
                [&](int x, int) {
                  return Rgba{values[x], 0, 0, 255};
                });
  Bytes bc5 = bc4;
  const Bytes flat = {10, 20, 0, 0, 0, 0, 0, 0};  // a <= b: six values, index 0 is 10
  bc5.insert(bc5.end(), flat.begin(), flat.end());
  ExpectPicture(DecodeTextureLevel(texture_format::kBC5, bc5.data(), bc5.size(), 4, 4), 4, 4,
                [&](int x, int) {
                  return Rgba{values[x], 10, 0, 255};
                });
}

// BC7 and BC6H against Pillow's decoder (a reader of DX10 DDS files), on random blocks of every
// mode: every bit pattern past the mode bits is a block.
TEST(Pixels, BptcMatchesAnIndependentDecoderInEveryMode) {
  int status = -1;
  testing::CaptureCommand("/usr/bin/python3 -c 'import PIL.Image'", &status);
  if (status != 0) GTEST_SKIP() << "Pillow is not installed";
  struct Case {
    int32_t format;
    uint32_t dxgi;
    std::vector<int> modes;  // the low bits of byte 0
    int mode_bits;           // how many of them
    int tolerance;
  };
  const Case cases[] = {
      {texture_format::kBC7, 98, {1, 2, 4, 8, 16, 32, 64, 128}, 8, 0},
      // Pillow interpolates BC6H end points without the rounding term of the BPTC description
      // (+32 before the shift), which moves a few clipped values by one step.
      {texture_format::kBC6H, 95, {0, 1, 2, 6, 10, 14, 18, 22, 26, 30, 3, 7, 11, 15}, 5, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("format " + std::to_string(c.format));
    const int w = 32, h = 32;  // 64 blocks, each mode four times or more
    Bytes data(static_cast<size_t>(w / 4 * h / 4 * 16));
    uint32_t seed = 12345;
    for (size_t i = 0; i < data.size(); ++i) {
      seed = seed * 1103515245 + 12345;
      data[i] = static_cast<uint8_t>(seed >> 16);
    }
    for (size_t block = 0; block * 16 < data.size(); ++block) {
      const int mode = c.modes[block % c.modes.size()];
      const int keep = c.format == texture_format::kBC6H && mode < 2 ? 2 : c.mode_bits;
      uint8_t& low = data[block * 16];
      if (c.format == texture_format::kBC7) {
        low = static_cast<uint8_t>((low & ~(2 * mode - 1)) | mode);
      } else {
        low = static_cast<uint8_t>((low & ~((1 << keep) - 1)) | mode);
      }
    }
    testing::ByteWriter dds;
    dds.Text("DDS ").U32(124).U32(0x1007).U32(h).U32(w).U32(static_cast<uint32_t>(data.size()));
    dds.U32(0).U32(1).Zeros(44).U32(32).U32(4).Text("DX10").Zeros(20).U32(0x1000).Zeros(16);
    dds.U32(c.dxgi).U32(3).U32(0).U32(1).U32(0);
    Bytes file = dds.Data();
    file.insert(file.end(), data.begin(), data.end());
    testing::TempDir dir;
    testing::WriteFileBytes(dir.File("bptc.dds"), file);
    const std::string pillow = testing::CaptureCommand(
        "/usr/bin/python3 -c 'import sys, PIL.Image; "
        "sys.stdout.buffer.write(PIL.Image.open(sys.argv[1]).convert(\"RGBA\").tobytes())' " +
        dir.File("bptc.dds"));
    ASSERT_EQ(pillow.size(), static_cast<size_t>(w * h * 4));
    RgbaImage image = DecodeTextureLevel(c.format, data.data(), data.size(), w, h);
    FlipRows(image);  // back to the stored order, which the DDS file shows first row first
    int wrong = 0;
    for (size_t i = 0; i < pillow.size(); ++i)
      if (std::abs(static_cast<uint8_t>(pillow[i]) - image.pixels[i]) > c.tolerance &&
          ++wrong < 6) {
        const size_t block = (i / 4 / w / 4) * (w / 4) + i / 4 % w / 4;
        ADD_FAILURE() << "byte " << i << " (mode " << c.modes[block % c.modes.size()]
                      << "): " << int(image.pixels[i])
                      << " != " << int(static_cast<uint8_t>(pillow[i]));
      }
    EXPECT_EQ(wrong, 0);
  }
}

// A mode 1 block of partition 0 (two columns each side) with a red and a blue subset: the
// partition's orientation and the order of the stored end points.
TEST(Pixels, Bc7PartitionsByHand) {
  uint8_t block[16] = {};
  int pos = 0;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i, ++pos)
      block[pos / 8] |= static_cast<uint8_t>((v >> i & 1) << (pos % 8));
  };
  put(0b10, 2);  // mode 1
  put(0, 6);     // partition 0
  const uint32_t red[4] = {63, 63, 0, 0}, green[4] = {0, 0, 0, 0}, blue[4] = {0, 0, 63, 63};
  for (const uint32_t* channel : {red, green, blue})
    for (int e = 0; e < 4; ++e) put(channel[e], 6);  // subset 0 ends, then subset 1 ends
  put(1, 1), put(1, 1);  // shared p-bits: 6 bits and the p-bit make 7, 0 becomes 2
  // Indexes all 0 (the anchors have one bit less): 16 x 3 - 2 bits.
  put(0, 46);
  ASSERT_EQ(pos, 128);
  RgbaImage image = DecodeTextureLevel(texture_format::kBC7, block, 16, 4, 4);
  ExpectPicture(image, 4, 4, [](int x, int) {
    return x < 2 ? Rgba{255, 2, 2, 255} : Rgba{2, 2, 255, 255};
  });
}

#if KESTRIX_HAVE_ASTC
TEST(Pixels, AstcRoundTripsThroughItsLibraryForEveryBlockSize) {
  const int w = 13, h = 11;  // partial blocks for every size
  Bytes rgba(static_cast<size_t>(w * h * 4));
  for (size_t i = 0; i < rgba.size(); i += 4)
    rgba[i] = 40, rgba[i + 1] = 160, rgba[i + 2] = 220, rgba[i + 3] = 255;
  for (int32_t format = 48; format <= 59; ++format) {
    SCOPED_TRACE("format " + std::to_string(format));
    int bw = 0, bh = 0;
    AstcBlockSize(format, &bw, &bh);
    astcenc_config config;
    ASSERT_EQ(astcenc_config_init(ASTCENC_PRF_LDR, bw, bh, 1, ASTCENC_PRE_FASTEST, 0, &config),
              ASTCENC_SUCCESS);
    astcenc_context* context = nullptr;
    ASSERT_EQ(astcenc_context_alloc(&config, 1, &context), ASTCENC_SUCCESS);
    void* slices[1] = {rgba.data()};
    astcenc_image image{w, h, 1, ASTCENC_TYPE_U8, slices};
    const astcenc_swizzle swizzle{ASTCENC_SWZ_R, ASTCENC_SWZ_G, ASTCENC_SWZ_B, ASTCENC_SWZ_A};
    Bytes data(PictureLevelBytes(format, w, h));
    ASSERT_EQ(astcenc_compress_image(context, &image, &swizzle, data.data(), data.size(), 0),
              ASTCENC_SUCCESS);
    astcenc_context_free(context);
    // One colour is a constant block: exact.
    ExpectPicture(
        DecodeTextureLevel(format, data.data(), data.size(), w, h), w, h,
        [](int, int) {
          return Rgba{40, 160, 220, 255};
        },
        true, 1);
  }
}
#else
TEST(Pixels, AstcIsRefusedNamingTheMissingLibrary) {
  const Bytes data(16 * 16, 0);
  for (int32_t format : {48, 59}) {
    try {
      DecodeTextureLevel(format, data.data(), data.size(), 16, 16);
      ADD_FAILURE() << "decoded format " << format;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("libastcenc"), std::string::npos) << e.what();
    }
  }
}
#endif

TEST(Pixels, UndecodableFormatsAndShortDataAreRefused) {
  for (int32_t format : {28, 29, 64, 30, 35, 60, 66, 21, 99}) {
    SCOPED_TRACE("format " + std::to_string(format));
    EXPECT_NE(PictureRefusal(format).find("cannot be shown as a picture"), std::string::npos);
    const Bytes data(4096, 0);
    try {
      DecodeTextureLevel(format, data.data(), data.size(), 4, 4);
      ADD_FAILURE() << "decoded";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::kNotSupported);
    }
  }
  // The console formats of engines before 5.5 share codes with BC4/BC5.
  EXPECT_EQ(PictureRefusal(texture_format::kBC4, ParseEngineVersion("5.5.0f3")), "");
  EXPECT_NE(PictureRefusal(texture_format::kBC4, ParseEngineVersion("5.4.1f1")), "");
  const Bytes short_data(15, 0);
  for (auto [format, w, h] : {std::tuple{12, 4, 4}, {4, 2, 2}, {48, 5, 5}}) {
    EXPECT_THROW(DecodeTextureLevel(format, short_data.data(), short_data.size(), w, h), Error);
  }
  EXPECT_THROW(DecodeTextureLevel(4, short_data.data(), short_data.size(), 0, 4), Error);
  EXPECT_THROW(DecodeTextureLevel(4, short_data.data(), short_data.size(), 1 << 20, 1 << 20),
               Error);
}

}  // namespace
}  // namespace kestrix
