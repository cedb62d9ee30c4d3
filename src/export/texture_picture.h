// A texture's picture: the top level of each image decoded and set side by side (one image for
// a Texture2D; a cubemap's six faces in a strip, in stored order +X, -X, +Y, -Y, +Z, -Z). PNG
// export writes it, the window's preview shows it and PNG import takes it apart again.
#pragma once

#include <cstdint>

#include "export/pixels.h"
#include "export/texture_source.h"

namespace kestrix {

// The widest picture a strip may make.
inline constexpr int32_t kMaxPictureWidth = 16384;

// Throws Error of kind not supported when the format has no decoder here (the message says "...
// cannot be shown as a picture (...)") or there is no image data; of kind damaged data when the
// data is shorter than it claims.
RgbaImage TexturePicture(const TextureImages& images, const EngineVersion& engine);

}  // namespace kestrix
