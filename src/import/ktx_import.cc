// Edited KTX 1 files back into Texture2D payloads: the levels without their size prefixes, the
// format from the GL internal format pair. Pixel data is taken as it is, with no flip.
#include <limits>

#include "core/error.h"
#include "core/frontend.h"
#include "import/texture_import.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"

namespace kestrix {

namespace {

constexpr size_t kKtxHeaderBytes = 64;

struct KtxRow {
  uint32_t internal_format;
  uint32_t base_internal_format;
  int32_t code;
  int32_t rgb_code;  // ASTC: the RGB code a texture keeps when it has it already, else 0
};

// The pairs the KTX writer puts in its header, read back.
constexpr KtxRow kKtxRows[] = {
    {0x8C01, 0x1907, 30, 0},  {0x8C03, 0x1908, 31, 0},  {0x8C00, 0x1907, 32, 0},
    {0x8C02, 0x1908, 33, 0},  {0x8C92, 0x1907, 35, 0},  {0x8C93, 0x1908, 36, 0},
    {0x8D64, 0x1907, 34, 0},  {0x9274, 0x1907, 45, 0},  {0x9276, 0x1908, 46, 0},
    {0x9278, 0x1908, 47, 0},  {0x9270, 0x1903, 41, 0},  {0x9271, 0x1903, 42, 0},
    {0x9272, 0x8227, 43, 0},  {0x9273, 0x8227, 44, 0},  {0x93B0, 0x1908, 54, 48},
    {0x93B2, 0x1908, 55, 49}, {0x93B4, 0x1908, 56, 50}, {0x93B7, 0x1908, 57, 51},
    {0x93BB, 0x1908, 58, 52}, {0x93BD, 0x1908, 59, 53},
};

int32_t KtxFormatCode(uint32_t internal_format, uint32_t base_internal_format,
                      int32_t current_code) {
  for (const KtxRow& row : kKtxRows) {
    if (row.internal_format != internal_format || row.base_internal_format != base_internal_format)
      continue;
    return KeepsAstcCode(row.rgb_code, current_code) ? current_code : row.code;
  }
  return current_code;
}

struct KtxSource {
  uint64_t data_start = 0;
  uint32_t internal_format = 0, base_internal_format = 0;
  int32_t width = 0, height = 0;
  uint32_t faces = 0;
  uint32_t mip_levels = 0;
};

KtxSource ReadKtxSource(const std::string& path, const std::vector<uint8_t>& file) {
  if (file.size() < kKtxHeaderBytes)
    SourceTooShort(path, "the KTX header", kKtxHeaderBytes, file.size());
  const uint8_t* h = file.data();
  KtxSource k;
  k.internal_format = GetLe32(h + 28);
  k.base_internal_format = GetLe32(h + 32);
  k.width = static_cast<int32_t>(GetLe32(h + 36));
  k.height = static_cast<int32_t>(GetLe32(h + 40));
  k.faces = GetLe32(h + 52);
  k.mip_levels = GetLe32(h + 56);
  const uint64_t key_values = GetLe32(h + 60);
  k.data_start = (kKtxHeaderBytes + key_values + 3) & ~uint64_t{3};
  if (k.data_start > file.size())
    SourceTooShort(path, "the KTX key/value data", k.data_start, file.size());
  return k;
}

// The image data of a KTX file: each level's bytes without its size prefix, then whatever
// follows the last level.
std::vector<uint8_t> KtxImage(const std::string& path, const std::vector<uint8_t>& file) {
  const KtxSource k = ReadKtxSource(path, file);
  const uint64_t levels = k.mip_levels == 0 ? 1 : k.mip_levels;
  std::vector<uint8_t> image;
  uint64_t pos = k.data_start;
  // Each level takes at least its 4-byte prefix, so a count past the file ends the walk early.
  for (uint64_t level = 0; level < levels; ++level) {
    if (file.size() - pos < 4)
      SourceTooShort(path, "the size of KTX level " + std::to_string(level + 1), pos + 4,
                     file.size());
    const uint64_t size = GetLe32(file.data() + pos);
    pos += 4;
    if (file.size() - pos < size)
      SourceTooShort(path, "KTX level " + std::to_string(level + 1), pos + size, file.size());
    image.insert(image.end(), file.begin() + static_cast<ptrdiff_t>(pos),
                 file.begin() + static_cast<ptrdiff_t>(pos + size));
    pos += size;
  }
  image.insert(image.end(), file.begin() + static_cast<ptrdiff_t>(pos), file.end());
  return image;
}

}  // namespace

void ImportKtx(const ImporterCall& call, ImporterContext& ctx) {
  const CurrentTexture current = ReadCurrentTexture(call);
  const TextureHeader& h = current.header;
  const std::vector<uint8_t> first = ReadSourceFile(call, call.source_path);
  const KtxSource k = ReadKtxSource(call.source_path, first);
  const uint64_t per_image = KtxImage(call.source_path, first).size();
  // Export writes one file per face, each header giving the face count, so a cubemap comes
  // back from name.ktx, name.ktx_2, ... like a DDS one.
  const uint64_t faces = k.faces == 0 ? 1 : k.faces;
  if (faces > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
    throw Error("KTX face count " + std::to_string(faces) + " is not valid.");
  CheckImageTotal(per_image, static_cast<int64_t>(faces));

  ImportedTexture t;
  t.width = k.width;
  t.height = k.height;
  t.format = KtxFormatCode(k.internal_format, k.base_internal_format, h.format);
  t.mip_field = MipFieldAfterImport(h, k.mip_levels);
  t.image_count = static_cast<int32_t>(faces);
  t.complete_image_size = static_cast<uint32_t>(per_image);
  t.data =
      LoadImages(call, t.image_count, per_image, [&](std::vector<uint8_t> file, int32_t index) {
        return KtxImage(ImageFileName(call.source_path, index), file);
      });
  SaveRawFile(call, RebuildTexturePayload(h, t, call.big_endian));
  ctx.frontend.ConsoleLine(call.source_path + " -> TEX");
}

}  // namespace kestrix
