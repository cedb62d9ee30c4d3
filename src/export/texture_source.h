// Where a texture's images come from: the payload itself, or, for streamed textures (layout 3),
// a resource file beside the archive. The DDS, KTX, PVR and crunched writers share this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/requests.h"
#include "export/texture_header.h"
#include "platform/byte_source.h"

namespace kestrix {

struct ConverterCall;
class ConverterContext;

struct TextureImages {
  TextureHeader header;
  std::vector<uint8_t> payload;
  std::string subfolder;  // "" or "res_" + resource name up to its first "." + "/"
  std::unique_ptr<ByteSource> resource;  // a resource file, or a contained file of the bundle

  // Throws Error unless `count` images of the complete image size are there to read; a negative
  // count or size is refused the same way, so nothing loops over or allocates for garbage.
  void RequireImages(int32_t count) const;
  // Image `index` (from 0), read from the resource file or the payload.
  std::vector<uint8_t> Image(int32_t index) const;
};

// Copies the payload from the stream, reads its header and, for a streamed texture, opens its
// resource: the contained file of the open bundle the path names, else the file on disk. Throws
// Error (ConverterContext::MissingResource) when the resource file is missing or its path would
// leave the archive's folder; nothing has been written then.
void OpenTextureImages(const ConverterCall& call, ConverterContext& ctx, TextureImages* out);

// Streamed data that the open bundle holds as a contained file of the name `resource_path`
// gives: read from the working file, `name` set to the contained file's name. False when the
// bundle holds no such file (or the archive is no bundle): the resource is looked for on disk.
bool OpenBundleResource(ConverterContext& ctx, const std::string& resource_path,
                        std::unique_ptr<ByteSource>* source, std::string* name);
// The resource file `file` on disk that `resource_path` leads to ("" when the path was refused);
// throws the missing-file failure, in the user's language, when it is not there.
std::unique_ptr<ByteSource> OpenResourceFile(ConverterContext& ctx,
                                             const std::string& resource_path,
                                             const std::string& file);
// Of the places a folder run found a resource file called `name`, the one nearest the archive's
// own folder (the most leading folders in common); "" when there is none or two are as near.
std::string NearestFolderResource(const FolderResources& resources, const std::string& archive,
                                  const std::string& name);

std::string RefusedPathMessage(const std::string& resource_path);

// "res_" + the path up to its first "." (the whole path without one) + separator.
std::string ResourceSubfolder(const std::string& resource_path);

// Where the resource file of an object read field by field lies: beside the archive, or for a
// path inside a bundle ("archive:/CAB-x/CAB-x.resS") where export writes that contained file
// (the output tree of the bundle). "" when the path would leave its folder. `subfolder` gets
// the output subfolder, made from the resource's file name.
std::string FieldResourceFile(const ConverterCall& call, ConverterContext& ctx,
                              const std::string& resource_path, std::string* subfolder);
// A resource path from archive data may be looked up when it is relative and has no ".." part.
bool IsSafeResourcePath(const std::string& resource_path);

// base folder + relative folder + subfolder, created when missing. The export folder (relative
// folder less its last part) is shared between users: a folder below it that is a link leading
// out of it, or that is not a folder, is refused (CreateFoldersBelow).
std::string MakeOutputFolder(const ConverterCall& call, const std::string& subfolder);
inline constexpr int32_t kCubemapFaces = 6;
// What image `index` (from 0) of a texture of `count` images adds to its file's name before the
// container's extension. A cubemap's faces say which face they are, in the engine's order +X,
// -X, +Y, -Y, +Z, -Z: "_px", "_nx", "_py", "_ny", "_pz", "_nz" (as most tools that take six
// face pictures name them). Any other count: "" for the first image, "_2" ... for later ones.
std::string ImageSuffix(int32_t index, int32_t count);

}  // namespace kestrix
