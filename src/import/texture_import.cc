#include "import/texture_import.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/error.h"
#include "export/ktx_pvr_formats.h"
#include "export/texture_source.h"
#include "import/replacement_discovery.h"
#include "import/resource_edits.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "types/type_info.h"

namespace kestrix {

void SourceTooShort(const std::string& path, const std::string& what, uint64_t need,
                    uint64_t have) {
  throw Error("File " + path + " is shorter than its header claims: " + what + " needs " +
              std::to_string(need) + " bytes, " + std::to_string(have) + " are there.");
}

void RefuseSource(const std::string& path, const std::string& why) {
  throw Error("Cannot import " + path + ": " + why);
}

// Sources lie in export folders, which may come from someone else: each is opened by the rule
// for files Kestrix did not make, inside its own folder.
FileSource OpenSource(const std::string& path) {
  return FileSource(OpenImportFile(FolderOf(path), path));
}

SourceHead ReadSourceHead(const std::string& path, size_t n) {
  FileSource file = OpenSource(path);
  SourceHead head;
  head.length = file.Size();
  head.bytes.resize(static_cast<size_t>(std::min<uint64_t>(n, head.length)));
  file.ReadAt(0, head.bytes.data(), head.bytes.size());
  return head;
}

std::vector<uint8_t> ReadCheckedSource(const std::string& path, uint64_t length) {
  // Checked before the read too: a file grown since its header was checked is not loaded.
  FileSource file = OpenSource(path);
  if (file.Size() != length) RefuseSource(path, "it changed while the import ran.");
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  file.ReadAt(0, bytes.data(), bytes.size());
  return bytes;
}

void CheckSides(const std::string& path, const std::string& kind, uint64_t width, uint64_t height) {
  const std::string claim = "the " + kind + " claims " + std::to_string(width) + "x" +
                            std::to_string(height) + " pixels, ";
  if (width == 0 || height == 0) RefuseSource(path, claim + "a texture has at least 1 a side.");
  if (width > kMaxTextureSide || height > kMaxTextureSide)
    RefuseSource(path, claim + "more than " + std::to_string(kMaxTextureSide) + " a side.");
}

uint32_t FullChainLevels(int64_t width, int64_t height) {
  uint32_t levels = 1;
  for (int64_t side = std::max(width, height); side > 1; side /= 2) ++levels;
  return levels;
}

void CheckLevelCount(const std::string& path, const std::string& kind, uint64_t levels,
                     int64_t width, int64_t height) {
  const uint32_t full = FullChainLevels(width, height);
  if (levels > full)
    RefuseSource(path, "the " + kind + " claims " + std::to_string(levels) + " mip levels; a " +
                           std::to_string(width) + "x" + std::to_string(height) +
                           " picture has at most " + std::to_string(full) + ".");
}

std::vector<uint64_t> ChainSizes(int64_t width, int64_t height, uint32_t levels,
                                 const LevelBytes& level_bytes) {
  const uint32_t full = FullChainLevels(width, height);
  std::vector<uint64_t> sizes;
  uint64_t sum = 0;
  int64_t w = width, h = height;
  for (uint32_t level = 0; level < std::max(levels, full); ++level) {
    sum += level_bytes(w, h);
    if (level + 1 >= levels) sizes.push_back(sum);
    w = std::max<int64_t>(w / 2, 1);
    h = std::max<int64_t>(h / 2, 1);
  }
  return sizes;
}

namespace {

struct SmallestLevel {
  int64_t width, height;
};

std::vector<SmallestLevel> SmallestLevels(const MobileFormat& format) {
  std::vector<SmallestLevel> out = {{1, 1}, {4, 4}, {8, 8}};
  // PVRTC 2 bits per pixel: 16x8 pixels at least (4 bits per pixel: 8x8, in the list already).
  if (format.bits_per_pixel == 2 && !format.four_by_four) out.push_back({16, 8});
  return out;
}

}  // namespace

std::vector<uint64_t> MobileChainSizes(const MobileFormat& format, int64_t width, int64_t height,
                                       uint32_t levels) {
  std::vector<uint64_t> out;
  for (const SmallestLevel& least : SmallestLevels(format)) {
    const std::vector<uint64_t> sizes =
        ChainSizes(width, height, levels, [&](int64_t w, int64_t h) {
          return MobileLevelSize(format, std::max(w, least.width), std::max(h, least.height), true);
        });
    out.insert(out.end(), sizes.begin(), sizes.end());
  }
  return out;
}

std::vector<uint64_t> MobileLevelSizes(const MobileFormat& format, int64_t width, int64_t height) {
  std::vector<uint64_t> out;
  for (const SmallestLevel& least : SmallestLevels(format))
    out.push_back(MobileLevelSize(format, std::max(width, least.width),
                                  std::max(height, least.height), true));
  return out;
}

std::string FormatLabel(int32_t code, const EngineVersion& engine) {
  const std::string name = TextureFormatName(code, engine);  // "id: 12 - DXT5"
  const size_t dash = name.find(" - ");
  return dash == std::string::npos ? name : name.substr(dash + 3);
}

std::string DescribeClaim(int64_t width, int64_t height, const std::string& format,
                          uint64_t levels) {
  return std::to_string(width) + "x" + std::to_string(height) + " " + format + " with " +
         std::to_string(levels) + (levels == 1 ? " level" : " levels");
}

void CheckImageBytes(const std::string& path, const std::string& kind, uint64_t have,
                     const std::vector<uint64_t>& accepted, const std::string& what) {
  if (std::find(accepted.begin(), accepted.end(), have) != accepted.end()) return;
  const uint64_t need = accepted.empty() ? 0 : accepted.front();
  RefuseSource(path, "the " + kind + " holds " + std::to_string(have) + " bytes of image data; " +
                         what + " needs " + std::to_string(need) +
                         (have < need ? "." : ", so the file is longer than its header says."));
}

std::vector<uint8_t> ReadCurrentPayload(const ImporterCall& call) {
  const uint64_t size = call.working.Size();
  if (call.payload_start > size || call.payload_size > size - call.payload_start)
    throw Error("The entry's data runs past the end of the archive (" +
                std::to_string(call.payload_start) + " + " + std::to_string(call.payload_size) +
                " bytes of " + std::to_string(size) + ").");
  std::vector<uint8_t> payload(call.payload_size);
  call.working.ReadAt(call.payload_start, payload.data(), payload.size());
  return payload;
}

CurrentTexture ReadCurrentTexture(const ImporterCall& call) {
  CurrentTexture t;
  t.payload = ReadCurrentPayload(call);
  t.header = ReadTextureHeader(t.payload, call.big_endian, &call.texture_fields);
  return t;
}

uint32_t MipFieldAfterImport(const TextureHeader& h, uint32_t levels) {
  if (h.layout == 1 || (h.layout == 4 && h.mip_field_bytes == 1)) return levels >= 2 ? 1 : 0;
  if (h.layout == 4) return levels >= 2 ? levels : 1;  // a whole 32-bit count
  const uint32_t low = levels >= 2 ? (levels & 0xFF) : 1;
  return (h.mip_field & ~uint32_t{0xFF}) | low;
}

bool KeepsAstcCode(int32_t rgb_code, int32_t current_code) {
  constexpr int32_t kHdrAfterRgb = texture_format::kASTC_HDR_4x4 - texture_format::kASTC_RGB_4x4;
  return rgb_code != 0 && (current_code == rgb_code || current_code == rgb_code + kHdrAfterRgb);
}

void CheckImageTotal(uint64_t per_image, int64_t count) {
  if (count < 0) throw Error("Texture image count " + std::to_string(count) + " is not valid.");
  constexpr uint64_t kMaxImage = std::numeric_limits<int32_t>::max();
  // The payload's own size is 32 bits too, and holds a header besides the data.
  constexpr uint64_t kMaxData = std::numeric_limits<uint32_t>::max() - 4096;
  if (per_image > kMaxImage || (count > 0 && per_image > kMaxData / static_cast<uint64_t>(count)))
    throw Error("Texture data of " + std::to_string(count) + " image(s) of " +
                std::to_string(per_image) + " bytes is too large for a texture.");
}

namespace {

// The stream fields after the offset: size, then the path with its length, padded to 4.
void PutStreamedPath(std::vector<uint8_t>& out, const StreamedPlace& streamed, ByteOrder order) {
  uint8_t b[4];
  Put32(b, streamed.size, order);
  out.insert(out.end(), b, b + 4);
  Put32(b, static_cast<uint32_t>(streamed.path.size()), order);
  out.insert(out.end(), b, b + 4);
  out.insert(out.end(), streamed.path.begin(), streamed.path.end());
  while (out.size() % 4 != 0) out.push_back(0);
}

// Layout 4: the old payload with the rewritten fields patched in place, the new data inline and
// the stream fields pointing at no resource; whatever else the object holds stays as it was.
std::vector<uint8_t> RebuildTextureFields(const TextureHeader& old, const ImportedTexture& t,
                                          uint64_t data_size, ByteOrder order,
                                          const StreamedPlace* streamed) {
  std::vector<uint8_t> out = old.before_data;
  auto patch = [&](uint64_t at, uint32_t v, uint64_t bytes = 4) {
    if (at + bytes > out.size()) throw Error("The texture's fields lie past its image data.");
    if (bytes == 1)
      out[at] = static_cast<uint8_t>(v);
    else
      Put32(out.data() + at, v, order);
  };
  patch(old.positions.width, static_cast<uint32_t>(t.width));
  patch(old.positions.height, static_cast<uint32_t>(t.height));
  patch(old.positions.complete_image_size, t.complete_image_size);
  patch(old.positions.format, static_cast<uint32_t>(t.format));
  patch(old.positions.mip_count, t.mip_field, old.mip_field_bytes);
  patch(old.positions.image_count, static_cast<uint32_t>(t.image_count));
  auto put = [&](uint32_t v) {
    uint8_t b[4];
    Put32(b, v, order);
    out.insert(out.end(), b, b + 4);
  };
  if (streamed) {
    if (!old.has_stream_fields) throw Error("The texture has no fields that name a resource.");
    put(0);
  } else {
    put(static_cast<uint32_t>(data_size));
    out.insert(out.end(), t.data.begin(), t.data.end());
  }
  while (out.size() % 4 != 0) out.push_back(0);
  out.insert(out.end(), old.between_data_and_stream.begin(), old.between_data_and_stream.end());
  if (streamed) {
    if (old.stream_offset_bytes == 8) {
      uint8_t b[8];
      Put64(b, streamed->offset, order);
      out.insert(out.end(), b, b + 8);
    } else {
      put(static_cast<uint32_t>(streamed->offset));
    }
    PutStreamedPath(out, *streamed, order);
  } else if (old.has_stream_fields) {
    out.insert(out.end(), old.stream_offset_bytes + 8u, 0);  // offset, size, empty path
  }
  out.insert(out.end(), old.tail.begin(), old.tail.end());
  return out;
}

}  // namespace

std::vector<uint8_t> RebuildTexturePayload(const TextureHeader& old, const ImportedTexture& t,
                                           bool big_endian, const StreamedPlace* streamed) {
  const ByteOrder order = big_endian ? ByteOrder::Big : ByteOrder::Little;
  const uint64_t data_size = static_cast<uint64_t>(t.complete_image_size) *
                             static_cast<uint64_t>(t.image_count > 0 ? t.image_count : 0);
  CheckImageTotal(t.complete_image_size, t.image_count);
  if (t.data.size() != data_size)
    throw Error("Texture data of " + std::to_string(t.data.size()) + " bytes does not match " +
                std::to_string(t.image_count) + " image(s) of " +
                std::to_string(t.complete_image_size) + " bytes.");
  if (old.layout == 4) return RebuildTextureFields(old, t, data_size, order, streamed);
  if (streamed && old.layout != 3) throw Error("The texture has no fields that name a resource.");

  std::vector<uint8_t> out;
  out.reserve(72 + t.data.size() + 3 + old.tail.size());
  auto put = [&](uint32_t v) {
    uint8_t b[4];
    Put32(b, v, order);
    out.insert(out.end(), b, b + 4);
  };
  put(static_cast<uint32_t>(t.width));
  put(static_cast<uint32_t>(t.height));
  put(t.complete_image_size);
  put(static_cast<uint32_t>(t.format));
  if (old.layout == 1) {
    out.push_back(static_cast<uint8_t>(t.mip_field));
    out.insert(out.end(), old.flag_bytes, old.flag_bytes + 3);
  } else {
    put(t.mip_field);
    out.insert(out.end(), old.flag_bytes, old.flag_bytes + 4);
  }
  put(static_cast<uint32_t>(t.image_count));
  for (int i = 1; i < 8; ++i) put(static_cast<uint32_t>(old.settings[i]));
  if (streamed) {
    put(0);
    put(static_cast<uint32_t>(streamed->offset));
    PutStreamedPath(out, *streamed, order);
    out.insert(out.end(), old.tail.begin(), old.tail.end());
    return out;
  }
  put(static_cast<uint32_t>(data_size));
  out.insert(out.end(), t.data.begin(), t.data.end());
  while (out.size() % 4 != 0) out.push_back(0);
  // The data now sits in the payload, so a streamed texture points at no resource any more.
  if (old.layout == 3) {
    put(0);
    put(0);
    put(0);
  }
  out.insert(out.end(), old.tail.begin(), old.tail.end());
  return out;
}

std::string ImageFileName(const std::string& source, int32_t index, int32_t count) {
  const std::string extension = ExtensionOf(source);
  std::string stem = source.substr(0, source.size() - extension.size());
  const std::string first = ImageSuffix(0, count);
  if (!first.empty() && stem.size() > first.size() &&
      stem.compare(stem.size() - first.size(), first.size(), first) == 0)
    stem.resize(stem.size() - first.size());
  return stem + ImageSuffix(index, count) + extension;
}

std::vector<uint8_t> LoadImages(
    const std::string& source, int32_t count, uint64_t per_image, uint64_t file_length,
    const std::function<std::vector<uint8_t>(std::vector<uint8_t> file, int32_t index)>& extract) {
  CheckImageTotal(per_image, count);
  // Every image file must be there, as long as the first, before anything is loaded: a cubemap
  // with a face missing fails at once instead of after five faces' worth of reading, and a face
  // of another length cannot make the import load more than the first file promised.
  for (int32_t i = 1; i < count; ++i) {
    const std::string path = ImageFileName(source, i, count);
    const uint64_t length = FileSizeOf(path);
    if (length != file_length)
      RefuseSource(path, "it has " + std::to_string(length) + " bytes, the first image file " +
                             std::to_string(file_length) + "; every image of a texture has the " +
                             "same header and size.");
  }
  // No room is reserved for all images up front: the count comes from the archive, and memory
  // should follow the bytes the files really hold.
  std::vector<uint8_t> data;
  for (int32_t i = 0; i < count; ++i) {
    const std::string path = ImageFileName(source, i, count);
    std::vector<uint8_t> image = extract(ReadCheckedSource(path, file_length), i);
    if (image.size() < per_image) SourceTooShort(path, "the image", per_image, image.size());
    data.insert(data.end(), image.begin(), image.begin() + static_cast<ptrdiff_t>(per_image));
  }
  return data;
}

void SaveRawFile(const ImporterCall& call, const std::vector<uint8_t>& bytes) {
  // The entry name in the path comes from archive data.
  if (!IsContainedName(call.relative_path))
    throw Error("Output path refused, it leaves the export folder: " + call.relative_path);
  const std::string path = call.output_root + call.relative_path;
  const std::string folder = FolderOf(path);
  const std::string name = FileNameOf(path);
  if (!folder.empty()) CreateFolders(folder);
  // Written whole beside it, then renamed into place; the temporary name's leading dot keeps it
  // out of the candidate listing's way should the process be killed.
  WholeFileWriter file(path);
  file.Out().Write(bytes);
  file.Commit();
}

void SaveTexture(const ImporterCall& call, ImporterContext& ctx, const TextureHeader& old,
                 const ImportedTexture& t) {
  const ContainedResource resource =
      old.Streamed() && ctx.resource_edits
          ? FindContainedResource(ctx.resource_edits->Archive(), old.resource_path)
          : ContainedResource();
  RefuseWebDataResource(resource, call.source_path);
  if (!resource.Found()) {
    SaveRawFile(call, RebuildTexturePayload(old, t, call.big_endian));
    return;
  }
  CheckImageTotal(t.complete_image_size, t.image_count);  // the data fits its 32-bit size field
  ResourceWrite write = ctx.resource_edits->Place(call.entry, resource, old.resource_offset,
                                                  old.resource_size, t.data.size());
  const bool narrow = old.layout == 3 || old.stream_offset_bytes == 4;
  if (narrow && write.offset > std::numeric_limits<uint32_t>::max())
    throw Error("Cannot import " + call.source_path + ": its data would lie at " +
                std::to_string(write.offset) + " in " + resource.name +
                ", past what the texture's 32-bit offset field can state.");
  const StreamedPlace place{write.offset, static_cast<uint32_t>(t.data.size()), old.resource_path};
  const std::vector<uint8_t> payload = RebuildTexturePayload(old, t, call.big_endian, &place);
  write.bytes = t.data;
  SaveRawFile(call, payload);
  ctx.resource_edits->Add(std::move(write), payload);
}

ImportConverters TextureImportConverters() {
  ImportConverters c;
  c.dds = ImportDds;
  c.crn = ImportCrn;
  c.ktx = ImportKtx;
  c.pvr = ImportPvr;
  c.png = ImportPng;
  c.procedural = ImportProceduralDds;
  return c;
}

}  // namespace kestrix
