// BC7 and BC6H (the BPTC unorm and float formats), after the Khronos BPTC description, whose
// partition, anchor, mode and field tables are below. BC6H's half floats are clipped to 0..1.
#include <cstdint>
#include <utility>

#include "export/pixels.h"

namespace kestrix {

namespace {

// Table.P2 and Table.P3: the subset of each texel (x + 4 * y) of each partition, two bits per
// texel, texel 0 in the lowest bits.
constexpr uint32_t Pack(const char (&row)[17]) {
  uint32_t v = 0;
  for (int i = 0; i < 16; ++i) v |= static_cast<uint32_t>(row[i] - '0') << (2 * i);
  return v;
}

constexpr uint32_t kPartitions2[64] = {
    Pack("0011001100110011"), Pack("0001000100010001"), Pack("0111011101110111"),
    Pack("0001001100110111"), Pack("0000000100010011"), Pack("0011011101111111"),
    Pack("0001001101111111"), Pack("0000000100110111"), Pack("0000000000010011"),
    Pack("0011011111111111"), Pack("0000000101111111"), Pack("0000000000010111"),
    Pack("0001011111111111"), Pack("0000000011111111"), Pack("0000111111111111"),
    Pack("0000000000001111"), Pack("0000100011101111"), Pack("0111000100000000"),
    Pack("0000000010001110"), Pack("0111001100010000"), Pack("0011000100000000"),
    Pack("0000100011001110"), Pack("0000000010001100"), Pack("0111001100110001"),
    Pack("0011000100010000"), Pack("0000100010001100"), Pack("0110011001100110"),
    Pack("0011011001101100"), Pack("0001011111101000"), Pack("0000111111110000"),
    Pack("0111000110001110"), Pack("0011100110011100"), Pack("0101010101010101"),
    Pack("0000111100001111"), Pack("0101101001011010"), Pack("0011001111001100"),
    Pack("0011110000111100"), Pack("0101010110101010"), Pack("0110100101101001"),
    Pack("0101101010100101"), Pack("0111001111001110"), Pack("0001001111001000"),
    Pack("0011001001001100"), Pack("0011101111011100"), Pack("0110100110010110"),
    Pack("0011110011000011"), Pack("0110011010011001"), Pack("0000011001100000"),
    Pack("0100111001000000"), Pack("0010011100100000"), Pack("0000001001110010"),
    Pack("0000010011100100"), Pack("0110110010010011"), Pack("0011011011001001"),
    Pack("0110001110011100"), Pack("0011100111000110"), Pack("0110110011001001"),
    Pack("0110001100111001"), Pack("0111111010000001"), Pack("0001100011100111"),
    Pack("0000111100110011"), Pack("0011001111110000"), Pack("0010001011101110"),
    Pack("0100010001110111"),
};

constexpr uint32_t kPartitions3[64] = {
    Pack("0011001102212222"), Pack("0001001122112221"), Pack("0000200122112211"),
    Pack("0222002200110111"), Pack("0000000011221122"), Pack("0011001100220022"),
    Pack("0022002211111111"), Pack("0011001122112211"), Pack("0000000011112222"),
    Pack("0000111111112222"), Pack("0000111122222222"), Pack("0012001200120012"),
    Pack("0112011201120112"), Pack("0122012201220122"), Pack("0011011211221222"),
    Pack("0011200122002220"), Pack("0001001101121122"), Pack("0111001120012200"),
    Pack("0000112211221122"), Pack("0022002200221111"), Pack("0111011102220222"),
    Pack("0001000122212221"), Pack("0000001101220122"), Pack("0000110022102210"),
    Pack("0122012200110000"), Pack("0012001211222222"), Pack("0110122112210110"),
    Pack("0000011012211221"), Pack("0022110211020022"), Pack("0110011020022222"),
    Pack("0011012201220011"), Pack("0000200022112221"), Pack("0000000211221222"),
    Pack("0222002200120011"), Pack("0011001200220222"), Pack("0120012001200120"),
    Pack("0000111122220000"), Pack("0120120120120120"), Pack("0120201212010120"),
    Pack("0011220011220011"), Pack("0011112222000011"), Pack("0101010122222222"),
    Pack("0000000021212121"), Pack("0022112200221122"), Pack("0022001100220011"),
    Pack("0220122102201221"), Pack("0101222222220101"), Pack("0000212121212121"),
    Pack("0101010101012222"), Pack("0222011102220111"), Pack("0002111200021112"),
    Pack("0000211221122112"), Pack("0222011101110222"), Pack("0002111211120002"),
    Pack("0110011001102222"), Pack("0000000021122112"), Pack("0110011022222222"),
    Pack("0022001100110022"), Pack("0022112211220022"), Pack("0000000000002112"),
    Pack("0002000100020001"), Pack("0222122202221222"), Pack("0101222222222222"),
    Pack("0111201122012220"),
};

// Table.A2, A3a and A3b: the anchor texel of the second (and third) subset.
constexpr uint8_t kAnchor2[64] = {15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
                                  15, 2,  8,  2,  2,  8,  8,  15, 2,  8,  2,  2,  8,  8,  2,  2,
                                  15, 15, 6,  8,  2,  8,  15, 15, 2,  8,  2,  2,  2,  15, 15, 6,
                                  6,  2,  6,  8,  15, 15, 2,  2,  15, 15, 15, 15, 15, 2,  2,  15};
constexpr uint8_t kAnchor3Second[64] = {
    3,  3,  15, 15, 8, 3,  15, 15, 8,  8,  6, 6,  6, 5,  3, 3,  3,  3,  8,  15, 3,  3,
    6,  10, 5,  8,  8, 6,  8,  5,  15, 15, 8, 15, 3, 5,  6, 10, 8,  15, 15, 3,  15, 5,
    15, 15, 15, 15, 3, 15, 5,  5,  5,  8,  5, 10, 5, 10, 8, 13, 15, 12, 3,  3};
constexpr uint8_t kAnchor3Third[64] = {
    15, 8, 8, 3,  15, 15, 3,  8,  15, 15, 15, 15, 15, 15, 15, 8,  15, 8,  15, 3,  15, 8,
    15, 8, 3, 15, 6,  10, 15, 15, 10, 8,  15, 3,  15, 10, 10, 8,  9,  10, 6,  15, 8,  15,
    3,  6, 6, 8,  15, 3,  15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 3,  15, 15, 8};

constexpr uint8_t kWeights2[4] = {0, 21, 43, 64};
constexpr uint8_t kWeights3[8] = {0, 9, 18, 27, 37, 46, 55, 64};
constexpr uint8_t kWeights4[16] = {0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64};

struct Mode {
  int subsets, partition_bits, rotation_bits, selector_bits, colour_bits, alpha_bits,
      endpoint_pbits, shared_pbits, index_bits, index2_bits;
};
constexpr Mode kModes[8] = {
    {3, 4, 0, 0, 4, 0, 1, 0, 3, 0}, {2, 6, 0, 0, 6, 0, 0, 1, 3, 0}, {3, 6, 0, 0, 5, 0, 0, 0, 2, 0},
    {2, 6, 0, 0, 7, 0, 1, 0, 2, 0}, {1, 0, 2, 1, 5, 6, 0, 0, 2, 3}, {1, 0, 2, 0, 7, 8, 0, 0, 2, 2},
    {1, 0, 0, 0, 7, 7, 1, 0, 4, 0}, {2, 6, 0, 0, 5, 5, 1, 0, 2, 0},
};

class Bits {
 public:
  explicit Bits(const uint8_t* block) : block_(block) {}
  uint32_t Take(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos_)
      v |= static_cast<uint32_t>(block_[pos_ >> 3] >> (pos_ & 7) & 1) << i;
    return v;
  }

