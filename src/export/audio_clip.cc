#include "export/audio_clip.h"

#include "core/error.h"
#include "core/object_cursor.h"
#include "export/audio_detect.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "platform/reader.h"

namespace kestrix {

namespace {

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

}  // namespace

ClipShape ClipShapeOf(const uint8_t* p, size_t size, ByteOrder order) {
  if (size == kLegacyClipSize) return ClipShape::LegacyResource;
  if (size > kClipSoundAt && !DetectAudioExtension(p + kClipSoundAt, size - kClipSoundAt).empty())
    return ClipShape::Embedded;
  if (size >= kRecordClipMinimum && Get32(p + 20, order) == 0 && Get32(p + 24, order) == 0)
    return ClipShape::ResourceRecord;
  return ClipShape::Unsupported;
}

ClipResourceRecord ReadClipResourceRecord(const uint8_t* p, size_t size, ByteOrder order) {
  MemorySource memory(p, size);
  Reader reader(memory);
  ObjectCursor in(reader, order);
  in.Seek(kClipSourcePathAt);
  ClipResourceRecord record;
  record.source = in.Text(in.Count(1));
  in.Align();
  record.fields_at = static_cast<size_t>(in.Tell());
  record.offset = in.U64();
  record.length = in.U64();
  return record;
}

std::string ClipResourcePath(const std::string& source, const std::string& archive_folder_name,
                             const std::string& resource_folder, const std::string& output_root) {
  std::string path = source;
  std::string folder = resource_folder;
  if (path.compare(0, 8, "archive:") == 0) {
    path = ArchiveSourcePath(path, archive_folder_name);
    folder = output_root;
  }
  if (IsAbsoluteName(path) || !IsContainedName(path) || FileNameOf(NativeSeparators(path)).empty())
    return std::string();
  return folder + NativeSeparators(path);
}

}  // namespace kestrix
