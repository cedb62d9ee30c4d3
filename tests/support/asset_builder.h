// Writes serialized asset files of formats 6 to 9 and 14 to 23 in either byte order, so tests
// state their fixtures in a few lines. Formats 6 to 8 put the metadata after the object data;
// format 22 has the 48-byte header with 64-bit sizes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrix::testing {

using Bytes = std::vector<uint8_t>;

struct BuilderObject {
  // Class as the entry table shows it: a negative number -n is a script object (class 114 with
  // script index n); 114 is a script object with index 0.
  int32_t class_id = 0;
  Bytes data;
};

// A field below a type tree's root: a "string" is written with its array of chars below it,
// anything else as a 4-byte field. A field with a level is one node written as given (deeper
// shapes: arrays, structures; flags 1: array; meta 0x4000: aligned after).
struct TreeField {
  std::string type, name;
  uint8_t level = 0;
  int32_t size = 4;
  uint8_t flags = 0;
  uint32_t meta = 0;
};

struct AssetSpec {
  uint32_t format = 17;
  bool big_endian = false;
  std::string unity_version = "5.6.3f1";
  int32_t platform = 5;
  bool type_trees = false;
  // With type_trees (formats 12 and later): the fields of a class's tree, instead of m_Name alone.
  struct ClassTree {
    int32_t class_id = 0;
    std::vector<TreeField> fields;
  };
  std::vector<ClassTree> class_trees;
  uint32_t data_alignment = 16;  // object data starts at a multiple of this
  std::vector<BuilderObject> objects;
  // What the object table states instead of the truth, for damaged files: object `index` is
  // said to lie at `offset` (relative to the data) with `size` bytes.
  struct RecordOverride {
    size_t index = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
  };
  std::vector<RecordOverride> record_overrides;
};

// Little helpers for payloads in the file's byte order.
class ByteWriter {
 public:
  explicit ByteWriter(bool big_endian = false) : big_(big_endian) {}
  ByteWriter& U8(uint8_t v);
  ByteWriter& U16(uint16_t v);
  ByteWriter& U32(uint32_t v);
  ByteWriter& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  ByteWriter& U64(uint64_t v);
  ByteWriter& F32(float v);
  ByteWriter& Raw(const void* data, size_t n);
  ByteWriter& Raw(const Bytes& b) { return Raw(b.data(), b.size()); }
  ByteWriter& Text(const std::string& s) { return Raw(s.data(), s.size()); }
  ByteWriter& CText(const std::string& s) {
    Text(s);
    return U8(0);
  }
  ByteWriter& Zeros(size_t n);
  ByteWriter& Align(size_t to);
  // A serialized string: 32-bit length, bytes, padding to 4.
  ByteWriter& Str(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    Text(s);
    return Align(4);
  }
  size_t Size() const { return bytes_.size(); }
  void Patch32(size_t at, uint32_t v);
  const Bytes& Data() const { return bytes_; }
  Bytes Take() { return std::move(bytes_); }
  bool BigEndian() const { return big_; }

 private:
  bool big_;
  Bytes bytes_;
};

// Object data made of a serialized name followed by `rest`.
Bytes NamedObject(const std::string& name, const Bytes& rest = {}, bool big_endian = false);

// From format 23, with `extracted_trees`, the type trees are left out of the file and handed
// there instead, each under its hash name (as a bundle entry or ".typetreedata" archive keeps them).
Bytes BuildAssetFile(const AssetSpec& desc,
                     std::vector<std::pair<std::string, Bytes>>* extracted_trees = nullptr);

void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);

}  // namespace kestrix::testing
