// Crunched textures back into Texture2D payloads. Crunched export leaves name.crn.dds beside
// name.crn; when that DDS is there and the crunch tool sits beside the program, the tool turns
// the (possibly edited) DDS into a new name.crn first. The .crn file is then the image data.
#include <algorithm>

#include "core/frontend.h"
#include "export/crn_export.h"
#include "import/texture_import.h"
#include "platform/file_ops.h"
#include "platform/process.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

// The crunched file's header, big-endian: signature "Hx", header size, header CRC, total size,
// data CRC, width, height, levels, faces, format ...; then the level offsets from byte 70.
constexpr size_t kCrnLevelOffsets = 70;
constexpr size_t kCrnSmallestHeader = kCrnLevelOffsets + 4;  // one level
constexpr uint32_t kCrnSignature = 0x4878;

uint32_t GetBe(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

// CRC-16 with polynomial 0x1021, starting from and finished with all bits set: the checksum the
// crunch format keeps of its header and of its data.
uint16_t CrnCrc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>(crc ^ (p[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return static_cast<uint16_t>(~crc);
}

bool IsCrunched(int32_t format) {
  namespace tf = texture_format;
  return format == tf::kDXT1Crunched || format == tf::kDXT5Crunched ||
         format == tf::kETC_RGB4Crunched || format == tf::kETC2_RGBA8Crunched;
}

// Refuses a file that is not a whole crunched file of the texture's size: its signature, header
// size, total size (the file's length) and header checksum, then the picture it claims. The
// header is at most 64 KiB, so this reads no more than that.
void CheckCrnHeader(const std::string& path, const std::vector<uint8_t>& head, uint64_t length,
                    const TextureHeader& h) {
  auto refuse = [&](const std::string& why) {
    RefuseSource(path, "it is not a crunched file: " + why);
  };
  if (head.size() < kCrnSmallestHeader)
    refuse("it has " + std::to_string(head.size()) + " bytes, fewer than a crunched header.");
  const uint8_t* p = head.data();
  if (GetBe(p, 2) != kCrnSignature) refuse("it lacks the signature \"Hx\".");
  const uint32_t header_size = GetBe(p + 2, 2);
  const uint32_t levels = p[16];
  if (header_size < kCrnLevelOffsets + 4 * uint64_t{std::max<uint32_t>(levels, 1)} ||
      header_size > head.size())
    refuse("its header size " + std::to_string(header_size) + " does not fit its " +
           std::to_string(levels) + " levels and its length.");
  const uint32_t total = GetBe(p + 6, 4);
  if (total != length)
    refuse("its header gives " + std::to_string(total) + " bytes, the file has " +
           std::to_string(length) + ".");
  if (CrnCrc16(p + 6, header_size - 6) != GetBe(p + 4, 2))
    refuse("its header checksum does not match.");
  const uint32_t width = GetBe(p + 12, 2), height = GetBe(p + 14, 2), faces = p[17];
  if (static_cast<int64_t>(width) != h.width || static_cast<int64_t>(height) != h.height ||
      faces != 1 || levels < 1 || levels > FullChainLevels(width, height))
    RefuseSource(path, "the crunched file claims " + std::to_string(width) + "x" +
                           std::to_string(height) + " pixels, " + std::to_string(faces) +
                           " face(s) and " + std::to_string(levels) +
                           " levels; the texture it replaces is " + std::to_string(h.width) + "x" +
                           std::to_string(h.height) +
                           " with one face, and crunched import "
                           "keeps its size.");
}

}  // namespace

void ImportCrnWithTool(const ImporterCall& call, ImporterContext& ctx,
                       const std::string& tool_folder) {
  const CurrentTexture current = ReadCurrentTexture(call);
  const TextureHeader& h = current.header;
  // Export writes a crunched texture's first image only, so one file cannot stand for more.
  if (h.ImageCount() != 1) {
    ctx.frontend.ErrorBox("Crunched texture of " + std::to_string(h.ImageCount()) +
                            " images not supported!");
    return;
  }
  // The image data becomes the crunched file as it is: only a crunched texture can take it.
  if (!IsCrunched(h.format))
    RefuseSource(call.source_path, "the texture is " + FormatLabel(h.format, call.engine) +
                                       ", not a crunched format; a .crn file cannot replace it.");
  const std::string tool = CrunchToolPath(tool_folder);
  const std::string edited = call.source_path + ".dds";
  if (!tool.empty() && FileExists(edited)) {
    OpenSourceFile(call, edited);  // the tool reads it: the same rule as for the source
    ctx.frontend.ConsoleLine(call.relative_path + ".crn.dds -> CRN");
    // Neither the exit status nor the output is checked: a failed run leaves the old .crn.
    RunAndWait(tool, {"-out", call.source_path, "-file", edited});
  }
  const SourceHead head = ReadSourceHead(call.source_path, 0xFFFF);
  CheckCrnHeader(call.source_path, head.bytes, head.length, h);
  CheckImageTotal(head.length, 1);
  const std::vector<uint8_t> crn = ReadCheckedSource(call.source_path, head.length);
  const uint32_t header_size = GetBe(crn.data() + 2, 2);
  if (CrnCrc16(crn.data() + header_size, crn.size() - header_size) != GetBe(crn.data() + 10, 2))
    RefuseSource(call.source_path, "it is not a crunched file: its data checksum does not match.");

  ImportedTexture t;
  t.width = h.width;
  t.height = h.height;
  t.format = h.format;
  t.mip_field = h.mip_field;
  t.image_count = 1;
  t.complete_image_size = static_cast<uint32_t>(crn.size());
  t.data = crn;
  SaveTexture(call, ctx, h, t);
  ctx.frontend.ConsoleLine(call.source_path + " -> TEX");
}

void ImportCrn(const ImporterCall& call, ImporterContext& ctx) {
  ImportCrnWithTool(call, ctx, ExecutableFolder());
}

}  // namespace kestrix
