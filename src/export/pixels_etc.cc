// ETC1 through android-libetc1; ETC2 RGB, punch-through and RGBA8 and EAC R11/RG11 here, after
// the Khronos description of the block formats. Blocks are 64-bit big-endian words; pixel
// indexes run down the columns (index x * 4 + y).
#include <ETC1/etc1.h>

#include <algorithm>

#include "export/pixels.h"

namespace kestrix {

namespace {

uint64_t Be64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}

uint32_t Bits(uint64_t v, int high, int low) {
  return static_cast<uint32_t>((v >> low) & ((uint64_t{1} << (high - low + 1)) - 1));
}

uint8_t Clamp255(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
int Extend4(uint32_t v) { return static_cast<int>(v * 17); }
int Extend5(uint32_t v) { return static_cast<int>(v << 3 | v >> 2); }
int Extend6(uint32_t v) { return static_cast<int>(v << 2 | v >> 4); }
int Extend7(uint32_t v) { return static_cast<int>(v << 1 | v >> 6); }

constexpr int kEtcModifiers[8][2] = {{2, 8},   {5, 17},  {9, 29},   {13, 42},
                                     {18, 60}, {24, 80}, {33, 106}, {47, 183}};
constexpr int kEtcDistances[8] = {3, 6, 11, 16, 23, 32, 41, 64};
constexpr int kEacModifiers[16][8] = {
    {-3, -6, -9, -15, 2, 5, 8, 14}, {-3, -7, -10, -13, 2, 6, 9, 12}, {-2, -5, -8, -13, 1, 4, 7, 12},
    {-2, -4, -6, -13, 1, 3, 5, 12}, {-3, -6, -8, -12, 2, 5, 7, 11},  {-3, -7, -9, -11, 2, 6, 8, 10},
    {-4, -7, -8, -11, 3, 6, 7, 10}, {-3, -5, -8, -11, 2, 4, 7, 10},  {-2, -6, -8, -10, 1, 5, 7, 9},
    {-2, -5, -8, -10, 1, 4, 7, 9},  {-2, -4, -8, -10, 1, 3, 7, 9},   {-2, -5, -7, -10, 1, 4, 6, 9},
    {-3, -4, -7, -10, 2, 3, 6, 9},  {-1, -2, -3, -10, 0, 1, 2, 9},   {-4, -6, -8, -9, 3, 5, 7, 8},
    {-3, -5, -7, -9, 2, 4, 6, 8}};

// The 2-bit index of pixel (x, y): its high bit in bits 31..16, its low bit in bits 15..0.
int PixelIndex(uint64_t v, int x, int y) {
  const int i = x * 4 + y;
  return static_cast<int>((v >> (i + 16) & 1) << 1 | (v >> i & 1));
}

struct Rgb {
  int r, g, b;
};

void Put(uint8_t* out, int x, int y, Rgb c, uint8_t a = 255) {
  uint8_t* p = out + (y * 4 + x) * 4;
  p[0] = Clamp255(c.r), p[1] = Clamp255(c.g), p[2] = Clamp255(c.b), p[3] = a;
}

// The pixels of a T or H mode block from its four paint colours; without the opaque bit, index
// 2 is transparent black.
void PaintTH(uint8_t* out, uint64_t v, const Rgb paint[4], bool opaque) {
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) {
      const int i = PixelIndex(v, x, y);
      if (!opaque && i == 2)
        Put(out, x, y, {0, 0, 0}, 0);
      else
        Put(out, x, y, paint[i]);
    }
}

// An ETC2 colour block. `punch_through`: the differential bit is the opaque bit, and when it is
// clear index 2 is transparent black (and in the two ETC1 modes index 0 keeps the base colour).
void DecodeEtc2Colour(const uint8_t* block, uint8_t* out, bool punch_through) {
  const uint64_t v = Be64(block);
  const bool diff = punch_through || Bits(v, 33, 33);
  const bool opaque = !punch_through || Bits(v, 33, 33);
  const bool flip = Bits(v, 32, 32);
  Rgb base[2];
  if (!diff) {
    base[0] = {Extend4(Bits(v, 63, 60)), Extend4(Bits(v, 55, 52)), Extend4(Bits(v, 47, 44))};
    base[1] = {Extend4(Bits(v, 59, 56)), Extend4(Bits(v, 51, 48)), Extend4(Bits(v, 43, 40))};
  } else {
    const int r = static_cast<int>(Bits(v, 63, 59)), g = static_cast<int>(Bits(v, 55, 51)),
              b = static_cast<int>(Bits(v, 47, 43));
    auto delta = [](uint32_t d) { return static_cast<int>(d) - (d & 4 ? 8 : 0); };
    const int r2 = r + delta(Bits(v, 58, 56)), g2 = g + delta(Bits(v, 50, 48)),
              b2 = b + delta(Bits(v, 42, 40));
    if (r2 < 0 || r2 > 31) {  // T mode
      const Rgb c1{Extend4(Bits(v, 60, 59) << 2 | Bits(v, 57, 56)), Extend4(Bits(v, 55, 52)),
                   Extend4(Bits(v, 51, 48))};
      const Rgb c2{Extend4(Bits(v, 47, 44)), Extend4(Bits(v, 43, 40)), Extend4(Bits(v, 39, 36))};
      const int d = kEtcDistances[Bits(v, 35, 34) << 1 | Bits(v, 32, 32)];
      const Rgb paint[4] = {c1, {c2.r + d, c2.g + d, c2.b + d}, c2, {c2.r - d, c2.g - d, c2.b - d}};
      PaintTH(out, v, paint, opaque);
      return;
    }
    if (g2 < 0 || g2 > 31) {  // H mode
      const uint32_t r1 = Bits(v, 62, 59), g1 = Bits(v, 58, 56) << 1 | Bits(v, 52, 52),
                     b1 = Bits(v, 51, 51) << 3 | Bits(v, 49, 47);
      const uint32_t r2h = Bits(v, 46, 43), g2h = Bits(v, 42, 39), b2h = Bits(v, 38, 35);
      const uint32_t first = r1 << 8 | g1 << 4 | b1, second = r2h << 8 | g2h << 4 | b2h;
      const int d =
          kEtcDistances[Bits(v, 34, 34) << 2 | Bits(v, 32, 32) << 1 | (first >= second ? 1 : 0)];
      const Rgb c1{Extend4(r1), Extend4(g1), Extend4(b1)};
      const Rgb c2{Extend4(r2h), Extend4(g2h), Extend4(b2h)};
      const Rgb paint[4] = {{c1.r + d, c1.g + d, c1.b + d},
                            {c1.r - d, c1.g - d, c1.b - d},
                            {c2.r + d, c2.g + d, c2.b + d},
                            {c2.r - d, c2.g - d, c2.b - d}};
      PaintTH(out, v, paint, opaque);
      return;
    }
    if (b2 < 0 || b2 > 31) {  // planar mode
      const int ro = Extend6(Bits(v, 62, 57)), go = Extend7(Bits(v, 56, 56) << 6 | Bits(v, 54, 49)),
                bo = Extend6(Bits(v, 48, 48) << 5 | Bits(v, 44, 43) << 3 | Bits(v, 41, 39));
      const int rh = Extend6(Bits(v, 38, 34) << 1 | Bits(v, 32, 32)), gh = Extend7(Bits(v, 31, 25)),
                bh = Extend6(Bits(v, 24, 19));
      const int rv = Extend6(Bits(v, 18, 13)), gv = Extend7(Bits(v, 12, 6)),
                bv = Extend6(Bits(v, 5, 0));
      for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
          Put(out, x, y,
              {(x * (rh - ro) + y * (rv - ro) + 4 * ro + 2) >> 2,
               (x * (gh - go) + y * (gv - go) + 4 * go + 2) >> 2,
               (x * (bh - bo) + y * (bv - bo) + 4 * bo + 2) >> 2});
      return;
    }
    base[0] = {Extend5(static_cast<uint32_t>(r)), Extend5(static_cast<uint32_t>(g)),
               Extend5(static_cast<uint32_t>(b))};
    base[1] = {Extend5(static_cast<uint32_t>(r2)), Extend5(static_cast<uint32_t>(g2)),
               Extend5(static_cast<uint32_t>(b2))};
  }
  const uint32_t table[2] = {Bits(v, 39, 37), Bits(v, 36, 34)};
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) {
      const int sub = flip ? (y >= 2) : (x >= 2);
      const int i = PixelIndex(v, x, y);
      if (!opaque && i == 2) {
        Put(out, x, y, {0, 0, 0}, 0);
        continue;
      }
      const int* m = kEtcModifiers[table[sub]];
      // Index bits: 0 +small, 1 +large, 2 -small, 3 -large.
      int d = (i & 1 ? m[1] : m[0]) * (i & 2 ? -1 : 1);
      if (!opaque && i == 0) d = 0;
      const Rgb& c = base[sub];
      Put(out, x, y, {c.r + d, c.g + d, c.b + d});
    }
}

