// Edited PVR 3 files back into Texture2D payloads: everything after the header and metadata is
// the image, taken as it is, and the format comes from the pixel format and channel type.
#include <algorithm>

#include "core/error.h"
#include "core/frontend.h"
#include "export/ktx_pvr_formats.h"
#include "import/texture_import.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr size_t kPvrHeaderBytes = 52;

struct PvrRow {
  uint32_t pixel_format;
  int64_t channel_type;  // -1: any
  int32_t code;
  int32_t rgb_code;  // ASTC: the RGB code a texture keeps when it has it already, else 0
};

// The pixel formats the PVR writer puts in its header, read back.
constexpr PvrRow kPvrRows[] = {
    {17, -1, 21, 0},  {0, -1, 30, 0},   {1, -1, 31, 0},   {2, -1, 32, 0},   {3, -1, 33, 0},
    {6, -1, 34, 0},   {22, -1, 45, 0},  {24, -1, 46, 0},  {23, -1, 47, 0},  {25, 4, 41, 0},
    {25, 5, 42, 0},   {26, 4, 43, 0},   {26, 5, 44, 0},   {27, -1, 54, 48}, {29, -1, 55, 49},
    {31, -1, 56, 50}, {34, -1, 57, 51}, {38, -1, 58, 52}, {40, -1, 59, 53},
};

int32_t PvrFormatCode(uint32_t low, uint32_t high, uint32_t channel_type, int32_t current_code) {
  // A high word names channels and bit widths rather than a compressed format: none of ours.
  if (high != 0) return current_code;
  for (const PvrRow& row : kPvrRows) {
    if (row.pixel_format != low) continue;
    if (row.channel_type >= 0 && row.channel_type != channel_type) continue;
    return KeepsAstcCode(row.rgb_code, current_code) ? current_code : row.code;
  }
  return current_code;
}

uint64_t PvrDataStart(const std::string& path, const std::vector<uint8_t>& head, uint64_t length) {
  if (head.size() < kPvrHeaderBytes)
    SourceTooShort(path, "the PVR header", kPvrHeaderBytes, head.size());
  const uint64_t start = kPvrHeaderBytes + uint64_t{GetLe32(head.data() + 48)};
  if (start > length) SourceTooShort(path, "the PVR metadata", start, length);
  return start;
}

// Refuses a PVR whose header claims what no texture of its format holds, or whose image is not
// the size the claim gives, before the file is loaded. `code` is the format the claim is
// measured in: the recognised one, else the entry's own.
void CheckPvrHeader(const std::string& path, const std::vector<uint8_t>& head, uint64_t image,
                    int32_t code, const std::string& format_name) {
  const uint8_t* p = head.data();
  const uint32_t width = GetLe32(p + 28), height = GetLe32(p + 24);
  CheckSides(path, "PVR", width, height);
  if (GetLe32(p + 32) > 1 || GetLe32(p + 36) > 1)
    RefuseSource(path, "the PVR claims a depth of " + std::to_string(GetLe32(p + 32)) + " and " +
                           std::to_string(GetLe32(p + 36)) +
                           " surfaces; a texture here is one flat picture.");
  const uint32_t faces = GetLe32(p + 40);
  if (faces > 1 && faces != 6)
    RefuseSource(path, "the PVR claims " + std::to_string(faces) + " faces; 1 or 6 are possible.");
  if (GetLe32(p + 48) > kMaxSourceMetadata)
    RefuseSource(path, "the PVR claims " + std::to_string(GetLe32(p + 48)) +
                           " bytes of metadata, more than " + std::to_string(kMaxSourceMetadata) +
                           ".");
  const uint32_t levels = std::max<uint32_t>(GetLe32(p + 44), 1);
  CheckLevelCount(path, "PVR", levels, width, height);
  const MobileFormat* format = FindMobileFormat(code);
  if (!format)
    RefuseSource(path, "its pixel format " + std::to_string(GetLe32(p + 8)) + "/" +
                           std::to_string(GetLe32(p + 12)) +
                           " names no format PVR import takes, and the texture's own format, " +
                           format_name + ", is none either.");
  CheckImageBytes(path, "PVR", image, MobileChainSizes(*format, width, height, levels),
                  DescribeClaim(width, height, format_name, levels));
}

}  // namespace

void ImportPvr(const ImporterCall& call, ImporterContext& ctx) {
  const CurrentTexture current = ReadCurrentTexture(call);
  const TextureHeader& h = current.header;
  const SourceHead head = ReadSourceHead(call.source_path, kPvrHeaderBytes);
  const uint64_t per_image = head.length - PvrDataStart(call.source_path, head.bytes, head.length);
  const uint8_t* p = head.bytes.data();
  const int32_t code = PvrFormatCode(GetLe32(p + 8), GetLe32(p + 12), GetLe32(p + 20), h.format);
  CheckPvrHeader(call.source_path, head.bytes, per_image, code, FormatLabel(code, call.engine));
  // Export writes one file per face, each header giving the face count.
  const uint64_t faces = GetLe32(p + 40) == 0 ? 1 : GetLe32(p + 40);
  CheckImageTotal(per_image, static_cast<int64_t>(faces));

  ImportedTexture t;
  t.width = static_cast<int32_t>(GetLe32(p + 28));
  t.height = static_cast<int32_t>(GetLe32(p + 24));
  t.format = code;
  t.mip_field = MipFieldAfterImport(h, GetLe32(p + 44));
  t.image_count = static_cast<int32_t>(faces);
  t.complete_image_size = static_cast<uint32_t>(per_image);
  t.data = LoadImages(
      call.source_path, t.image_count, per_image, head.length,
      [&](std::vector<uint8_t> file, int32_t index) {
        const std::string path = ImageFileName(call.source_path, index, t.image_count);
        if (!std::equal(file.begin(), file.begin() + kPvrHeaderBytes, head.bytes.begin()))
          RefuseSource(path,
                       "its PVR header differs from the first image file's; every image "
                       "of a texture has the same header and size.");
        const uint64_t start = PvrDataStart(path, file, file.size());
        return std::vector<uint8_t>(file.begin() + static_cast<ptrdiff_t>(start), file.end());
      });
  SaveTexture(call, ctx, h, t);
  ctx.frontend.ConsoleLine(call.source_path + " -> TEX");
}

}  // namespace kestrix
