// BC7 (the BPTC unorm format): eight block modes with one to three subsets, after the Khronos
// BPTC description, whose partition and anchor tables are below.
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
constexpr uint8_t kAnchor2[64] = {
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 2,  8,  2,  2,  8,
    8,  15, 2,  8,  2,  2,  8,  8,  2,  2,  15, 15, 6,  8,  2,  8,  15, 15, 2,  8,  2,  2,
    2,  15, 15, 6,  6,  2,  6,  8,  15, 15, 2,  2,  15, 15, 15, 15, 15, 2,  2,  15};
constexpr uint8_t kAnchor3Second[64] = {
    3, 3,  15, 15, 8,  3,  15, 15, 8,  8,  6,  6,  6,  5,  3,  3,  3,  3,  8,  15, 3,  3,
    6, 10, 5,  8,  8,  6,  8,  5,  15, 15, 8,  15, 3,  5,  6,  10, 8,  15, 15, 3,  15, 5,
    15, 15, 15, 15, 3, 15, 5,  5,  5,  8,  5,  10, 5,  10, 8,  13, 15, 12, 3,  3};
constexpr uint8_t kAnchor3Third[64] = {
    15, 8,  8,  3,  15, 15, 3,  8,  15, 15, 15, 15, 15, 15, 15, 8,  15, 8,  15, 3,  15, 8,
    15, 8,  3,  15, 6,  10, 15, 15, 10, 8,  15, 3,  15, 10, 10, 8,  9,  10, 6,  15, 8,  15,
    3,  6,  6,  8,  15, 3,  15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 3,  15, 15, 8};

constexpr uint8_t kWeights2[4] = {0, 21, 43, 64};
constexpr uint8_t kWeights3[8] = {0, 9, 18, 27, 37, 46, 55, 64};
constexpr uint8_t kWeights4[16] = {0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64};

struct Mode {
  int subsets, partition_bits, rotation_bits, selector_bits, colour_bits, alpha_bits,
      endpoint_pbits, shared_pbits, index_bits, index2_bits;
};
constexpr Mode kModes[8] = {
    {3, 4, 0, 0, 4, 0, 1, 0, 3, 0}, {2, 6, 0, 0, 6, 0, 0, 1, 3, 0},
    {3, 6, 0, 0, 5, 0, 0, 0, 2, 0}, {2, 6, 0, 0, 7, 0, 1, 0, 2, 0},
    {1, 0, 2, 1, 5, 6, 0, 0, 2, 3}, {1, 0, 2, 0, 7, 8, 0, 0, 2, 2},
    {1, 0, 0, 0, 7, 7, 1, 0, 4, 0}, {2, 6, 0, 0, 5, 5, 1, 0, 2, 0},
};

class Bits {
 public:
  explicit Bits(const uint8_t* block) : block_(block) {}
  uint32_t Take(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos_) v |= static_cast<uint32_t>(block_[pos_ >> 3] >> (pos_ & 7) & 1) << i;
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

  const uint32_t subsets_of = m.subsets == 2 ? kPartitions2[partition]
                              : m.subsets == 3 ? kPartitions3[partition]
                                               : 0;
  auto is_anchor = [&](int texel) {
    if (texel == 0) return true;
    if (m.subsets == 2) return texel == kAnchor2[partition];
    if (m.subsets == 3) return texel == kAnchor3Second[partition] || texel == kAnchor3Third[partition];
    return false;
  };
  int index[16], index2[16] = {};
  for (int t = 0; t < 16; ++t) index[t] = static_cast<int>(bits.Take(m.index_bits - (is_anchor(t) ? 1 : 0)));
  if (m.index2_bits)
    for (int t = 0; t < 16; ++t) index2[t] = static_cast<int>(bits.Take(m.index2_bits - (t == 0 ? 1 : 0)));

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
      px[c] = static_cast<uint8_t>(((64 - w) * endpoints[s][0][c] + w * endpoints[s][1][c] + 32) >> 6);
    }
    if (rotation) std::swap(px[3], px[rotation - 1]);
    for (int c = 0; c < 4; ++c) out[t * 4 + c] = px[c];
  }
}

}  // namespace kestrix
