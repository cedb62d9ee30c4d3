// Mobile-format textures (PVRTC, ETC, EAC, ATC, ASTC) wrapped in KTX 1.1 files, one per image.
#include <algorithm>

#include "export/converter.h"
#include "export/ktx_pvr_formats.h"
#include "export/texture_source.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"

namespace kestrix {

void ExportKtx(const ConverterCall& call, ConverterContext& ctx) {
  MobileImages m;
  if (!PrepareMobileImages(call, ctx, /*for_ktx=*/true, &m)) return;
  TextureImages& images = m.images;
  const TextureHeader& h = images.header;
  const MobileFormat* format = m.format;
  const int32_t count = m.count;
  const uint64_t total = m.total;
  const LevelPlan& plan = m.plan;
  RequireLevels(*format, plan, h.width, h.height, total);

  static const uint8_t kIdentifier[12] = {0xAB, 0x4B, 0x54, 0x58, 0x20, 0x31,
                                          0x31, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A};
  uint8_t header[64] = {};
  const ByteOrder le = ByteOrder::Little;
  std::copy(kIdentifier, kIdentifier + 12, header);
  Put32(header + 12, 0x04030201, le);
  Put32(header + 20, 1, le);
  Put32(header + 28, format->gl_internal_format, le);
  Put32(header + 32, format->gl_base_internal_format, le);
  Put32(header + 36, static_cast<uint32_t>(h.width), le);
  Put32(header + 40, static_cast<uint32_t>(h.height), le);
  Put32(header + 52, static_cast<uint32_t>(count), le);
  Put32(header + 56, static_cast<uint32_t>(plan.count), le);

  for (int32_t i = 0; i < count; ++i) {
    const std::vector<uint8_t> image = images.Image(i);
    std::string folder = MakeOutputFolder(call, images.subfolder);
    OutputFile out(folder + call.file_name + ImageSuffix(i, count) + ".ktx");
    out.Write(header, sizeof(header));
    uint64_t pos = 0;
    LevelWalk walk(*format, plan, h.width, h.height);
    for (int level = 0; level < plan.count; ++level, walk.Next()) {
      const uint64_t size = walk.Size();
      uint8_t prefix[4];
      Put32(prefix, static_cast<uint32_t>(size), le);
      out.Write(prefix, 4);
      out.Write(image.data() + pos, size);
      pos += size;
    }
    if (pos < image.size()) out.Write(image.data() + pos, image.size() - pos);
    out.Close();
  }
  ctx.Done(call.file_name + " -> KTX");
}

}  // namespace kestrix
