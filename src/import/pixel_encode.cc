#include "import/pixel_encode.h"

#include <ETC1/etc1.h>
#if KESTRIX_HAVE_ASTC
#include <astcenc.h>
#endif
#include <squish.h>

#include <algorithm>
#include <memory>
#include <string>

#include "core/error.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

bool IsPlainEncoded(int32_t f) {
  switch (f) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 13:
    case 14:
    case 37:
    case texture_format::kR8:
    case texture_format::kRG16:
      return true;
    default:
      return false;
  }
}

// The inverse of the decoders' scaling: 4 bits round, the 565 channels (which decode scaled
// down) take the smallest value that decodes back to the same byte.
uint32_t To4(uint8_t v) { return (v * 15u + 127) / 255; }
uint32_t To5(uint8_t v) { return (v * 31u + 254) / 255; }
uint32_t To6(uint8_t v) { return (v * 63u + 254) / 255; }

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

std::vector<uint8_t> EncodePlain(int32_t format, const RgbaImage& image) {
  const uint32_t step = PlainBytesPerPixel(format);
  const size_t count = static_cast<size_t>(image.width) * image.height;
  std::vector<uint8_t> out(count * step);
  const uint8_t* in = image.pixels.data();
  uint8_t* o = out.data();
  for (size_t i = 0; i < count; ++i, in += 4, o += step) {
    const uint8_t r = in[0], g = in[1], b = in[2], a = in[3];
    switch (format) {
      case 1:
        o[0] = a;
        break;
      case texture_format::kR8:
        o[0] = r;
        break;
      case texture_format::kRG16:
        o[0] = r, o[1] = g;
        break;
      case 2:
        PutLe16(o, To4(a) << 12 | To4(r) << 8 | To4(g) << 4 | To4(b));
        break;
      case 13:
        PutLe16(o, To4(r) << 12 | To4(g) << 8 | To4(b) << 4 | To4(a));
        break;
      case 7:
        PutLe16(o, To5(r) << 11 | To6(g) << 5 | To5(b));
        break;
      case 3:
        o[0] = r, o[1] = g, o[2] = b;
        break;
      case 4:
        o[0] = r, o[1] = g, o[2] = b, o[3] = a;
        break;
      case 5:
        o[0] = a, o[1] = r, o[2] = g, o[3] = b;
        break;
      default:
        o[0] = b, o[1] = g, o[2] = r, o[3] = a;
        break;  // 14, 37
    }
  }
  return out;
}

bool IsSquishFormat(int32_t f) {
  return (f >= 10 && f <= 12) || f == texture_format::kBC4 || f == texture_format::kBC5;
}

// DXT1/3/5, and BC4 and BC5 from the red (and green) channel.
std::vector<uint8_t> EncodeDxt(int32_t format, const RgbaImage& image) {
  const int kind = format == 10                     ? squish::kDxt1
                   : format == 11                   ? squish::kDxt3
                   : format == 12                   ? squish::kDxt5
                   : format == texture_format::kBC4 ? squish::kBc4
                                                    : squish::kBc5;
  const int flags = kind | squish::kColourClusterFit;
  std::vector<uint8_t> out(PictureLevelBytes(format, image.width, image.height));
  squish::CompressImage(image.pixels.data(), image.width, image.height, out.data(), flags);
  return out;
}

std::vector<uint8_t> EncodeEtc1(const RgbaImage& image) {
  std::vector<uint8_t> rgb(static_cast<size_t>(image.width) * image.height * 3);
  for (size_t i = 0, n = rgb.size() / 3; i < n; ++i)
    std::copy_n(image.pixels.data() + i * 4, 3, rgb.data() + i * 3);
  std::vector<uint8_t> out(etc1_get_encoded_data_size(static_cast<etc1_uint32>(image.width),
                                                      static_cast<etc1_uint32>(image.height)));
  if (etc1_encode_image(rgb.data(), static_cast<etc1_uint32>(image.width),
                        static_cast<etc1_uint32>(image.height), 3,
                        static_cast<etc1_uint32>(image.width * 3), out.data()) != 0)
    throw Error("The ETC1 encoder refused a picture of " + std::to_string(image.width) + "x" +
                    std::to_string(image.height) + " pixels.",
                ErrorKind::kNotSupported);
  return out;
}

