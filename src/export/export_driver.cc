#include "export/export_driver.h"

#include <exception>

#include "core/error.h"
#include "core/frontend.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/export_record.h"
#include "export/json_export.h"
#include "export/pixels.h"
#include "export/sprite_picture.h"
#include "platform/archive_lock.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "platform/written_files.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr char kOutputTop[] = "Unity_Assets_Files";

std::string RelativeFolder(const Session& s, const char* subfolder) {
  return std::string(kOutputTop) + kSep + s.Archive.ArchiveFolderName + kSep + subfolder + kSep;
}

// Entry names are cleaned of separators by the naming pass; this holds whatever fills the
// table, so that no name from archive data lands outside the export folder.
void CheckFileName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(kSeparators) != std::string::npos || name.find('\0') != std::string::npos)
    throw Error("Cannot export \"" + name + "\": the name is not a plain file name.");
}

// Checked before anything is written, so that a damaged table gives a clear message instead of
// a half-written file of a length the archive cannot hold.
void CheckInStream(const std::string& name, const Reader& data, uint64_t pos, uint64_t n) {
  if (pos > data.Size() || n > data.Size() - pos)
    throw Error("Cannot export " + name + ": its data runs past the end of the archive (" +
                std::to_string(n) + " bytes at position " + std::to_string(pos) + ", file size " +
                std::to_string(data.Size()) + ").");
}

