#include "export/sprite_layouts.h"

#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace kestrix {

namespace {

constexpr uint32_t kAlign = 0x4000;

// Writes a tree node by node in the file's order, each at its level.
class TreeBuilder {
 public:
  void Node(int level, const char* type, const char* name, int32_t size, bool array = false,
            bool align = false) {
    TypeTreeNode n;
    n.Level = static_cast<uint8_t>(level);
    n.TypeNameOffset = Text(type);
    n.FieldNameOffset = Text(name);
    n.ByteSize = size;
    n.TypeFlags = array ? 1 : 0;
    n.MetaFlags = align ? kAlign : 0;
    n.Index = static_cast<int32_t>(tree_.Nodes.size());
    tree_.Nodes.push_back(n);
  }
  void Float(int level, const char* name) { Node(level, "float", name, 4); }
  void UInt(int level, const char* name) { Node(level, "unsigned int", name, 4); }
  void Floats(int level, const char* type, const char* name, std::initializer_list<const char*> m) {
    Node(level, type, name, static_cast<int32_t>(4 * m.size()));
    for (const char* member : m) Float(level + 1, member);
  }
  void Vector2(int level, const char* name) { Floats(level, "Vector2f", name, {"x", "y"}); }
  void Vector3(int level, const char* name) { Floats(level, "Vector3f", name, {"x", "y", "z"}); }
  void Vector4(int level, const char* name) {
    Floats(level, "Vector4f", name, {"x", "y", "z", "w"});
  }
  void Rect(int level, const char* name) {
    Floats(level, "Rectf", name, {"x", "y", "width", "height"});
  }
  void String(int level, const char* name) {
    Node(level, "string", name, -1, false, true);
    Node(level + 1, "Array", "Array", -1, true);
    Node(level + 2, "int", "size", 4);
    Node(level + 2, "char", "data", 1);
  }
  void PPtr(int level, const char* type, const char* name, bool long_ids) {
    Node(level, type, name, long_ids ? 12 : 8);
    Node(level + 1, "int", "m_FileID", 4);
    if (long_ids)
      Node(level + 1, "SInt64", "m_PathID", 8);
    else
      Node(level + 1, "int", "m_PathID", 4);
  }
  // A vector's head; its element's nodes follow at level + 2 under the name "data".
  void Vector(int level, const char* name, bool align = false) {
    Node(level, "vector", name, -1, false, align);
    Node(level + 1, "Array", "Array", -1, true);
    Node(level + 2, "int", "size", 4);
  }
  void NumberVector(int level, const char* name, const char* element, int32_t size,
                    bool align = false) {
    Vector(level, name, align);
    Node(level + 2, element, "data", size);
  }
  TypeTree Take() { return std::move(tree_); }

