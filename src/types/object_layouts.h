// Which fields the Texture2D, Cubemap and Mesh objects of an engine version hold. Files of
// engines 3.5 to 5.x keep the layouts read by the fixed readers (the texture header's three
// layouts, the mesh decoder's engine generations); textures of engines 3.0 to 3.4 and from
// 2017.1 on are read field by field, from the file's type tree when it has one, else from the
// built-in trees (types/builtin_trees.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/field_layout.h"
#include "core/serialized_file.h"

namespace kestrix {

// The type tree of object `index`, or nullptr when the file carries none for it.
const TypeTree* ObjectTypeTree(const SerializedFile& file, size_t index);

// A tree's fields after the object's name (the payload the converters are given).
FieldLayout PayloadFieldsOfTree(const TypeTree& tree);

// Texture2D and Cubemap payload fields (after the name) of an engine version for which
// UsesTextureFields holds. Throws Error naming the version when it is newer than the table knows.
FieldLayout TextureFieldsForVersion(const EngineVersion& engine);

// True when textures of this engine are read field by field rather than by the fixed layouts.
bool UsesTextureFields(const EngineVersion& engine);

// The layout to read texture object `index` with: empty for the fixed layouts (engines 3.5 to
// 5.x, those before 3.0 and unknown versions), else the tree's fields or the version table's.
// Throws Error for a version newer than the table knows when the file has no tree for the object.
FieldLayout TextureLayoutFor(const SerializedFile& file, size_t index);

// Where the format code lies in a texture payload, for the naming pass: 12 for the fixed
// layouts, else after the fields that precede it. -1 when a field of varying length comes first.
int64_t TextureFormatOffset(const FieldLayout& layout);

// TextureFormatOffset of object `index`'s layout. Never throws: an engine newer than the tables
// is probed with the newest table, so that the list still shows a format.
int64_t TextureFormatOffsetFor(const SerializedFile& file, size_t index);

// True when Shader object `index` keeps its source as a text (a string m_Script right after
// m_Name), as engines before 5.5 store it; from 5.5 on a shader holds its parsed form and no
// text. The object's type tree decides when the file carries one, else the engine version.
bool ShaderHoldsText(const SerializedFile& file, size_t index);

// The newest engine the version tables describe, for messages.
std::string NewestKnownLayoutVersion();

}  // namespace kestrix
