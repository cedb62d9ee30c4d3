// Sprite and SpriteAtlas layouts for files built without type trees (player builds): the fields
// each engine generation serializes, as type trees, so that the tree walker reads them like the
// trees of other files. Releases moved fields in patch versions, so a version gives a first
// guess and its neighbours; only a layout that accounts for every byte of an object is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/serialized_file.h"
#include "types/tree_walker.h"

namespace kestrix {

inline constexpr int32_t kClassSprite = 213;
inline constexpr int32_t kClassSpriteAtlas = 687078895;

// What a Sprite of an engine serializes beyond the fields every engine has.
struct SpriteFeatures {
  bool border = false;             // m_Border (4.5)
  bool pivot = false;              // m_Pivot (5.4.2)
  bool polygon = false;            // m_IsPolygon (5.3)
  bool physics_shape = false;      // m_PhysicsShape (2017.1; not yet in 5.6.0)
  bool alpha_texture = false;      // m_RD.alphaTexture (5.2)
  bool vertex_uv = false;          // m_RD.vertices[].uv (4.3 and earlier)
  bool uv_transform = false;       // m_RD.uvTransform (4.5)
  bool mesh_channels = false;      // m_RD as a mesh: sub-meshes, index buffer, vertex data (5.6)
  bool current_channels = false;   // m_VertexData.m_CurrentChannels (before 2018)
  bool base_vertex = false;        // m_SubMeshes[].baseVertex (2017.3)
  bool atlas_rect_offset = false;  // m_RD.atlasRectOffset (5.6)
  bool atlas = false;              // m_RenderDataKey, m_AtlasTags, m_SpriteAtlas (2017.1)
  bool downscale = false;          // m_RD.downscaleMultiplier (2017.1)
  bool bones = false;              // m_Bones, m_RD.m_Bindpose (2018.1)
  bool source_skin = false;        // m_RD.m_SourceSkin (2018.1 to 2018.x)
  bool secondary = false;          // m_RD.secondaryTextures (2019.1)
  bool bone_guid = false;          // m_Bones[].guid and .color (2021.1)
  bool sprite_id = false;          // m_SpriteID (in no engine of the corpus; tried)
  bool scriptables = false;        // m_ScriptableObjects (2023)
  bool long_path_ids = true;       // PPtr path ids of 64 bits (serialized format 14 and later)
};

SpriteFeatures SpriteFeaturesFor(const EngineVersion& engine, uint32_t format_version);

// The type tree of a Sprite with these features.
TypeTree SpriteTreeOf(const SpriteFeatures& f);
// The type tree of a SpriteAtlas of an engine (2017.1 and later).
TypeTree SpriteAtlasTreeOf(const SpriteFeatures& f);

// The layouts to try for a Sprite of the engine, the version's own first.
std::vector<SpriteFeatures> SpriteCandidates(const EngineVersion& engine, uint32_t format_version);

// The walkers of the built-in layouts to try for a Sprite or SpriteAtlas (`class_id`) of the
// file's engine, the version's own first; none for other classes. Made once per engine and
// shared, also between threads.
std::vector<std::shared_ptr<const ObjectTree>> BuiltinSpriteWalkers(const SerializedFile& file,
                                                                    int32_t class_id);

}  // namespace kestrix
