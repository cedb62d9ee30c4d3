// Texture levels decoded to pictures: 8-bit RGBA with straight alpha, the top row first, as the
// engine shows them. One file per family holds the decoders (pixels_plain.cc, pixels_dxt.cc,
// pixels_bc.cc, pixels_bptc.cc, pixels_etc.cc, pixels_astc.cc); this header is what export,
// import and the window use, and the family entry points the dispatch and the tests call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/serialized_file.h"

namespace kestrix {

struct RgbaImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;  // width * height * 4 bytes, row after row
};

// How a format's level is cut: blocks of block_width x block_height pixels taking block_bytes
// each (1 x 1 pixels for the plain formats). Partial blocks at the right and top edges count
// whole.
struct PixelLayout {
  int block_width = 1;
  int block_height = 1;
  uint32_t block_bytes = 0;  // 0: the format cannot be shown as a picture
};

// The layout of a format, with block_bytes 0 for formats that have no decoder here. Codes 24 to
// 27 are the BC formats; the caller that knows an engine before 5 (whose codes there are console
// formats) refuses them itself (PictureRefusal).
PixelLayout PixelLayoutOf(int32_t format);

// Bytes of a w x h level in the format (0 for formats without a decoder or empty sizes).
uint64_t PictureLevelBytes(int32_t format, int32_t width, int32_t height);

// "" when the format can be shown as a picture, else the reason, for example
// "DXT5Crunched textures cannot be shown as a picture (crunched data)". The codes are read as
// newer engines use them; with the asset's engine, codes 22 to 27 of engines before 5.5 (console
// formats there) are refused.
std::string PictureRefusal(int32_t format);
std::string PictureRefusal(int32_t format, const EngineVersion& engine);

// Decodes the top level of one image, stored as the engine keeps it (bottom row first), into a
// picture with the top row first. Throws Error (kind not supported) for formats PictureRefusal
// refuses, and (kind damaged data) when `size` is shorter than the level or the sizes are not
// positive or too large for memory.
RgbaImage DecodeTextureLevel(int32_t format, const uint8_t* data, size_t size, int32_t width,
                             int32_t height);

// Turns a picture upside down in place (the stored order is bottom row first).
void FlipRows(RgbaImage& image);

// ---- The families. Each decodes one block (or pixel run) into RGBA in stored row order. ----

// One block of a block format: `out` receives block_width x block_height RGBA pixels, row after
// row, the first stored row first.
using BlockDecoder = void (*)(int32_t format, const uint8_t* block, uint8_t* out);

// Plain formats: `count` pixels from `in` to RGBA.
bool IsPlainPictureFormat(int32_t format);
uint32_t PlainBytesPerPixel(int32_t format);
void DecodePlainPixels(int32_t format, const uint8_t* in, size_t count, uint8_t* out);

void DecodeDxtBlock(int32_t format, const uint8_t* block, uint8_t* out);  // 10, 11, 12
void DecodeBcBlock(int32_t format, const uint8_t* block, uint8_t* out);   // BC4, BC5, BC7
// One 16-byte BC7 block (pixels_bptc.cc).
void DecodeBc7Block(const uint8_t* block, uint8_t* out);
// One 16-byte BC6H block (unsigned), its half floats clipped to 0..1 (pixels_bptc.cc).
void DecodeBc6hBlock(const uint8_t* block, uint8_t* out);
void DecodeEtcBlock(int32_t format, const uint8_t* block, uint8_t* out);  // ETC1, ETC2, EAC

// ASTC decodes whole levels through its library (blocks of 16 bytes, the size from the format).
bool IsAstcLdr(int32_t format);
void AstcBlockSize(int32_t format, int* block_width, int* block_height);
void DecodeAstcLevel(int32_t format, const uint8_t* data, int32_t width, int32_t height,
                     uint8_t* out);
#if !KESTRIX_HAVE_ASTC
// Builds without libastcenc (Windows) refuse ASTC levels with a message that says why.
[[noreturn]] void ThrowAstcUnavailable();
#endif

}  // namespace kestrix
