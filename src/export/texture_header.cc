#include "export/texture_header.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/error.h"
#include "core/object_cursor.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

bool U32At(const std::vector<uint8_t>& bytes, size_t pos, ByteOrder order, uint32_t* out) {
  if (pos + 4 > bytes.size()) return false;
  *out = Get32(bytes.data() + pos, order);
  return true;
}

// The complete image size times the image count (when its low byte is not 0) is compared with
// the image data size of layouts 1 and 2 and the resource size of layout 3.
int DetectInOrder(const std::vector<uint8_t>& p, ByteOrder order) {
  const size_t low_byte = order == ByteOrder::Big ? 3 : 0;
  uint32_t complete = 0, stored = 0;
  if (!U32At(p, 8, order, &complete)) return 0;
  auto times_count = [&](size_t count_pos) {
    uint32_t v = complete;
    if (count_pos + low_byte < p.size() && p[count_pos + low_byte] != 0)
      v *= p[count_pos + low_byte];
    return v;
  };
  if (U32At(p, 52, order, &stored) && times_count(20) == stored) return 1;
  uint32_t v = times_count(24);
  if (U32At(p, 56, order, &stored) && v == stored) return 2;
  if (U32At(p, 64, order, &stored) && v == stored) return 3;
  return 0;
}

[[noreturn]] void ShortPayload(const std::string& what, uint64_t need, uint64_t have) {
  throw Error("Texture data is shorter than its header claims: " + what + " needs " +
              std::to_string(need) + " bytes, " + std::to_string(have) + " are there.");
}

uint64_t AlignUp4(uint64_t pos) { return (pos + 3) & ~uint64_t{3}; }

using BlockFlip = void (*)(uint8_t*);

// The block flip and block bytes of the formats whose blocks can be turned over.
BlockFlip FlipOfBlocks(int32_t format, uint64_t* block_bytes) {
  namespace tf = texture_format;
  switch (format) {
    case tf::kDXT1:
      *block_bytes = 8;
      return FlipDxt1Block;
    case tf::kDXT3:
      *block_bytes = 16;
      return FlipDxt3Block;
    case tf::kDXT5:
      *block_bytes = 16;
      return FlipDxt5Block;
    case tf::kBC4:
      *block_bytes = 8;
      return FlipBc4Block;
    case tf::kBC5:
      *block_bytes = 16;
      return FlipBc5Block;
    default:
      return nullptr;
  }
}

// 4-pixel blocks along a side of n pixels, the last one partial when n is not a multiple of 4.
uint64_t BlocksAcross(int64_t n) { return n > 0 ? static_cast<uint64_t>(n + 3) / 4 : 0; }

}  // namespace

int DetectTextureLayout(const std::vector<uint8_t>& payload, bool big_endian) {
  if (int layout = DetectInOrder(payload, ByteOrder::Little)) return layout;
  // Read as stored, a big-endian image count has its significant byte last, so a multi-image
  // texture never matches above; its own byte order finds it.
  if (big_endian) {
    if (int layout = DetectInOrder(payload, ByteOrder::Big)) return layout;
  }
  return 1;
}

