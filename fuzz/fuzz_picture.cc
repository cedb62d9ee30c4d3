// Texture levels through the picture decoders, and files through the PNG reader and PNG import's
// encoders, as export, the preview and import call them.
//   format (u8) | width (u8) | height (u8) | data
// The sides are 1 to 256 pixels, so every block layout and partial block comes up; the data is
// the level, and also the bytes of a PNG file.
#include <vector>

#include "core/error.h"
#include "export/pixels.h"
#include "export/png_file.h"
#include "import/pixel_encode.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  fuzz::Input in(data, size);
  const int32_t format = in.Byte();
  const int32_t width = in.Byte() + 1;
  const int32_t height = in.Byte() + 1;
  size_t level_size = 0;
  const uint8_t* level = in.Rest(&level_size);
  RgbaImage picture;
  try {
    picture = DecodeTextureLevel(format, level, level_size, width, height);
  } catch (const Error&) {
  }
  try {
    RgbaImage png = DecodePng(std::vector<uint8_t>(level, level + level_size), "input.png");
    if (png.width <= 64 && png.height <= 64) picture = png;
  } catch (const Error&) {
  }
  if (!picture.pixels.empty() && HasPictureEncoder(format)) {
    try {
      FlipRows(picture);
      EncodeTextureLevel(format, picture);
      EncodeTextureLevel(format, HalveImage(picture));
    } catch (const Error&) {
    }
  }
  return 0;
}
