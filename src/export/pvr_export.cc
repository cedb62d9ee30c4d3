// Mobile-format textures (PVRTC, ETC, EAC, ASTC, YUY2) in PVR version 3 files, one per image.
#include <algorithm>

#include "export/converter.h"
#include "export/ktx_pvr_formats.h"
#include "export/texture_source.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"

namespace kestrix {

void ExportPvr(const ConverterCall& call, ConverterContext& ctx) {
  TextureImages images;
  if (!OpenTextureImages(call, ctx, &images)) return;
  const TextureHeader& h = images.header;
  const MobileFormat* format = FindMobileFormat(h.format);
  if (!format || format->pvr_format < 0) return;  // the driver sends only PVR formats
  const int32_t count = h.ImageCount();
  images.RequireImages(count);
  const uint64_t total = static_cast<uint64_t>(std::max(h.complete_image_size, 0));
  if (total == 0 || count == 0) {
    ctx.Done(call.file_name + " -> PVR");
    return;
  }
  // The images are there (checked above), so the level count is bounded by real data.
  const LevelPlan plan = PlanLevels(*format, h.width, h.height, total, h.MipByte());

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
    OutputFile out(folder + call.file_name + ".pvr" + ImageSuffix(i));
    out.Write(header, sizeof(header));
    out.Write(image);
    out.Close();
  }
  ctx.Done(call.file_name + " -> PVR");
}

}  // namespace kestrix