namespace {

TextureHeader ReadTextureFields(const std::vector<uint8_t>& payload, bool big_endian,
                                const FieldLayout& fields) {
  TextureHeader h;
  h.layout = 4;
  MemorySource source(payload);
  Reader reader(source);
  ObjectCursor r(reader, big_endian ? ByteOrder::Big : ByteOrder::Little);
  PlacedFields f(r, fields);
  h.width = f.I("m_Width");
  h.height = f.I("m_Height");
  h.complete_image_size = f.I("m_CompleteImageSize");
  h.format = f.I("m_TextureFormat");
  // Engines before 5.2 store a has-mips flag where later ones store the level count; the flag
  // means what layout 1's flag byte means.
  const std::string mip_name = f.Has("m_MipCount") ? "m_MipCount" : "m_MipMap";
  const FieldSpot& mip = f.At(mip_name);
  h.mip_field = static_cast<uint32_t>(f.U(mip_name));
  h.mip_field_bytes = static_cast<uint8_t>(mip.size);
  h.settings[0] = f.I("m_ImageCount");
  h.positions = {f.At("m_Width").pos,
                 f.At("m_Height").pos,
                 f.At("m_CompleteImageSize").pos,
                 f.At("m_TextureFormat").pos,
                 mip.pos,
                 f.At("m_ImageCount").pos};
  const FieldSpot& data = f.At("image data");
  h.image_data_size = static_cast<uint32_t>(data.count);
  h.image_start = data.pos + 4;
  h.before_data.assign(payload.begin(), payload.begin() + static_cast<ptrdiff_t>(data.pos));
  uint64_t tail_start = AlignUp4(h.image_start + data.count);
  if (const FieldSpot* path = f.Find("m_StreamData.path")) {
    const FieldSpot& offset = f.At("m_StreamData.offset");
    h.has_stream_fields = true;
    h.stream_offset_bytes = static_cast<uint8_t>(offset.size);
    h.resource_offset = f.U("m_StreamData.offset");
    h.resource_size = static_cast<uint32_t>(f.U("m_StreamData.size"));
    r.Seek(path->pos + 4);
    h.resource_path = r.Text(path->count);
    if (offset.pos > tail_start)
      h.between_data_and_stream.assign(payload.begin() + static_cast<ptrdiff_t>(tail_start),
                                       payload.begin() + static_cast<ptrdiff_t>(offset.pos));
    tail_start = AlignUp4(path->pos + 4 + path->count);
  }
  if (tail_start < payload.size())
    h.tail.assign(payload.begin() + static_cast<ptrdiff_t>(tail_start), payload.end());
  return h;
}

}  // namespace

TextureHeader ReadTextureHeader(const std::vector<uint8_t>& payload, bool big_endian,
                                const FieldLayout* fields) {
  if (fields && !fields->empty()) return ReadTextureFields(payload, big_endian, *fields);
  TextureHeader h;
  h.layout = DetectTextureLayout(payload, big_endian);
  const uint64_t fixed = h.layout == 1 ? 56 : h.layout == 2 ? 60 : 72;
  if (payload.size() < fixed) ShortPayload("the texture header", fixed, payload.size());

  MemorySource source(payload);
  Reader reader(source);
  ObjectCursor r(reader, big_endian ? ByteOrder::Big : ByteOrder::Little);
  h.width = r.I32();
  h.height = r.I32();
  h.complete_image_size = r.I32();
  h.format = r.I32();
  if (h.layout == 1) {
    h.mip_field = r.U8();
    r.Read(h.flag_bytes, 3);
  } else {
    h.mip_field = r.U32();
    r.Read(h.flag_bytes, 4);
  }
  for (int32_t& v : h.settings) v = r.I32();
  h.image_data_size = r.U32();
  if (h.layout == 3) {
    h.resource_offset = r.U32();
    h.resource_size = r.U32();
    uint32_t path_length = r.U32();
    if (path_length > r.Remaining()) ShortPayload("the resource path", path_length, r.Remaining());
    h.resource_path = r.Text(path_length);
    h.image_start = AlignUp4(r.Tell());
  } else {
    h.image_start = r.Tell();
    if (h.image_data_size > r.Remaining())
      ShortPayload("the image data", h.image_data_size, r.Remaining());
  }
  uint64_t tail_start = h.layout == 3 ? h.image_start : AlignUp4(h.image_start + h.image_data_size);
  if (tail_start < payload.size())
    h.tail.assign(payload.begin() + static_cast<ptrdiff_t>(tail_start), payload.end());
  return h;
}

