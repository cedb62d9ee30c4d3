#include "support/payloads.h"

#include <cstring>

namespace kestrix::testing {

Bytes FakeTrueTypeFont() {
  // sfnt version, table count 2, search fields, then two 16-byte table records.
  ByteWriter w(true);
  w.U32(0x00010000).U16(2).U16(32).U16(1).U16(0);
  w.Text("OS/2").U32(0x1234).U32(44).U32(16);
  w.Text("head").U32(0x5678).U32(60).U32(8);
  w.Zeros(24);
  return w.Take();
}

Bytes FakeOggStream() {
  ByteWriter w;
  w.Text("OggS").U8(0).U8(2).Zeros(22).Text("\x01vorbis").Zeros(9);
  return w.Take();
}

Bytes TextureObject(const std::string& name, int32_t format, const Bytes& image, bool big_endian,
                    bool negative_platform) {
  ByteWriter w(big_endian);
  w.Str(name);
  if (negative_platform) w.Zeros(16);
  // width, height, image size, format, mip count, readable flags, image count, dimension,
  // filter, anisotropy, mip bias, wrap mode, lightmap format, colour space, image data, and an
  // empty stream-data record.
  w.I32(4).I32(4).U32(static_cast<uint32_t>(image.size())).I32(format).I32(1);
  w.U8(0).U8(1).Align(4).I32(1).I32(2).I32(1).I32(1).F32(0).I32(1).I32(0).I32(1);
  w.U32(static_cast<uint32_t>(image.size())).Raw(image).Align(4);
  w.U32(0).U32(0).Str("");
  return w.Take();
}

Bytes ProceduralTextureObject(const std::string& name, int32_t format, bool big_endian) {
  ByteWriter w(big_endian);
  w.Str(name).Zeros(24).I32(format).I32(8).I32(8);
  return w.Take();
}

Bytes TextObject(const std::string& name, const std::string& text, bool big_endian) {
  ByteWriter w(big_endian);
  w.Str(name).Str(text).Str("");  // the path name follows the text
  return w.Take();
}

namespace {

void PutLittleMarker(ByteWriter& w) {
  // The pass reads the marker as little-endian bytes in either byte order.
  const uint8_t marker[4] = {0xCD, 0xCC, 0xCC, 0x3D};
  w.Raw(marker, 4);
}

}  // namespace

Bytes FontObject(const std::string& name, FontLayout layout, const Bytes& font, bool big_endian) {
  ByteWriter w(big_endian);
  w.Str(name);
  switch (layout) {
    case FontLayout::kMarker:
      w.I32(1).I32(0).I32(16).I32(0);  // a few fields ahead of the marker
      PutLittleMarker(w);
      w.U32(static_cast<uint32_t>(font.size())).Raw(font).Align(4);
      w.U32(0);
      break;
    case FontLayout::kCharTable: {
      const uint32_t records = 3;
      w.Zeros(48);
      // The count is read little-endian however the file is ordered.
      const uint8_t count[4] = {records, 0, 0, 0};
      w.Raw(count, 4).U32(0);
      for (uint32_t r = 0; r < records; ++r) w.U32(65 + r).U32(r);
      w.U32(static_cast<uint32_t>(font.size())).Raw(font).Align(4);
      break;
    }
    case FontLayout::kNoData:
      w.I32(1).I32(2).I32(3).I32(4);
      break;
  }
  return w.Take();
}

Bytes MovieObject(const std::string& name, int ogg_at, const Bytes& ogg, bool big_endian) {
  ByteWriter w(big_endian);
  w.Str(name);
  if (ogg_at == 16) {
    w.I32(1).I32(0).I32(0).U32(static_cast<uint32_t>(ogg.size())).Raw(ogg);
  } else if (ogg_at == 20) {
    w.I32(1).I32(0).I32(0).I32(0).U32(static_cast<uint32_t>(ogg.size())).Raw(ogg);
  } else {
    w.I32(1).I32(0).I32(0).I32(0).I32(0).Text("none").Zeros(8);
  }
  w.Align(4);
  return w.Take();
}

Bytes TriangleMeshObject(const std::string& name) {
  ByteWriter w;
  w.Str(name);
  w.U32(1).U32(0).U32(3).I32(0).U32(0).U32(3).Zeros(24);  // one sub-mesh
  w.U32(0).U32(0).U32(0).U32(0);                          // blend shapes
  w.U32(0).U32(0).U32(0);                                 // bind poses, bone hashes, root hash
  w.U8(0).U8(1).U8(1).U8(1);                              // not compressed; readable, kept
  w.U32(6).U16(0).U16(1).U16(2).Align(4);                 // index buffer
  w.U32(0);                                               // skin
  w.U32(0x0B).U32(3);                                     // current channels, vertex count
  w.U32(4).U8(0).U8(0).U8(0).U8(3).U8(0).U8(12).U8(0).U8(3).U8(0).U8(0).U8(0).U8(0);
  w.U8(0).U8(24).U8(0).U8(2);
  const float vertices[3][8] = {
      {0, 0, 0, 0, 0, 1, 0, 0}, {1, 0, 0, 0, 0, 1, 1, 0}, {0, 1, 0, 0, 0, 1, 0, 1}};
  w.U32(sizeof(vertices));
  for (const auto& v : vertices)
    for (float f : v) w.F32(f);
  auto ranged = [&] { w.U32(0).F32(0).F32(0).U32(0).U8(0).Align(4); };
  auto plain = [&] { w.U32(0).U32(0).U8(0).Align(4); };
  ranged();                                                        // vertices
  ranged();                                                        // UV
  ranged();                                                        // normals
  ranged();                                                        // tangents
  plain();                                                         // weights
  plain();                                                         // normal signs
  plain();                                                         // tangent signs
  ranged();                                                        // float colours
  plain();                                                         // bone indices
  plain();                                                         // triangles
  w.U32(0);                                                        // UV info
  w.F32(0.5f).F32(0.5f).F32(0).F32(0.5f).F32(0.5f).F32(0).I32(0);  // bounds, usage flags
  w.U32(0).U32(0);                                                 // baked collision meshes
  return w.Take();
}

Bytes EmbeddedAudioObject(const std::string& name, const Bytes& sound, bool big_endian) {
  ByteWriter w(big_endian);
  w.Str(name).I32(0).I32(1).I32(44100).I32(16).U32(static_cast<uint32_t>(sound.size()));
  w.Raw(sound).Align(4);
  return w.Take();
}

Bytes WithPlatformPrefix(const Bytes& object) {
  Bytes out(28, 0);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(0xE0 + i);
  out.insert(out.end(), object.begin(), object.end());
  return out;
}

}  // namespace kestrix::testing
