#include "export/texture_source.h"

#include <algorithm>
#include <filesystem>

#include "core/bundle_resource.h"
#include "core/error.h"
#include "core/localization.h"
#include "core/session.h"
#include "export/audio_clip.h"
#include "export/converter.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "platform/safe_files.h"

namespace kestrix {

void TextureImages::RequireImages(int32_t count) const {
  if (count < 0) throw Error("Texture image count " + std::to_string(count) + " is not valid.");
  if (header.complete_image_size < 0)
    throw Error("Texture image size " + std::to_string(header.complete_image_size) +
                " is not valid.");
  uint64_t need = static_cast<uint64_t>(count) * static_cast<uint64_t>(header.complete_image_size);
  uint64_t have = 0;
  if (resource) {
    uint64_t size = resource->Size();
    have = header.resource_offset < size ? size - header.resource_offset : 0;
  } else {
    have = header.image_start < payload.size() ? payload.size() - header.image_start : 0;
  }
  if (need > have) {
    throw Error("Texture data is shorter than its header claims: " + std::to_string(count) +
                " image(s) of " + std::to_string(header.complete_image_size) + " bytes need " +
                std::to_string(need) + " bytes, " + std::to_string(have) + " are there.");
  }
}

std::vector<uint8_t> TextureImages::Image(int32_t index) const {
  RequireImages(index + 1);
  const size_t n = static_cast<size_t>(header.complete_image_size);
  const uint64_t at = static_cast<uint64_t>(index) * n;
  if (resource) {
    std::vector<uint8_t> bytes(n);
    resource->ReadAt(header.resource_offset + at, bytes.data(), n);
    return bytes;
  }
  auto first = payload.begin() + static_cast<ptrdiff_t>(header.image_start + at);
  return std::vector<uint8_t>(first, first + static_cast<ptrdiff_t>(n));
}

void OpenTextureImages(const ConverterCall& call, ConverterContext& ctx, TextureImages* out) {
  out->payload = call.stream.ReadBytes(call.payload_size);
  out->header = ReadTextureHeader(out->payload, call.big_endian, call.texture_fields);
  if (!out->header.Streamed()) return;

  const std::string& path = out->header.resource_path;
  if (OpenBundleResource(ctx, path, &out->resource, &out->subfolder)) {
    out->subfolder = ResourceSubfolder(out->subfolder);
    return;
  }
  if (out->header.layout == 4) {
    const std::string file = FieldResourceFile(call, ctx, path, &out->subfolder);
    out->resource = OpenResourceFile(ctx, path, file);
    return;
  }
  if (!IsSafeResourcePath(path)) ctx.MissingResource(RefusedPathMessage(path));
  const std::string native = NativeSeparators(path);
  out->resource = OpenResourceFile(ctx, path, ctx.ResourceFolder(call.base_folder) + native);
  out->subfolder = ResourceSubfolder(native);
}

bool OpenBundleResource(ConverterContext& ctx, const std::string& resource_path,
                        std::unique_ptr<ByteSource>* source, std::string* name) {
  const OpenedArchive& archive = ctx.session().Archive;
  const ContainedResource found = FindContainedResource(archive, resource_path);
  if (!found.Readable()) return false;
  *source = OpenContainedResource(archive, found);
  *name = found.name;
  return true;
}

std::unique_ptr<ByteSource> OpenResourceFile(ConverterContext& ctx,
                                             const std::string& resource_path,
                                             const std::string& file) {
  if (file.empty()) ctx.MissingResource(RefusedPathMessage(resource_path));
  if (FileExists(file)) return std::make_unique<FileSource>(file);
  // A folder run knows the game's other resource files: the one of that name nearest the archive
  // is the one meant.
  if (const FolderResources* resources = ctx.request().Resources.get()) {
    const std::string found =
        NearestFolderResource(*resources, ctx.session().Archive.GivenPath, FileNameOf(file));
    if (!found.empty() && FileExists(found)) return std::make_unique<FileSource>(found);
  }
  ctx.MissingResource(Str(kStrMissingFile) + file);
}

std::string NearestFolderResource(const FolderResources& resources, const std::string& archive,
                                  const std::string& name) {
  auto found = resources.find(name);
  if (found == resources.end()) return "";
  namespace fs = std::filesystem;
  const fs::path folder = fs::absolute(FsPath(archive)).lexically_normal().parent_path();
  // How many leading folders a place shares with the archive's folder: the most wins, and two
  // places that share as many are not guessed between.
  std::string best;
  long best_shared = -1;
  bool tie = false;
  for (const std::string& place : found->second) {
    const fs::path candidate = fs::absolute(FsPath(place)).lexically_normal().parent_path();
    auto [a, b] = std::mismatch(folder.begin(), folder.end(), candidate.begin(), candidate.end());
    const long shared = std::distance(folder.begin(), a);
    (void)b;
    if (shared > best_shared) {
      best = place;
      best_shared = shared;
      tie = false;
    } else if (shared == best_shared) {
      tie = true;
    }
  }
  return tie ? std::string() : best;
}

std::string RefusedPathMessage(const std::string& resource_path) {
  return "Resource path refused, it leaves the archive's folder: " + resource_path;
}

std::string FieldResourceFile(const ConverterCall& call, ConverterContext& ctx,
                              const std::string& resource_path, std::string* subfolder) {
  const std::string file = ClipResourcePath(resource_path, ctx.session().Archive.ArchiveFolderName,
                                            ctx.ResourceFolder(call.base_folder), call.base_folder);
  if (!file.empty()) *subfolder = ResourceSubfolder(FileNameOf(file));
  return file;
}

std::string ResourceSubfolder(const std::string& resource_path) {
  size_t dot = resource_path.find('.');
  std::string stem = dot == std::string::npos ? resource_path : resource_path.substr(0, dot);
  return "res_" + NativeSeparators(stem) + kSep;
}

bool IsSafeResourcePath(const std::string& resource_path) {
  std::string path = NativeSeparators(resource_path);
  if (!path.empty() && path[0] == kSep) return false;
  // A drive letter makes a Windows path absolute as well.
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
    return false;
  return path.empty() || IsContainedName(path);
}

std::string MakeOutputFolder(const ConverterCall& call, const std::string& subfolder) {
  std::string relative = call.relative_folder;
  if (!relative.empty() && relative.back() == kSep) relative.pop_back();
  std::string folder = call.base_folder + call.relative_folder + subfolder;
  CreateFoldersBelow(call.base_folder + FolderOf(relative), folder);
  return folder;
}

std::string ImageSuffix(int32_t index, int32_t count) {
  static const char* const kFaces[kCubemapFaces] = {"_px", "_nx", "_py", "_ny", "_pz", "_nz"};
  if (count == kCubemapFaces && index >= 0 && index < kCubemapFaces) return kFaces[index];
  return index == 0 ? std::string() : "_" + std::to_string(index + 1);
}

}  // namespace kestrix