// An EAC block of 11-bit values (R11/RG11), written as 8 bits to channel `channel` of `out`.
void DecodeEac11(const uint8_t* block, uint8_t* out, int channel, bool is_signed) {
  const uint64_t v = Be64(block);
  const int base =
      is_signed ? static_cast<int8_t>(Bits(v, 63, 56)) : static_cast<int>(Bits(v, 63, 56));
  const int multiplier = static_cast<int>(Bits(v, 55, 52));
  const int* m = kEacModifiers[Bits(v, 51, 48)];
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) {
      const int i = static_cast<int>(Bits(v, 47 - 3 * (x * 4 + y), 45 - 3 * (x * 4 + y)));
      const int step = multiplier ? m[i] * multiplier * 8 : m[i];
      int value;
      if (is_signed) {
        value = std::clamp(base * 8 + step, -1023, 1023);
        value = ((value + 1023) * 255 + 1023) / 2046;
      } else {
        value = std::clamp(base * 8 + 4 + step, 0, 2047);
        value = (value * 255 + 1023) / 2047;
      }
      out[(y * 4 + x) * 4 + channel] = static_cast<uint8_t>(value);
    }
}

// The 8-bit alpha block of ETC2 RGBA8.
void DecodeEtc2Alpha(const uint8_t* block, uint8_t* out) {
  const uint64_t v = Be64(block);
  const int base = static_cast<int>(Bits(v, 63, 56));
  const int multiplier = static_cast<int>(Bits(v, 55, 52));
  const int* m = kEacModifiers[Bits(v, 51, 48)];
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) {
      const int i = static_cast<int>(Bits(v, 47 - 3 * (x * 4 + y), 45 - 3 * (x * 4 + y)));
      out[(y * 4 + x) * 4 + 3] = Clamp255(base + m[i] * multiplier);
    }
}

