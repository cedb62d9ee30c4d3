// Edited DDS files back into Texture2D, Cubemap and ProceduralTexture payloads: the pixel format
// recognised, export's pixel conversion undone and the image turned back into the engine's
// bottom-row-first order with the same flip export used.
#include <algorithm>
#include <utility>

#include "core/error.h"
#include "core/frontend.h"
#include "import/texture_import.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr size_t kDdsHeaderBytes = 128;
constexpr size_t kDx10Bytes = 20;
constexpr uint32_t kFourCcDx10 = 0x30315844;  // "DX10"

// The fields of a DDS file import reads, checked against the file's length.
struct DdsSource {
  uint64_t data_start = 0;  // header size + 4: 128 for ordinary files
  int32_t width = 0;
  int32_t height = 0;
  uint32_t mip_map_count = 0;

  // Levels that the flip walks: the count, or one when the file declares none.
  int Levels() const {
    if (mip_map_count == 0) return 1;
    return mip_map_count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(mip_map_count);
  }
};

// Reads the fields from the file's first bytes (`head`, the whole header when the file has one)
// and checks the data start against the file's `length`.
DdsSource ReadDdsSource(const std::string& path, const std::vector<uint8_t>& head,
                        uint64_t length) {
  if (head.size() < kDdsHeaderBytes)
    SourceTooShort(path, "the DDS header", kDdsHeaderBytes, head.size());
  DdsSource d;
  d.data_start = uint64_t{GetLe32(head.data() + 4)} + 4;
  // The fields read lie in the first 128 bytes: a smaller header would put image data there.
  if (d.data_start < kDdsHeaderBytes)
    RefuseSource(path, "the DDS gives a header size of " +
                           std::to_string(GetLe32(head.data() + 4)) +
                           " bytes; a DDS header has 124.");
  // The DX10 extension follows the header; the pixel format match reads it.
  if ((GetLe32(head.data() + 80) & 0x4) && GetLe32(head.data() + 84) == kFourCcDx10) {
    d.data_start += kDx10Bytes;
    if (head.size() < kDdsHeaderBytes + kDx10Bytes)
      SourceTooShort(path, "the DDS header", kDdsHeaderBytes + kDx10Bytes, head.size());
  }
  if (d.data_start > length) SourceTooShort(path, "the DDS header", d.data_start, length);
  d.height = static_cast<int32_t>(GetLe32(head.data() + 12));
  d.width = static_cast<int32_t>(GetLe32(head.data() + 16));
  d.mip_map_count = GetLe32(head.data() + 28);
  return d;
}

// Refuses a DDS whose sides, level count or image size do not fit what its header claims, before
// any of its image data is read.
void CheckDdsImage(const std::string& path, const std::vector<uint8_t>& head, const DdsSource& dds,
                   const DdsFormatMatch& format, const std::string& format_name,
                   uint64_t image_bytes) {
  CheckSides(path, "DDS", GetLe32(head.data() + 16), GetLe32(head.data() + 12));
  const uint64_t levels = dds.mip_map_count == 0 ? 1 : dds.mip_map_count;
  CheckLevelCount(path, "DDS", levels, dds.width, dds.height);
  const DdsPixelFormat* row = FindDdsPixelFormat(format.code);
  const uint64_t block = row ? row->block_bytes : 0;
  // Rows of whole bytes as the flip walks them; block formats count whole blocks.
  const LevelBytes level_bytes = [&](int64_t w, int64_t h) {
    return block ? BlockLevelSize(w, h, block)
                 : RoundSize(static_cast<double>(w) * format.bytes_per_pixel) *
                       static_cast<uint64_t>(h);
  };
  CheckImageBytes(path, "DDS", image_bytes,
                  ChainSizes(dds.width, dds.height, static_cast<uint32_t>(levels), level_bytes),
                  DescribeClaim(dds.width, dds.height, format_name, levels));
}

