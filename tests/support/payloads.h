// Object data in the shapes the naming pass probes and the export driver cuts: textures with a
// format code, texts, fonts of both layouts, movies, procedural textures, and the prefix of
// files built for a negative platform. Every builder takes the file's byte order.
#pragma once

#include <cstdint>
#include <string>

#include "support/asset_builder.h"

namespace kestrix::testing {

// Bytes of the stand-in files that the embedded payloads carry.
Bytes FakeTrueTypeFont();  // a table directory that names "OS/2"
Bytes FakeOggStream();     // starts with "OggS"

// Texture2D / Cubemap: width, height, image size, format, mip count, then `image` (its size
// prefixed). With `negative_platform` the 16 bytes that such builds carry come first, so the
// format sits 16 bytes further on.
Bytes TextureObject(const std::string& name, int32_t format, const Bytes& image = Bytes(64, 0x5A),
                    bool big_endian = false, bool negative_platform = false);
// ProceduralTexture: its format sits 12 bytes before the end of the object.
Bytes ProceduralTextureObject(const std::string& name, int32_t format, bool big_endian = false);
// TextAsset or Shader: the text as a serialized string after the name.
Bytes TextObject(const std::string& name, const std::string& text, bool big_endian = false);

enum class FontLayout {
  kMarker,     // fields, the float 0.1, the data length, the font data
  kCharTable,  // no 0.1: a count at +48, 8-byte records, the data length, the font data
  kNoData,     // fields only: the font data is not found
};
Bytes FontObject(const std::string& name, FontLayout layout, const Bytes& font = FakeTrueTypeFont(),
                 bool big_endian = false);
// MovieTexture whose "OggS" stream starts 16 or 20 bytes after the name field (0: no stream).
Bytes MovieObject(const std::string& name, int ogg_at, const Bytes& ogg = FakeOggStream(),
                  bool big_endian = false);

// Mesh of an engine of version 5 and later: one sub-mesh with one triangle, four channels
// (position, normal, an empty colour, UV) in one stream of 32 bytes per vertex.
Bytes TriangleMeshObject(const std::string& name);
// AudioClip whose sound sits in the object: length at 16 and the bytes at 20 after the name.
Bytes EmbeddedAudioObject(const std::string& name, const Bytes& sound = FakeOggStream(),
                          bool big_endian = false);

// The 28 bytes that objects of a file with a negative platform code carry before their name.
Bytes WithPlatformPrefix(const Bytes& object);

}  // namespace kestrix::testing
