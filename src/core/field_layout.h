// Object layouts as lists of fields: what the engine serializes for a class, one field after
// the other, either from a table that knows the engine version or from the type tree the file
// carries. Placing a layout on an object's bytes finds where each field lies, through the
// object cursor, so that readers take their values by name and never by a fixed offset.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/serialized_file.h"

namespace kestrix {

class ObjectCursor;

enum class FieldKind : uint8_t {
  kFixed,  // a number of `size` bytes (1, 2, 4 or 8)
  kBytes,  // a 32-bit count and that many bytes: strings and byte arrays
  kAlign,  // padding to the next multiple of 4 from the object's start
  kOther,  // anything else (arrays of structures): the layout cannot be placed past it
};

struct FieldStep {
  std::string name;  // members of structures as "parent.member"
  FieldKind kind = FieldKind::kFixed;
  uint8_t size = 4;  // kFixed only
  bool operator==(const FieldStep& o) const {
    return name == o.name && kind == o.kind && (kind != FieldKind::kFixed || size == o.size);
  }
};
using FieldLayout = std::vector<FieldStep>;

// Builders for the version tables.
inline FieldStep Int(const char* name) { return {name, FieldKind::kFixed, 4}; }
inline FieldStep Int64(const char* name) { return {name, FieldKind::kFixed, 8}; }
inline FieldStep Bool(const char* name) { return {name, FieldKind::kFixed, 1}; }
inline FieldStep Blob(const char* name) { return {name, FieldKind::kBytes, 0}; }
inline FieldStep AlignStep() { return {"", FieldKind::kAlign, 0}; }

// The fields of a type tree below its root, structures flattened into their members, arrays of
// bytes (strings, byte vectors, typeless data) as kBytes, and the padding the tree asks for
// after a field as a kAlign step. Field names come from the tree's own strings or from the
// engine's table of common strings.
FieldLayout FieldsOfTree(const TypeTree& tree);

// The name of a node's type or field, "" when its offset points nowhere.
std::string TreeText(const TypeTree& tree, uint32_t offset);

// Where a placed field lies: for kBytes, `pos` is the count's and `count` the byte count that
// follows it.
struct FieldSpot {
  uint64_t pos = 0;
  uint64_t size = 0;
  uint64_t count = 0;
};

class PlacedFields {
 public:
  // Places the layout from the cursor's position. Placing stops before the first kOther field
  // (what follows it cannot be found); throws Error (damaged data) when the object ends first.
  PlacedFields(ObjectCursor& cursor, const FieldLayout& layout);

  bool Has(const std::string& name) const { return Find(name) != nullptr; }
  const FieldSpot* Find(const std::string& name) const;
  const FieldSpot& At(const std::string& name) const;  // throws Error when missing
  // The value of a fixed field as stored (1 to 8 bytes, zero-extended); throws Error when the
  // layout has no such field.
  uint64_t U(const std::string& name) const;
  int32_t I(const std::string& name) const { return static_cast<int32_t>(U(name)); }
  // `fallback` when the layout has no such field.
  uint64_t UOr(const std::string& name, uint64_t fallback) const;
  uint64_t End() const { return end_; }        // the position after the last field placed
  bool Complete() const { return complete_; }  // every field was placed

 private:
  struct Placed {
    std::string name;
    FieldSpot spot;
    uint64_t value = 0;
  };
  std::vector<Placed> spots_;
  uint64_t end_ = 0;
  bool complete_ = true;
};

}  // namespace kestrix
