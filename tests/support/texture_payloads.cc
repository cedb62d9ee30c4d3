#include "support/texture_payloads.h"

#include <algorithm>

#include "core/serialized_file.h"

namespace kestrix::testing {

namespace {

void WriteHeader(ByteWriter& w, const TextureSpec& s, int32_t complete) {
  w.I32(s.width).I32(s.height).I32(complete).I32(s.format);
  if (s.layout == 1) {
    w.U8(static_cast<uint8_t>(s.mip)).U8(1).U8(0).U8(0);  // flag bytes: readable
  } else {
    w.U32(s.mip).U8(1).U8(0).U8(0).U8(0);
  }
  // Image count, dimension, filter, anisotropy, mip bias, wrap, lightmap format, colour space.
  w.I32(s.image_count).I32(s.image_count == 6 ? 4 : 2).I32(1).I32(1).I32(0).I32(0).I32(0).I32(1);
}

// The fields of 2017.1 and later releases.
void WriteFields(ByteWriter& w, const TextureSpec& s, int32_t complete) {
  const EngineVersion v = ParseEngineVersion(s.engine);
  if (v.AtLeast(2017, 3)) {
    w.I32(4).U8(0);                   // forced fallback format, downscale fallback
    if (v.AtLeast(2020, 2)) w.U8(1);  // alpha channel optional
    w.Align(4);
  }
  w.I32(s.width).I32(s.height).I32(complete);
  if (v.AtLeast(2020, 1)) w.I32(0);  // mips stripped
  w.I32(s.format).U32(s.mip).U8(1);  // readable
  if (v.AtLeast(2020, 1)) w.U8(0);   // preprocessed
  if (v.AtLeast(2022, 2)) {
    w.U8(0).Align(4).Str("Characters");  // ignore mipmap limit, limit group
  } else if (v.AtLeast(2019, 3)) {
    w.U8(0);  // ignore master texture limit
  }
  if (v.AtLeast(2018, 2)) w.U8(1);  // streaming mipmaps
  w.Align(4);
  if (v.AtLeast(2018, 2)) w.I32(3);  // streaming priority
  w.I32(s.image_count).I32(s.image_count == 6 ? 4 : 2);
  w.I32(1).I32(1).I32(0).I32(1).I32(0).I32(1);  // filter, aniso, mip bias, wrap U, V, W
  w.I32(0).I32(1);                              // lightmap format, colour space
  if (v.AtLeast(2020, 2)) w.U32(3).U8(7).U8(8).U8(9).Align(4);  // platform blob
  const bool streamed = !s.resource_path.empty();
  if (streamed) {
    w.U32(0);
  } else {
    w.U32(static_cast<uint32_t>(s.images.size())).Raw(s.images).Align(4);
  }
  const uint64_t offset = streamed ? s.resource_offset : 0;
  if (v.AtLeast(2020, 1)) {
    w.U64(offset);
  } else {
    w.U32(static_cast<uint32_t>(offset));
  }
  w.U32(streamed ? static_cast<uint32_t>(s.images.size()) : 0).Str(s.resource_path);
}

}  // namespace

Bytes Texture2DPayload(const TextureSpec& s) {
  const int32_t count = s.image_count > 0 ? s.image_count : 1;
  const int32_t complete = s.complete_image_size >= 0
                               ? s.complete_image_size
                               : static_cast<int32_t>(s.images.size() / static_cast<size_t>(count));
  ByteWriter w(s.big_endian);
  if (!s.engine.empty()) {
    WriteFields(w, s, complete);
    w.Raw(s.tail);
    return w.Take();
  }
  WriteHeader(w, s, complete);
  if (s.layout == 3) {
    w.U32(0).U32(s.resource_offset).U32(static_cast<uint32_t>(s.images.size()));
    w.U32(static_cast<uint32_t>(s.resource_path.size())).Text(s.resource_path).Align(4);
  } else {
    w.U32(static_cast<uint32_t>(s.images.size())).Raw(s.images).Align(4);
  }
  w.Raw(s.tail);
  return w.Take();
}

Bytes TextureResourceFile(const TextureSpec& s) {
  Bytes out(s.resource_offset, 0x5A);
  out.insert(out.end(), s.images.begin(), s.images.end());
  return out;
}

Bytes TextureObject(const std::string& name, const TextureSpec& desc) {
  return NamedObject(name, Texture2DPayload(desc), desc.big_endian);
}

Bytes ProceduralTexturePayload(const ProceduralSpec& s) {
  ByteWriter w(s.big_endian);
  w.I32(1).I32(2).U64(3).I32(4).I32(5).U64(6);
  for (int i = 0; i < 7; ++i) w.I32(10 + i);
  w.U32(static_cast<uint32_t>(s.image.size())).Raw(s.image);
  w.I32(s.width).I32(s.height).U32(s.mip).I32(s.format).I32(0).I32(0);
  return w.Take();
}

Bytes EncodePixels(int32_t format, int w, int h, int levels, const PixelFn& pixel) {
  Bytes out;
  for (int level = 0; level < levels; ++level) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        Rgba c = pixel(x, y, level);
        auto put16 = [&](uint16_t v) {
          out.push_back(static_cast<uint8_t>(v));
          out.push_back(static_cast<uint8_t>(v >> 8));
        };
        switch (format) {
          case 1:
            out.push_back(c.a);
            break;
          case 2:
            put16(static_cast<uint16_t>((c.a >> 4) << 12 | (c.r >> 4) << 8 | (c.g >> 4) << 4 |
                                        c.b >> 4));
            break;
          case 3:
            out.insert(out.end(), {c.r, c.g, c.b});
            break;
          case 4:
            out.insert(out.end(), {c.r, c.g, c.b, c.a});
            break;
          case 5:
            out.insert(out.end(), {c.a, c.r, c.g, c.b});
            break;
          case 7:
            put16(static_cast<uint16_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3));
            break;
          case 13:
            put16(static_cast<uint16_t>((c.r >> 4) << 12 | (c.g >> 4) << 8 | (c.b >> 4) << 4 |
                                        c.a >> 4));
            break;
          default:
            out.insert(out.end(), {c.b, c.g, c.r, c.a});
            break;  // 14, 37
        }
      }
    }
    w = std::max(w / 2, 1);
    h = std::max(h / 2, 1);
  }
  return out;
}