const std::vector<DdsPixelFormat>& DdsPixelFormats() {
  constexpr uint32_t kDx10 = FourCC('D', 'X', '1', '0');
  // Rows sharing a pixel format list the code that import should come back with first: 5 for the
  // 32-bit orders, 13 for the 16-bit 4444 ones. Code 2 keeps its own row all the same: its words
  // are A4R4G4B4 as they stand (alpha in the top nibble, blue in the lowest), so it is written
  // without conversion, and import can bring such a file back to 2 when the entry has code 2.
  static const std::vector<DdsPixelFormat> table = {
      {1, 0x2, 0, 8, 0, 0, 0, 0xFF, 1},
      {13, 0x41, 0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, 2},
      {2, 0x41, 0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, 2},
      {3, 0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0, 3},
      {5, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 4},
      {4, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 4},
      {14, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 4},
      {37, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 4},
      {7, 0x40, 0, 16, 0xF800, 0x07E0, 0x001F, 0, 2},
      {9, 0x4, 111, 0, 0, 0, 0, 0, 2},
      {10, 0x4, FourCC('D', 'X', 'T', '1'), 0, 0, 0, 0, 0, 0.5, 8},
      {11, 0x4, FourCC('D', 'X', 'T', '3'), 0, 0, 0, 0, 0, 1, 16},
      {12, 0x4, FourCC('D', 'X', 'T', '5'), 0, 0, 0, 0, 0, 1, 16},
      {35, 0x5, FourCC('A', 'T', 'C', ' '), 0, 0, 0, 0, 0, 1, 8},
      {36, 0x5, FourCC('A', 'T', 'C', 'A'), 0, 0, 0, 0, 0, 1, 16},
      // Engines from 5.5 on (the export driver sends these codes only for them).
      {62, 0x40, 0, 16, 0x00FF, 0xFF00, 0, 0, 2},
      {63, 0x40, 0, 8, 0xFF, 0, 0, 0, 1},
      {26, 0x4, kDx10, 0, 0, 0, 0, 0, 0.5, 8, 80},  // BC4_UNORM
      {27, 0x4, kDx10, 0, 0, 0, 0, 0, 1, 16, 83},   // BC5_UNORM
      {24, 0x4, kDx10, 0, 0, 0, 0, 0, 1, 16, 95},   // BC6H_UF16
      {25, 0x4, kDx10, 0, 0, 0, 0, 0, 1, 16, 98},   // BC7_UNORM
      {22, 0x4, kDx10, 0, 0, 0, 0, 0, 4, 0, 67},    // R9G9B9E5_SHAREDEXP
      {72, 0x4, kDx10, 0, 0, 0, 0, 0, 4, 0, 35},    // R16G16_UNORM
      {74, 0x4, kDx10, 0, 0, 0, 0, 0, 8, 0, 11},    // R16G16B16A16_UNORM
      {75, 0x4, kDx10, 0, 0, 0, 0, 0, 1, 0, 63},    // R8_SNORM
      {76, 0x4, kDx10, 0, 0, 0, 0, 0, 2, 0, 51},    // R8G8_SNORM
      {78, 0x4, kDx10, 0, 0, 0, 0, 0, 4, 0, 31},    // R8G8B8A8_SNORM
      {79, 0x4, kDx10, 0, 0, 0, 0, 0, 2, 0, 58},    // R16_SNORM
      {80, 0x4, kDx10, 0, 0, 0, 0, 0, 4, 0, 37},    // R16G16_SNORM
      {82, 0x4, kDx10, 0, 0, 0, 0, 0, 8, 0, 13},    // R16G16B16A16_SNORM
  };
  return table;
}

const DdsPixelFormat* FindDdsPixelFormat(int32_t code) {
  for (const DdsPixelFormat& f : DdsPixelFormats())
    if (f.code == code) return &f;
  return nullptr;
}

uint64_t RoundSize(double value) {
  if (!(value > 0)) return 0;
  // Dimensions near 2^31 (negative ones multiply to positive) reach past 64 bits; such a size
  // is more than any data, and saying so keeps every later comparison meaningful.
  if (value >= 18446744073709551616.0) return UINT64_MAX;
  double whole = std::floor(value);
  double part = value - whole;
  auto n = static_cast<uint64_t>(whole);
  if (part > 0.5 || (part == 0.5 && (n & 1))) ++n;
  return n;
}

uint64_t BlockLevelSize(int64_t w, int64_t h, uint64_t block_bytes) {
  return BlocksAcross(w) * BlocksAcross(h) * block_bytes;
}