void FillRgba(uint8_t* out, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  for (int i = 0; i < 16; ++i)
    out[i * 4] = r, out[i * 4 + 1] = g, out[i * 4 + 2] = b, out[i * 4 + 3] = a;
}

}  // namespace

void DecodeEtcBlock(int32_t format, const uint8_t* block, uint8_t* out) {
  switch (format) {
    case 34: {
      uint8_t rgb[ETC1_DECODED_BLOCK_SIZE];
      etc1_decode_block(block, rgb);
      for (int i = 0; i < 16; ++i)
        out[i * 4] = rgb[i * 3], out[i * 4 + 1] = rgb[i * 3 + 1], out[i * 4 + 2] = rgb[i * 3 + 2],
                out[i * 4 + 3] = 255;
      break;
    }
    case 45:
      DecodeEtc2Colour(block, out, false);
      break;
    case 46:
      DecodeEtc2Colour(block, out, true);
      break;
    case 47:
      DecodeEtc2Colour(block + 8, out, false);
      DecodeEtc2Alpha(block, out);
      break;
    case 41:
    case 42:
      FillRgba(out, 0, 0, 0, 255);
      DecodeEac11(block, out, 0, format == 42);
      break;
    case 43:
    case 44:
      FillRgba(out, 0, 0, 0, 255);
      DecodeEac11(block, out, 0, format == 44);
      DecodeEac11(block + 8, out, 1, format == 44);
      break;
    default:
      FillRgba(out, 0, 0, 0, 0);
      break;
  }
}

}  // namespace kestrix
