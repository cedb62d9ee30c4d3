// What the window's preview pane shows for one entry: a texture's picture with its format, size
// and level count; a text asset's or text shader's text; the first bytes of anything else as hex.
// Made on demand, off the window's thread, so it reads the archive through its own stream.
#pragma once

#include <cstddef>
#include <string>

#include "export/pixels.h"

namespace kestrix {

struct Session;

struct EntryPreview {
  enum class Kind { kPicture, kText, kHex };
  Kind kind = Kind::kHex;
  std::string caption;  // "DXT5 1024x1024, 11 levels", "TextAsset, 120 bytes", ...
  RgbaImage picture;    // kPicture
  std::string text;     // kText and kHex (and why a texture has no picture)
};

// Never throws: what cannot be read is said in the text.
EntryPreview MakeEntryPreview(const Session& session, size_t index);

}  // namespace kestrix