 private:
  uint32_t Text(const char* text) {
    const uint32_t at = static_cast<uint32_t>(tree_.Strings.size());
    tree_.Strings += text;
    tree_.Strings += '\0';
    return at;
  }
  TypeTree tree_;
};

void RenderDataKey(TreeBuilder& b, int level, const char* name) {
  b.Node(level, "pair", name, 24);
  b.Node(level + 1, "GUID", "first", 16);
  for (const char* d : {"data[0]", "data[1]", "data[2]", "data[3]"}) b.UInt(level + 2, d);
  b.Node(level + 1, "SInt64", "second", 8);
}

void SubMeshes(TreeBuilder& b, int level, const SpriteFeatures& f) {
  b.Vector(level, "m_SubMeshes");
  b.Node(level + 2, "SubMesh", "data", -1);
  const int m = level + 3;
  b.UInt(m, "firstByte");
  b.UInt(m, "indexCount");
  b.Node(m, "int", "topology", 4);
  if (f.base_vertex) b.UInt(m, "baseVertex");
  b.UInt(m, "firstVertex");
  b.UInt(m, "vertexCount");
  b.Node(m, "AABB", "localAABB", 24);
  b.Vector3(m + 1, "m_Center");
  b.Vector3(m + 1, "m_Extent");
}

void VertexData(TreeBuilder& b, int level, const SpriteFeatures& f) {
  b.Node(level, "VertexData", "m_VertexData", -1);
  const int m = level + 1;
  if (f.current_channels) b.UInt(m, "m_CurrentChannels");
  b.UInt(m, "m_VertexCount");
  b.Vector(m, "m_Channels");
  b.Node(m + 2, "ChannelInfo", "data", 4);
  for (const char* c : {"stream", "offset", "format", "dimension"}) b.Node(m + 3, "UInt8", c, 1);
  b.Node(m, "TypelessData", "m_DataSize", -1, false, true);
  b.Node(m + 1, "int", "size", 4);
  b.Node(m + 1, "UInt8", "data", 1);
}

void RenderData(TreeBuilder& b, const SpriteFeatures& f) {
  b.Node(1, "SpriteRenderData", "m_RD", -1, false, true);
  b.PPtr(2, "PPtr<Texture2D>", "texture", f.long_path_ids);
  if (f.alpha_texture) b.PPtr(2, "PPtr<Texture2D>", "alphaTexture", f.long_path_ids);
  if (f.secondary) {
    b.Vector(2, "secondaryTextures");
    b.Node(4, "SecondarySpriteTexture", "data", -1);
    b.PPtr(5, "PPtr<Texture2D>", "texture", f.long_path_ids);
    b.String(5, "name");
  }
  if (f.mesh_channels) {
    SubMeshes(b, 2, f);
    b.NumberVector(2, "m_IndexBuffer", "UInt8", 1, true);
    VertexData(b, 2, f);
  } else {
    b.Vector(2, "vertices");
    b.Node(4, "SpriteVertex", "data", f.vertex_uv ? 20 : 12);
    b.Vector3(5, "pos");
    if (f.vertex_uv) b.Vector2(5, "uv");
    b.NumberVector(2, "indices", "UInt16", 2, true);
  }
  if (f.bones) {
    b.Vector(2, "m_Bindpose");
    b.Node(4, "Matrix4x4f", "data", 64);
    for (int k = 0; k < 16; ++k) {
      static const char* const kNames[16] = {"e00", "e01", "e02", "e03", "e10", "e11",
                                             "e12", "e13", "e20", "e21", "e22", "e23",
                                             "e30", "e31", "e32", "e33"};
      b.Float(5, kNames[k]);
    }
  }
  if (f.source_skin) {
    b.Vector(2, "m_SourceSkin");
    b.Node(4, "BoneWeights4", "data", 32);
    for (const char* w : {"weight[0]", "weight[1]", "weight[2]", "weight[3]"}) b.Float(5, w);
    for (const char* i : {"boneIndex[0]", "boneIndex[1]", "boneIndex[2]", "boneIndex[3]"})
      b.Node(5, "int", i, 4);
  }
  b.Rect(2, "textureRect");
  b.Vector2(2, "textureRectOffset");
  if (f.atlas_rect_offset) b.Vector2(2, "atlasRectOffset");
  b.UInt(2, "settingsRaw");
  if (f.uv_transform) b.Vector4(2, "uvTransform");
  if (f.downscale) b.Float(2, "downscaleMultiplier");
}

void Bones(TreeBuilder& b, const SpriteFeatures& f) {
  b.Vector(1, "m_Bones");
  b.Node(3, "SpriteBone", "data", -1);
  b.String(4, "name");
  if (f.bone_guid) b.String(4, "guid");
  b.Vector3(4, "position");
  b.Floats(4, "Quaternionf", "rotation", {"x", "y", "z", "w"});
  b.Float(4, "length");
  b.Node(4, "int", "parentId", 4);
  if (f.bone_guid) {
    b.Node(4, "ColorRGBA", "color", 4);
    b.UInt(5, "rgba");
  }
}

}  // namespace

SpriteFeatures SpriteFeaturesFor(const EngineVersion& v, uint32_t format_version) {
  SpriteFeatures f;
  f.long_path_ids = format_version >= 14;
  f.vertex_uv = !v.AtLeast(4, 4);
  f.border = f.uv_transform = v.AtLeast(4, 5);
  f.alpha_texture = v.AtLeast(5, 2);
  f.polygon = v.AtLeast(5, 3);
  f.pivot = v.AtLeast(5, 4, 2);
  f.mesh_channels = f.atlas_rect_offset = v.AtLeast(5, 6);
  f.physics_shape = v.AtLeast(2017);
  f.current_channels = f.mesh_channels && !v.AtLeast(2018);
  f.base_vertex = v.AtLeast(2017, 3);
  f.atlas = f.downscale = v.AtLeast(2017);
  f.bones = v.AtLeast(2018);
  f.source_skin = f.bones && !v.AtLeast(2019);
  f.secondary = v.AtLeast(2019);
  f.bone_guid = v.AtLeast(2021);
  f.scriptables = v.AtLeast(2023);
  return f;
}

