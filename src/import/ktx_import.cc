// Edited KTX 1 files back into Texture2D payloads: the levels without their size prefixes, the
// format from the GL internal format pair. Pixel data is taken as it is, with no flip.
#include <algorithm>
#include <cstdio>

#include "core/error.h"
#include "core/frontend.h"
#include "export/ktx_pvr_formats.h"
#include "import/texture_import.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"
#include "types/type_info.h"

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

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

struct KtxSource {
  uint64_t data_start = 0;
  uint32_t internal_format = 0, base_internal_format = 0;
  int32_t width = 0, height = 0;
  uint32_t faces = 0;
  uint32_t mip_levels = 0;
  uint32_t Levels() const { return mip_levels == 0 ? 1 : mip_levels; }
  uint32_t Faces() const { return faces == 0 ? 1 : faces; }
};

KtxSource ReadKtxSource(const std::string& path, const std::vector<uint8_t>& head,
                        uint64_t length) {
  if (head.size() < kKtxHeaderBytes)
    SourceTooShort(path, "the KTX header", kKtxHeaderBytes, head.size());
  const uint8_t* h = head.data();
  KtxSource k;
  k.internal_format = GetLe32(h + 28);
  k.base_internal_format = GetLe32(h + 32);
  k.width = static_cast<int32_t>(GetLe32(h + 36));
  k.height = static_cast<int32_t>(GetLe32(h + 40));
  k.faces = GetLe32(h + 52);
  k.mip_levels = GetLe32(h + 56);
  const uint64_t key_values = GetLe32(h + 60);
  k.data_start = (kKtxHeaderBytes + key_values + 3) & ~uint64_t{3};
  if (k.data_start > length) SourceTooShort(path, "the KTX key/value data", k.data_start, length);
  return k;
}

// Refuses a KTX whose header claims what no texture of its format holds, or more or fewer bytes
// than the file has, before the file is loaded. Returns the texture format the claim is measured
// in: the recognised one, else the entry's own.
const MobileFormat& CheckKtxHeader(const std::string& path, const std::vector<uint8_t>& head,
                                   const KtxSource& k, uint64_t length, int32_t code,
                                   const std::string& format_name) {
  const uint8_t* h = head.data();
  CheckSides(path, "KTX", GetLe32(h + 36), GetLe32(h + 40));
  if (GetLe32(h + 44) > 1 || GetLe32(h + 48) > 1)
    RefuseSource(path, "the KTX claims a depth of " + std::to_string(GetLe32(h + 44)) + " and " +
                           std::to_string(GetLe32(h + 48)) +
                           " array elements; a texture here is one flat picture.");
  if (k.faces > 1 && k.faces != 6)
    RefuseSource(path,
                 "the KTX claims " + std::to_string(k.faces) + " faces; 1 or 6 are possible.");
  if (GetLe32(h + 60) > kMaxSourceMetadata)
    RefuseSource(path, "the KTX claims " + std::to_string(GetLe32(h + 60)) +
                           " bytes of key/value data, more than " +
                           std::to_string(kMaxSourceMetadata) + ".");
  CheckLevelCount(path, "KTX", k.Levels(), k.width, k.height);
  const MobileFormat* format = FindMobileFormat(code);
  if (!format)
    RefuseSource(path, "its GL format pair " + Hex(k.internal_format) + "/" +
                           Hex(k.base_internal_format) + " names no format KTX import takes, and " +
                           "the texture's own format, " + format_name + ", is none either.");
  // The data between the size fields: within the smallest and largest chain the claim allows.
  const std::vector<uint64_t> sizes = MobileChainSizes(*format, k.width, k.height, k.Levels());
  const uint64_t image = length - k.data_start;
  const uint64_t fields = 4 * uint64_t{k.Levels()};
  const uint64_t most = *std::max_element(sizes.begin(), sizes.end());
  if (image < fields || image - fields > most)
    CheckImageBytes(path, "KTX", image < fields ? 0 : image - fields, sizes,
                    DescribeClaim(k.width, k.height, format_name, k.Levels()));
  return *format;
}

