// ASTC (LDR, every 2D block size the engine uses) through libastcenc.
#if KESTRIX_HAVE_ASTC
#include <astcenc.h>
#endif

#include <memory>

#include "core/error.h"
#include "export/pixels.h"

namespace kestrix {

#if KESTRIX_HAVE_ASTC
namespace {

struct ContextFree {
  void operator()(astcenc_context* c) const { astcenc_context_free(c); }
};

}  // namespace
#endif

bool IsAstcLdr(int32_t format) { return format >= 48 && format <= 59; }

void AstcBlockSize(int32_t format, int* block_width, int* block_height) {
  static constexpr int kSides[6] = {4, 5, 6, 8, 10, 12};
  const int side = IsAstcLdr(format) ? kSides[(format - 48) % 6] : 4;
  *block_width = *block_height = side;
}

#if !KESTRIX_HAVE_ASTC
void ThrowAstcUnavailable() {
  throw Error(
      "ASTC textures are not supported by this build of Kestrix: it was made without the ASTC "
      "codec library (libastcenc), whose source was not available for Windows.",
      ErrorKind::kNotSupported);
}

void DecodeAstcLevel(int32_t, const uint8_t*, int32_t, int32_t, uint8_t*) {
  ThrowAstcUnavailable();
}
#else
void DecodeAstcLevel(int32_t format, const uint8_t* data, int32_t width, int32_t height,
                     uint8_t* out) {
  int bw = 4, bh = 4;
  AstcBlockSize(format, &bw, &bh);
  astcenc_config config;
  astcenc_error status =
      astcenc_config_init(ASTCENC_PRF_LDR, static_cast<unsigned>(bw), static_cast<unsigned>(bh), 1,
                          ASTCENC_PRE_FASTEST, ASTCENC_FLG_DECOMPRESS_ONLY, &config);
  astcenc_context* raw = nullptr;
  if (status == ASTCENC_SUCCESS) status = astcenc_context_alloc(&config, 1, &raw);
  std::unique_ptr<astcenc_context, ContextFree> context(raw);
  if (status != ASTCENC_SUCCESS)
    throw Error(std::string("The ASTC decoder cannot start: ") + astcenc_get_error_string(status),
                ErrorKind::kNotSupported);
  void* slices[1] = {out};
  astcenc_image image{static_cast<unsigned>(width), static_cast<unsigned>(height), 1,
                      ASTCENC_TYPE_U8, slices};
  const astcenc_swizzle swizzle{ASTCENC_SWZ_R, ASTCENC_SWZ_G, ASTCENC_SWZ_B, ASTCENC_SWZ_A};
  const size_t blocks = static_cast<size_t>((width + bw - 1) / bw) * ((height + bh - 1) / bh);
  status = astcenc_decompress_image(context.get(), data, blocks * 16, &image, &swizzle, 0);
  if (status != ASTCENC_SUCCESS)
    throw Error(std::string("ASTC data cannot be decoded: ") + astcenc_get_error_string(status));
}
#endif

}  // namespace kestrix
