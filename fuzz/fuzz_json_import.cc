// The JSON import's parser and rebuild on any text, against a type tree with every kind of
// field: numbers of each width, bool, float and double, strings, byte and number arrays, an
// array of structures with references. A JSON that is accepted must give bytes that read back
// to a JSON rebuilding the same bytes.
#include <cstdlib>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/json_text.h"
#include "core/object_cursor.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "support.h"
#include "support/tree_rows.h"
#include "types/tree_walker.h"

namespace {

const kestrix::testing::TreeRow kRows[] = {
    {0, "Base", "Base", -1, 0, 0},
    {1, "string", "m_Name", -1, 0, 0x8000},
    {2, "Array", "Array", -1, 1, 0x4000},
    {3, "int", "size", 4, 0, 0},
    {3, "char", "data", 1, 0, 0},
    {1, "bool", "m_Enabled", 1, 0, 0x4000},
    {1, "SInt64", "m_Big", 8, 0, 0},
    {1, "UInt16", "m_Short", 2, 0, 0},
    {1, "float", "m_Speed", 4, 0, 0},
    {1, "double", "m_Exact", 8, 0, 0},
    {1, "vector", "m_Bytes", -1, 0, 0},
    {2, "Array", "Array", -1, 1, 0x4000},
    {3, "int", "size", 4, 0, 0},
    {3, "UInt8", "data", 1, 0, 0},
    {1, "vector", "m_Entries", -1, 0, 0},
    {2, "Array", "Array", -1, 1, 0},
    {3, "int", "size", 4, 0, 0},
    {3, "Entry", "data", -1, 0, 0},
    {4, "string", "key", -1, 0, 0},
    {5, "Array", "Array", -1, 1, 0x4000},
    {6, "int", "size", 4, 0, 0},
    {6, "char", "data", 1, 0, 0},
    {4, "PPtr<Object>", "target", 12, 0, 0},
    {5, "int", "m_FileID", 4, 0, 0},
    {5, "SInt64", "m_PathID", 8, 0, 0},
    {4, "vector", "values", -1, 0, 0},
    {5, "Array", "Array", -1, 1, 0},
    {6, "int", "size", 4, 0, 0},
    {6, "float", "data", 4, 0, 0},
};

kestrix::TypeTree MakeTree() { return kestrix::testing::TreeFromRows(kRows); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  static const TypeTree tree = MakeTree();
  static const ObjectTree walker(tree);
  const ByteOrder order = size % 2 ? ByteOrder::Big : ByteOrder::Little;
  std::vector<uint8_t> bytes;
  try {
    bytes = walker.FromJson(ParseJson(std::string_view(reinterpret_cast<const char*>(data), size)),
                            order);
  } catch (const Error&) {
    return 0;
  }
  try {
    MemorySource source(bytes);
    Reader reader(source);
    ObjectCursor cursor(reader, 0, bytes.size(), order);
    if (walker.FromJson(ParseJson(walker.ToJson(cursor)), order) != bytes) std::abort();
  } catch (const Error&) {
    std::abort();
  }
  return 0;
}