// The image data of a KTX file: each level's bytes without its size prefix, then whatever
// follows the last level. Every level's size must be one its level can have, and the whole one
// of the sizes the claim allows.
std::vector<uint8_t> KtxImage(const std::string& path, const std::vector<uint8_t>& file,
                              const MobileFormat& format, const std::string& format_name) {
  const KtxSource k = ReadKtxSource(path, file, file.size());
  std::vector<uint8_t> image;
  uint64_t pos = k.data_start;
  int64_t w = k.width, h = k.height;
  for (uint32_t level = 0; level < k.Levels(); ++level) {
    if (file.size() - pos < 4)
      SourceTooShort(path, "the size of KTX level " + std::to_string(level + 1), pos + 4,
                     file.size());
    const uint64_t size = GetLe32(file.data() + pos);
    pos += 4;
    const std::vector<uint64_t> allowed = MobileLevelSizes(format, w, h);
    if (std::find(allowed.begin(), allowed.end(), size) == allowed.end())
      RefuseSource(path, "KTX level " + std::to_string(level + 1) + " claims " +
                             std::to_string(size) + " bytes; " + std::to_string(w) + "x" +
                             std::to_string(h) + " " + format_name + " takes " +
                             std::to_string(allowed.front()) + ".");
    if (file.size() - pos < size)
      SourceTooShort(path, "KTX level " + std::to_string(level + 1), pos + size, file.size());
    image.insert(image.end(), file.begin() + static_cast<ptrdiff_t>(pos),
                 file.begin() + static_cast<ptrdiff_t>(pos + size));
    pos += size;
    w = std::max<int64_t>(w / 2, 1);
    h = std::max<int64_t>(h / 2, 1);
  }
  image.insert(image.end(), file.begin() + static_cast<ptrdiff_t>(pos), file.end());
  CheckImageBytes(path, "KTX", image.size(),
                  MobileChainSizes(format, k.width, k.height, k.Levels()),
                  DescribeClaim(k.width, k.height, format_name, k.Levels()));
  return image;
}

}  // namespace

void ImportKtx(const ImporterCall& call, ImporterContext& ctx) {
  const CurrentTexture current = ReadCurrentTexture(call);
  const TextureHeader& h = current.header;
  const SourceHead head = ReadSourceHead(call.source_path, kKtxHeaderBytes);
  const KtxSource k = ReadKtxSource(call.source_path, head.bytes, head.length);
  const int32_t code = KtxFormatCode(k.internal_format, k.base_internal_format, h.format);
  const std::string format_name = FormatLabel(code, call.engine);
  const MobileFormat& format =
      CheckKtxHeader(call.source_path, head.bytes, k, head.length, code, format_name);
  const std::vector<uint8_t> first = ReadCheckedSource(call.source_path, head.length);
  const uint64_t per_image = KtxImage(call.source_path, first, format, format_name).size();
  // Export writes one file per face, each header giving the face count, so a cubemap comes
  // back from name_px.ktx ... name_nz.ktx like a DDS one.
  const uint64_t faces = k.Faces();
  CheckImageTotal(per_image, static_cast<int64_t>(faces));

  ImportedTexture t;
  t.width = k.width;
  t.height = k.height;
  t.format = code;
  t.mip_field = MipFieldAfterImport(h, k.mip_levels);
  t.image_count = static_cast<int32_t>(faces);
  t.complete_image_size = static_cast<uint32_t>(per_image);
  t.data = LoadImages(
      call.source_path, t.image_count, per_image, head.length,
      [&](std::vector<uint8_t> file, int32_t index) {
        const std::string path = ImageFileName(call.source_path, index, t.image_count);
        if (!std::equal(file.begin(), file.begin() + kKtxHeaderBytes, head.bytes.begin()))
          RefuseSource(path,
                       "its KTX header differs from the first image "
                       "file's; every image of a texture has the same "
                       "header and size.");
        return KtxImage(path, file, format, format_name);
      });
  SaveTexture(call, ctx, h, t);
  ctx.frontend.ConsoleLine(call.source_path + " -> TEX");
}

}  // namespace kestrix
