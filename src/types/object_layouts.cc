#include "types/object_layouts.h"

#include "core/error.h"
#include "types/builtin_trees.h"
#include "types/class_ids.h"

namespace kestrix {

namespace {

constexpr int32_t kNewestMajor = kNewestTableMajor;

std::string VersionText(const EngineVersion& v) {
  return std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." + std::to_string(v.Patch);
}

}  // namespace

const TypeTree* ObjectTypeTree(const SerializedFile& file, size_t index) {
  const TypeTree* tree = nullptr;
  if (file.FormatVersion >= 16) {
    if (index < file.TypeIndex.size()) {
      const int32_t t = file.TypeIndex[index];
      if (t >= 0 && static_cast<size_t>(t) < file.Types.size()) tree = &file.Types[t].Tree;
    }
  } else if (index < file.ObjectCount) {
    const int32_t cls = file.Objects[index].ClassId;
    for (const SerializedType& type : file.Types)
      if (type.ClassId == cls) {
        tree = &type.Tree;
        break;
      }
  }
  return tree && !tree->Nodes.empty() ? tree : nullptr;
}

FieldLayout PayloadFieldsOfTree(const TypeTree& tree) {
  FieldLayout fields = FieldsOfTree(tree);
  size_t skip = 0;
  if (!fields.empty() && fields[0].name == "m_Name") {
    skip = 1;
    if (fields.size() > 1 && fields[1].kind == FieldKind::kAlign) skip = 2;
  }
  fields.erase(fields.begin(), fields.begin() + static_cast<ptrdiff_t>(skip));
  return fields;
}

namespace {

// Engines 3.0 to 3.4 store one texture setting fewer than the fixed layouts (no colour space),
// so a fixed layout would take the image data's size from the settings.
bool EarlyTextureEngine(const EngineVersion& v) { return v.AtLeast(3, 0) && !v.AtLeast(3, 5); }

}  // namespace

bool UsesTextureFields(const EngineVersion& engine) {
  // 2017.1 gave the texture settings one wrap mode per axis, which the fixed layouts do not
  // have room for.
  return engine.Known && (engine.AtLeast(2017, 1) || EarlyTextureEngine(engine));
}

std::string NewestKnownLayoutVersion() { return std::to_string(kNewestMajor) + ".x"; }

FieldLayout TextureFieldsForVersion(const EngineVersion& v) {
  // The built-in tree is the one table of what a texture holds, for the converters as for the
  // tree-driven reader.
  const TypeTree* tree = BuiltInTypeTree(kClassTexture2D, v);
  if (!tree)
    throw Error("Texture layout of engine " + VersionText(v) +
                    " is not known (the tables go up to " + NewestKnownLayoutVersion() +
                    ") and the file carries no type tree for it.",
                ErrorKind::kNotSupported);
  return PayloadFieldsOfTree(*tree);
}

FieldLayout TextureLayoutFor(const SerializedFile& file, size_t index) {
  if (!UsesTextureFields(file.Engine)) return {};
  if (const TypeTree* tree = ObjectTypeTree(file, index)) return PayloadFieldsOfTree(*tree);
  return TextureFieldsForVersion(file.Engine);
}

int64_t TextureFormatOffsetFor(const SerializedFile& file, size_t index) {
  if (!UsesTextureFields(file.Engine)) return 12;
  if (const TypeTree* tree = ObjectTypeTree(file, index))
    return TextureFormatOffset(PayloadFieldsOfTree(*tree));
  EngineVersion probe = file.Engine;
  if (probe.Major > kNewestMajor) probe = EngineVersion{kNewestMajor, 9, 0, 0, 0, true};
  return TextureFormatOffset(TextureFieldsForVersion(probe));
}

namespace {

// The first two fields below a tree's root: the name and the field that follows it.
bool TreeHoldsScriptText(const TypeTree& tree) {
  const std::vector<TypeTreeNode>& nodes = tree.Nodes;
  const uint8_t level = static_cast<uint8_t>(nodes[0].Level + 1);
  size_t found = 0;
  for (size_t k = 1; k < nodes.size() && nodes[k].Level >= level; ++k) {
    if (nodes[k].Level != level) continue;
    const std::string field = TreeText(tree, nodes[k].FieldNameOffset);
    if (found == 0 && field != "m_Name") return false;
    if (found == 1)
      return field == "m_Script" && TreeText(tree, nodes[k].TypeNameOffset) == "string";
    ++found;
  }
  return false;
}

}  // namespace

bool ShaderHoldsText(const SerializedFile& file, size_t index) {
  if (const TypeTree* tree = ObjectTypeTree(file, index)) return TreeHoldsScriptText(*tree);
  // Only 5.5 and later wrote format 17 and later, which also settles files whose version text
  // was stripped to "0.0.0". Formats before 9 come from engines 1 to 3, and format 6 states no
  // version at all.
  if (file.FormatVersion >= 17) return false;
  return !(file.Engine.Known && file.Engine.AtLeast(5, 5));
}

int64_t TextureFormatOffset(const FieldLayout& layout) {
  if (layout.empty()) return 12;
  int64_t pos = 0;
  for (const FieldStep& step : layout) {
    if (step.name == "m_TextureFormat") return pos;
    if (step.kind == FieldKind::kFixed)
      pos += step.size;
    else if (step.kind == FieldKind::kAlign)
      pos = (pos + 3) & ~int64_t{3};
    else
      return -1;
  }
  return -1;
}

}  // namespace kestrix
