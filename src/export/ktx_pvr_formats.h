// The mobile texture formats that KTX and PVR files carry: their container codes and how big
// each mip level is. Both writers count levels the same way, and import maps the codes back.
#pragma once

#include <cstdint>
#include <vector>

#include "export/texture_source.h"

namespace kestrix {

struct MobileFormat {
  int32_t code = 0;
  uint32_t gl_internal_format = 0;  // 0: KTX does not take the format
  uint32_t gl_base_internal_format = 0;
  int32_t pvr_format = -1;  // -1: PVR does not take the format
  uint32_t pvr_channel_type = 0;
  int bits_per_pixel = 0;                 // 0 for ASTC
  int block_width = 0, block_height = 0;  // ASTC blocks of 16 bytes
  // ETC, EAC and ATC: 4x4 blocks of 2 x bits_per_pixel bytes, whole ones in every level.
  bool four_by_four = false;
};

const std::vector<MobileFormat>& MobileFormats();
const MobileFormat* FindMobileFormat(int32_t code);

// Bytes of one level of w x h pixels. The block formats count whole blocks; for the others,
// counting levels rounds partial bytes down and writing them rounds up, which differ only below
// 4x4 pixels.
uint64_t MobileLevelSize(const MobileFormat& format, int64_t w, int64_t h, bool round_up);

struct LevelPlan {
  int count = 1;
  int64_t min_width = 4, min_height = 4;  // no level is written smaller
};

// How many levels an image of `total` bytes holds. A mip byte other than 1 is the count itself;
// 1 asks for the count to be worked out from the sizes.
LevelPlan PlanLevels(const MobileFormat& format, int32_t width, int32_t height, uint64_t total,
                     uint8_t mip_byte);

// Walks the levels as they are written, from the top level down.
class LevelWalk {
 public:
  LevelWalk(const MobileFormat& format, const LevelPlan& plan, int32_t width, int32_t height);
  uint64_t Size() const { return MobileLevelSize(format_, w_, h_, true); }
  void Next();

 private:
  const MobileFormat& format_;
  LevelPlan plan_;
  int64_t w_, h_;
};

// Bytes the plan's levels take; throws Error when that is more than `total`.
uint64_t RequireLevels(const MobileFormat& format, const LevelPlan& plan, int32_t width,
                       int32_t height, uint64_t total);

// The opening both mobile writers share: the texture's images and format, checked, and its level
// plan. False when there is nothing to write (no usable format for the container, which the
// export driver never sends, or no image data, which is reported done).
struct MobileImages {
  TextureImages images;
  const MobileFormat* format = nullptr;
  int32_t count = 0;
  uint64_t total = 0;
  LevelPlan plan;
};
bool PrepareMobileImages(const ConverterCall& call, ConverterContext& ctx, bool for_ktx,
                         MobileImages* out);

}  // namespace kestrix