#if !KESTRIX_HAVE_ASTC
std::vector<uint8_t> EncodeAstc(int32_t, const RgbaImage&) { ThrowAstcUnavailable(); }
#else
struct ContextFree {
  void operator()(astcenc_context* c) const { astcenc_context_free(c); }
};

std::vector<uint8_t> EncodeAstc(int32_t format, const RgbaImage& image) {
  int bw = 4, bh = 4;
  AstcBlockSize(format, &bw, &bh);
  astcenc_config config;
  astcenc_error status =
      astcenc_config_init(ASTCENC_PRF_LDR, static_cast<unsigned>(bw), static_cast<unsigned>(bh), 1,
                          ASTCENC_PRE_FAST, 0, &config);
  astcenc_context* raw = nullptr;
  if (status == ASTCENC_SUCCESS) status = astcenc_context_alloc(&config, 1, &raw);
  std::unique_ptr<astcenc_context, ContextFree> context(raw);
  std::vector<uint8_t> out(PictureLevelBytes(format, image.width, image.height));
  if (status == ASTCENC_SUCCESS) {
    void* slices[1] = {const_cast<uint8_t*>(image.pixels.data())};
    astcenc_image in{static_cast<unsigned>(image.width), static_cast<unsigned>(image.height), 1,
                     ASTCENC_TYPE_U8, slices};
    const astcenc_swizzle swizzle{ASTCENC_SWZ_R, ASTCENC_SWZ_G, ASTCENC_SWZ_B, ASTCENC_SWZ_A};
    status = astcenc_compress_image(context.get(), &in, &swizzle, out.data(), out.size(), 0);
  }
  if (status != ASTCENC_SUCCESS)
    throw Error(std::string("The ASTC encoder failed: ") + astcenc_get_error_string(status),
                ErrorKind::kNotSupported);
  return out;
}
#endif

}  // namespace

bool HasPictureEncoder(int32_t format) {
  return IsPlainEncoded(format) || IsSquishFormat(format) || format == 34 || IsAstcLdr(format);
}

std::vector<uint8_t> EncodeTextureLevel(int32_t format, const RgbaImage& stored) {
  if (IsPlainEncoded(format)) return EncodePlain(format, stored);
  if (IsSquishFormat(format)) return EncodeDxt(format, stored);
  if (format == 34) return EncodeEtc1(stored);
  if (IsAstcLdr(format)) return EncodeAstc(format, stored);
  throw Error("Texture format " + std::to_string(format) + " has no encoder here.",
              ErrorKind::kNotSupported);
}

RgbaImage HalveImage(const RgbaImage& image) {
  RgbaImage half;
  half.width = std::max(image.width / 2, 1);
  half.height = std::max(image.height / 2, 1);
  half.pixels.resize(static_cast<size_t>(half.width) * half.height * 4);
  for (int32_t y = 0; y < half.height; ++y)
    for (int32_t x = 0; x < half.width; ++x) {
      const int32_t x0 = std::min(x * 2, image.width - 1),
                    x1 = std::min(x * 2 + 1, image.width - 1);
      const int32_t y0 = std::min(y * 2, image.height - 1),
                    y1 = std::min(y * 2 + 1, image.height - 1);
      for (int c = 0; c < 4; ++c) {
        auto at = [&](int32_t px, int32_t py) {
          return static_cast<uint32_t>(
              image.pixels[(static_cast<size_t>(py) * image.width + px) * 4 + c]);
        };
        half.pixels[(static_cast<size_t>(y) * half.width + x) * 4 + c] =
            static_cast<uint8_t>((at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1) + 2) / 4);
      }
    }
  return half;
}

}  // namespace kestrix
