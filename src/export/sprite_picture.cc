#include "export/sprite_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/error.h"
#include "core/json_text.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/mesh_decoder.h"
#include "export/png_file.h"
#include "export/sprite_layouts.h"
#include "export/texture_picture.h"
#include "export/texture_source.h"
#include "platform/reader.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"
#include "types/tree_walker.h"

namespace kestrix {

SpritePacking PackingOf(uint32_t raw) {
  SpritePacking p;
  p.packed = (raw & 1) != 0;
  p.tight = ((raw >> 1) & 1) == 0;
  const uint32_t rotation = (raw >> 2) & 0xF;
  if (rotation > static_cast<uint32_t>(SpriteRotation::kRotate90))
    throw Error("packing rotation " + std::to_string(rotation) + " is not one the engine has");
  p.rotation = static_cast<SpriteRotation>(rotation);
  return p;
}

namespace {

RgbaImage Blank(int32_t width, int32_t height) {
  RgbaImage out;
  out.width = width;
  out.height = height;
  out.pixels.assign(static_cast<size_t>(width) * height * 4, 0);
  return out;
}

// (x, y) of the result takes pixel `from(x, y)` of `in`; both top row first.
template <typename Map>
RgbaImage Remap(const RgbaImage& in, int32_t width, int32_t height, Map from) {
  RgbaImage out = Blank(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const auto [sx, sy] = from(x, y);
      std::memcpy(&out.pixels[(static_cast<size_t>(y) * width + x) * 4],
                  &in.pixels[(static_cast<size_t>(sy) * in.width + sx) * 4], 4);
    }
  return out;
}

// The packer stored the sprite flipped or turned; this gives it back as it is shown. A turned
// sprite lies in the atlas a quarter turn counter-clockwise, so it is turned clockwise here.
RgbaImage UndoRotation(const RgbaImage& in, SpriteRotation rotation) {
  const int32_t w = in.width, h = in.height;
  struct At {
    int32_t x, y;
  };
  switch (rotation) {
    case SpriteRotation::kFlipHorizontal:
      return Remap(in, w, h, [&](int32_t x, int32_t y) { return At{w - 1 - x, y}; });
    case SpriteRotation::kFlipVertical:
      return Remap(in, w, h, [&](int32_t x, int32_t y) { return At{x, h - 1 - y}; });
    case SpriteRotation::kRotate180:
      return Remap(in, w, h, [&](int32_t x, int32_t y) { return At{w - 1 - x, h - 1 - y}; });
    case SpriteRotation::kRotate90:
      return Remap(in, h, w, [&](int32_t x, int32_t y) { return At{y, h - 1 - x}; });
    case SpriteRotation::kNone:
      break;
  }
  return in;
}

float Cross(SpritePoint a, SpritePoint b, SpritePoint c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Pixels whose centre lies in a triangle (on its edge too, so that neighbouring triangles leave
// no seam) are kept; the others become fully transparent.
void ClearOutsideMesh(RgbaImage& image, const std::vector<SpritePoint>& triangles) {
  std::vector<uint8_t> inside(static_cast<size_t>(image.width) * image.height, 0);
  constexpr float kSlack = 1e-3f;
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    const SpritePoint a = triangles[t], b = triangles[t + 1], c = triangles[t + 2];
    const float area = Cross(a, b, c);
    if (area == 0 || !std::isfinite(area)) continue;
    const float sign = area > 0 ? 1.0f : -1.0f;
    auto span = [](float lo, float hi, int32_t size) {
      const int32_t first = static_cast<int32_t>(std::max(0.0f, std::floor(lo - 0.5f)));
      const int32_t last =
          static_cast<int32_t>(std::min(static_cast<float>(size - 1), std::ceil(hi - 0.5f)));
      return std::pair<int32_t, int32_t>(first, last);
    };
    const auto [x0, x1] = span(std::min({a.x, b.x, c.x}), std::max({a.x, b.x, c.x}), image.width);
    const auto [y0, y1] = span(std::min({a.y, b.y, c.y}), std::max({a.y, b.y, c.y}), image.height);
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) {
        const SpritePoint p{x + 0.5f, y + 0.5f};
        const float slack = kSlack * std::abs(area);
        if (sign * Cross(a, b, p) >= -slack && sign * Cross(b, c, p) >= -slack &&
            sign * Cross(c, a, p) >= -slack)
          inside[static_cast<size_t>(image.height - 1 - y) * image.width + x] = 1;
      }
  }
  for (size_t k = 0; k < inside.size(); ++k)
    if (!inside[k]) std::memset(&image.pixels[k * 4], 0, 4);
}

}  // namespace

RgbaImage CutSprite(const RgbaImage& texture, const SpriteCut& cut) {
  const long left = std::lround(cut.x), bottom = std::lround(cut.y);
  const long right = std::lround(cut.x + cut.width), top = std::lround(cut.y + cut.height);
  const std::string where = std::to_string(right - left) + "x" + std::to_string(top - bottom) +
                            " at (" + std::to_string(left) + ", " + std::to_string(bottom) + ")";
  if (right <= left || top <= bottom) throw Error("the sprite's rectangle " + where + " is empty");
  if (left < 0 || bottom < 0 || right > texture.width || top > texture.height)
    throw Error("the sprite's rectangle " + where + " lies outside its texture of " +
                std::to_string(texture.width) + "x" + std::to_string(texture.height));
  const int32_t w = static_cast<int32_t>(right - left), h = static_cast<int32_t>(top - bottom);
  const int32_t first_row = texture.height - static_cast<int32_t>(top);
  RgbaImage out = Remap(texture, w, h, [&](int32_t x, int32_t y) {
    return std::pair<int32_t, int32_t>(static_cast<int32_t>(left) + x, first_row + y);
  });
  if (cut.packing.packed) out = UndoRotation(out, cut.packing.rotation);
  if (cut.packing.packed && cut.packing.tight && !cut.triangles.empty())
    ClearOutsideMesh(out, cut.triangles);
  return out;
}

// ---- Reading the fields ----

const TypeTree* SpriteTreeFor(const SerializedFile& file, size_t index) {
  return ObjectTypeTree(file, index);
}

namespace {

const JsonValue* Find(const JsonValue& v, const std::string& path) {
  const JsonValue* at = &v;
  size_t start = 0;
  while (at && start <= path.size()) {
    size_t dot = path.find('.', start);
    if (dot == std::string::npos) dot = path.size();
    at = at->Member(std::string_view(path).substr(start, dot - start));
    start = dot + 1;
  }
  return at;
}

const JsonValue& Get(const JsonValue& v, const std::string& path) {
  const JsonValue* at = Find(v, path);
  if (!at) throw Error("the sprite has no field " + path);
  return *at;
}

double Number(const JsonValue& v, const std::string& path) {
  const JsonValue& n = Get(v, path);
  if (n.kind != JsonValue::Kind::kNumber) throw Error(path + " is not a number");
  return std::strtod(n.text.c_str(), nullptr);
}

int64_t Integer(const JsonValue& v, const std::string& path) {
  const JsonValue& n = Get(v, path);
  if (n.kind != JsonValue::Kind::kNumber) throw Error(path + " is not a number");
  return std::strtoll(n.text.c_str(), nullptr, 10);
}

// Bytes of a byte array as the walker writes it (base64), or written out as numbers.
std::vector<uint8_t> Bytes(const JsonValue& v, const std::string& path) {
  const JsonValue& a = Get(v, path);
  std::vector<uint8_t> out;
  if (const JsonValue* b64 = a.Member("$base64")) {
    if (!DecodeBase64(b64->text, out)) throw Error(path + " is not base64");
    return out;
  }
  for (const JsonValue& item : a.items)
    out.push_back(static_cast<uint8_t>(std::strtoul(item.text.c_str(), nullptr, 10)));
  return out;
}

// Unsigned numbers of any width; base64 elements are little-endian whatever the file's order.
std::vector<uint32_t> Unsigned(const JsonValue& v, const std::string& path) {
  const JsonValue& a = Get(v, path);
  std::vector<uint32_t> out;
  if (const JsonValue* type = a.Member("$type")) {
    const std::vector<uint8_t> bytes = Bytes(v, path);
    const std::string& t = type->text;
    const size_t size = t == "UInt8" || t == "unsigned char"     ? 1
                        : t == "UInt16" || t == "unsigned short" ? 2
                        : t == "UInt32" || t == "unsigned int"   ? 4
                                                                 : 0;
    if (size == 0) throw Error(path + " holds " + t + " elements, not unsigned numbers");
    for (size_t k = 0; k + size <= bytes.size(); k += size) {
      uint32_t value = 0;
      for (size_t b = size; b-- > 0;) value = value << 8 | bytes[k + b];
      out.push_back(value);
    }
    return out;
  }
  for (const JsonValue& item : a.items)
    out.push_back(static_cast<uint32_t>(std::strtoul(item.text.c_str(), nullptr, 10)));
  return out;
}

JsonValue ReadObject(const Session& s, size_t index, Reader& data, const char* what) {
  const uint64_t start = s.Asset.DataStart + s.EntryOffset(index);
  ObjectCursor cursor(data, start, start + s.EntrySize(index),
                      s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little);
  if (const TypeTree* tree = SpriteTreeFor(s.Asset, index))
    return ParseJson(ObjectTree(*tree).ToJson(cursor));
  // Without a tree: the first built-in layout that accounts for every byte of the object.
  std::string why;
  for (const auto& walker : BuiltinSpriteWalkers(s.Asset, s.EntryClass(index))) {
    cursor.Seek(start);
    try {
      return ParseJson(walker->ToJson(cursor));
    } catch (const Error& e) {
      if (why.empty()) why = e.what();
    }
  }
  throw Error(std::string("no type tree, and no built-in layout of a ") + what + " of engine " +
                  s.Asset.UnityVersion + " fits the object" + (why.empty() ? "" : " (" + why + ")"),
              ErrorKind::kNotSupported);
}

uint32_t Word(const uint8_t* p, size_t size, bool big) {
  uint32_t v = 0;
  for (size_t b = 0; b < size; ++b) v = v << 8 | p[big ? b : size - 1 - b];
  return v;
}

float FloatAt(const uint8_t* p, bool big) {
  const uint32_t bits = Word(p, 4, big);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

struct MeshData {
  std::vector<SpritePoint> positions;  // in the engine's units, from the pivot
  std::vector<uint32_t> indices;       // triangle lists
};

// Engines from 5.6 keep a sprite's mesh as a mesh does: vertex channels over one block of bytes
// and an index buffer of 16-bit indices.
MeshData ChannelMesh(const JsonValue& rd, int32_t major, bool big) {
  MeshData m;
  const JsonValue& vd = Get(rd, "m_VertexData");
  const uint32_t count = static_cast<uint32_t>(Integer(vd, "m_VertexCount"));
  const std::vector<JsonValue>& channels = Get(vd, "m_Channels").items;
  if (channels.empty()) throw Error("the sprite's vertex data has no channels");
  auto field = [](const JsonValue& c, const char* name) {
    return static_cast<uint32_t>(Integer(c, name));
  };
  const JsonValue& pos = channels[0];
  const uint32_t stream = field(pos, "stream");
  if (field(pos, "format") != 0 || field(pos, "dimension") < 2)
    throw Error("the sprite's vertex positions are not 32-bit floats");
  std::vector<uint64_t> strides;
  for (const JsonValue& c : channels) {
    const uint32_t s = field(c, "stream"), dim = field(c, "dimension");
    if (s >= strides.size()) strides.resize(s + 1, 0);
    if (dim == 0) continue;
    const uint32_t bytes = VertexComponentBytes(major, static_cast<uint8_t>(field(c, "format")));
    if (bytes == 0) throw Error("the sprite's vertex data has an unknown channel format");
    strides[s] += (bytes * dim + 3) / 4 * 4;
  }
  const uint64_t stride = strides[stream];
  // Each stream after the first starts on a multiple of 16 bytes.
  uint64_t stream_start = 0;
  for (uint32_t s = 0; s < stream; ++s)
    stream_start = (stream_start + strides[s] * count + 15) & ~15ull;
  const std::vector<uint8_t> bytes = Bytes(vd, "m_DataSize");
  const uint64_t offset = stream_start + field(pos, "offset");
  if (count != 0 && (stride < 8 || offset + (count - 1) * stride + 8 > bytes.size()))
    throw Error("the sprite's vertex data is shorter than its " + std::to_string(count) +
                " vertices");
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = bytes.data() + offset + i * stride;
    m.positions.push_back({FloatAt(p, big), FloatAt(p + 4, big)});
  }
  const std::vector<uint8_t> index_bytes = Bytes(rd, "m_IndexBuffer");
  auto index_at = [&](uint64_t byte) {
    if (byte + 2 > index_bytes.size()) throw Error("the sprite's sub-mesh runs past its indices");
    return Word(&index_bytes[byte], 2, big);
  };
  const JsonValue* subs = Find(rd, "m_SubMeshes");
  if (!subs || subs->items.empty()) {
    for (uint64_t b = 0; b + 2 <= index_bytes.size(); b += 2) m.indices.push_back(index_at(b));
    return m;
  }
  for (const JsonValue& sub : subs->items) {
    if (field(sub, "topology") != 0) continue;  // only triangle lists outline a sprite
    const uint64_t first = field(sub, "firstByte"), n = field(sub, "indexCount");
    const uint32_t base = Find(sub, "baseVertex") ? field(sub, "baseVertex") : 0;
    for (uint64_t k = 0; k < n; ++k) m.indices.push_back(index_at(first + 2 * k) + base);
  }
  return m;
}

// Engines before 5.6: an array of vertices and one of indices.
MeshData ArrayMesh(const JsonValue& rd) {
  MeshData m;
  for (const JsonValue& v : Get(rd, "vertices").items)
    m.positions.push_back(
        {static_cast<float>(Number(v, "pos.x")), static_cast<float>(Number(v, "pos.y"))});
  m.indices = Unsigned(rd, "indices");
  return m;
}

// The mesh in pixels of the cut: a vertex lies `pixels per unit` times its position from the
// pivot, which sits at its fraction of the sprite's rectangle; the texture rectangle starts
// its offset into that rectangle.
std::vector<SpritePoint> MeshInCut(const JsonValue& sprite, const JsonValue& rd,
                                   SpritePoint rect_offset, int32_t major, bool big) {
  const MeshData m = Find(rd, "m_VertexData") ? ChannelMesh(rd, major, big) : ArrayMesh(rd);
  const float ppu = static_cast<float>(Number(sprite, "m_PixelsToUnits"));
  SpritePoint pivot;
  const float width = static_cast<float>(Number(sprite, "m_Rect.width"));
  const float height = static_cast<float>(Number(sprite, "m_Rect.height"));
  if (Find(sprite, "m_Pivot")) {
    pivot = {width * static_cast<float>(Number(sprite, "m_Pivot.x")),
             height * static_cast<float>(Number(sprite, "m_Pivot.y"))};
  } else {
    // Before the pivot was kept, the offset was the pivot's distance from the centre.
    pivot = {width / 2 + static_cast<float>(Number(sprite, "m_Offset.x")),
             height / 2 + static_cast<float>(Number(sprite, "m_Offset.y"))};
  }
  std::vector<SpritePoint> out;
  out.reserve(m.indices.size() / 3 * 3);
  for (size_t k = 0; k + 2 < m.indices.size(); k += 3)
    for (size_t j = k; j < k + 3; ++j) {
      if (m.indices[j] >= m.positions.size())
        throw Error("a sprite index points past its " + std::to_string(m.positions.size()) +
                    " vertices");
      const SpritePoint p = m.positions[m.indices[j]];
      out.push_back({p.x * ppu + pivot.x - rect_offset.x, p.y * ppu + pivot.y - rect_offset.y});
    }
  return out;
}

bool SameValue(const JsonValue& a, const JsonValue& b) {
  if (a.kind != b.kind || a.text != b.text || a.boolean != b.boolean ||
      a.items.size() != b.items.size() || a.members.size() != b.members.size())
    return false;
  for (size_t k = 0; k < a.items.size(); ++k)
    if (!SameValue(a.items[k], b.items[k])) return false;
  for (size_t k = 0; k < a.members.size(); ++k)
    if (a.members[k].name != b.members[k].name ||
        !SameValue(a.members[k].value, b.members[k].value))
      return false;
  return true;
}

// The render data of a packed sprite lives in its atlas, under the sprite's key.
const JsonValue& AtlasRenderData(const JsonValue& atlas, const JsonValue& key) {
  for (const JsonValue& pair : Get(atlas, "m_RenderDataMap").items) {
    const JsonValue* first = pair.Member("first");
    const JsonValue* second = pair.Member("second");
    if (first && second && SameValue(*first, key)) return *second;
  }
  throw Error("its sprite atlas holds no render data for it");
}

void RequireSameFile(int64_t file_id, const char* what) {
  if (file_id != 0)
    throw MissingResourceError(
        std::string("its ") + what + " lies in another file of the archive (file id " +
        std::to_string(file_id) + "), which is not open; open that file to export it");
}

}  // namespace

SpriteSource ReadSpriteSource(const Session& s, size_t index, Reader& data,
                              SpriteTextures& textures, bool with_mesh) {
  const JsonValue sprite = ReadObject(s, index, data, "Sprite");
  const JsonValue* rd = &Get(sprite, "m_RD");
  JsonValue atlas;
  if (const JsonValue* ref = Find(sprite, "m_SpriteAtlas"); ref && Integer(*ref, "m_PathID") != 0) {
    RequireSameFile(Integer(*ref, "m_FileID"), "sprite atlas");
    const int64_t at = textures.IndexOf(s, Integer(*ref, "m_PathID"));
    if (at < 0 || s.EntryClass(static_cast<size_t>(at)) != kClassSpriteAtlas)
      throw Error("its sprite atlas (path id " + std::to_string(Integer(*ref, "m_PathID")) +
                  ") is not in this file");
    atlas = ReadObject(s, static_cast<size_t>(at), data, "SpriteAtlas");
    rd = &AtlasRenderData(atlas, Get(sprite, "m_RenderDataKey"));
  }
  SpriteSource out;
  out.texture_file = static_cast<int32_t>(Integer(*rd, "texture.m_FileID"));
  out.texture_path_id = Integer(*rd, "texture.m_PathID");
  SpriteCut& cut = out.cut;
  cut.x = static_cast<float>(Number(*rd, "textureRect.x"));
  cut.y = static_cast<float>(Number(*rd, "textureRect.y"));
  cut.width = static_cast<float>(Number(*rd, "textureRect.width"));
  cut.height = static_cast<float>(Number(*rd, "textureRect.height"));
  cut.packing = PackingOf(static_cast<uint32_t>(Integer(*rd, "settingsRaw")));
  if (with_mesh || (cut.packing.packed && cut.packing.tight)) {
    const SpritePoint offset{static_cast<float>(Number(*rd, "textureRectOffset.x")),
                             static_cast<float>(Number(*rd, "textureRectOffset.y"))};
    // The mesh is the sprite's own, also when the atlas holds its pixels.
    cut.triangles =
        MeshInCut(sprite, Get(sprite, "m_RD"), offset, s.Asset.Engine.Major, s.Asset.IsBigEndian());
  }
  return out;
}

int64_t SpriteTextures::IndexOf(const Session& s, int64_t path_id) {
  if (by_path_id_.empty())
    for (size_t i = 0; i < s.EntryCount(); ++i) by_path_id_.emplace(s.Object(i).PathId, i);
  const auto found = by_path_id_.find(path_id);
  return found == by_path_id_.end() ? -1 : static_cast<int64_t>(found->second);
}

std::shared_ptr<const RgbaImage> SpriteTextures::Picture(const Session& s, int64_t path_id,
                                                         Reader& data, ConverterContext& ctx) {
  if (auto kept = pictures_.find(path_id); kept != pictures_.end()) return kept->second;
  const int64_t at = IndexOf(s, path_id);
  if (at < 0 || s.EntryClass(static_cast<size_t>(at)) != kClassTexture2D)
    throw Error("its texture (path id " + std::to_string(path_id) + ") is not in this file");
  const size_t t = static_cast<size_t>(at);
  const uint64_t start = s.PayloadOffset(t);
  const uint32_t size = s.PayloadSize(t);
  if (start > data.Size() || size > data.Size() - start)
    throw Error("its texture's data runs past the end of the archive");
  data.Seek(start);
  ConverterCall call{data, size, s.Asset.IsBigEndian(), s.Archive.OutputRoot, "", ""};
  const FieldLayout fields = TextureLayoutFor(s.Asset, t);
  call.texture_fields = &fields;
  TextureImages images;
  OpenTextureImages(call, ctx, &images);
  const std::string refusal = PictureRefusal(images.header.format, s.Asset.Engine);
  if (!refusal.empty()) throw SpriteTextureNotShown("its texture: " + refusal);
  auto picture = std::make_shared<const RgbaImage>(TexturePicture(images, s.Asset.Engine));
  // An atlas serves many sprites; a few are kept, and all let go once they grow large.
  constexpr uint64_t kKeptBytes = 256ull << 20;
  if (kept_bytes_ + picture->pixels.size() > kKeptBytes) {
    pictures_.clear();
    kept_bytes_ = 0;
  }
  kept_bytes_ += picture->pixels.size();
  pictures_[path_id] = picture;
  return picture;
}

RgbaImage SpritePicture(const Session& s, size_t index, Reader& data, ConverterContext& ctx,
                        SpriteTextures& textures) {
  const SpriteSource source = ReadSpriteSource(s, index, data, textures);
  RequireSameFile(source.texture_file, "texture");
  if (source.texture_path_id == 0) throw Error("the sprite names no texture");
  return CutSprite(*textures.Picture(s, source.texture_path_id, data, ctx), source.cut);
}

void ExportSpritePng(const Session& s, size_t index, const ConverterCall& call,
                     ConverterContext& ctx, SpriteTextures& textures) {
  RgbaImage picture;
  try {
    picture = SpritePicture(s, index, call.stream, ctx, textures);
  } catch (const SpriteTextureNotShown& e) {
    ctx.Report(call.file_name + ": " + e.what());
    return;
  }
  const std::string folder = MakeOutputFolder(call, "");
  WritePngFile(folder + call.file_name + ".png", picture);
  ctx.Done(call.file_name + " -> PNG");
}

}  // namespace kestrix
