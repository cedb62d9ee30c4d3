// DXT1, DXT3 and DXT5 blocks through libsquish.
#include <squish.h>

#include "export/pixels.h"

namespace kestrix {

void DecodeDxtBlock(int32_t format, const uint8_t* block, uint8_t* out) {
  const int flags = format == 10 ? squish::kDxt1 : format == 11 ? squish::kDxt3 : squish::kDxt5;
  squish::Decompress(out, block, flags);
}

}  // namespace kestrix