TypeTree SpriteTreeOf(const SpriteFeatures& f) {
  TreeBuilder b;
  b.Node(0, "Sprite", "Base", -1);
  b.String(1, "m_Name");
  b.Rect(1, "m_Rect");
  b.Vector2(1, "m_Offset");
  if (f.border) b.Vector4(1, "m_Border");
  b.Float(1, "m_PixelsToUnits");
  if (f.pivot) b.Vector2(1, "m_Pivot");
  b.UInt(1, "m_Extrude");
  if (f.polygon) b.Node(1, "bool", "m_IsPolygon", 1, false, true);
  if (f.atlas) {
    RenderDataKey(b, 1, "m_RenderDataKey");
    b.Vector(1, "m_AtlasTags");
    b.String(3, "data");
    b.PPtr(1, "PPtr<SpriteAtlas>", "m_SpriteAtlas", f.long_path_ids);
  }
  RenderData(b, f);
  if (f.physics_shape) {
    b.Vector(1, "m_PhysicsShape");
    b.Vector(3, "data");
    b.Vector2(5, "data");
  }
  if (f.bones) Bones(b, f);
  if (f.sprite_id) b.String(1, "m_SpriteID");
  if (f.scriptables) {
    b.Vector(1, "m_ScriptableObjects");
    b.PPtr(3, "PPtr<MonoBehaviour>", "data", f.long_path_ids);
  }
  return b.Take();
}

TypeTree SpriteAtlasTreeOf(const SpriteFeatures& f) {
  TreeBuilder b;
  b.Node(0, "SpriteAtlas", "Base", -1);
  b.String(1, "m_Name");
  b.Vector(1, "m_PackedSprites");
  b.PPtr(3, "PPtr<Sprite>", "data", f.long_path_ids);
  b.Vector(1, "m_PackedSpriteNamesToIndex");
  b.String(3, "data");
  b.Node(1, "map", "m_RenderDataMap", -1);
  b.Node(2, "Array", "Array", -1, true);
  b.Node(3, "int", "size", 4);
  b.Node(3, "pair", "data", -1);
  RenderDataKey(b, 4, "first");
  b.Node(4, "SpriteAtlasData", "second", -1);
  b.PPtr(5, "PPtr<Texture2D>", "texture", f.long_path_ids);
  b.PPtr(5, "PPtr<Texture2D>", "alphaTexture", f.long_path_ids);
  b.Rect(5, "textureRect");
  b.Vector2(5, "textureRectOffset");
  b.Vector2(5, "atlasRectOffset");
  b.Vector4(5, "uvTransform");
  b.Float(5, "downscaleMultiplier");
  b.UInt(5, "settingsRaw");
  if (f.secondary) {
    b.Vector(5, "secondaryTextures");
    b.Node(7, "SecondarySpriteTexture", "data", -1);
    b.PPtr(8, "PPtr<Texture2D>", "texture", f.long_path_ids);
    b.String(8, "name");
  }
  b.String(1, "m_Tag");
  b.Node(1, "bool", "m_IsVariant", 1, false, true);
  return b.Take();
}

std::vector<SpriteFeatures> SpriteCandidates(const EngineVersion& engine, uint32_t format) {
  const SpriteFeatures own = SpriteFeaturesFor(engine, format);
  std::vector<SpriteFeatures> out = {own};
  // The fields whose first release is least certain, each tried the other way.
  for (bool SpriteFeatures::*field :
       {&SpriteFeatures::pivot, &SpriteFeatures::physics_shape, &SpriteFeatures::sprite_id,
        &SpriteFeatures::bone_guid, &SpriteFeatures::secondary, &SpriteFeatures::scriptables,
        &SpriteFeatures::source_skin, &SpriteFeatures::vertex_uv, &SpriteFeatures::base_vertex}) {
    SpriteFeatures other = own;
    other.*field = !(own.*field);
    out.push_back(other);
  }
  return out;
}

std::vector<std::shared_ptr<const ObjectTree>> BuiltinSpriteWalkers(const SerializedFile& file,
                                                                    int32_t class_id) {
  if (class_id != kClassSprite && class_id != kClassSpriteAtlas) return {};
  const EngineVersion& v = file.Engine;
  using Key = std::tuple<int32_t, int32_t, int32_t, int32_t, bool>;
  static std::mutex guard;
  static std::map<Key, std::vector<std::shared_ptr<const ObjectTree>>> made;
  const std::lock_guard<std::mutex> hold(guard);
  auto& walkers = made[Key{class_id, v.Major, v.Minor, v.Patch, file.FormatVersion >= 14}];
  if (walkers.empty()) {
    std::vector<SpriteFeatures> candidates = SpriteCandidates(v, file.FormatVersion);
    if (class_id == kClassSpriteAtlas) candidates.resize(1);
    for (const SpriteFeatures& f : candidates)
      walkers.push_back(std::make_shared<const ObjectTree>(
          class_id == kClassSprite ? SpriteTreeOf(f) : SpriteAtlasTreeOf(f)));
  }
  return walkers;
}

}  // namespace kestrix
