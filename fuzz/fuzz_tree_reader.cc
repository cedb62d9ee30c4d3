// The reader driven by type trees, on trees and object bytes both from the input:
//   node count | per node: level step, type, flags, size | object bytes
// Whatever the reader accepts must come back byte for byte through its JSON: the JSON parses,
// and rebuilding it gives the object's bytes.
#include <cstdlib>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/json_text.h"
#include "core/object_cursor.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/reader.h"
#include "support.h"
#include "types/tree_walker.h"

namespace {

const char* const kTypes[] = {"Base",
                              "int",
                              "bool",
                              "float",
                              "double",
                              "SInt64",
                              "UInt64",
                              "UInt8",
                              "UInt16",
                              "SInt16",
                              "string",
                              "Array",
                              "vector",
                              "TypelessData",
                              "PPtr<Object>",
                              "char",
                              "ReferencedObjectData",
                              "Vector3f"};
constexpr size_t kTypeCount = sizeof(kTypes) / sizeof(kTypes[0]);
const int32_t kSizes[] = {-1, 0, 1, 2, 4, 8, 12, 4};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  fuzz::Input in(data, size);
  const uint8_t head = in.Byte();
  const size_t count = 1 + head % 32;
  const ByteOrder order = head & 0x80 ? ByteOrder::Big : ByteOrder::Little;
  TypeTree tree;
  std::vector<uint32_t> type_at;
  for (const char* t : kTypes) {
    type_at.push_back(static_cast<uint32_t>(tree.Strings.size()));
    tree.Strings += t;
    tree.Strings += '\0';
  }
  uint8_t level = 0;
  for (size_t k = 0; k < count; ++k) {
    const uint8_t step = in.Byte(), type = in.Byte(), flags = in.Byte(), sized = in.Byte();
    TypeTreeNode n;
    // Below the root: anywhere from the first level to one below the node before.
    level = k == 0 ? 0 : static_cast<uint8_t>(1 + step % (level + 1));
    n.Level = level;
    n.TypeNameOffset = type_at[type % kTypeCount];
    n.FieldNameOffset = static_cast<uint32_t>(tree.Strings.size());
    tree.Strings += "f" + std::to_string(k) + '\0';
    n.TypeFlags = flags & 1;
    n.MetaFlags = flags & 2 ? 0x4000 : 0;
    n.ByteSize = kSizes[sized % 8];
    tree.Nodes.push_back(n);
  }
  size_t object_size = 0;
  const uint8_t* object = in.Rest(&object_size);
  const std::vector<uint8_t> bytes(object, object + object_size);

  const ObjectTree walker(tree);
  std::string json;
  try {
    MemorySource source(bytes);
    Reader reader(source);
    ObjectCursor cursor(reader, 0, bytes.size(), order);
    json = walker.ToJson(cursor);
  } catch (const Error&) {
    return 0;
  }
  try {
    if (walker.FromJson(ParseJson(json), order) != bytes) std::abort();
  } catch (const Error&) {
    std::abort();  // what the reader wrote must read back
  }
  return 0;
}
