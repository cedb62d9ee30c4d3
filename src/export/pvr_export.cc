// Mobile-format textures (PVRTC, ETC, EAC, ASTC, YUY2) in PVR version 3 files, one per image.
#include <algorithm>

#include "export/converter.h"
#include "export/ktx_pvr_formats.h"
#include "export/texture_source.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"

namespace kestrix {

void ExportPvr(const ConverterCall& call, ConverterContext& ctx) {
  MobileImages m;
  if (!PrepareMobileImages(call, ctx, /*for_ktx=*/false, &m)) return;
  TextureImages& images = m.images;
  const TextureHeader& h = images.header;
  const MobileFormat* format = m.format;
  const int32_t count = m.count;
  const LevelPlan& plan = m.plan;

  uint8_t header[52] = {};
  const ByteOrder le = ByteOrder::Little;
  Put32(header + 0, 0x03525650, le);
  Put32(header + 8, static_cast<uint32_t>(format->pvr_format), le);
  Put32(header + 20, format->pvr_channel_type, le);
  Put32(header + 24, static_cast<uint32_t>(h.height), le);
  Put32(header + 28, static_cast<uint32_t>(h.width), le);
  Put32(header + 32, 1, le);
  Put32(header + 36, 1, le);
  Put32(header + 40, static_cast<uint32_t>(count == 0 ? 1 : count), le);
  Put32(header + 44, static_cast<uint32_t>(plan.count), le);

  for (int32_t i = 0; i < count; ++i) {
    const std::vector<uint8_t> image = images.Image(i);
    std::string folder = MakeOutputFolder(call, images.subfolder);
    OutputFile out(folder + call.file_name + ImageSuffix(i, count) + ".pvr");
    out.Write(header, sizeof(header));
    out.Write(image);
    out.Close();
  }
  ctx.Done(call.file_name + " -> PVR");
}

}  // namespace kestrix