DdsHeader BuildDdsHeader(int32_t format, int32_t complete_image_size, int32_t width, int32_t height,
                         uint32_t mip) {
  DdsHeader out;
  const DdsPixelFormat* pf = FindDdsPixelFormat(format);
  DdsPixelFormat none;
  if (!pf) pf = &none;
  out.bytes_per_pixel = pf->bytes_per_pixel;

  const double bpp = pf->bytes_per_pixel;
  const uint64_t block = pf->block_bytes;
  const uint64_t linear = block ? BlockLevelSize(width, height, block)
                                : RoundSize(static_cast<double>(width) * height * bpp);
  uint64_t levels = mip;
  if (mip == 1) {
    levels = 1;
    int64_t w = width, h = height;
    uint64_t sum = linear;
    const uint64_t total = complete_image_size > 0 ? static_cast<uint64_t>(complete_image_size) : 0;
    if (block) {
      // The engine's chain halves each side down to 1 pixel, and every level is whole blocks.
      while ((w > 1 || h > 1) && sum < total) {
        if (w > 1) w /= 2;
        if (h > 1) h /= 2;
        sum += BlockLevelSize(w, h, block);
        ++levels;
      }
    } else {
      while (w * h > 1 && sum < total) {
        w /= 2;
        h /= 2;
        sum += RoundSize(static_cast<double>(w * h) * bpp);
        ++levels;
      }
    }
  }
  const bool many = levels >= 2;
  out.mip_map_count = many ? static_cast<uint32_t>(levels) : 0;

  uint8_t* b = out.bytes.data();
  const ByteOrder le = ByteOrder::Little;
  Put32(b + 0, FourCC('D', 'D', 'S', ' '), le);
  Put32(b + 4, 124, le);
  Put32(b + 8, many ? 0xA1007 : 0x81007, le);
  Put32(b + 12, static_cast<uint32_t>(height), le);
  Put32(b + 16, static_cast<uint32_t>(width), le);
  Put32(b + 20, static_cast<uint32_t>(linear), le);
  Put32(b + 28, out.mip_map_count, le);
  Put32(b + 76, 32, le);
  Put32(b + 80, pf->flags, le);
  Put32(b + 84, pf->fourcc, le);
  Put32(b + 88, pf->bits, le);
  Put32(b + 92, pf->red, le);
  Put32(b + 96, pf->green, le);
  Put32(b + 100, pf->blue, le);
  Put32(b + 104, pf->alpha, le);
  Put32(b + 108, many ? 0x401008 : 0x1000, le);
  if (pf->dxgi != 0) {
    out.has_dx10 = true;
    uint8_t* x = out.dx10.data();
    Put32(x + 0, pf->dxgi, le);
    Put32(x + 4, 3, le);  // a 2D texture
    Put32(x + 8, 0, le);
    Put32(x + 12, 1, le);  // one image per file
    Put32(x + 16, 0, le);
  }
  return out;
}

namespace {

// Swaps, reverses and rotations are their own inverses but for the 4444 rotation, whose way back
// turns the other way.
void Convert(int32_t format, uint8_t* data, size_t size, bool back) {
  switch (format) {
    case 3:
      for (size_t i = 0; i + 3 <= size; i += 3) std::swap(data[i], data[i + 2]);
      break;
    case 4:
      for (size_t i = 0; i + 4 <= size; i += 4) std::swap(data[i], data[i + 2]);
      break;
    case 5:
      for (size_t i = 0; i + 4 <= size; i += 4) std::reverse(data + i, data + i + 4);
      break;
    case 13:
      for (size_t i = 0; i + 2 <= size; i += 2) {
        const uint16_t v = Get16(data + i, ByteOrder::Little);
        const uint16_t turned = back ? static_cast<uint16_t>((v << 4) | (v >> 12))
                                     : static_cast<uint16_t>((v >> 4) | (v << 12));
        Put16(data + i, turned, ByteOrder::Little);
      }
      break;
    default:
      break;
  }
}

}  // namespace

void ConvertPixels(int32_t format, uint8_t* data, size_t size) {
  Convert(format, data, size, false);
}

