// Any object read and rebuilt by its type tree: every field in the tree's order, with its name,
// as JSON, and the same JSON back into the object's bytes. Rebuilding what reading gave yields
// the object byte for byte: numbers keep their bits, strings their bytes, padding is zeros (an
// object whose padding holds anything else is refused when read, since it could not come back).
//
// The JSON spelling of field values:
//   integers, bool       numbers (64-bit exact), true/false (a bool byte other than 0 or 1 as a
//                        number)
//   float, double        the shortest decimal that reads back to the same bits; NaN and the
//                        infinities (and any value that would not read back) as
//                        {"$bits": "<hex of the stored bits>"}
//   string               UTF-8 text; bytes that are not UTF-8 as {"$base64": "..."}
//   arrays               JSON arrays; arrays of bytes, and numeric arrays of more than 64
//                        elements, as {"$type": "<element type>", "$base64": "..."} with the
//                        elements little-endian whatever the file's byte order
//   structures, PPtr     objects with the tree's member names ({"m_FileID", "m_PathID"})
// Rebuilding also takes a plain array where base64 was written, and the reverse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/serialized_file.h"
#include "platform/byte_order.h"

namespace kestrix {

class ObjectCursor;
struct JsonValue;

class ObjectTree {
 public:
  // Takes the tree apart once, for many objects of its type. Never throws: a node that cannot
  // be walked (a managed reference's data, a leaf of unknown size) fails only the objects that
  // reach it.
  explicit ObjectTree(const TypeTree& tree);

  // The object [cursor.Start(), cursor.Limit()) as JSON text (an object with the root's
  // fields). Throws Error naming the field when the bytes do not fit the tree, when padding
  // holds data, when a field cannot be walked, or when bytes are left after the last field.
  std::string ToJson(ObjectCursor& cursor) const;

  // The object's bytes from JSON in the shape ToJson writes. Throws Error naming the field's
  // path ("m_Items[2].m_Name: ...") when the JSON does not fit: a missing or unknown field, a
  // value of the wrong kind, a number out of its field's range.
  std::vector<uint8_t> FromJson(const JsonValue& value, ByteOrder order) const;

  // The root's type name ("MonoBehaviour"), for messages.
  const std::string& RootType() const;

  enum class Shape : uint8_t {
    kStruct,
    kVector,  // a 32-bit count and that many elements
    kString,
    kBool,
    kSigned,
    kUnsigned,
    kFloat,
    kUnwalkable,
  };
  struct Node {
    std::string name, type;
    Shape shape = Shape::kStruct;
    uint8_t size = 0;                // numbers: 1, 2, 4 or 8 bytes
    bool align = false;              // padding to 4 bytes follows
    std::vector<uint32_t> children;  // kStruct
    uint32_t element = 0;            // kVector: the element's node
    bool compact = false;            // kVector of numbers, which may go as base64
  };
  // Node 0 is the root; the window names each field's type from them.
  const std::vector<Node>& Nodes() const { return nodes_; }

 private:
  std::vector<Node> nodes_;
};

}  // namespace kestrix