bool HasParentStep(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(kSeparators, start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

std::string LeavesOutputMessage(const Session& s) {
  return "Cannot export into the folder \"" + s.Archive.ArchiveFolderName +
         "\": the name leaves the output folder.";
}

// A file that could not be completed is removed rather than left half-written.
void CopyToFile(const std::string& path, Reader& data, uint64_t pos, uint64_t n) {
  try {
    OutputFile out(path);
    out.CopyFrom(data.Source(), pos, n);
    out.Close();
  } catch (...) {
    RemoveFileQuietly(path);
    throw;
  }
}

ConverterCall CallAt(const Session& s, size_t i, Reader& data, uint64_t start, uint32_t size,
                     std::string relative_folder) {
  data.Seek(start);
  return ConverterCall{data,
                       size,
                       s.Asset.IsBigEndian(),
                       s.Archive.OutputRoot,
                       std::move(relative_folder),
                       std::string(s.EntryName(i))};
}

void ExportTexture(const Session& s, size_t i, Reader& data, uint64_t start, uint32_t size,
                   ConverterContext& ctx) {
  const ExportSwitches& sw = ctx.request().Switches;
  // Throws for an engine newer than the layout tables know; the raw copy is still written.
  const FieldLayout fields = TextureLayoutFor(s.Asset, i);
  auto texture_call = [&](const std::string& folder) {
    ConverterCall call = CallAt(s, i, data, start, size, folder);
    call.texture_fields = &fields;
    return call;
  };
  const int32_t format = s.Entries.TextureFormat(i);
  const EngineVersion& engine = s.Asset.Engine;
  const std::string name(s.EntryName(i));
  const std::string folder =
      RelativeFolder(s, s.EntryClass(i) == kClassTexture2D ? "Textures" : "Cubemap");
  if (sw.ExportDds && TextureFormatSupports(format, kTargetDds, engine))
    ExportDds(texture_call(folder), ctx);
  if (sw.ExportCrn && TextureFormatSupports(format, kTargetCrn, engine))
    ExportCrn(texture_call(folder), ctx);
  if (sw.ExportKtx && TextureFormatSupports(format, kTargetKtx, engine))
    ExportKtx(texture_call(folder), ctx);
  if (sw.ExportPvr && TextureFormatSupports(format, kTargetPvr, engine))
    ExportPvr(texture_call(folder), ctx);
  // Every format goes to the picture writer, which says itself what it cannot show.
  if (sw.ExportPng) ExportPng(texture_call(folder), ctx);
  // The "О" of "ОNLY" is the Cyrillic letter, as the message has always been printed.
  if (sw.ExportKtx && !sw.ExportPvr && format == 21)
    ctx.Report("Not supported ktx " + TextureFormatName(format, engine) + " " + name +
               " \xD0\x9ENLY PVR!!!");
  if (!TextureFormatSupports(format, kTargetAny, engine) &&
      !(sw.ExportPng && PictureRefusal(format, engine).empty()))
    ctx.Report("Not supported format compression " + TextureFormatName(format, engine) + " " +
               name);
}

bool WrittenRaw(const ExportSwitches& sw, int32_t cls) {
  switch (cls) {
    case kClassTexture2D:
    case kClassCubemap:
    case kClassProceduralTexture:
      return sw.ExportRawTextures;
    case kClassMesh:
      return sw.ExportRawMeshes;
    case kClassAudioClip:
      return sw.ExportRawAudio;
    case kClassSprite:
      return !sw.ExportJson && !sw.NoRawSprites;
    default:
      return !sw.ExportJson;
  }
}

void ExportEntryOrThrow(const Session& s, const ExportRequest& request, size_t i, Reader& data,
                        Frontend& frontend, JsonTally& json, SpriteTextures& sprites) {
  const std::string name(s.EntryName(i));
  const std::string folder = ExportFolder(s.Archive);
  if (HasParentStep(s.Archive.ArchiveFolderName)) throw Error(LeavesOutputMessage(s));
  CheckFileName(name);
  const int32_t cls = s.EntryClass(i);
  const uint64_t start = s.PayloadOffset(i);
  const ExportSwitches& sw = request.Switches;
  if (sw.ExportJson) ExportObjectJson(s, i, data, folder, json);

  if (s.HasEmbeddedPayload(i)) {
    const uint32_t length = s.PayloadSize(i);
    if (length == 0 || !WrittenRaw(sw, cls)) return;
    CheckInStream(name, data, start, length);
    CopyToFile(folder + name, data, start, length);
    return;
  }

  if (s.HeaderSkip(i) > s.EntrySize(i))
    throw Error("Cannot export " + name + ": the object (" + std::to_string(s.EntrySize(i)) +
                " bytes) is smaller than its name and header fields (" +
                std::to_string(s.HeaderSkip(i)) + " bytes).");
  const uint32_t size = s.PayloadSize(i);
  CheckInStream(name, data, start, size);

  ConverterContext ctx(s, request, frontend);
  // A converter that cannot read the object fails the entry, but the raw copy the user asked
  // for is still written: the object as stored is always worth having.
  std::string converter_error;
  if (size != 0 && sw.ExportSource) {
    try {
      if (IsTextureClass(cls)) ExportTexture(s, i, data, start, size, ctx);
      if (sw.ExportDds && cls == kClassProceduralTexture)
        ExportProceduralDds(
            CallAt(s, i, data, start, size, RelativeFolder(s, "ProceduralTextures")), ctx);
      if (sw.ExportObj && cls == kClassMesh) {
        ConverterCall call = CallAt(s, i, data, start, size, RelativeFolder(s, "Mesh"));
        call.type_tree = ObjectTypeTree(s.Asset, i);
        ExportObj(call, ctx, s.Asset.MajorVersion);
      }
      if (sw.ExportPng && cls == kClassSprite)
        ExportSpritePng(s, i, CallAt(s, i, data, start, size, RelativeFolder(s, kSpriteFolder)),
                        ctx, sprites);
      if (cls == kClassAudioClip)
        ExportAudio(CallAt(s, i, data, start, size, RelativeFolder(s, "Sounds")), ctx,
                    s.Archive.ArchiveFolderName, StreamFileName(s.Archive) + ".resS");
    } catch (const std::exception& e) {
      // The user needs to know which entry failed; some converters already say it.
      converter_error = e.what();
      if (converter_error.rfind(name, 0) != 0) converter_error = name + ": " + converter_error;
    }
  }

  data.Seek(start);
  if (WrittenRaw(sw, cls)) CopyToFile(folder + name, data, start, size);
  if (!converter_error.empty()) throw Error(converter_error);
}

}  // namespace

namespace {

bool ExportOne(const Session& s, const ExportRequest& request, size_t index, Reader& data,
               Frontend& frontend, JsonTally& json, SpriteTextures& sprites) {
  try {
    if (index >= s.EntryCount())
      throw Error("There is no entry " + std::to_string(index + 1) + " to export.");
    ExportEntryOrThrow(s, request, index, data, frontend, json, sprites);
    return true;
  } catch (const std::exception& e) {
    frontend.ErrorBox(e.what());
    return false;
  }
}

}  // namespace

bool ExportEntry(const Session& s, const ExportRequest& request, size_t index, Reader& data,
                 Frontend& frontend) {
  JsonTally json;
  SpriteTextures sprites;
  // A run (ExportEntries) makes the folder once; a single entry makes it here.
  try {
    if (!HasParentStep(s.Archive.ArchiveFolderName)) CreateFolders(ExportFolder(s.Archive));
  } catch (const std::exception& e) {
    frontend.ErrorBox(e.what());
    return false;
  }
  return ExportOne(s, request, index, data, frontend, json, sprites);
}

namespace {

// Notes in the record what the entry's converters and raw copy wrote, and the object's bytes as
// they stand, so that a later import can tell the user's edits from files left as exported.
void RecordEntry(const Session& s, size_t i, FileSource& source, const std::string& folder,
                 const std::vector<WrittenFile>& written, ExportRecord& record) {
  const int64_t id = s.Object(i).PathId;
  for (const WrittenFile& file : written) {
    if (file.path.compare(0, folder.size(), folder) != 0) continue;
    record.NoteFile(file.path.substr(folder.size()), id,
                    file.hashed ? file.hash : HashFile(file.path));
  }
  record.NoteObject(id, HashBytes(source, s.Asset.DataStart + s.EntryOffset(i), s.EntrySize(i)));
}

}  // namespace

ExportRunResult ExportEntries(const Session& s, const ExportRequest& request, Frontend& frontend,
                              const std::vector<size_t>& entries, bool process_messages) {
  ExportRunResult result;
  CommandsDisabled disabled(frontend);
  // The folder name of a bundle carries a contained file's name, which comes from the archive.
  if (HasParentStep(s.Archive.ArchiveFolderName)) throw Error(LeavesOutputMessage(s));
  // An archive read in place is held for reading while the export runs, and must still be the
  // file this session read: the offsets of another version of it would cut the wrong bytes.
  ArchiveLock reading;
  if (s.Archive.ArchivePath == s.Archive.GivenPath)
    reading = HoldOpenedArchive(s.Archive, LockKind::kRead, frontend, "export from", "export");
  FileSource source(s.Archive.ArchivePath);
  Reader data(source);
  const std::string folder = ExportFolder(s.Archive);
  ExportRecord record = ExportRecord::Load(folder);
  const std::string owner = RecordOwnerName(s.Archive);
  RefuseOthersFolder(record, owner, folder, "export into");
  record.SetOwner(owner);
  // A folder nothing can be written into fails every entry for one cause: said once, before
  // any entry is listed as if it were written.
  if (!entries.empty()) CreateWritableFolder(folder);
  int shown = -1;
  JsonTally json;
  SpriteTextures sprites;
  {
    WrittenFiles written;
    for (size_t p = 0; p < entries.size(); ++p) {
      const size_t i = entries[p];
      if (i < s.EntryCount()) {
        std::string line = folder;
        line += s.EntryName(i);
        frontend.ConsoleLine(line);
      }
      if (ExportOne(s, request, i, data, frontend, json, sprites)) {
        ++result.exported;
        RecordEntry(s, i, source, folder, written.Take(), record);
      } else {
        ++result.failed;
        written.Take();
      }
      const int percent = static_cast<int>((p + 1) * 100 / entries.size());
      if (percent != shown) {
        shown = percent;
        frontend.ShowProgress(percent);
      }
      if (process_messages) frontend.ProcessMessages();
    }
  }
  if (request.Switches.ExportJson) {
    result.json_written = json.written;
    result.json_skipped = json.skipped;
    frontend.Note(JsonSummary(json));
  }
  if (result.exported > 0) {
    try {
      record.Save(folder);
    } catch (const std::exception& e) {
      frontend.ErrorBox(e.what());
      ++result.failed;
    }
  }
  return result;
}

}  // namespace kestrix