// Later images (name_2 ...) are read past the first file's header: each must claim what the
// first does.
void CheckSameHeader(const std::string& path, const std::vector<uint8_t>& file,
                     const std::vector<uint8_t>& first_head, const DdsSource& dds) {
  const size_t header = std::min<uint64_t>(dds.data_start, kDdsHeaderBytes + kDx10Bytes);
  if (file.size() < header ||
      !std::equal(file.begin() + 4, file.begin() + 32, first_head.begin() + 4) ||
      !std::equal(file.begin() + 76, file.begin() + static_cast<ptrdiff_t>(header),
                  first_head.begin() + 76))
    RefuseSource(path,
                 "its DDS header differs from the first image file's; every image of a "
                 "texture has the same header and size.");
}

// Export writes the engine's 32-bit orders with one pixel format; the description brings them
// all back as ARGB32 (5), whose conversion keeps every pixel's meaning.
bool FoldsIntoArgb32(int32_t code) { return code == 4 || code == 14 || code == 37; }

bool PixelFormatMatches(const DdsPixelFormat& row, const uint8_t* header) {
  if (GetLe32(header + 80) != row.flags || GetLe32(header + 84) != row.fourcc) return false;
  if (row.dxgi != 0) return GetLe32(header + kDdsHeaderBytes) == row.dxgi;
  if (row.flags & 0x4) return true;  // a FourCC names the format alone
  return GetLe32(header + 88) == row.bits && GetLe32(header + 92) == row.red &&
         GetLe32(header + 96) == row.green && GetLe32(header + 100) == row.blue &&
         GetLe32(header + 104) == row.alpha;
}

// The data area of a DDS file with the conversion undone, cut to `size` bytes and, unless `flip`
// is off, turned the engine's way up.
std::vector<uint8_t> EngineImage(const std::string& path, const std::vector<uint8_t>& file,
                                 uint64_t data_start, uint64_t size, const DdsSource& dds,
                                 const DdsFormatMatch& format, bool flip) {
  if (file.size() < data_start || file.size() - data_start < size)
    SourceTooShort(path, "the image", data_start + size, file.size());
  std::vector<uint8_t> image(file.begin() + static_cast<ptrdiff_t>(data_start), file.end());
  ConvertPixelsBack(format.code, image.data(), image.size());
  image.resize(static_cast<size_t>(size));
  if (!flip || image.empty()) return image;
  std::vector<uint8_t> out;
  out.reserve(image.size());
  WriteImageFlipped(out, image.data(), image.size(), dds.width, dds.height, format.code,
                    dds.Levels(), format.bytes_per_pixel);
  return out;
}

// A failure of the run, though the other files still go in.
void ReportUnsupported(ImporterContext& ctx) {
  ctx.frontend.ErrorBox("Format dds not supported!");
}

}  // namespace

DdsFormatMatch RecognizeDdsFormat(const uint8_t* dds_header, int32_t current_code) {
  const DdsPixelFormat* own = FindDdsPixelFormat(current_code);
  if (own && !FoldsIntoArgb32(current_code) && PixelFormatMatches(*own, dds_header))
    return {own->code, own->bytes_per_pixel};
  // Rows that share a pixel format list the code to come back with first.
  for (const DdsPixelFormat& row : DdsPixelFormats())
    if (PixelFormatMatches(row, dds_header)) return {row.code, row.bytes_per_pixel};
  return {};
}