void ConvertPixelsBack(int32_t format, uint8_t* data, size_t size) {
  Convert(format, data, size, true);
}

void FlipDxt1Block(uint8_t* block) { std::reverse(block + 4, block + 8); }

void FlipDxt3Block(uint8_t* block) {
  std::swap(block[0], block[6]);
  std::swap(block[1], block[7]);
  std::swap(block[2], block[4]);
  std::swap(block[3], block[5]);
  std::reverse(block + 12, block + 16);
}

void FlipBc4Block(uint8_t* block) {
  // The red block of BC4 is laid out as DXT5's alpha block: two endpoints, then 4 rows of 12
  // bits of indices.
  uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= static_cast<uint64_t>(block[2 + i]) << (8 * i);
  uint64_t flipped = 0;
  for (int row = 0; row < 4; ++row) flipped |= ((bits >> (12 * row)) & 0xFFF) << (12 * (3 - row));
  for (int i = 0; i < 6; ++i) block[2 + i] = static_cast<uint8_t>(flipped >> (8 * i));
}

void FlipDxt5Block(uint8_t* block) {
  FlipBc4Block(block);  // the alpha block
  std::reverse(block + 12, block + 16);
}

void FlipBc5Block(uint8_t* block) {
  FlipBc4Block(block);
  FlipBc4Block(block + 8);
}

bool DdsFlipsFormat(int32_t format) {
  namespace tf = texture_format;
  return format != tf::kATC_RGB4 && format != tf::kATC_RGBA8 && format != tf::kBC6H &&
         format != tf::kBC7;
}

void WriteImageFlipped(std::vector<uint8_t>& out, const uint8_t* image, size_t size, int32_t width,
                       int32_t height, int32_t format, int levels, double bytes_per_pixel) {
  uint64_t pos = 0;
  int64_t w = std::max<int32_t>(width, 0);
  int64_t h = std::max<int32_t>(height, 0);
  auto check = [&](uint64_t level_size, int level) {
    if (level_size > size - pos)
      throw Error("Texture level " + std::to_string(level + 1) + " of " + std::to_string(levels) +
                  " runs past the image data (" + std::to_string(size) + " bytes).");
  };
  uint64_t block = 0;
  if (BlockFlip flip = FlipOfBlocks(format, &block)) {
    for (int level = 0; level < levels; ++level) {
      const uint64_t level_size = BlockLevelSize(w, h, block);
      check(level_size, level);
      if (level_size == 0) break;  // no pixels, and none in the levels below
      // Blocks hold four rows each, so whole block rows swap places and each block turns over.
      // A partial last block row (a height that is not a multiple of 4) swaps as a whole one,
      // which keeps the flip its own inverse: its padding rows, above the top pixel row as
      // stored, come out first, so the picture sits 4 - height % 4 rows low and as many of its
      // bottom rows fall past the height that viewers show. Moving rows between blocks would
      // mean encoding the blocks anew.
      const uint64_t row_bytes = BlocksAcross(w) * block;
      for (uint64_t row = BlocksAcross(h); row-- > 0;) {
        const uint8_t* src = image + pos + row * row_bytes;
        size_t at = out.size();
        out.insert(out.end(), src, src + row_bytes);
        for (size_t b = 0; b < row_bytes; b += block) flip(out.data() + at + b);
      }
      pos += level_size;
      if (w > 1) w /= 2;
      if (h > 1) h /= 2;
    }
  } else {
    for (int level = 0; level < levels && w > 0 && h > 0; ++level) {
      const uint64_t row_bytes = RoundSize(static_cast<double>(w) * bytes_per_pixel);
      const uint64_t level_size = row_bytes * static_cast<uint64_t>(h);
      check(level_size, level);
      for (int64_t row = h - 1; row >= 0; --row) {
        const uint8_t* src = image + pos + static_cast<size_t>(row) * row_bytes;
        out.insert(out.end(), src, src + row_bytes);
      }
      pos += level_size;
      w /= 2;
      h /= 2;
    }
  }
  if (pos < size) out.insert(out.end(), image + pos, image + size);
}

}  // namespace kestrix
