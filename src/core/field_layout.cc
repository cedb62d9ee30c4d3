#include "core/field_layout.h"

#include <cstring>

#include "core/error.h"
#include "core/object_cursor.h"

namespace kestrix {

namespace {

// The engine's table of common type and field names. A tree names them by their offset in this
// text (with the top bit set) instead of storing them again.
constexpr char kCommonStrings[] =
    "AABB\0AnimationClip\0AnimationCurve\0AnimationState\0Array\0Base\0BitField\0bitset\0bool\0"
    "char\0ColorRGBA\0Component\0data\0deque\0double\0dynamic_array\0FastPropertyName\0first\0"
    "float\0Font\0GameObject\0Generic Mono\0GradientNEW\0GUID\0GUIStyle\0int\0list\0long long\0"
    "map\0Matrix4x4f\0MdFour\0MonoBehaviour\0MonoScript\0m_ByteSize\0m_Curve\0"
    "m_EditorClassIdentifier\0m_EditorHideFlags\0m_Enabled\0m_ExtensionPtr\0m_GameObject\0"
    "m_Index\0m_IsArray\0m_IsStatic\0m_MetaFlag\0m_Name\0m_ObjectHideFlags\0m_PrefabInternal\0"
    "m_PrefabParentObject\0m_Script\0m_StaticEditorFlags\0m_Type\0m_Version\0Object\0pair\0"
    "PPtr<Component>\0PPtr<GameObject>\0PPtr<Material>\0PPtr<MonoBehaviour>\0PPtr<MonoScript>\0"
    "PPtr<Object>\0PPtr<Prefab>\0PPtr<Sprite>\0PPtr<TextAsset>\0PPtr<Texture>\0"
    "PPtr<Texture2D>\0PPtr<Transform>\0Prefab\0Quaternionf\0Rectf\0RectInt\0RectOffset\0second\0"
    "set\0short\0size\0SInt16\0SInt32\0SInt64\0SInt8\0staticvector\0string\0TextAsset\0TextMesh\0"
    "Texture\0Texture2D\0Transform\0TypelessData\0UInt16\0UInt32\0UInt64\0UInt8\0unsigned int\0"
    "unsigned long long\0unsigned short\0vector\0Vector2f\0Vector3f\0Vector4f\0"
    "m_ScriptingClassIdentifier\0Gradient\0Type*\0int2_storage\0int3_storage\0BoundsInt\0"
    "m_CorrespondingSourceObject\0m_PrefabInstance\0m_PrefabAsset\0FileSize\0Hash128\0";

constexpr uint32_t kAlignAfter = 0x4000;

std::string TextAt(const char* text, size_t size, size_t at) {
  if (at >= size) return std::string();
  const void* end = std::memchr(text + at, 0, size - at);
  size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - (text + at)) : size - at;
  return std::string(text + at, n);
}

class TreeFlattener {
 public:
  explicit TreeFlattener(const TypeTree& tree) : tree_(tree) {}

  FieldLayout Fields() {
    FieldLayout out;
    if (!tree_.Nodes.empty()) {
      for (size_t child : Children(0)) Add(child, "", out);
    }
    return out;
  }

 private:
  std::vector<size_t> Children(size_t i) const {
    std::vector<size_t> out;
    const uint8_t level = tree_.Nodes[i].Level;
    for (size_t k = i + 1; k < tree_.Nodes.size() && tree_.Nodes[k].Level > level; ++k)
      if (tree_.Nodes[k].Level == level + 1) out.push_back(k);
    return out;
  }

  bool IsArray(size_t i) const { return (tree_.Nodes[i].TypeFlags & 1) != 0; }

  // An array node's elements: its second child. Arrays of single bytes are counted bytes.
  FieldKind ArrayKind(size_t i) const {
    std::vector<size_t> parts = Children(i);
    if (parts.size() != 2) return FieldKind::kOther;
    const TypeTreeNode& element = tree_.Nodes[parts[1]];
    return element.ByteSize == 1 && Children(parts[1]).empty() ? FieldKind::kBytes
                                                               : FieldKind::kOther;
  }

  void Add(size_t i, const std::string& prefix, FieldLayout& out) {
    const TypeTreeNode& n = tree_.Nodes[i];
    const std::string name = prefix + TreeText(tree_, n.FieldNameOffset);
    std::vector<size_t> children = Children(i);
    bool align = (n.MetaFlags & kAlignAfter) != 0;
    if (IsArray(i)) {
      out.push_back({name, ArrayKind(i), 0});
    } else if (children.empty()) {
      const int32_t size = n.ByteSize;
      if (size == 1 || size == 2 || size == 4 || size == 8)
        out.push_back({name, FieldKind::kFixed, static_cast<uint8_t>(size)});
      else
        out.push_back({name, FieldKind::kOther, 0});
    } else if (children.size() == 1 && IsArray(children[0])) {
      // Strings and vectors hold one array.
      out.push_back({name, ArrayKind(children[0]), 0});
      align = align || (tree_.Nodes[children[0]].MetaFlags & kAlignAfter) != 0;
    } else {
      for (size_t child : children) Add(child, name + ".", out);
    }
    if (align) out.push_back(AlignStep());
  }

  const TypeTree& tree_;
};

}  // namespace

std::string TreeText(const TypeTree& tree, uint32_t offset) {
  if (offset & 0x80000000u)
    return TextAt(kCommonStrings, sizeof(kCommonStrings) - 1, offset & 0x7FFFFFFFu);
  return TextAt(tree.Strings.data(), tree.Strings.size(), offset);
}

FieldLayout FieldsOfTree(const TypeTree& tree) { return TreeFlattener(tree).Fields(); }

PlacedFields::PlacedFields(ObjectCursor& c, const FieldLayout& layout) {
  for (const FieldStep& step : layout) {
    if (step.kind == FieldKind::kOther) {
      complete_ = false;
      break;
    }
    Placed p;
    p.name = step.name;
    p.spot.pos = c.Tell();
    switch (step.kind) {
      case FieldKind::kAlign:
        c.Align();
        continue;
      case FieldKind::kFixed:
        p.spot.size = step.size;
        switch (step.size) {
          case 1:
            p.value = c.U8();
            break;
          case 2:
            p.value = c.U16();
            break;
          case 4:
            p.value = c.U32();
            break;
          case 8:
            p.value = c.U64();
            break;
          default:
            throw Error("Field " + step.name + " has a size of " + std::to_string(step.size) +
                        " bytes, which is not read.");
        }
        break;
      case FieldKind::kBytes:
        p.spot.count = c.Count(1);
        c.Skip(p.spot.count);
        p.spot.size = 4 + p.spot.count;
        break;
      case FieldKind::kOther:
        break;
    }
    spots_.push_back(std::move(p));
  }
  end_ = c.Tell();
}

const FieldSpot* PlacedFields::Find(const std::string& name) const {
  for (const Placed& p : spots_)
    if (p.name == name) return &p.spot;
  return nullptr;
}

const FieldSpot& PlacedFields::At(const std::string& name) const {
  if (const FieldSpot* spot = Find(name)) return *spot;
  throw Error("The object has no field " + name + ".");
}

uint64_t PlacedFields::U(const std::string& name) const {
  for (const Placed& p : spots_)
    if (p.name == name) return p.value;
  throw Error("The object has no field " + name + ".");
}

uint64_t PlacedFields::UOr(const std::string& name, uint64_t fallback) const {
  for (const Placed& p : spots_)
    if (p.name == name) return p.value;
  return fallback;
}

}  // namespace kestrix
