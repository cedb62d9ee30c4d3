// Edited PNG pictures back into Texture2D and Cubemap payloads: the picture (a strip of the
// images side by side, as PNG export writes it) is cut into its images, each encoded into the
// entry's own format and size with its level chain rebuilt from the picture.
#include <algorithm>

#include "core/error.h"
#include "core/frontend.h"
#include "export/png_file.h"
#include "import/pixel_encode.h"
#include "import/texture_import.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

std::string Size(int64_t w, int64_t h) { return std::to_string(w) + "x" + std::to_string(h); }

// How many levels of w x h down to 1 pixel add up to `total` bytes; 0 when no count does.
int LevelsFor(int32_t format, int32_t w, int32_t h, uint64_t total) {
  uint64_t sum = 0;
  for (int level = 1; level <= 32; ++level) {
    sum += PictureLevelBytes(format, w, h);
    if (sum == total) return level;
    if (sum > total || (w == 1 && h == 1)) return 0;
    w = std::max(w / 2, 1);
    h = std::max(h / 2, 1);
  }
  return 0;
}

RgbaImage Cut(const RgbaImage& strip, int32_t index, int32_t width) {
  RgbaImage face;
  face.width = width;
  face.height = strip.height;
  face.pixels.resize(static_cast<size_t>(width) * strip.height * 4);
  const size_t row = static_cast<size_t>(width) * 4;
  for (int32_t y = 0; y < strip.height; ++y)
    std::copy_n(strip.pixels.data() + (static_cast<size_t>(y) * strip.width + index * width) * 4,
                row, face.pixels.data() + y * row);
  return face;
}

}  // namespace

void ImportPng(const ImporterCall& call, ImporterContext& ctx) {
  const CurrentTexture current = ReadCurrentTexture(call);
  const TextureHeader& h = current.header;
  const int32_t format = h.format;
  const int32_t count = h.ImageCount();
  // A refused picture is a failure of the run; the other files still go in.
  auto refuse = [&](const std::string& why) {
    ctx.frontend.ErrorBox("Cannot import " + call.source_path + ": " + why);
  };
  // Codes 24 to 27 of engines before 5 are console formats, whatever BC format they are later.
  if (!HasPictureEncoder(format) || !PictureRefusal(format, call.engine).empty())
    return refuse("the texture is " + TextureFormatName(format) +
                  ", which has no encoder here; it needs a DDS, KTX, PVR or CRN file instead.");
  if (count <= 0 || h.width <= 0 || h.height <= 0 || h.complete_image_size <= 0)
    return refuse("the texture holds no image to replace.");
  const int levels =
      LevelsFor(format, h.width, h.height, static_cast<uint64_t>(h.complete_image_size));
  if (levels == 0)
    return refuse("the texture's " + std::to_string(h.complete_image_size) +
                  " bytes per image are no level chain of " + Size(h.width, h.height) + " " +
                  TextureFormatName(format) + "; it needs a DDS file instead.");

  // The size comes from the file's header and must be the texture's before anything is decoded,
  // so the decoded picture takes the memory of the texture it replaces, whatever the file says.
  const SourceHead head = ReadSourceHead(call.source_path, kPngSizeBytes);
  PngSize size;
  if (!ReadPngSize(head.bytes, &size))
    RefuseSource(call.source_path, "it is not a PNG file (no PNG signature and header).");
  const int64_t want_width = static_cast<int64_t>(h.width) * count;
  if (size.width != want_width || size.height != static_cast<uint32_t>(h.height))
    RefuseSource(call.source_path,
                 "the PNG claims " + Size(size.width, size.height) + " pixels; the texture needs " +
                     Size(want_width, h.height) +
                     (count > 1 ? " (" + std::to_string(count) + " images side by side)" : "") +
                     ".");
  // Even stored without compression, 16-bit RGBA with a filter byte a row, a PNG of that picture
  // is smaller than this; more is something besides the picture.
  const uint64_t most =
      2 * static_cast<uint64_t>(h.height) * (1 + static_cast<uint64_t>(want_width) * 8) +
      kMaxSourceMetadata;
  if (head.length > most)
    RefuseSource(call.source_path, "it has " + std::to_string(head.length) + " bytes, more than " +
                                       "any PNG of " + Size(want_width, h.height) +
                                       " pixels needs (" + std::to_string(most) + ").");
  const RgbaImage picture =
      DecodePng(ReadCheckedSource(call.source_path, head.length), call.source_path);
  if (picture.width != want_width || picture.height != h.height)
    RefuseSource(call.source_path, "the picture decoded is " + Size(picture.width, picture.height) +
                                       " pixels, not the size its header gives.");

  ImportedTexture t;
  t.width = h.width;
  t.height = h.height;
  t.format = format;
  t.mip_field = h.mip_field;
  t.image_count = count;
  t.complete_image_size = static_cast<uint32_t>(h.complete_image_size);
  for (int32_t i = 0; i < count; ++i) {
    RgbaImage level = count == 1 ? picture : Cut(picture, i, h.width);
    for (int l = 0; l < levels; ++l) {
      if (l > 0) level = HalveImage(level);
      RgbaImage stored = level;
      FlipRows(stored);  // the engine keeps the bottom row first
      const std::vector<uint8_t> bytes = EncodeTextureLevel(format, stored);
      t.data.insert(t.data.end(), bytes.begin(), bytes.end());
    }
  }
  SaveTexture(call, ctx, h, t);
  ctx.frontend.ConsoleLine(call.source_path + " -> TEX");
}

}  // namespace kestrix
