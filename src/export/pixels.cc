#include "export/pixels.h"

#include <algorithm>

#include "core/error.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

// Pictures are held in memory whole; a level larger than this is refused rather than allocated.
constexpr uint64_t kMaxPicturePixels = uint64_t{1} << 28;  // 16384 x 16384

bool IsDxtCode(int32_t f) { return f == 10 || f == 11 || f == 12; }
bool IsBcCode(int32_t f) {
  return f == texture_format::kBC4 || f == texture_format::kBC5 || f == texture_format::kBC6H || f == texture_format::kBC7;
}
bool IsEtcCode(int32_t f) { return f == 34 || (f >= 41 && f <= 47); }

BlockDecoder BlockDecoderOf(int32_t f) {
  if (IsDxtCode(f)) return DecodeDxtBlock;
  if (IsBcCode(f)) return DecodeBcBlock;
  if (IsEtcCode(f)) return DecodeEtcBlock;
  return nullptr;
}

std::string FormatLabel(int32_t format) {
  switch (format) {
    case texture_format::kBC6H:
      return "BC6H";
    case texture_format::kBC7:
      return "BC7";
    case texture_format::kBC4:
      return "BC4";
    case texture_format::kBC5:
      return "BC5";
    case texture_format::kRG16:
      return "RG16";
    case texture_format::kR8:
      return "R8";
    case texture_format::kETC_RGB4Crunched:
      return "ETC_RGB4Crunched";
    case texture_format::kETC2_RGBA8Crunched:
      return "ETC2_RGBA8Crunched";
    case texture_format::kRG32:
      return "RG32";
    case texture_format::kRGB48:
      return "RGB48";
    case texture_format::kRGBA64:
      return "RGBA64";
    default:
      break;
  }
  if (format >= texture_format::kASTC_HDR_4x4 && format <= texture_format::kASTC_HDR_12x12) return "ASTC_HDR";
  const std::string name = TextureFormatName(format);  // "id: N - NAME"
  const size_t dash = name.find(" - ");
  return dash == std::string::npos ? name : name.substr(dash + 3);
}

}  // namespace

PixelLayout PixelLayoutOf(int32_t format) {
  if (IsPlainPictureFormat(format)) return {1, 1, PlainBytesPerPixel(format)};
  if (format == 10 || format == texture_format::kBC4) return {4, 4, 8};
  if (IsDxtCode(format) || format == texture_format::kBC5 || format == texture_format::kBC6H || format == texture_format::kBC7)
    return {4, 4, 16};
  if (format == 34 || format == 45 || format == 46 || format == 41 || format == 42)
    return {4, 4, 8};
  if (format == 43 || format == 44 || format == 47) return {4, 4, 16};
  if (IsAstcLdr(format)) {
    PixelLayout l{4, 4, 16};
    AstcBlockSize(format, &l.block_width, &l.block_height);
    return l;
  }
  return {};
}

uint64_t PictureLevelBytes(int32_t format, int32_t width, int32_t height) {
  const PixelLayout l = PixelLayoutOf(format);
  if (l.block_bytes == 0 || width <= 0 || height <= 0) return 0;
  const uint64_t across = (static_cast<uint64_t>(width) + l.block_width - 1) / l.block_width;
  const uint64_t down = (static_cast<uint64_t>(height) + l.block_height - 1) / l.block_height;
  return across * down * l.block_bytes;
}

std::string PictureRefusal(int32_t format, const EngineVersion& engine) {
  if (format >= 22 && format <= 27 && !UsesNewerFormatCodes(engine))
    return "Console format " + std::to_string(format) +
           " textures cannot be shown as a picture (no decoder for them here)";
  return PictureRefusal(format);
}

std::string PictureRefusal(int32_t format) {
  const std::string label = FormatLabel(format);
  auto refused = [&](const std::string& why) {
    return label + " textures cannot be shown as a picture (" + why + ")";
  };
  if (format == 28 || format == 29 || format == texture_format::kETC_RGB4Crunched ||
      format == texture_format::kETC2_RGBA8Crunched)
    return refused("crunched data; export it as CRN");
  if (format >= texture_format::kASTC_HDR_4x4 && format <= texture_format::kASTC_HDR_12x12) return refused("HDR data");
  if (PixelLayoutOf(format).block_bytes == 0) return refused("no decoder for the format here");
  return "";
}

void FlipRows(RgbaImage& image) {
  const size_t row = static_cast<size_t>(image.width) * 4;
  uint8_t* p = image.pixels.data();
  for (int32_t top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(p + top * row, p + (top + 1) * row, p + bottom * row);
}

RgbaImage DecodeTextureLevel(int32_t format, const uint8_t* data, size_t size, int32_t width,
                             int32_t height) {
  const std::string refusal = PictureRefusal(format);
  if (!refusal.empty()) throw Error(refusal + ".", ErrorKind::kNotSupported);
  if (width <= 0 || height <= 0)
    throw Error("A texture of " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels has no picture.");
  if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPicturePixels)
    throw Error("A texture of " + std::to_string(width) + "x" + std::to_string(height) +
                    " pixels is too large to show as a picture.",
                ErrorKind::kNotSupported);
  const uint64_t need = PictureLevelBytes(format, width, height);
  if (size < need)
    throw Error("Texture data is shorter than its first level: " + std::to_string(width) + "x" +
                std::to_string(height) + " " + FormatLabel(format) + " needs " +
                std::to_string(need) + " bytes, " + std::to_string(size) + " are there.");

  RgbaImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  uint8_t* out = image.pixels.data();
  const size_t row_bytes = static_cast<size_t>(width) * 4;

  if (IsPlainPictureFormat(format)) {
    DecodePlainPixels(format, data, static_cast<size_t>(width) * height, out);
  } else if (IsAstcLdr(format)) {
    DecodeAstcLevel(format, data, width, height, out);
  } else {
    const PixelLayout l = PixelLayoutOf(format);
    const BlockDecoder decode = BlockDecoderOf(format);
    const int32_t across = (width + l.block_width - 1) / l.block_width;
    const int32_t down = (height + l.block_height - 1) / l.block_height;
    uint8_t block[4 * 4 * 4];
    const uint8_t* in = data;
    for (int32_t by = 0; by < down; ++by) {
      const int32_t rows = std::min(4, height - by * 4);
      for (int32_t bx = 0; bx < across; ++bx, in += l.block_bytes) {
        decode(format, in, block);
        const int32_t cols = std::min(4, width - bx * 4);
        for (int32_t y = 0; y < rows; ++y)
          std::copy(block + y * 16, block + y * 16 + cols * 4,
                    out + static_cast<size_t>(by * 4 + y) * row_bytes + bx * 16);
      }
    }
  }
  FlipRows(image);
  return image;
}

}  // namespace kestrix