 private:
  const uint8_t* block_;
  int pos_ = 0;
};

const uint8_t* WeightsOf(int bits) {
  return bits == 2 ? kWeights2 : bits == 3 ? kWeights3 : kWeights4;
}

}  // namespace

void DecodeBc7Block(const uint8_t* block, uint8_t* out) {
  int mode = 0;
  while (mode < 8 && !(block[0] >> mode & 1)) ++mode;
  if (mode == 8) {  // reserved: a block of zeros
    for (int i = 0; i < 64; ++i) out[i] = 0;
    return;
  }
  const Mode& m = kModes[mode];
  Bits bits(block);
  bits.Take(mode + 1);
  const uint32_t partition = bits.Take(m.partition_bits);
  const uint32_t rotation = bits.Take(m.rotation_bits);
  const uint32_t selector = bits.Take(m.selector_bits);

  // endpoints[subset][end][channel], first with their stored bits only.
  int endpoints[3][2][4] = {};
  for (int c = 0; c < 3; ++c)
    for (int s = 0; s < m.subsets; ++s)
      for (int e = 0; e < 2; ++e) endpoints[s][e][c] = static_cast<int>(bits.Take(m.colour_bits));
  for (int s = 0; s < m.subsets; ++s)
    for (int e = 0; e < 2; ++e)
      endpoints[s][e][3] = m.alpha_bits ? static_cast<int>(bits.Take(m.alpha_bits)) : 255;
  int pbits[3][2] = {};
  if (m.endpoint_pbits)
    for (int s = 0; s < m.subsets; ++s)
      for (int e = 0; e < 2; ++e) pbits[s][e] = static_cast<int>(bits.Take(1));
  if (m.shared_pbits)
    for (int s = 0; s < m.subsets; ++s) pbits[s][0] = pbits[s][1] = static_cast<int>(bits.Take(1));
  const bool has_pbit = m.endpoint_pbits || m.shared_pbits;
  for (int s = 0; s < m.subsets; ++s)
    for (int e = 0; e < 2; ++e)
      for (int c = 0; c < 4; ++c) {
        const int stored = c < 3 ? m.colour_bits : m.alpha_bits;
        if (stored == 0) continue;  // alpha 255
        int v = endpoints[s][e][c];
        int n = stored;
        if (has_pbit) v = v << 1 | pbits[s][e], ++n;
        v <<= 8 - n;
        endpoints[s][e][c] = v | v >> n;
      }

  const uint32_t subsets_of = m.subsets == 2   ? kPartitions2[partition]
                              : m.subsets == 3 ? kPartitions3[partition]
                                               : 0;
  auto is_anchor = [&](int texel) {
    if (texel == 0) return true;
    if (m.subsets == 2) return texel == kAnchor2[partition];
    if (m.subsets == 3)
      return texel == kAnchor3Second[partition] || texel == kAnchor3Third[partition];
    return false;
  };
  int index[16], index2[16] = {};
  for (int t = 0; t < 16; ++t)
    index[t] = static_cast<int>(bits.Take(m.index_bits - (is_anchor(t) ? 1 : 0)));
  if (m.index2_bits)
    for (int t = 0; t < 16; ++t)
      index2[t] = static_cast<int>(bits.Take(m.index2_bits - (t == 0 ? 1 : 0)));

  for (int t = 0; t < 16; ++t) {
    const int s = static_cast<int>(subsets_of >> (2 * t) & 3);
    int colour_weight, alpha_weight;
    if (m.index2_bits == 0) {
      colour_weight = alpha_weight = WeightsOf(m.index_bits)[index[t]];
    } else if (selector) {
      colour_weight = WeightsOf(m.index2_bits)[index2[t]];
      alpha_weight = WeightsOf(m.index_bits)[index[t]];
    } else {
      colour_weight = WeightsOf(m.index_bits)[index[t]];
      alpha_weight = WeightsOf(m.index2_bits)[index2[t]];
    }
    uint8_t px[4];
    for (int c = 0; c < 4; ++c) {
      const int w = c < 3 ? colour_weight : alpha_weight;
      px[c] =
          static_cast<uint8_t>(((64 - w) * endpoints[s][0][c] + w * endpoints[s][1][c] + 32) >> 6);
    }
    if (rotation) std::swap(px[3], px[rotation - 1]);
    for (int c = 0; c < 4; ++c) out[t * 4 + c] = px[c];
  }
}

}  // namespace kestrix

