// AudioClip payloads hold their sound in one of three shapes: the sound bytes themselves, a
// 24-byte legacy record pointing into the archive's ".resS" file, or a streamed-resource record
// naming its file with a 64-bit offset and length. The sound is written unchanged, named by the
// container its first bytes reveal.
#include <string>
#include <vector>

#include "core/error.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "export/audio_detect.h"
#include "export/converter.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"

namespace kestrix {

namespace {

constexpr uint32_t kLegacyPayloadSize = 24;
constexpr uint32_t kRecordMinimumSize = 52;
constexpr size_t kSoundStart = 20;
constexpr size_t kSourcePathAt = 32;

// Where the sound bytes come from once the payload shape is known.
struct SoundSource {
  std::string resource_path;  // "" for sound bytes inside the payload
  std::string subfolder;      // resource subfolder of the output, with its separator
  uint64_t offset = 0;        // in the payload copy or in the resource file
  uint64_t length = 0;
};

bool IsAbsoluteName(const std::string& name) {
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return true;
  return name.size() >= 2 && name[1] == ':';  // a drive letter
}

std::string AfterLast(const std::string& text, char c) {
  size_t cut = text.rfind(c);
  return cut == std::string::npos ? text : text.substr(cut + 1);
}

// A streamed source inside a bundle ("archive:/CAB-x/CAB-x.resource") is read from where
// export writes that contained file when it is opened on its own.
std::string ArchiveSourcePath(const std::string& source, std::string archive_name) {
  std::string file = AfterLast(AfterLast(source, '\\'), '/');
  size_t cut = archive_name.find_first_of("/\\");
  if (cut != std::string::npos) archive_name.resize(cut);
  return std::string("Unity_Assets_Files") + kSep + archive_name + kSep + file + kSep + file;
}

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
      size >= kSoundStart ? DetectAudioExtension(p + kSoundStart, size - kSoundStart) : "";
  const bool zeros_at_20_and_24 =
      size >= 28 && Get32(p + 20, order) == 0 && Get32(p + 24, order) == 0;

  SoundSource source;
  if (size == kLegacyPayloadSize) {
    source.length = Get32(p + 16, order);
    source.offset = Get32(p + 20, order);
    std::string folder = ctx.ResourceFolder(call.base_folder);
    source.resource_path = folder + resource_name;
    source.subfolder = "resS_" + resource_name + kSep;
  } else if (!extension.empty()) {
    source.length = Get32(p + 16, order);
    source.offset = kSoundStart;
    RequireRange(source.offset, source.length, size, "the clip");
  } else if (zeros_at_20_and_24 && size >= kRecordMinimumSize) {
    MemorySource memory(payload);
    Reader reader(memory);
    ObjectCursor in(reader, order);
    in.Seek(kSourcePathAt);
    const std::string named = in.Text(in.U32());
    std::string path = named;
    in.Align();
    source.offset = in.U64();
    source.length = in.U64();

    std::string folder;
    if (path.compare(0, 8, "archive:") == 0) {
      path = ArchiveSourcePath(path, archive_name);
      folder = call.base_folder;
    } else {
      folder = ctx.ResourceFolder(call.base_folder);
    }
    if (IsAbsoluteName(path) || !IsContainedName(path) ||
        FileNameOf(NativeSeparators(path)).empty()) {
      ctx.Report("Refused resource path outside the archive folder: " + named + " (" +
                 call.file_name + ")");
      return;
    }
    path = NativeSeparators(path);
    source.resource_path = folder + path;
    source.subfolder = "res_" + FileNameOf(path) + kSep;
  } else {
    ctx.Report("Not supported file " + call.file_name);
    return;
  }

  const std::string out_folder = call.base_folder + call.relative_folder + source.subfolder;
  if (source.resource_path.empty()) {
    CreateFolders(out_folder);
    OutputFile out(out_folder + call.file_name + extension);
    out.Write(p + source.offset, static_cast<size_t>(source.length));
    out.Close();
  } else {
    if (!FileExists(source.resource_path)) {
      ctx.MissingResource("Отсутствует файл: " + source.resource_path);
      return;
    }
    FileSource resource(source.resource_path);
    RequireRange(source.offset, source.length, resource.Size(), source.resource_path);
    Reader head(resource, 64);
    head.Seek(source.offset);
    std::string found = DetectAudioExtension(head);
    if (!found.empty()) extension = found;
    CreateFolders(out_folder);
    OutputFile out(out_folder + call.file_name + extension);
    out.CopyFrom(resource, source.offset, source.length);
    out.Close();
  }
  ctx.Done(call.file_name + " -> Audio File - " + extension);
}

}  // namespace kestrix
