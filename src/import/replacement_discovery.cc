#include "import/replacement_discovery.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "core/error.h"
#include "core/frontend.h"
#include "core/session.h"
#include "export/export_record.h"
#include "export/json_export.h"
#include "export/texture_source.h"
#include "import/texture_import.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

struct FolderItem {
  std::string name;
  bool folder = false;       // a real folder, not a link to one
  bool link_folder = false;  // a symbolic link that leads to a folder
};

// The folder's items in byte order of their names; a folder that cannot be read gives none.
std::vector<FolderItem> ReadFolder(const std::string& folder) {
  std::vector<FolderItem> items;
  std::error_code ec;
  fs::directory_iterator it(FsPath(folder), ec);
  if (ec) return items;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    FolderItem item;
    item.name = PathText(it->path().filename());
    std::error_code kind;
    const bool link = it->is_symlink(kind);
    const bool folder_kind = it->is_directory(kind);  // follows links
    item.folder = folder_kind && !link;
    item.link_folder = folder_kind && link;
    items.push_back(std::move(item));
  }
  std::sort(items.begin(), items.end(),
            [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
  return items;
}

// "*" and "?" as the Windows file search reads them, ASCII letters folded.
bool WildcardMatch(std::string_view text, std::string_view pattern) {
  size_t t = 0, p = 0, star = std::string_view::npos, resume = 0;
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(text[t]))) {
      ++t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

OpenedFile OpenImportFile(const std::string& folder, const std::string& path) {
  try {
    return OpenInsideFolder(folder, path);
  } catch (const RefusedFile& e) {
    throw RefusedFile(path, e.Reason(), "import");
  }
}

OpenedFile OpenSourceFile(const ImporterCall& call, const std::string& path) {
  return OpenImportFile(call.source_folder.empty() ? FolderOf(path) : call.source_folder, path);
}

std::vector<uint8_t> ReadSourceFile(const ImporterCall& call, const std::string& path) {
  FileSource source(OpenSourceFile(call, path));
  std::vector<uint8_t> bytes(static_cast<size_t>(source.Size()));
  source.ReadAt(0, bytes.data(), bytes.size());
  return bytes;
}

void FindFilesRecursive(const std::string& folder, const std::string& extension,
                        std::vector<std::string>& list) {
  const std::string wanted = extension.empty() ? std::string() : "." + extension;
  for (const FolderItem& item : ReadFolder(folder)) {
    if (item.link_folder) continue;
    if (item.folder) {
      FindFilesRecursive(folder + item.name + kSep, extension, list);
    } else if (wanted.empty() || AsciiLower(ExtensionOf(item.name)) == wanted) {
      list.push_back(folder + item.name);
    }
  }
}

bool MatchesCandidatePattern(const std::string& name, const std::string& pattern) {
  if (pattern == "*") return true;
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  return WildcardMatch(std::string_view(name).substr(dot + 1), pattern);
}

void ListCandidates(const std::string& folder, const std::string& pattern,
                    std::vector<std::string>& candidates) {
  for (const FolderItem& item : ReadFolder(folder))
    if (!item.folder && !item.link_folder && MatchesCandidatePattern(item.name, pattern))
      candidates.push_back(item.name);
}

EntryNameIndex::EntryNameIndex(const Session& s) {
  index_.reserve(s.EntryCount());
  for (size_t i = 0; i < s.EntryCount(); ++i) index_[s.EntryName(i)].push_back(i);
}

const std::vector<size_t>* EntryNameIndex::Find(std::string_view name) const {
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : &it->second;
}

long long EntryNameIndex::First(std::string_view name) const {
  const std::vector<size_t>* found = Find(name);
  return found ? static_cast<long long>(found->front()) : -1;
}

bool UnchangedSinceExport(const ExportRecord* record, const std::string& folder,
                          const std::string& path) {
  if (!record || path.compare(0, folder.size(), folder) != 0) return false;
  const RecordedFile* noted = record->File(path.substr(folder.size()));
  if (!noted) return false;
  FileSource source(OpenImportFile(folder, path));
  return noted->hash == HashBytes(source, 0, source.Size());
}

bool ListedInRecord(const ExportRecord* record, const std::string& folder,
                    const std::string& path) {
  if (!record || record->Owner().empty()) return true;
  return path.compare(0, folder.size(), folder) == 0 &&
         record->File(path.substr(folder.size())) != nullptr;
}

namespace {

ImporterCall CallFor(const Session& s, ByteSource& working, size_t i, const std::string& path,
                     const std::string& folder) {
  const std::string name(s.EntryName(i));
  if (s.HeaderSkip(i) > s.EntrySize(i))
    throw Error("Cannot import " + path + ": the object " + name + " (" +
                std::to_string(s.EntrySize(i)) + " bytes) is smaller than its name and header " +
                "fields (" + std::to_string(s.HeaderSkip(i)) + " bytes).");
  ImporterCall call{
      working,
      s.PayloadOffset(i),
      s.EntrySize(i) - s.HeaderSkip(i),
      s.Asset.IsBigEndian(),
      s.Archive.OutputRoot,
      path,
      std::string("Unity_Assets_Files") + kSep + s.Archive.ArchiveFolderName + kSep + name,
      s.Entries.TextureFormat(i)};
  if (IsTextureClass(s.EntryClass(i))) call.texture_fields = TextureLayoutFor(s.Asset, i);
  call.engine = s.Asset.Engine;
  call.source_folder = folder;
  call.session = &s;
  call.entry = i;
  return call;
}

// A cubemap's first face, "name.cbm_px" (without the container's extension), less its face tag.
std::optional<std::string> FirstFaceOf(const std::string& stem) {
  const std::string face = ImageSuffix(0, kCubemapFaces);
  if (stem.size() <= face.size() || stem.compare(stem.size() - face.size(), face.size(), face) != 0)
    return std::nullopt;
  return stem.substr(0, stem.size() - face.size());
}

// The entry a picture file was made from: "name.tex.dds" is entry "name.tex", and a cubemap's
// first face "name.cbm_px.dds" stands for entry "name.cbm" with the five faces that follow it
// (which are read through it, so they name no entry themselves).
long long EntryOfImageFile(const EntryNameIndex& names, const std::string& path) {
  const std::string stem = WithoutExtension(FileNameOf(path));
  const long long entry = names.First(stem);
  const std::optional<std::string> cubemap = FirstFaceOf(stem);
  return entry >= 0 || !cubemap ? entry : names.First(*cubemap);
}

// A cubemap is taken when any of its faces was edited, not only the first.
bool ImageFilesUnchanged(const ExportRecord* record, const std::string& folder,
                         const std::string& path) {
  if (!FirstFaceOf(WithoutExtension(FileNameOf(path))))
    return UnchangedSinceExport(record, folder, path);
  for (int32_t i = 0; i < kCubemapFaces; ++i) {
    const std::string face = ImageFileName(path, i, kCubemapFaces);
    if (!FileExists(face) || !UnchangedSinceExport(record, folder, face)) return false;
  }
  return true;
}

}  // namespace

void RunConverter(const Session& s, const EntryNameIndex& names, ByteSource& working,
                  const std::string& subfolder, const std::string& extension, Importer importer,
                  AudioImporter audio, ImporterContext& ctx,
                  std::vector<ConvertedSource>* converted) {
  std::vector<std::string> found;
  const std::string folder = ExportFolder(s.Archive);
  FindFilesRecursive(folder + subfolder + kSep, extension, found);
  for (const std::string& path : found) {
    const long long first = EntryOfImageFile(names, path);
    if (first < 0 || !ListedInRecord(ctx.record, folder, path)) continue;
    const size_t i = static_cast<size_t>(first);
    // A source that is refused (planted as a link out of the folder, a pipe, a file that is not
    // what it claims) is a failure of its own: it is named and the other sources still go.
    try {
      if (ImageFilesUnchanged(ctx.record, folder, path)) continue;
      const ImporterCall call = CallFor(s, working, i, path, folder);
      // What the importer wrote is seen by the raw file's stamp: an importer that passes over a
      // source says why itself and writes nothing.
      const std::string raw = folder + std::string(s.EntryName(i));
      const FileStamp before = StampOf(raw);
      if (audio) {
        audio(call, ctx, s.Archive.ArchiveFolderName, StreamFileName(s.Archive) + ".resS");
      } else {
        importer(call, ctx);
      }
      if (converted && StampOf(raw) != before && FileExists(raw))
        converted->push_back({path, std::string(s.EntryName(i))});
    } catch (const Error& e) {
      ctx.frontend.ErrorBox(e.what());
    }
    ctx.frontend.ProcessMessages();
  }
}

std::vector<ConvertedSource> RunConverters(const Session& s, const EntryNameIndex& names,
                                           ByteSource& working, const ImportConverters& c,
                                           Frontend& frontend, bool no_texture_flip,
                                           const ExportRecord* record, ResourceEdits* edits) {
  ObjectTrees trees;
  ImporterContext ctx{frontend, ResourceFolder(s.Archive), no_texture_flip, record, edits, &trees};
  std::vector<ConvertedSource> converted;
  const std::string folder = ExportFolder(s.Archive);
  struct Run {
    const char* subfolder;
    const char* extension;
    Importer importer;
    AudioImporter audio;
  };
  // Later runs overwrite the raw files of earlier ones: within Textures a PNG beats a PVR, a
  // PVR a KTX, a KTX a CRN, a CRN a DDS; a PNG in Cubemap beats a DDS there, and those beat
  // them all. Pictures are only there when asked for, and then they are what the user edits.
  const Run runs[] = {
      {"Textures", "dds", c.dds, nullptr}, {"Textures", "crn", c.crn, nullptr},
      {"Textures", "ktx", c.ktx, nullptr}, {"Textures", "pvr", c.pvr, nullptr},
      {"Textures", "png", c.png, nullptr}, {"Cubemap", "dds", c.dds, nullptr},
      {"Cubemap", "png", c.png, nullptr},  {"ProceduralTextures", "dds", c.procedural, nullptr},
      {"Sounds", "", nullptr, c.audio},    {"Json", "json", c.json, nullptr},
  };
  for (const Run& run : runs) {
    if (!run.importer && !run.audio) continue;
    std::error_code ec;
    if (!fs::is_directory(FsPath(folder + run.subfolder), ec)) continue;
    RunConverter(s, names, working, run.subfolder, run.extension, run.importer, run.audio, ctx,
                 &converted);
  }
  return converted;
}

}  // namespace kestrix
