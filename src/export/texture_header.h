// The Texture2D/Cubemap payload header in its three layouts, the DDS header that the texture
// writers put in front of image data, the pixel conversions and the vertical flip. Import reads
// textures back with the same pieces, so they take plain bytes and know nothing of files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/field_layout.h"

namespace kestrix {

// Layout 1 stores a 1-byte has-mips flag and 3 flag bytes; layouts 2 and 3 a 4-byte mip count and
// 4 flag bytes. Layout 3 keeps its image data in a separate resource file. Layout 4 is read
// field by field (engines 3.0 to 3.4 and from 2017.1 on), its image data in the payload or, when it
// names a resource path, in that resource file.
struct TextureHeader {
  int layout = 1;
  int32_t width = 0;
  int32_t height = 0;
  int32_t complete_image_size = 0;  // one image with all its levels
  int32_t format = 0;
  uint32_t mip_field = 0;                          // layout 1: the flag byte; else the 32-bit value
  uint8_t flag_bytes[4] = {0, 0, 0, 0};            // as stored; layout 1 uses three
  int32_t settings[8] = {0, 0, 0, 0, 0, 0, 0, 0};  // image count first
  uint32_t image_data_size = 0;
  uint64_t resource_offset = 0;  // layouts 3 and 4
  uint32_t resource_size = 0;    // layouts 3 and 4
  std::string resource_path;     // layouts 3 and 4, as stored
  std::vector<uint8_t> tail;     // everything after the padded data or path, never swapped
  uint64_t image_start = 0;      // payload offset of the first image byte (layouts 1, 2)
                                 // or of the end of the padded path (layout 3)

  // Layout 4: where the fields import rewrites lie in the payload, and the payload around the
  // image data (before its count; between the data and the stream fields) kept for the rebuild.
  struct Positions {
    uint64_t width = 0, height = 0, complete_image_size = 0, format = 0, mip_count = 0,
             image_count = 0;
  } positions;
  std::vector<uint8_t> before_data;
  std::vector<uint8_t> between_data_and_stream;
  uint8_t stream_offset_bytes = 4;  // 8 from engine 2020.1 on
  uint8_t mip_field_bytes = 4;      // 1 where the field is the has-mips flag (engines 3.0 to 3.4)
  bool has_stream_fields = false;

  int32_t ImageCount() const { return settings[0]; }
  // The image data lies in a resource file.
  bool Streamed() const { return layout == 3 || (layout == 4 && !resource_path.empty()); }
  // Only the first stored byte of the mip field carries meaning: 1 asks for the levels to be
  // counted from the sizes, anything else is the count itself.
  uint8_t MipByte() const { return static_cast<uint8_t>(mip_field & 0xFF); }
};

// Which layout a payload has, decided on the bytes as stored. Layout 1 when nothing matches.
int DetectTextureLayout(const std::vector<uint8_t>& payload, bool big_endian);

// Reads the header of a Texture2D/Cubemap payload: with `fields` (a layout of
// types/object_layouts.h) field by field as layout 4, else in the detected fixed layout. Throws
// Error when the payload is shorter than its header or than the image data or path it declares,
// or lacks a field every texture has.
TextureHeader ReadTextureHeader(const std::vector<uint8_t>& payload, bool big_endian,
                                const FieldLayout* fields = nullptr);

// How a texture format is laid out in a DDS file.
struct DdsPixelFormat {
  int32_t code = 0;
  uint32_t flags = 0;
  uint32_t fourcc = 0;
  uint32_t bits = 0;
  uint32_t red = 0, green = 0, blue = 0, alpha = 0;
  double bytes_per_pixel = 4;
  uint32_t block_bytes = 0;  // bytes of one 4x4 block (DXT, ATC, BC); 0 for formats of whole pixels
  // Formats without a classic pixel format are named by the DX10 header extension: its DXGI
  // format, with the FourCC "DX10". 0 for the classic ones.
  uint32_t dxgi = 0;
};

// The mapping table, for import's reverse lookup.
const std::vector<DdsPixelFormat>& DdsPixelFormats();
// The row of a format code, or nullptr for codes outside the table.
const DdsPixelFormat* FindDdsPixelFormat(int32_t code);

struct DdsHeader {
  std::array<uint8_t, 128> bytes{};
  // The DX10 extension that follows the 128 bytes when the pixel format names a DXGI format.
  bool has_dx10 = false;
  std::array<uint8_t, 20> dx10{};
  double bytes_per_pixel = 4;
  uint32_t mip_map_count = 0;  // 0 for a single level
  int Levels() const {
    if (mip_map_count == 0) return 1;
    return mip_map_count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(mip_map_count);
  }
};

// `mip` is 1 when the levels are to be counted from the sizes, else the level count.
DdsHeader BuildDdsHeader(int32_t format, int32_t complete_image_size, int32_t width, int32_t height,
                         uint32_t mip);

// Round to nearest with ties to even, the rounding of every size worked out from bytes per pixel.
// Sizes past 64 bits give UINT64_MAX.
uint64_t RoundSize(double value);

// Bytes of a w x h level of a block format: a partial block row or column is a whole one, so a
// level below 4 pixels is one block. Dimensions of 0 or less have no blocks.
uint64_t BlockLevelSize(int64_t w, int64_t h, uint64_t block_bytes);

// Reorders pixel bytes in place from the engine's order to the DDS masks of the format.
void ConvertPixels(int32_t format, uint8_t* data, size_t size);
// The inverse of ConvertPixels, for import.
void ConvertPixelsBack(int32_t format, uint8_t* data, size_t size);

// The DXT and BC4/BC5 block flips: each turns a 4x4 block upside down.
void FlipDxt1Block(uint8_t* block);
void FlipDxt3Block(uint8_t* block);
void FlipDxt5Block(uint8_t* block);
void FlipBc4Block(uint8_t* block);
void FlipBc5Block(uint8_t* block);

// Whether DDS files of a Texture2D/Cubemap format hold the picture the right way up. ATC, BC6H
// and BC7 blocks cannot be turned over without encoding them anew, so those are written, and
// read back, in the stored row order.
bool DdsFlipsFormat(int32_t format);

// Appends one image to `out` with every level turned upside down, then any bytes past the levels
// unchanged. The engine stores the bottom row first, image tools expect the top row first; the
// flip is its own inverse, so import uses it too. DXT, BC4 and BC5 levels are walked in whole
// blocks and `bytes_per_pixel` is not used for them. Throws Error when a level runs past the data.
void WriteImageFlipped(std::vector<uint8_t>& out, const uint8_t* image, size_t size, int32_t width,
                       int32_t height, int32_t format, int levels, double bytes_per_pixel);

}  // namespace kestrix
