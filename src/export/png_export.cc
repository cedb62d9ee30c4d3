// Texture2D and Cubemap payloads as PNG pictures: the top level of every image decoded, the
// images side by side in one picture (a cubemap's six faces in a strip, in stored order: +X, -X,
// +Y, -Y, +Z, -Z), top row first.
#include <algorithm>

#include "core/error.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/pixels.h"
#include "export/png_file.h"
#include "export/texture_picture.h"
#include "export/texture_source.h"

namespace kestrix {

RgbaImage TexturePicture(const TextureImages& images, const EngineVersion& engine) {
  const TextureHeader& h = images.header;
  const std::string refusal = PictureRefusal(h.format, engine);
  if (!refusal.empty()) throw Error(refusal + ".", ErrorKind::kNotSupported);
  const int32_t count = h.ImageCount();
  images.RequireImages(count);
  if (count <= 0 || h.complete_image_size <= 0)
    throw Error("The texture holds no image data.", ErrorKind::kNotSupported);
  if (static_cast<int64_t>(h.width) * count > kMaxPictureWidth)
    throw Error("A strip of " + std::to_string(count) + " images " + std::to_string(h.width) +
                    " pixels wide is too wide for one picture.",
                ErrorKind::kNotSupported);
  RgbaImage strip;
  strip.width = h.width * count;
  strip.height = h.height;
  for (int32_t i = 0; i < count; ++i) {
    const std::vector<uint8_t> data = images.Image(i);
    RgbaImage face = DecodeTextureLevel(h.format, data.data(), data.size(), h.width, h.height);
    if (count == 1) return face;
    if (strip.pixels.empty())
      strip.pixels.resize(static_cast<size_t>(strip.width) * strip.height * 4);
    const size_t face_row = static_cast<size_t>(h.width) * 4;
    for (int32_t y = 0; y < h.height; ++y)
      std::copy_n(face.pixels.data() + y * face_row, face_row,
                  strip.pixels.data() + (static_cast<size_t>(y) * strip.width + i * h.width) * 4);
  }
  return strip;
}

void ExportPng(const ConverterCall& call, ConverterContext& ctx) {
  TextureImages images;
  OpenTextureImages(call, ctx, &images);
  const TextureHeader& h = images.header;
  if (h.complete_image_size <= 0 || h.ImageCount() <= 0) {
    ctx.Done(call.file_name + " -> PNG");
    return;
  }
  RgbaImage picture;
  try {
    picture = TexturePicture(images, ctx.session().Asset.Engine);
  } catch (const Error& e) {
    // A format without a decoder is a note, like a format no container takes; the other files
    // asked for are still written.
    if (e.Kind() != ErrorKind::kNotSupported) throw;
    ctx.Report(call.file_name + ": " + e.what());
    return;
  }
  const std::string folder = MakeOutputFolder(call, images.subfolder);
  WritePngFile(folder + call.file_name + ".png", picture);
  ctx.Done(call.file_name + " -> PNG");
}

}  // namespace kestrix
