// What the window's preview pane shows for one entry: a texture's picture with its format, size
// and level count; a text asset's or text shader's text; a mesh to draw; a font's file; a
// sound with what it is; the first bytes of anything else as hex.
// Made on demand, off the window's thread, so it reads the archive through its own stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "export/mesh_preview.h"
#include "export/pixels.h"
#include "export/sound_info.h"

namespace kestrix {

struct Session;

struct EntryPreview {
  enum class Kind { kPicture, kText, kHex, kMesh, kFont, kSound };
  Kind kind = Kind::kHex;
  std::string caption;  // "DXT5 1024x1024, 11 levels", "TextAsset, 120 bytes", ...
  RgbaImage picture;    // kPicture
  std::string text;     // kText and kHex (and why a texture has no picture)
  // kMesh: shared, as the window draws it again at every turn.
  std::shared_ptr<const PreviewMesh> mesh;
  std::vector<uint8_t> data;  // kFont: the font file; kSound: the sound file
  SoundInfo sound;            // kSound
};

// Never throws: what cannot be read is said in the text.
EntryPreview MakeEntryPreview(const Session& session, size_t index);

}  // namespace kestrix