void ImportDds(const ImporterCall& call, ImporterContext& ctx) {
  const CurrentTexture current = ReadCurrentTexture(call);
  const TextureHeader& h = current.header;
  const SourceHead head = ReadSourceHead(call.source_path, kDdsHeaderBytes + kDx10Bytes);
  const DdsSource dds = ReadDdsSource(call.source_path, head.bytes, head.length);
  const DdsFormatMatch format = RecognizeDdsFormat(head.bytes.data(), call.entry_texture_format);
  // Code 0 would make a texture the engine cannot read; the entry keeps what it has.
  if (format.code == 0) return ReportUnsupported(ctx);

  const uint64_t per_image = head.length - dds.data_start;
  CheckDdsImage(call.source_path, head.bytes, dds, format, FormatLabel(format.code, call.engine),
                per_image);
  const int32_t count = h.ImageCount();
  CheckImageTotal(per_image, count);
  const bool flip = !ctx.no_texture_flip && DdsFlipsFormat(format.code);

  ImportedTexture t;
  t.width = dds.width;
  t.height = dds.height;
  t.format = format.code;
  t.mip_field = MipFieldAfterImport(h, dds.mip_map_count);
  t.image_count = count;
  t.complete_image_size = static_cast<uint32_t>(per_image);
  // Later faces (name_nx ... name_nz) are read past the first file's header size, each giving the
  // first file's image size.
  t.data =
      LoadImages(call.source_path, count, per_image, head.length,
                 [&](std::vector<uint8_t> file, int32_t index) {
                   const std::string path = ImageFileName(call.source_path, index, count);
                   if (index > 0) CheckSameHeader(path, file, head.bytes, dds);
                   return EngineImage(path, file, dds.data_start, per_image, dds, format, flip);
                 });
  SaveTexture(call, ctx, h, t);
  ctx.frontend.ConsoleLine(call.source_path + " -> TEX");
}

void ImportProceduralDds(const ImporterCall& call, ImporterContext& ctx) {
  // Export writes nothing for such payloads either; whatever raw file is there stays.
  if (call.payload_size <= 88) return;
  const std::vector<uint8_t> payload = ReadCurrentPayload(call);
  const ByteOrder order = call.big_endian ? ByteOrder::Big : ByteOrder::Little;
  const uint32_t length = Get32(payload.data() + 60, order);
  if (length > payload.size() - 88)
    throw Error("Procedural texture data is shorter than its header claims: the image needs " +
                std::to_string(length) + " bytes, " + std::to_string(payload.size() - 88) +
                " are there.");
  const uint8_t* trailer = payload.data() + 64 + length;  // width, height, mip, format, 2 more
  const int32_t current_code = static_cast<int32_t>(Get32(trailer + 12, order));

  const SourceHead head = ReadSourceHead(call.source_path, kDdsHeaderBytes + kDx10Bytes);
  const DdsSource dds = ReadDdsSource(call.source_path, head.bytes, head.length);
  const DdsFormatMatch format = RecognizeDdsFormat(head.bytes.data(), current_code);
  if (format.code == 0) return ReportUnsupported(ctx);
  const uint64_t new_length = head.length - dds.data_start;
  CheckDdsImage(call.source_path, head.bytes, dds, format, FormatLabel(format.code, call.engine),
                new_length);
  CheckImageTotal(new_length, 1);
  const std::vector<uint8_t> file = ReadCheckedSource(call.source_path, head.length);

  // ATC is flipped here too, as procedural export does.
  const std::vector<uint8_t> image = EngineImage(call.source_path, file, dds.data_start, new_length,
                                                 dds, format, !ctx.no_texture_flip);
  std::vector<uint8_t> out(payload.begin(), payload.begin() + 64);
  out.reserve(64 + image.size() + 24);
  auto put = [&](uint32_t v) {
    uint8_t b[4];
    Put32(b, v, order);
    out.insert(out.end(), b, b + 4);
  };
  Put32(out.data() + 60, static_cast<uint32_t>(new_length), order);
  out.insert(out.end(), image.begin(), image.end());
  put(static_cast<uint32_t>(dds.width));
  put(static_cast<uint32_t>(dds.height));
  put(dds.mip_map_count >= 2 ? dds.mip_map_count : 0);
  put(static_cast<uint32_t>(format.code));
  out.insert(out.end(), trailer + 16, trailer + 24);
  SaveRawFile(call, out);
  ctx.frontend.ConsoleLine(call.source_path + " -> TEX");
}

}  // namespace kestrix
