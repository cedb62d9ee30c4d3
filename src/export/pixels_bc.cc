// BC4 and BC5: one or two 8-byte blocks of the DXT5 alpha kind, each a channel of its own.
// BC4 is shown in red only (R, 0, 0), BC5 in red and green, as the engine samples them. BC7
// has a file of its own (pixels_bptc.cc).
#include "export/pixels.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

// Two 8-bit end points and sixteen 3-bit indexes; above the first code 6 steps between them,
// else 4 steps and the two fixed values 0 and 255.
void DecodeChannelBlock(const uint8_t* block, uint8_t* out, int channel) {
  const int a = block[0], b = block[1];
  int values[8] = {a, b};
  if (a > b) {
    for (int i = 1; i < 7; ++i) values[i + 1] = ((7 - i) * a + i * b) / 7;
  } else {
    for (int i = 1; i < 5; ++i) values[i + 1] = ((5 - i) * a + i * b) / 5;
    values[6] = 0;
    values[7] = 255;
  }
  uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= static_cast<uint64_t>(block[2 + i]) << (8 * i);
  for (int p = 0; p < 16; ++p)
    out[p * 4 + channel] = static_cast<uint8_t>(values[bits >> (3 * p) & 7]);
}

}  // namespace

void DecodeBcBlock(int32_t format, const uint8_t* block, uint8_t* out) {
  for (int p = 0; p < 16; ++p)
    out[p * 4] = out[p * 4 + 1] = out[p * 4 + 2] = 0, out[p * 4 + 3] = 255;
  if (format == texture_format::kBC4) {
    DecodeChannelBlock(block, out, 0);
  } else if (format == texture_format::kBC6H) {
    DecodeBc6hBlock(block, out);
  } else if (format == texture_format::kBC7) {
    DecodeBc7Block(block, out);
  } else if (format == texture_format::kBC5) {
    DecodeChannelBlock(block, out, 0);
    DecodeChannelBlock(block + 8, out, 1);
  }
}

}  // namespace kestrix
