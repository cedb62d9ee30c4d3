// Objects through their type trees as JSON and back: the spellings that keep every bit, the
// byte-exact rebuild in both byte orders, and JSON that does not fit refused by field path.
#include "types/tree_walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/error.h"
#include "core/json_text.h"
#include "core/object_cursor.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "support/tree_rows.h"

namespace kestrix {
namespace {

const testing::TreeRow kRows[] = {
    {0, "MonoBehaviour", "Base", -1, 0, 0},
    {1, "string", "m_Name", -1, 0, 0},
    {2, "Array", "Array", -1, 1, 0x4000},
    {3, "int", "size", 4, 0, 0},
    {3, "char", "data", 1, 0, 0},
    {1, "bool", "m_Enabled", 1, 0, 0x4000},
    {1, "SInt64", "m_Big", 8, 0, 0},
    {1, "UInt64", "m_Huge", 8, 0, 0},
    {1, "UInt16", "m_Short", 2, 0, 0x4000},
    {1, "float", "m_Speed", 4, 0, 0},
    {1, "float", "m_Tenth", 4, 0, 0},
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

TypeTree MakeTree() { return testing::TreeFromRows(kRows); }


// The object the tree describes, with values at the edges of what JSON keeps.
std::vector<uint8_t> MakeObject(ByteOrder order, const std::string& name, uint32_t values) {
  ObjectWriter w(order);
  w.String(name);
  w.Align();
  w.U8(1);
  w.Align();
  w.U64(static_cast<uint64_t>(std::numeric_limits<int64_t>::min() + 1));
  w.U64(std::numeric_limits<uint64_t>::max());
  w.U16(7);
  w.Align();
  w.U32(0x7FC00001);  // a NaN with a payload
  w.F32(0.1f);
  double exact = 1.0 / 3.0;
  uint64_t exact_bits;
  std::memcpy(&exact_bits, &exact, 8);
  w.U64(exact_bits);
  w.ByteArray({0, 1, 2});
  w.U32(1);  // one entry
  w.String("greeting");
  w.I32(1);
  w.U64(0x123456789ABCDEF0ull);
  w.U32(values);
  for (uint32_t k = 0; k < values; ++k) w.F32(static_cast<float>(k) / 7.0f);
  return w.Take();
}

std::string ToJson(const ObjectTree& tree, const std::vector<uint8_t>& bytes, ByteOrder order) {
  MemorySource source(bytes);
  Reader reader(source);
  ObjectCursor cursor(reader, 0, bytes.size(), order);
  return tree.ToJson(cursor);
}

TEST(TreeWalker, JsonKeepsEveryBitAndRebuildsTheBytes) {
  const TypeTree tree = MakeTree();
  const ObjectTree walker(tree);
  struct Case {
    ByteOrder order;
    std::string name;
    uint32_t values;
    std::vector<std::string> spelled;
  };
  const Case cases[] = {
      {ByteOrder::Little,
       "Hero \xC3\xA9\"\n",
       3,
       {"\"m_Name\": \"Hero \xC3\xA9\\\"\\n\"", "\"m_Enabled\": true",
        "\"m_Big\": -9223372036854775807", "\"m_Huge\": 18446744073709551615",
        "\"m_Speed\": {\"$bits\": \"7fc00001\"}", "\"m_Tenth\": 0.1",
        "\"m_Exact\": 0.3333333333333333", "{\"$type\": \"UInt8\", \"$base64\": \"AAEC\"}",
        "\"m_PathID\": 1311768467463790320", "\"values\": [0, 0.14285715, 0.2857143]"}},
      // Bytes that are not UTF-8; numbers past 64 elements as little-endian base64 in either
      // byte order.
      {ByteOrder::Big,
       std::string("\xFF\x00z", 3),
       65,
       {"\"m_Name\": {\"$base64\": \"/wB6\"}",
        "\"values\": {\"$type\": \"float\", \"$base64\": \"AAAAACVJ"}},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = MakeObject(c.order, c.name, c.values);
    const std::string json = ToJson(walker, bytes, c.order);
    for (const std::string& want : c.spelled)
      EXPECT_NE(json.find(want), std::string::npos) << want << "\n" << json;
    EXPECT_EQ(walker.FromJson(ParseJson(json), c.order), bytes) << json;
  }
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(TreeWalker, JsonThatDoesNotFitIsRefusedByFieldPath) {
  const TypeTree tree = MakeTree();
  const ObjectTree walker(tree);
  const std::string json = ToJson(walker, MakeObject(ByteOrder::Little, "a", 3), ByteOrder::Little);
  struct Case {
    const char* from;
    const char* to;
    const char* message;
  };
  const Case cases[] = {
      {"\"m_Short\": 7,", "", "(the object): the field m_Short (UInt16) is missing"},
      {"\"m_Short\": 7", "\"m_Short\": \"7\"", "m_Short: an integer is expected (UInt16), not a"},
      {"\"m_Short\": 7", "\"m_Short\": 65536", "m_Short: 65536 is out of the range of UInt16"},
      {"\"m_Short\": 7", "\"m_Short\": 7.5", "m_Short: 7.5 is not an integer"},
      {"\"m_Enabled\": true", "\"m_Enabled\": 256", "m_Enabled: 256 is out of the range"},
      {"18446744073709551615", "18446744073709551616", "m_Huge: 18446744073709551616 is out of"},
      {"18446744073709551615", "-1", "m_Huge: -1 is out of the range"},
      {"\"m_Tenth\": 0.1", "\"m_Tenth\": 1e39", "m_Tenth: 1e39 is out of the range of float"},
      {"\"m_Speed\": {\"$bits\": \"7fc00001\"}", "\"m_Speed\": {\"$bits\": \"7fc0001\"}",
       "m_Speed: {\"$bits\""},
      {"\"m_FileID\": 1", "\"m_FileID\": 1, \"m_Extra\": 2",
       "m_Entries[0].target: the field m_Extra is not in the type tree"},
      {"\"m_FileID\": 1", "\"m_FileID\": 2147483648",
       "m_Entries[0].target.m_FileID: 2147483648 is out of the range of int"},
      {"\"key\": \"greeting\"", "\"key\": null", "m_Entries[0].key: a string is expected"},
      {"\"$type\": \"UInt8\"", "\"$type\": \"SInt8\"",
       "m_Bytes: the elements are UInt8, not SInt8"},
      {"\"AAEC\"", "\"AAE\"", "m_Bytes: \"$base64\" is not base64"},
      {"\"AAEC\"", "\"A*ECAAEC\"", "m_Bytes: \"$base64\" is not base64"},
      {"\"key\": \"greeting\"", "\"key\": \"greeting, then \xC3( after eight bytes\"",
       "a string is not UTF-8"},
      {"\"m_Short\": 7,", "\"m_Short\": 7,,", "Not valid JSON at line"},
  };
  for (const Case& c : cases) {
    try {
      walker.FromJson(ParseJson(Replaced(json, c.from, c.to)), ByteOrder::Little);
      ADD_FAILURE() << c.to << " was taken";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.message << "\n"
                                                                          << e.what();
    }
  }
}

TEST(TreeWalker, BytesThatDoNotFitTheTreeAreRefusedByFieldPath) {
  const TypeTree tree = MakeTree();
  const ObjectTree walker(tree);
  const std::vector<uint8_t> good = MakeObject(ByteOrder::Little, "a", 3);
  std::vector<uint8_t> padded = good, longer = good, shorter = good;
  padded[9] = 1;  // the padding after m_Enabled (name: 4 + 1 + 3 bytes)
  longer.insert(longer.end(), 4, 0);
  shorter.resize(shorter.size() - 2);
  const std::pair<std::vector<uint8_t>, const char*> cases[] = {
      {padded, "m_Enabled: the padding after it holds data"},
      {longer, "the type tree MonoBehaviour ends after"},
      {shorter, "m_Entries[0].values: An array of 3 elements of 4 bytes runs past the end"},
  };
  for (const auto& [bytes, message] : cases) {
    try {
      ToJson(walker, bytes, ByteOrder::Little);
      ADD_FAILURE() << message << ": read";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

// A string edited longer moves every field after it, each kept at its 4-byte alignment.
TEST(TreeWalker, EditedStringRebuildsTheObjectAroundIt) {
  const TypeTree tree = MakeTree();
  const ObjectTree walker(tree);
  const std::string json = ToJson(walker, MakeObject(ByteOrder::Little, "a", 3), ByteOrder::Little);
  const std::vector<uint8_t> rebuilt = walker.FromJson(
      ParseJson(Replaced(json, "\"key\": \"greeting\"", "\"key\": \"hello there\"")),
      ByteOrder::Little);
  const std::vector<uint8_t> before = MakeObject(ByteOrder::Little, "a", 3);
  EXPECT_EQ(rebuilt, [&] {
    std::vector<uint8_t> b = MakeObject(ByteOrder::Little, "a", 3);
    ObjectWriter key(ByteOrder::Little);
    key.String("greeting");
    ObjectWriter edited(ByteOrder::Little);
    edited.String("hello there");
    auto at = std::search(b.begin(), b.end(), key.Data().begin(), key.Data().end());
    b.erase(at, at + static_cast<ptrdiff_t>(key.Size()));
    b.insert(at, edited.Data().begin(), edited.Data().end());
    return b;
  }());
  EXPECT_EQ(rebuilt.size(), before.size() + 4);
}

}  // namespace
}  // namespace kestrix
