#include "export/ktx_pvr_formats.h"

#include <algorithm>
#include <string>

#include "core/error.h"
#include "export/converter.h"
#include "export/texture_header.h"

namespace kestrix {

const std::vector<MobileFormat>& MobileFormats() {
  static const std::vector<MobileFormat> table = {
      {21, 0, 0, 17, 0, 16, 0, 0},
      {30, 0x8C01, 0x1907, 0, 0, 2, 0, 0},
      {31, 0x8C03, 0x1908, 1, 0, 2, 0, 0},
      {32, 0x8C00, 0x1907, 2, 0, 4, 0, 0},
      {33, 0x8C02, 0x1908, 3, 0, 4, 0, 0},
      {34, 0x8D64, 0x1907, 6, 0, 4, 0, 0, true},
      {60, 0x8D64, 0x1907, 6, 0, 4, 0, 0, true},
      {35, 0x8C92, 0x1907, -1, 0, 4, 0, 0, true},
      {36, 0x8C93, 0x1908, -1, 0, 8, 0, 0, true},
      {41, 0x9270, 0x1903, 25, 4, 4, 0, 0, true},
      {42, 0x9271, 0x1903, 25, 5, 4, 0, 0, true},
      {43, 0x9272, 0x8227, 26, 4, 8, 0, 0, true},
      {44, 0x9273, 0x8227, 26, 5, 8, 0, 0, true},
      {45, 0x9274, 0x1907, 22, 0, 4, 0, 0, true},
      {46, 0x9276, 0x1908, 24, 0, 4, 0, 0, true},
      {47, 0x9278, 0x1908, 23, 0, 8, 0, 0, true},
      {61, 0x9278, 0x1908, 23, 0, 8, 0, 0, true},
      {48, 0x93B0, 0x1908, 27, 0, 0, 4, 4},
      {54, 0x93B0, 0x1908, 27, 0, 0, 4, 4},
      {49, 0x93B2, 0x1908, 29, 0, 0, 5, 5},
      {55, 0x93B2, 0x1908, 29, 0, 0, 5, 5},
      {50, 0x93B4, 0x1908, 31, 0, 0, 6, 6},
      {56, 0x93B4, 0x1908, 31, 0, 0, 6, 6},
      {51, 0x93B7, 0x1908, 34, 0, 0, 8, 8},
      {57, 0x93B7, 0x1908, 34, 0, 0, 8, 8},
      {52, 0x93BB, 0x1908, 38, 0, 0, 10, 10},
      {58, 0x93BB, 0x1908, 38, 0, 0, 10, 10},
      {53, 0x93BD, 0x1908, 40, 0, 0, 12, 12},
      {59, 0x93BD, 0x1908, 40, 0, 0, 12, 12},
      // ASTC HDR (engines from 2019 on) shares the enums: the HDR profile is the decoder's.
      {66, 0x93B0, 0x1908, 27, 0, 0, 4, 4},
      {67, 0x93B2, 0x1908, 29, 0, 0, 5, 5},
      {68, 0x93B4, 0x1908, 31, 0, 0, 6, 6},
      {69, 0x93B7, 0x1908, 34, 0, 0, 8, 8},
      {70, 0x93BB, 0x1908, 38, 0, 0, 10, 10},
      {71, 0x93BD, 0x1908, 40, 0, 0, 12, 12},
  };
  return table;
}

const MobileFormat* FindMobileFormat(int32_t code) {
  for (const MobileFormat& f : MobileFormats())
    if (f.code == code) return &f;
  return nullptr;
}

uint64_t MobileLevelSize(const MobileFormat& format, int64_t w, int64_t h, bool round_up) {
  const uint64_t uw = w > 0 ? static_cast<uint64_t>(w) : 0;
  const uint64_t uh = h > 0 ? static_cast<uint64_t>(h) : 0;
  if (format.four_by_four)
    return BlockLevelSize(w, h, 2 * static_cast<uint64_t>(format.bits_per_pixel));
  if (format.bits_per_pixel == 0) {
    const uint64_t bw = static_cast<uint64_t>(format.block_width);
    const uint64_t bh = static_cast<uint64_t>(format.block_height);
    return (uw + bw - 1) / bw * ((uh + bh - 1) / bh) * 16;
  }
  const uint64_t bits = uw * uh * static_cast<uint64_t>(format.bits_per_pixel);
  return round_up ? (bits + 7) / 8 : bits / 8;
}

LevelPlan PlanLevels(const MobileFormat& format, int32_t width, int32_t height, uint64_t total,
                     uint8_t mip_byte) {
  LevelPlan plan;
  const bool blocks = format.bits_per_pixel == 0;
  if (blocks) {
    plan.min_width = format.block_width;
    plan.min_height = format.block_height;
  }
  if (mip_byte != 1) {
    plan.count = mip_byte == 0 ? 1 : mip_byte;
    return plan;
  }
  int64_t w = width, h = height;
  int count = 1;
  uint64_t sum = MobileLevelSize(format, w, h, false);
  // Every step adds at least one smallest level (4 bytes or more), so the loop ends once `total`
  // is reached; callers have checked that `total` bytes exist.
  while (sum < total) {
    w = std::max(w / 2, plan.min_width);
    h = std::max(h / 2, plan.min_height);
    sum += MobileLevelSize(format, w, h, false);
    ++count;
    if (!blocks && plan.min_width == 4 && (w == 8 || h == 8)) {
      // Some encoders stop halving at 8 pixels: when the sizes add up exactly that way, it is
      // the layout of this image.
      int64_t tw = w, th = h;
      uint64_t tsum = sum;
      int tcount = count;
      while (tsum < total) {
        tw = std::max<int64_t>(tw / 2, 8);
        th = std::max<int64_t>(th / 2, 8);
        tsum += MobileLevelSize(format, tw, th, false);
        ++tcount;
      }
      if (tsum == total) {
        w = tw;
        h = th;
        sum = tsum;
        count = tcount;
        plan.min_width = plan.min_height = 8;
      }
    }
  }
  plan.count = count;
  return plan;
}

LevelWalk::LevelWalk(const MobileFormat& format, const LevelPlan& plan, int32_t width,
                     int32_t height)
    : format_(format), plan_(plan), w_(width), h_(height) {}

void LevelWalk::Next() {
  w_ = std::max(w_ / 2, plan_.min_width);
  h_ = std::max(h_ / 2, plan_.min_height);
}

uint64_t RequireLevels(const MobileFormat& format, const LevelPlan& plan, int32_t width,
                       int32_t height, uint64_t total) {
  LevelWalk walk(format, plan, width, height);
  uint64_t sum = 0;
  for (int level = 0; level < plan.count; ++level, walk.Next()) {
    sum += walk.Size();
    if (sum > total)
      throw Error("Texture level " + std::to_string(level + 1) + " of " +
                  std::to_string(plan.count) + " runs past the image data (" +
                  std::to_string(total) + " bytes).");
  }
  return sum;
}

bool PrepareMobileImages(const ConverterCall& call, ConverterContext& ctx, bool for_ktx,
                         MobileImages* out) {
  OpenTextureImages(call, ctx, &out->images);
  const TextureHeader& h = out->images.header;
  out->format = FindMobileFormat(h.format);
  if (!out->format) return false;
  if (for_ktx ? out->format->gl_internal_format == 0 : out->format->pvr_format < 0) return false;
  out->count = h.ImageCount();
  out->images.RequireImages(out->count);
  out->total = static_cast<uint64_t>(std::max(h.complete_image_size, 0));
  if (out->total == 0 || out->count == 0) {
    ctx.Done(call.file_name + (for_ktx ? " -> KTX" : " -> PVR"));
    return false;
  }
  // The images are there (checked above), so the level walk is bounded by real data.
  out->plan = PlanLevels(*out->format, h.width, h.height, out->total, h.MipByte());
  return true;
}

}  // namespace kestrix
