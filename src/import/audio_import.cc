#include "import/audio_import.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "core/bundle_resource.h"
#include "core/error.h"
#include "core/frontend.h"
#include "core/localization.h"
#include "export/audio_clip.h"
#include "import/resource_edits.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace kestrix {

namespace {

constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();

[[noreturn]] void TooLarge(const std::string& sound, uint64_t size, uint64_t limit) {
  throw Error("Sound file " + sound + " is too large for its audio clip: " + std::to_string(size) +
              " bytes, at most " + std::to_string(limit) + " fit.");
}

// The raw object file is replaced in one step, so the import driver never finds half of it.
void SaveRawFile(const std::string& path, const std::vector<uint8_t>& payload) {
  CreateFolders(FolderOf(path));
  WholeFileWriter raw(path);
  raw.Out().Write(payload);
  raw.Commit();
}

// Whether the resource holds exactly the sound's bytes where the clip points now.
bool AlreadyInResource(ByteSource& resource, FileSource& sound, const std::vector<uint8_t>& payload,
                       ClipShape shape, size_t offset_at, ByteOrder order) {
  uint64_t at = 0, size = 0;
  if (shape == ClipShape::LegacyResource) {
    size = Get32(payload.data() + kClipLengthAt, order);
    at = Get32(payload.data() + kClipSoundAt, order);
  } else {
    at = Get64(payload.data() + offset_at, order);
    size = Get64(payload.data() + offset_at + 8, order);
  }
  if (size != sound.Size()) return false;
  if (at > resource.Size() || resource.Size() - at < size) return false;
  std::vector<uint8_t> mine(1 << 16), theirs(1 << 16);
  for (uint64_t done = 0; done < size;) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(size - done, mine.size()));
    sound.ReadAt(done, mine.data(), step);
    resource.ReadAt(at + done, theirs.data(), step);
    if (!std::equal(mine.begin(), mine.begin() + step, theirs.begin())) return false;
    done += step;
  }
  return true;
}

// A clip whose sound lives in a resource entry of the open bundle keeps it there: the new sound
// goes to the resource edits, and the clip's record points at where it will lie.
bool ImportIntoBundleResource(const ImporterCall& call, ImporterContext& ctx,
                              const ClipResourceRecord& record, std::vector<uint8_t>& payload,
                              FileSource& sound, const std::string& raw_path) {
  if (!ctx.resource_edits) return false;
  const OpenedArchive& archive = ctx.resource_edits->Archive();
  const ContainedResource resource = FindContainedResource(archive, record.source);
  RefuseWebDataResource(resource, call.source_path);
  if (!resource.Found()) return false;
  const ByteOrder order = call.big_endian ? ByteOrder::Big : ByteOrder::Little;
  std::unique_ptr<ByteSource> held = OpenContainedResource(archive, resource);
  if (AlreadyInResource(*held, sound, payload, ClipShape::ResourceRecord, record.fields_at,
                        order)) {
    SaveRawFile(raw_path, payload);
    return true;
  }
  const uint64_t n = sound.Size();
  ResourceWrite write =
      ctx.resource_edits->Place(call.entry, resource, record.offset, record.length, n);
  write.bytes.resize(static_cast<size_t>(n));
  sound.ReadAt(0, write.bytes.data(), write.bytes.size());
  Put64(payload.data() + record.fields_at, write.offset, order);
  Put64(payload.data() + record.fields_at + 8, n, order);
  SaveRawFile(raw_path, payload);
  ctx.resource_edits->Add(std::move(write), payload);
  return true;
}

}  // namespace

