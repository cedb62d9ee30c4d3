// The formats of whole pixels: 8, 16 and 32-bit channels, the packed 16-bit orders, and the half
// and float formats clamped to 0..1. Channels a format lacks come out 0, alpha 255; Alpha8 is
// white with its alpha, R16 grey (as its DDS file shows it).
#include <cmath>
#include <cstring>

#include "export/pixels.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// n-bit value to 8 bits, rounded to nearest.
uint8_t Scale(uint32_t v, uint32_t max) { return static_cast<uint8_t>((v * 255 + max / 2) / max); }

float HalfToFloat(uint16_t h) {
  const uint32_t sign = h >> 15, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
  float v;
  if (exponent == 0) {
    v = std::ldexp(static_cast<float>(mantissa), -24);
  } else if (exponent == 31) {
    v = mantissa ? NAN : INFINITY;
  } else {
    v = std::ldexp(static_cast<float>(mantissa | 0x400), static_cast<int>(exponent) - 25);
  }
  return sign ? -v : v;
}

uint8_t FromFloat(float v) {
  if (!(v > 0)) return 0;  // NaN too
  if (v >= 1) return 255;
  return static_cast<uint8_t>(v * 255 + 0.5f);
}

float Le32Float(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);  // the engine's float textures are little-endian
  return v;
}

}  // namespace

bool IsPlainPictureFormat(int32_t format) { return PlainBytesPerPixel(format) != 0; }

uint32_t PlainBytesPerPixel(int32_t format) {
  switch (format) {
    case 1:
    case texture_format::kR8:
      return 1;
    case 2:
    case 7:
    case 9:
    case 13:
    case 15:
    case texture_format::kRG16:
      return 2;
    case 3:
      return 3;
    case 4:
    case 5:
    case 14:
    case 37:
    case 16:
    case 18:
    case texture_format::kRG32:
      return 4;
    case texture_format::kRGB48:
      return 6;
    case 17:
    case 19:
    case texture_format::kRGBA64:
      return 8;
    case 20:
      return 16;
    default:
      return 0;
  }
}

void DecodePlainPixels(int32_t format, const uint8_t* in, size_t count, uint8_t* out) {
  const uint32_t step = PlainBytesPerPixel(format);
  for (size_t i = 0; i < count; ++i, in += step, out += 4) {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    switch (format) {
      case 1:
        r = g = b = 255;
        a = in[0];
        break;
      case texture_format::kR8:
        r = in[0];
        break;
      case 2: {  // A4R4G4B4 words
        const uint16_t v = Le16(in);
        a = static_cast<uint8_t>((v >> 12) * 17);
        r = static_cast<uint8_t>(((v >> 8) & 0xF) * 17);
        g = static_cast<uint8_t>(((v >> 4) & 0xF) * 17);
        b = static_cast<uint8_t>((v & 0xF) * 17);
        break;
      }
      case 13: {  // R4G4B4A4 words
        const uint16_t v = Le16(in);
        r = static_cast<uint8_t>((v >> 12) * 17);
        g = static_cast<uint8_t>(((v >> 8) & 0xF) * 17);
        b = static_cast<uint8_t>(((v >> 4) & 0xF) * 17);
        a = static_cast<uint8_t>((v & 0xF) * 17);
        break;
      }
      case 7: {
        // Scaled down, not rounded: what image tools and other readers show for RGB565.
        const uint16_t v = Le16(in);
        r = static_cast<uint8_t>((v >> 11) * 255 / 31);
        g = static_cast<uint8_t>(((v >> 5) & 0x3F) * 255 / 63);
        b = static_cast<uint8_t>((v & 0x1F) * 255 / 31);
        break;
      }
      case 9:
        r = g = b = Scale(Le16(in), 65535);
        break;
      case texture_format::kRG16:
        r = in[0];
        g = in[1];
        break;
      case 3:
        r = in[0], g = in[1], b = in[2];
        break;
      case 4:
        r = in[0], g = in[1], b = in[2], a = in[3];
        break;
      case 5:
        a = in[0], r = in[1], g = in[2], b = in[3];
        break;
      case 14:
      case 37:
        b = in[0], g = in[1], r = in[2], a = in[3];
        break;
      case texture_format::kRG32:
        r = Scale(Le16(in), 65535);
        g = Scale(Le16(in + 2), 65535);
        break;
      case texture_format::kRGB48:
        r = Scale(Le16(in), 65535);
        g = Scale(Le16(in + 2), 65535);
        b = Scale(Le16(in + 4), 65535);
        break;
      case texture_format::kRGBA64:
        r = Scale(Le16(in), 65535);
        g = Scale(Le16(in + 2), 65535);
        b = Scale(Le16(in + 4), 65535);
        a = Scale(Le16(in + 6), 65535);
        break;
      case 15:
        r = FromFloat(HalfToFloat(Le16(in)));
        break;
      case 16:
        r = FromFloat(HalfToFloat(Le16(in)));
        g = FromFloat(HalfToFloat(Le16(in + 2)));
        break;
      case 17:
        r = FromFloat(HalfToFloat(Le16(in)));
        g = FromFloat(HalfToFloat(Le16(in + 2)));
        b = FromFloat(HalfToFloat(Le16(in + 4)));
        a = FromFloat(HalfToFloat(Le16(in + 6)));
        break;
      case 18:
        r = FromFloat(Le32Float(in));
        break;
      case 19:
        r = FromFloat(Le32Float(in));
        g = FromFloat(Le32Float(in + 4));
        break;
      case 20:
        r = FromFloat(Le32Float(in));
        g = FromFloat(Le32Float(in + 4));
        b = FromFloat(Le32Float(in + 8));
        a = FromFloat(Le32Float(in + 12));
        break;
      default:
        break;
    }
    out[0] = r, out[1] = g, out[2] = b, out[3] = a;
  }
}

}  // namespace kestrix
