// Sprites as pictures: the part of a texture (or of a sprite atlas's texture) that a Sprite
// object shows, cut by its texture rectangle, turned back when the packer stored it flipped or
// rotated, and for tightly packed sprites cleared outside the sprite's mesh. PNG export writes
// it as Sprites/<entry name>.png beside the Textures folder; the window's preview shows it.
//
// The fields are read through a type tree (the file's own, see SpriteTreeFor, else the layouts
// of export/sprite_layouts.h), so that the many releases that moved a Sprite's fields need no
// reader of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/error.h"
#include "core/serialized_file.h"
#include "export/pixels.h"
#include "export/sprite_layouts.h"

namespace kestrix {

struct Session;
struct ConverterCall;
class ConverterContext;
class Reader;

inline constexpr char kSpriteFolder[] = "Sprites";

// How the packer stored a sprite (the render data's settingsRaw word).
enum class SpriteRotation : uint8_t {
  kNone,
  kFlipHorizontal,
  kFlipVertical,
  kRotate180,
  kRotate90
};
struct SpritePacking {
  bool packed = false;
  bool tight = false;  // packed along the mesh's outline rather than as the whole rectangle
  SpriteRotation rotation = SpriteRotation::kNone;
};
SpritePacking PackingOf(uint32_t settings_raw);

struct SpritePoint {
  float x = 0, y = 0;
};

// Everything the cut needs, in texture pixels counted from the texture's bottom-left corner as
// the engine counts them.
struct SpriteCut {
  float x = 0, y = 0, width = 0, height = 0;  // the texture rectangle
  SpritePacking packing;
  // The mesh's triangles, three points each, in pixels from the bottom-left corner of the
  // sprite as it is shown (after the packing's flip or rotation is undone).
  std::vector<SpritePoint> triangles;
};

// The picture of a cut from `texture` (top row first, as DecodeTextureLevel gives it). Throws
// Error when the rectangle is empty or lies outside the texture.
RgbaImage CutSprite(const RgbaImage& texture, const SpriteCut& cut);

// Where a sprite's pixels are: the texture object (file id 0 is the sprite's own file) and the
// cut from it.
struct SpriteSource {
  int32_t texture_file = 0;
  int64_t texture_path_id = 0;
  SpriteCut cut;
};

// The type tree to read Sprite (or SpriteAtlas) object `index` with: the file's own tree for
// it, else nullptr, and the engine's layouts from export/sprite_layouts.h are tried instead.
const TypeTree* SpriteTreeFor(const SerializedFile& file, size_t index);

// The sprite's texture is in a format that has no picture decoder here: a note, as it is for
// the texture itself, rather than a failure of the run.
class SpriteTextureNotShown : public Error {
 public:
  explicit SpriteTextureNotShown(const std::string& text) : Error(text, ErrorKind::kNotSupported) {}
};

// Decoded texture pictures kept for the sprites of one run: the sprites of an atlas all cut
// from one texture, which is decoded once.
class SpriteTextures {
 public:
  // The picture of texture object `path_id` of the session's file. Throws Error when the file
  // holds no such texture, MissingResourceError when its streamed data is not there, and
  // SpriteTextureNotShown when its format cannot be shown.
  std::shared_ptr<const RgbaImage> Picture(const Session& session, int64_t path_id, Reader& data,
                                           ConverterContext& ctx);
  // The index of the object `path_id`, or -1.
  int64_t IndexOf(const Session& session, int64_t path_id);

 private:
  std::unordered_map<int64_t, size_t> by_path_id_;
  std::map<int64_t, std::shared_ptr<const RgbaImage>> pictures_;
  uint64_t kept_bytes_ = 0;
};

// Reads sprite `index` (and the sprite atlas it names, when it has one) from `data`. The mesh
// is read for tightly packed sprites, whose cut it shapes, or for all with `with_mesh`. Throws
// Error naming what is missing or does not fit.
SpriteSource ReadSpriteSource(const Session& session, size_t index, Reader& data,
                              SpriteTextures& textures, bool with_mesh = false);

// The sprite's picture. A texture in another file of the archive, or one that cannot be read,
// fails the sprite with MissingResourceError or Error; nothing is written then.
RgbaImage SpritePicture(const Session& session, size_t index, Reader& data, ConverterContext& ctx,
                        SpriteTextures& textures);

// Writes sprite `index` as <folder of call>/<entry name>.png (`call` gives the folders and
// name; its stream is the archive).
void ExportSpritePng(const Session& session, size_t index, const ConverterCall& call,
                     ConverterContext& ctx, SpriteTextures& textures);

}  // namespace kestrix