// ---- BC6H (the BPTC float format, unsigned as the engine stores it) ----

namespace kestrix {

namespace {

struct FloatMode {
  int number;
  bool transformed;
  int partition_bits, endpoint_bits;
  int delta_bits[3];
  const char* fields;  // Table.F: the block's bits from the lowest, as v[a:b] runs
};

constexpr FloatMode kFloatModes[14] = {
    {0,
     true,
     5,
     10,
     {5, 5, 5},
     "m[1:0],g2[4],b2[4],b3[4],r0[9:0],g0[9:0],b0[9:0],r1[4:0],g3[4],g2[3:0],g1[4:0],b3[0],"
     "g3[3:0],b1[4:0],b3[1],b2[3:0],r2[4:0],b3[2],r3[4:0],b3[3]"},
    {1,
     true,
     5,
     7,
     {6, 6, 6},
     "m[1:0],g2[5],g3[4],g3[5],r0[6:0],b3[0],b3[1],b2[4],g0[6:0],b2[5],b3[2],g2[4],b0[6:0],"
     "b3[3],b3[5],b3[4],r1[5:0],g2[3:0],g1[5:0],g3[3:0],b1[5:0],b2[3:0],r2[5:0],r3[5:0]"},
    {2,
     true,
     5,
     11,
     {5, 4, 4},
     "m[4:0],r0[9:0],g0[9:0],b0[9:0],r1[4:0],r0[10],g2[3:0],g1[3:0],g0[10],b3[0],g3[3:0],"
     "b1[3:0],b0[10],b3[1],b2[3:0],r2[4:0],b3[2],r3[4:0],b3[3]"},
    {6,
     true,
     5,
     11,
     {4, 5, 4},
     "m[4:0],r0[9:0],g0[9:0],b0[9:0],r1[3:0],r0[10],g3[4],g2[3:0],g1[4:0],g0[10],g3[3:0],"
     "b1[3:0],b0[10],b3[1],b2[3:0],r2[3:0],b3[0],b3[2],r3[3:0],g2[4],b3[3]"},
    {10,
     true,
     5,
     11,
     {4, 4, 5},
     "m[4:0],r0[9:0],g0[9:0],b0[9:0],r1[3:0],r0[10],b2[4],g2[3:0],g1[3:0],g0[10],b3[0],"
     "g3[3:0],b1[4:0],b0[10],b2[3:0],r2[3:0],b3[1],b3[2],r3[3:0],b3[4],b3[3]"},
    {14,
     true,
     5,
     9,
     {5, 5, 5},
     "m[4:0],r0[8:0],b2[4],g0[8:0],g2[4],b0[8:0],b3[4],r1[4:0],g3[4],g2[3:0],g1[4:0],b3[0],"
     "g3[3:0],b1[4:0],b3[1],b2[3:0],r2[4:0],b3[2],r3[4:0],b3[3]"},
    {18,
     true,
     5,
     8,
     {6, 5, 5},
     "m[4:0],r0[7:0],g3[4],b2[4],g0[7:0],b3[2],g2[4],b0[7:0],b3[3],b3[4],r1[5:0],g2[3:0],"
     "g1[4:0],b3[0],g3[3:0],b1[4:0],b3[1],b2[3:0],r2[5:0],r3[5:0]"},
    {22,
     true,
     5,
     8,
     {5, 6, 5},
     "m[4:0],r0[7:0],b3[0],b2[4],g0[7:0],g2[5],g2[4],b0[7:0],g3[5],b3[4],r1[4:0],g3[4],"
     "g2[3:0],g1[5:0],g3[3:0],b1[4:0],b3[1],b2[3:0],r2[4:0],b3[2],r3[4:0],b3[3]"},
    {26,
     true,
     5,
     8,
     {5, 5, 6},
     "m[4:0],r0[7:0],b3[1],b2[4],g0[7:0],b2[5],g2[4],b0[7:0],b3[5],b3[4],r1[4:0],g3[4],"
     "g2[3:0],g1[4:0],b3[0],g3[3:0],b1[5:0],b2[3:0],r2[4:0],b3[2],r3[4:0],b3[3]"},
    {30,
     false,
     5,
     6,
     {6, 6, 6},
     "m[4:0],r0[5:0],g3[4],b3[0],b3[1],b2[4],g0[5:0],g2[5],b2[5],b3[2],g2[4],b0[5:0],g3[5],"
     "b3[3],b3[5],b3[4],r1[5:0],g2[3:0],g1[5:0],g3[3:0],b1[5:0],b2[3:0],r2[5:0],r3[5:0]"},
    {3, false, 0, 10, {10, 10, 10}, "m[4:0],r0[9:0],g0[9:0],b0[9:0],r1[9:0],g1[9:0],b1[9:0]"},
    {7,
     true,
     0,
     11,
     {9, 9, 9},
     "m[4:0],r0[9:0],g0[9:0],b0[9:0],r1[8:0],r0[10],g1[8:0],g0[10],b1[8:0],b0[10]"},
    {11,
     true,
     0,
     12,
     {8, 8, 8},
     "m[4:0],r0[9:0],g0[9:0],b0[9:0],r1[7:0],r0[10:11],g1[7:0],g0[10:11],b1[7:0],b0[10:11]"},
    {15,
     true,
     0,
     16,
     {4, 4, 4},
     "m[4:0],r0[9:0],g0[9:0],b0[9:0],r1[3:0],r0[10:15],g1[3:0],g0[10:15],b1[3:0],b0[10:15]"},
};

// Reads a block's fields as Table.F lists them: each v[a:b] takes |a - b| + 1 bits, the first
// going to bit b and the next ones towards a. Returns the bits read.
int ReadFloatFields(const char* fields, Bits& bits, int32_t values[4][3]) {
  int used = 0;
  for (const char* p = fields; *p;) {
    const char var = *p++;
    int endpoint = 0;
    if (var != 'm') endpoint = *p++ - '0';
    ++p;  // '['
    int a = 0, b;
    while (*p >= '0' && *p <= '9') a = a * 10 + (*p++ - '0');
    b = a;
    if (*p == ':') {
      ++p;
      b = 0;
      while (*p >= '0' && *p <= '9') b = b * 10 + (*p++ - '0');
    }
    p += *p == ']' ? 1 : 0;
    if (*p == ',') ++p;
    const int step = a >= b ? 1 : -1;
    for (int bit = b;; bit += step) {
      const uint32_t v = bits.Take(1);
      ++used;
      if (var != 'm') {
        const int channel = var == 'r' ? 0 : var == 'g' ? 1 : 2;
        values[endpoint][channel] |= static_cast<int32_t>(v << bit);
      }
      if (bit == a) break;
    }
  }
  return used;
}

int32_t SignExtend(int32_t v, int bits) {
  const int32_t sign = 1 << (bits - 1);
  return (v & (sign - 1)) - (v & sign);
}

int32_t Unquantize(int32_t x, int bits) {
  if (bits >= 15 || x == 0) return x;
  if (x == (1 << bits) - 1) return 0xFFFF;
  return ((x << 15) + 0x4000) >> (bits - 1);
}

float HalfBits(uint32_t h) {
  const uint32_t exponent = h >> 10 & 0x1F, mantissa = h & 0x3FF;
  if (exponent == 0) return static_cast<float>(mantissa) / (1 << 24);
  float v = static_cast<float>(mantissa | 0x400);
  const int e = static_cast<int>(exponent) - 25;
  return e >= 0 ? v * static_cast<float>(1u << e) : v / static_cast<float>(1u << -e);
}

}  // namespace

void DecodeBc6hBlock(const uint8_t* block, uint8_t* out) {
  int mode_number = block[0] & 3;
  if (mode_number >= 2) mode_number = block[0] & 31;
  const FloatMode* mode = nullptr;
  for (const FloatMode& m : kFloatModes)
    if (m.number == mode_number) mode = &m;
  if (!mode) {  // reserved: black
    for (int t = 0; t < 16; ++t)
      out[t * 4] = out[t * 4 + 1] = out[t * 4 + 2] = 0, out[t * 4 + 3] = 255;
    return;
  }
  Bits bits(block);
  int32_t e[4][3] = {};
  ReadFloatFields(mode->fields, bits, e);
  const int subsets = mode->partition_bits ? 2 : 1;
  const uint32_t partition = bits.Take(mode->partition_bits);
  const int mask = (1 << mode->endpoint_bits) - 1;
  for (int i = 1; i < 2 * subsets; ++i)
    for (int c = 0; c < 3; ++c) {
      if (mode->transformed) {
        e[i][c] = (e[0][c] + SignExtend(e[i][c], mode->delta_bits[c])) & mask;
      }
    }
  int32_t end[4][3];
  for (int i = 0; i < 2 * subsets; ++i)
    for (int c = 0; c < 3; ++c) end[i][c] = Unquantize(e[i][c], mode->endpoint_bits);

  const int index_bits = subsets == 2 ? 3 : 4;
  const uint32_t subsets_of = subsets == 2 ? kPartitions2[partition] : 0;
  const uint8_t* weights = subsets == 2 ? kWeights3 : kWeights4;
  for (int t = 0; t < 16; ++t) {
    const bool anchor = t == 0 || (subsets == 2 && t == kAnchor2[partition]);
    const int index = static_cast<int>(bits.Take(index_bits - (anchor ? 1 : 0)));
    const int s = static_cast<int>(subsets_of >> (2 * t) & 3);
    const int w = weights[index];
    for (int c = 0; c < 3; ++c) {
      const int32_t v = ((64 - w) * end[2 * s][c] + w * end[2 * s + 1][c] + 32) >> 6;
      const float f = HalfBits(static_cast<uint32_t>(v * 31 >> 6));
      // Shown as the engine shows it at exposure 1: values above 1 are clipped.
      out[t * 4 + c] = static_cast<uint8_t>(f >= 1.f ? 255 : f * 255.f);
    }
    out[t * 4 + 3] = 255;
  }
}

}  // namespace kestrix
