// AudioClip payloads hold their sound in one of three shapes: the sound bytes themselves, a
// 24-byte legacy record pointing into the archive's ".resS" file, or a streamed-resource record
// naming its file with a 64-bit offset and length. The sound is written unchanged, named by the
// container its first bytes reveal.
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "export/audio_clip.h"
#include "export/audio_detect.h"
#include "export/converter.h"
#include "export/texture_source.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"

namespace kestrix {

namespace {

// Where the sound bytes come from once the payload shape is known.
struct SoundSource {
  std::string resource_path;  // "" for sound bytes inside the payload
  std::string subfolder;      // resource subfolder of the output, with its separator
  uint64_t offset = 0;        // in the payload copy or in the resource file
  uint64_t length = 0;
  std::unique_ptr<ByteSource> resource;  // a contained file of the bundle, read in place
};

// Throws unless [offset, offset + length) lies within `size` bytes.
void RequireRange(uint64_t offset, uint64_t length, uint64_t size, const std::string& what) {
  if (offset > size || length > size - offset) {
    throw Error("Sound data runs past the end of " + what + ": " + std::to_string(length) +
                " bytes at " + std::to_string(offset) + " of " + std::to_string(size) + ".");
  }
}

}  // namespace

void ExportAudio(const ConverterCall& call, ConverterContext& ctx, const std::string& archive_name,
                 const std::string& resource_name) {
  const ByteOrder order = call.big_endian ? ByteOrder::Big : ByteOrder::Little;
  const std::vector<uint8_t> payload = call.stream.ReadBytes(call.payload_size);
  const uint8_t* p = payload.data();
  const size_t size = payload.size();

  std::string extension =
      size >= kClipSoundAt ? DetectAudioExtension(p + kClipSoundAt, size - kClipSoundAt) : "";

  SoundSource source;
  switch (ClipShapeOf(p, size, order)) {
    case ClipShape::LegacyResource:
      source.length = Get32(p + kClipLengthAt, order);
      source.offset = Get32(p + kClipSoundAt, order);
      source.resource_path = ctx.ResourceFolder(call.base_folder) + resource_name;
      source.subfolder = "resS_" + resource_name + kSep;
      break;
    case ClipShape::Embedded:
      source.length = Get32(p + kClipLengthAt, order);
      source.offset = kClipSoundAt;
      RequireRange(source.offset, source.length, size, "the clip");
      break;
    case ClipShape::ResourceRecord: {
      const ClipResourceRecord record = ReadClipResourceRecord(p, size, order);
      source.offset = record.offset;
      source.length = record.length;
      std::string name;
      if (OpenBundleResource(ctx, record.source, &source.resource, &name)) {
        source.resource_path = name;
        source.subfolder = "res_" + name + kSep;
        break;
      }
      source.resource_path = ClipResourcePath(
          record.source, archive_name, ctx.ResourceFolder(call.base_folder), call.base_folder);
      if (source.resource_path.empty()) {
        ctx.Report("Refused resource path outside the archive folder: " + record.source + " (" +
                   call.file_name + ")");
        return;
      }
      source.subfolder = "res_" + FileNameOf(source.resource_path) + kSep;
      break;
    }
    case ClipShape::Unsupported:
      ctx.Report("Not supported file " + call.file_name);
      return;
  }

  if (source.resource_path.empty()) {
    const std::string out_folder = MakeOutputFolder(call, source.subfolder);
    OutputFile out(out_folder + call.file_name + extension);
    out.Write(p + source.offset, static_cast<size_t>(source.length));
    out.Close();
  } else {
    if (!source.resource) source.resource = OpenResourceFile(ctx, "", source.resource_path);
    ByteSource& resource = *source.resource;
    RequireRange(source.offset, source.length, resource.Size(), source.resource_path);
    Reader head(resource, 64);
    head.Seek(source.offset);
    std::string found = DetectAudioExtension(head);
    if (!found.empty()) extension = found;
    const std::string out_folder = MakeOutputFolder(call, source.subfolder);
    OutputFile out(out_folder + call.file_name + extension);
    out.CopyFrom(resource, source.offset, source.length);
    out.Close();
  }
  ctx.Done(call.file_name + " -> Audio File - " + extension);
}

}  // namespace kestrix