void ImportAudio(const ImporterCall& call, ImporterContext& ctx,
                 const std::string& archive_folder_name, const std::string& resource_name) {
  const ByteOrder order = call.big_endian ? ByteOrder::Big : ByteOrder::Little;
  const std::string entry = FileNameOf(call.relative_path);
  if (!IsContainedName(call.relative_path) || entry.empty()) {
    ctx.frontend.MessageBox("Refused output path outside the export folder: " + call.relative_path);
    return;
  }
  std::vector<uint8_t> payload(call.payload_size);
  call.working.ReadAt(call.payload_start, payload.data(), payload.size());
  const ClipShape shape = ClipShapeOf(payload.data(), payload.size(), order);
  if (shape == ClipShape::Unsupported) {
    ctx.frontend.Note("Not supported file " + entry);
    return;
  }

  FileSource sound(OpenSourceFile(call, call.source_path));
  const uint64_t n = sound.Size();
  const std::string raw_path = call.output_root + call.relative_path;

  if (shape == ClipShape::Embedded) {
    // The payload's own size is 32-bit as well: the head and the padding must still fit.
    const uint64_t limit = kMax32 - kClipSoundAt - 3;
    if (n > limit) TooLarge(call.source_path, n, limit);
    std::vector<uint8_t> rebuilt(payload.begin(), payload.begin() + kClipSoundAt);
    Put32(rebuilt.data() + kClipLengthAt, static_cast<uint32_t>(n), order);
    rebuilt.resize((kClipSoundAt + n + 3) & ~uint64_t{3}, 0);
    sound.ReadAt(0, rebuilt.data() + kClipSoundAt, static_cast<size_t>(n));
    SaveRawFile(raw_path, rebuilt);
    return;
  }

  // Resource files lie where export reads them; without an archive folder (tests), the output
  // root stands in, as it does for export.
  const std::string& folder = ctx.resource_folder.empty() ? call.output_root : ctx.resource_folder;
  std::string resource_path;
  size_t offset_at = 0;
  if (shape == ClipShape::LegacyResource) {
    if (n > kMax32) TooLarge(call.source_path, n, kMax32);
    resource_path = folder + resource_name;
  } else {
    const ClipResourceRecord record = ReadClipResourceRecord(payload.data(), payload.size(), order);
    if (ImportIntoBundleResource(call, ctx, record, payload, sound, raw_path)) return;
    resource_path = ClipResourcePath(record.source, archive_folder_name, folder, call.output_root);
    if (resource_path.empty()) {
      ctx.frontend.MessageBox("Refused resource path outside the archive folder: " + record.source +
                              " (" + entry + ")");
      return;
    }
    offset_at = record.fields_at;
  }
  // A failure like any other: the run counts it.
  if (!FileExists(resource_path)) throw Error(Str(kStrMissingFile) + resource_path);

  // A sound that is already where the clip points (an unchanged file imported again) stays
  // there: appending it once more on every import would only grow the resource file.
  FileSource resource_file(resource_path);
  if (AlreadyInResource(resource_file, sound, payload, shape, offset_at, order)) {
    SaveRawFile(raw_path, payload);
    return;
  }
  CreateFolders(FolderOf(raw_path));
  // The sound always goes after the file's last byte, even when the old sound's place would
  // hold it: until the new archive is in place the old one still points at the old bytes.
  AppendOnlyFile resource(resource_path);
  const uint64_t at = resource.StartSize();
  if (shape == ClipShape::LegacyResource) {
    if (at > kMax32) {
      throw Error("Resource file " + resource_path + " is " + std::to_string(at) +
                  " bytes long: a sound appended to it lies beyond the 32-bit offset of clip " +
                  entry + ".");
    }
    Put32(payload.data() + kClipLengthAt, static_cast<uint32_t>(n), order);
    Put32(payload.data() + kClipSoundAt, static_cast<uint32_t>(at), order);
  } else {
    Put64(payload.data() + offset_at, at, order);
    Put64(payload.data() + offset_at + 8, n, order);
  }

  // The raw file is written under a temporary name first and renamed only after the resource
  // file holds the sound on the disk, so a raw file never points at bytes that are not there.
  WholeFileWriter raw(raw_path);
  raw.Out().Write(payload);
  resource.AppendFrom(sound, 0, n);
  resource.Commit();
  raw.Commit();
}

}  // namespace kestrix
