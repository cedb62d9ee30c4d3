// Pictures encoded back into texture formats, for PNG import: our own for the plain formats,
// libsquish for DXT, BC4 and BC5, android-libetc1 for ETC1, libastcenc for ASTC.
#pragma once

#include <cstdint>
#include <vector>

#include "export/pixels.h"

namespace kestrix {

bool HasPictureEncoder(int32_t format);

// One level, given in the stored row order (bottom row first), in the format's bytes
// (PictureLevelBytes of them). Throws Error for formats without an encoder.
std::vector<uint8_t> EncodeTextureLevel(int32_t format, const RgbaImage& stored);

// The next level down: each side halved (not below 1), every pixel the mean of the up to four
// pixels it covers.
RgbaImage HalveImage(const RgbaImage& image);

}  // namespace kestrix