namespace {

uint16_t To565(const Rgba& c) {
  return static_cast<uint16_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
}

void PutLe(Bytes& out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

Bytes EncodeDxt(int32_t format, int w, int h, int levels, const PixelFn& pixel) {
  Bytes out;
  for (int level = 0; level < levels; ++level) {
    const int bw = std::max((w + 3) / 4, 1), bh = std::max((h + 3) / 4, 1);
    for (int by = 0; by < bh; ++by) {
      for (int bx = 0; bx < bw; ++bx) {
        uint16_t c[16];
        uint8_t alpha[16];
        for (int i = 0; i < 16; ++i) {
          int x = std::min(bx * 4 + i % 4, w - 1), y = std::min(by * 4 + i / 4, h - 1);
          Rgba p = pixel(std::max(x, 0), std::max(y, 0), level);
          c[i] = To565(p);
          alpha[i] = p.a;
        }
        if (format == 11) {
          for (int row = 0; row < 4; ++row) {
            uint16_t bits = 0;
            for (int i = 0; i < 4; ++i)
              bits |= static_cast<uint16_t>((alpha[row * 4 + i] >> 4) << (4 * i));
            PutLe(out, bits, 2);
          }
        } else if (format == 12) {
          uint8_t a0 = *std::max_element(alpha, alpha + 16),
                  a1 = *std::min_element(alpha, alpha + 16);
          uint64_t idx = 0;
          for (int i = 0; i < 16; ++i)
            idx |= static_cast<uint64_t>(alpha[i] == a0 ? 0 : 1) << (3 * i);
          out.push_back(a0);
          out.push_back(a1);
          PutLe(out, idx, 6);
        }
        // Colour 0 the larger, so four-colour mode; every pixel picks one of the two ends.
        uint16_t c0 = *std::max_element(c, c + 16), c1 = *std::min_element(c, c + 16);
        uint32_t idx = 0;
        for (int i = 0; i < 16; ++i) idx |= static_cast<uint32_t>(c[i] == c0 ? 0 : 1) << (2 * i);
        PutLe(out, c0, 2);
        PutLe(out, c1, 2);
        PutLe(out, idx, 4);
      }
    }
    w = std::max(w / 2, 1);
    h = std::max(h / 2, 1);
  }
  return out;
}

uint32_t DxtChainSize(int32_t format, int w, int h, int levels) {
  uint32_t total = 0;
  for (int level = 0; level < levels; ++level) {
    total += static_cast<uint32_t>(std::max((w + 3) / 4, 1) * std::max((h + 3) / 4, 1)) *
             (format == 10 ? 8u : 16u);
    w = std::max(w / 2, 1);
    h = std::max(h / 2, 1);
  }
  return total;
}

}  // namespace kestrix::testing
