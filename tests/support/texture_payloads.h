// Texture payloads for tests and samples: Texture2D/Cubemap in the three stored layouts, with the
// image data inline or in a resource file, ProceduralTexture payloads, and small image encoders
// (plain pixels in the engine's byte order, DXT1/3/5 blocks of at most two colours).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/asset_builder.h"

namespace kestrix::testing {

struct TextureSpec {
  int layout = 2;  // 1: 1-byte mip flag; 2: 4-byte mip count; 3: data in a resource file
  bool big_endian = false;
  int32_t width = 4;
  int32_t height = 4;
  int32_t format = 4;
  uint32_t mip = 1;  // layout 1: the has-mips flag; else the level count
  int32_t image_count = 1;
  int32_t complete_image_size = -1;  // -1: the image bytes divided by the image count
  Bytes images;                      // every image, one after another
  std::string resource_path;         // layout 3
  uint32_t resource_offset = 0;      // layout 3: where the images start in the resource file
  Bytes tail = Bytes(12, 0);         // what follows the data (the stream info of later engines)
  // Engines from 2017.1 on ("2019.3.0f1", ...): the fields of that release, written one by one
  // as it stores them; `layout` is not used, and the images lie in the resource file when
  // `resource_path` is set. The tail follows the stream fields.
  std::string engine;
};

// The payload after the object's name.
Bytes Texture2DPayload(const TextureSpec& desc);
// Layout 3: the resource file, `resource_offset` filler bytes followed by the images.
Bytes TextureResourceFile(const TextureSpec& desc);
// A Texture2D object: the serialized name followed by the payload.
Bytes TextureObject(const std::string& name, const TextureSpec& desc);

struct ProceduralSpec {
  bool big_endian = false;
  int32_t width = 4, height = 4, format = 4;
  uint32_t mip = 0;
  Bytes image;
};
Bytes ProceduralTexturePayload(const ProceduralSpec& desc);

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 255;
};
// Colour of a pixel at (x, y) of a level, y counting in stored order (the bottom row first).
using PixelFn = std::function<Rgba(int x, int y, int level)>;

// Levels from w x h down, halving to 1 pixel, in the engine's byte order for formats 1-5, 7, 13,
// 14 and 37.
Bytes EncodePixels(int32_t format, int w, int h, int levels, const PixelFn& pixel);
// Levels of DXT1 (10), DXT3 (11) or DXT5 (12) blocks, halving down to one block. Each block takes
// the colours of its pixels; blocks of one or two colours (in RGB565) come out exact.
Bytes EncodeDxt(int32_t format, int w, int h, int levels, const PixelFn& pixel);

// The 4x4-blocks-of-16-bytes size of a DXT level chain (DXT1 halves it), as the engine stores it.
uint32_t DxtChainSize(int32_t format, int w, int h, int levels);

}  // namespace kestrix::testing
