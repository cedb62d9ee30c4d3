// Texture2D, Cubemap and ProceduralTexture payloads as DDS files, one per image.
#include <utility>

#include "core/error.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/texture_header.h"
#include "export/texture_source.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"
#include "platform/reader.h"

namespace kestrix {

namespace {

// The image the right way up unless the user asked for the stored row order. Done before any
// folder or file is made, so a malformed level chain leaves nothing behind.
std::vector<uint8_t> DdsBody(std::vector<uint8_t> image, const DdsHeader& header, int32_t width,
                             int32_t height, int32_t format, bool flip) {
  ConvertPixels(format, image.data(), image.size());
  if (!flip) return image;
  std::vector<uint8_t> body;
  body.reserve(image.size());
  WriteImageFlipped(body, image.data(), image.size(), width, height, format, header.Levels(),
                    header.bytes_per_pixel);
  return body;
}

void WriteDds(const std::string& path, const DdsHeader& header, const std::vector<uint8_t>& body) {
  OutputFile out(path);
  out.Write(header.bytes.data(), header.bytes.size());
  if (header.has_dx10) out.Write(header.dx10.data(), header.dx10.size());
  out.Write(body);
  out.Close();
}

}  // namespace

void ExportDds(const ConverterCall& call, ConverterContext& ctx) {
  TextureImages images;
  OpenTextureImages(call, ctx, &images);
  const TextureHeader& h = images.header;
  const DdsHeader dds =
      BuildDdsHeader(h.format, h.complete_image_size, h.width, h.height, h.MipByte());
  const int32_t count = h.ImageCount();
  images.RequireImages(count);
  const bool flip = !ctx.request().NoTextureFlip && DdsFlipsFormat(h.format);
  if (h.complete_image_size > 0) {
    for (int32_t i = 0; i < count; ++i) {
      std::vector<uint8_t> body = DdsBody(images.Image(i), dds, h.width, h.height, h.format, flip);
      std::string folder = MakeOutputFolder(call, images.subfolder);
      WriteDds(folder + call.file_name + ImageSuffix(i, count) + ".dds", dds, body);
    }
  }
  ctx.Done(call.file_name + " -> DDS");
}

void ExportProceduralDds(const ConverterCall& call, ConverterContext& ctx) {
  if (call.payload_size <= 88) return;
  const ByteOrder order = call.big_endian ? ByteOrder::Big : ByteOrder::Little;
  Reader& r = call.stream;
  r.Skip(60);  // the fields before the image length are carried, not used
  const uint32_t length = r.U32(order);
  if (length > call.payload_size - 88)
    throw Error("Procedural texture data is shorter than its header claims: the image needs " +
                std::to_string(length) + " bytes, " + std::to_string(call.payload_size - 88) +
                " are there.");
  std::vector<uint8_t> image = r.ReadBytes(length);
  const int32_t width = r.I32(order);
  const int32_t height = r.I32(order);
  const uint32_t mip = r.U32(order);
  const int32_t format = r.I32(order);

  const DdsHeader dds = BuildDdsHeader(format, static_cast<int32_t>(length), width, height, mip);
  if (length > 0) {
    // ATC is flipped here too: procedural textures have always been written that way.
    std::vector<uint8_t> body =
        DdsBody(std::move(image), dds, width, height, format, !ctx.request().NoTextureFlip);
    WriteDds(MakeOutputFolder(call, "") + call.file_name + ".dds", dds, body);
  }
  ctx.Done(call.file_name + " -> DDS");
}

}  // namespace kestrix
