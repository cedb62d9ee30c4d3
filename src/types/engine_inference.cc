#include "types/engine_inference.h"

#include "core/field_layout.h"

namespace kestrix {

namespace {

EngineVersion Version(int32_t major, int32_t minor) {
  EngineVersion v;
  v.Major = major;
  v.Minor = minor;
  v.Known = true;
  return v;
}

// The engine that first wrote each format.
EngineVersion FormatFloor(uint32_t format) {
  if (format >= 23) return Version(6000, 4);
  if (format == 22) return Version(2020, 1);
  if (format == 21) return Version(2019, 3);
  if (format == 20) return Version(2019, 2);
  if (format >= 18) return Version(2019, 1);
  if (format >= 16) return Version(5, 5);
  if (format >= 14) return Version(5, 0);
  return EngineVersion();
}

// A field of a class's tree and the engine that brought it.
struct FieldEvidence {
  int32_t class_id;
  const char* field;
  int32_t major, minor;
};

constexpr FieldEvidence kEvidence[] = {
    {28, "m_WrapU", 2017, 1},
    {28, "m_ForcedFallbackFormat", 2017, 3},
    {28, "m_StreamingMipmaps", 2018, 2},
    {28, "m_IsPreProcessed", 2020, 1},
    {28, "m_PlatformBlob", 2020, 2},
    {28, "m_MipmapLimitGroupName", 2022, 2},
    {43, "m_BonesAABB", 2019, 1},
    {43, "m_StreamData", 2019, 3},
    {43, "m_CookingOptions", 2022, 1},
    {43, "m_MeshLodInfo", 6000, 2},
};

bool TreeHasField(const TypeTree& tree, const char* field) {
  for (const TypeTreeNode& n : tree.Nodes)
    if (TreeText(tree, n.FieldNameOffset) == field) return true;
  return false;
}

}  // namespace

EngineVersion InferEngine(const SerializedFile& file) {
  EngineVersion best = FormatFloor(file.FormatVersion);
  if (!best.Known) return best;
  for (const SerializedType& type : file.Types) {
    if (type.Tree.Nodes.empty()) continue;
    for (const FieldEvidence& e : kEvidence)
      if (type.ClassId == e.class_id && !best.AtLeast(e.major, e.minor) &&
          TreeHasField(type.Tree, e.field))
        best = Version(e.major, e.minor);
    // 2023.2 dropped the fallback format that 2017.3 to 2023.1 textures have.
    if (type.ClassId == 28 && best.AtLeast(2022, 2) && !best.AtLeast(2023, 2) &&
        !TreeHasField(type.Tree, "m_ForcedFallbackFormat"))
      best = Version(2023, 2);
  }
  return best;
}

}  // namespace kestrix
