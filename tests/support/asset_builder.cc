#include "asset_builder.h"

#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <utility>

namespace kestrix::testing {

ByteWriter& ByteWriter::U8(uint8_t v) {
  bytes_.push_back(v);
  return *this;
}

ByteWriter& ByteWriter::U16(uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  if (big_) std::swap(b[0], b[1]);
  return Raw(b, 2);
}

ByteWriter& ByteWriter::U32(uint32_t v) {
  uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[big_ ? 3 - i : i] = static_cast<uint8_t>(v >> (8 * i));
  return Raw(b, 4);
}

ByteWriter& ByteWriter::U64(uint64_t v) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[big_ ? 7 - i : i] = static_cast<uint8_t>(v >> (8 * i));
  return Raw(b, 8);
}

ByteWriter& ByteWriter::F32(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return U32(u);
}

ByteWriter& ByteWriter::Raw(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + n);
  return *this;
}

ByteWriter& ByteWriter::Zeros(size_t n) {
  bytes_.insert(bytes_.end(), n, 0);
  return *this;
}

ByteWriter& ByteWriter::Align(size_t to) {
  while (bytes_.size() % to) bytes_.push_back(0);
  return *this;
}

void ByteWriter::Patch32(size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_[at + (big_ ? 3 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes NamedObject(const std::string& name, const Bytes& rest, bool big_endian) {
  ByteWriter w(big_endian);
  w.Str(name).Raw(rest);
  return w.Take();
}

namespace {

struct TypeKey {
  int32_t class_id;  // 114 for script types
  int16_t script_index;
  bool operator<(const TypeKey& o) const {
    return std::make_pair(class_id, script_index) < std::make_pair(o.class_id, o.script_index);
  }
};

TypeKey KeyOf(int32_t class_id) {
  if (class_id < 0) return {114, static_cast<int16_t>(-class_id)};
  if (class_id == 114) return {114, 0};
  return {class_id, -1};
}

// A small type tree in the old layout (formats 6 to 13): a root with one child.
void OldTypeTree(ByteWriter& w, bool with_child) {
  w.CText("Base").CText("Base").I32(-1).I32(0).I32(0).I32(1).I32(0);
  if (!with_child) {
    w.U32(0);
    return;
  }
  w.U32(1);
  w.CText("string").CText("m_Name").I32(-1).I32(1).I32(0).I32(1).I32(0x4000).U32(0);
}

// The binary type tree of formats 12 and later: node count, string buffer size, nodes, strings.
// Below the root `fields`, or without them one node that stands for the name. Nodes carry a
// reference type hash from format 19 on.
void BlobTypeTree(ByteWriter& w, uint32_t format, const std::vector<TreeField>* fields) {
  struct Node {
    uint8_t level, flags;
    uint32_t type, name;
    int32_t size;
    uint32_t meta = 0;
  };
  std::string strings = std::string("Base\0m_Name\0", 12);
  std::vector<Node> nodes = {{0, 0, 0, 0, -1}};
  auto text = [&strings](const std::string& t) {
    for (size_t at = 0; at < strings.size(); at = strings.find('\0', at) + 1)
      if (strings.compare(at, t.size() + 1, t + '\0') == 0) return static_cast<uint32_t>(at);
    strings += t + '\0';
    return static_cast<uint32_t>(strings.size() - t.size() - 1);
  };
  if (!fields) nodes.push_back({1, 0, 5, 0, -1});
  for (const TreeField& f : fields ? *fields : std::vector<TreeField>()) {
    if (f.level) {
      nodes.push_back({f.level, f.flags, text(f.type), text(f.name), f.size, f.meta});
      continue;
    }
    if (f.type != "string") {
      nodes.push_back({1, 0, text(f.type), text(f.name), 4});
      continue;
    }
    nodes.push_back({1, 0, text("string"), text(f.name), -1, 0x4000});
    nodes.push_back({2, 1, text("Array"), text("Array"), -1});
    nodes.push_back({3, 0, text("int"), text("size"), 4});
    nodes.push_back({3, 0, text("char"), text("data"), 1});
  }
  w.U32(static_cast<uint32_t>(nodes.size())).U32(static_cast<uint32_t>(strings.size()));
  for (size_t i = 0; i < nodes.size(); ++i) {
    const Node& n = nodes[i];
    w.U16(1).U8(n.level).U8(n.flags).U32(n.type).U32(n.name).I32(n.size);
    // Strings ask for padding after them.
    w.I32(static_cast<int32_t>(i)).U32(n.meta);
    if (format >= 19) w.U64(0x1122334455667788ull + static_cast<uint64_t>(i));
  }
  w.Text(strings);
}

// What follows a type's tree from format 21 on: a reference type names its managed class, any
// other lists its dependencies (here one: type 0).
void TreeTail(ByteWriter& w, uint32_t format, bool reference) {
  if (format >= 21 && reference) w.CText("Node").CText("Game.Data").CText("Assembly-CSharp");
  if (format >= 21 && !reference) w.U32(1).I32(0);
}

// A type's tree with what precedes and follows it. From format 23 the tree carries a header
// ("mhtt" and the format) and is preceded by its hash and size; an extracted tree has size 0 and
// is handed to `extracted` under its hash name instead.
void TypeTreeRecord(ByteWriter& w, uint32_t format, bool reference,
                    const std::vector<TreeField>* fields, size_t number,
                    std::vector<std::pair<std::string, Bytes>>* extracted) {
  if (format < 23) {
    BlobTypeTree(w, format, fields);
    TreeTail(w, format, reference);
    return;
  }
  ByteWriter blob(w.BigEndian());
  blob.U32(0x7474686D).U32(format);
  BlobTypeTree(blob, format, fields);
  Bytes hash(16);
  for (size_t k = 0; k < hash.size(); ++k) hash[k] = static_cast<uint8_t>(0x31 * (number + 1) + k);
  w.Raw(hash);
  if (extracted) {
    static const char kDigits[] = "0123456789abcdef";
    std::string name;
    for (uint8_t b : hash) name += {kDigits[b >> 4], kDigits[b & 15]};
    extracted->emplace_back(name, blob.Data());
    w.U32(0);
  } else {
    w.U32(static_cast<uint32_t>(blob.Size())).Raw(blob.Data());
  }
  TreeTail(w, format, reference);
}

}  // namespace

Bytes BuildAssetFile(const AssetSpec& desc,
                     std::vector<std::pair<std::string, Bytes>>* extracted_trees) {
  const bool big = desc.big_endian;
  const uint32_t f = desc.format;
  // Formats 6 to 8 put the metadata after the object data; 22 and later have a 48-byte header.
  const bool trailing = f < 9;
  const bool wide = f >= 22;
  ByteWriter header(false);
  // metadata size, file size, format, data offset: patched below (always big-endian).
  header.Zeros(16);
  if (!trailing) header.U8(big ? 1 : 0).Zeros(3);
  if (wide) header.Zeros(28);  // metadata size, file size, data offset, reserved
  const size_t meta_start = header.Size();
  if (!trailing) header.CText(desc.unity_version);

  ByteWriter meta(big);
  if (trailing) {
    // The endianness byte, then the version text (format 7 on) and platform (format 8 on),
    // which the metadata's byte order does not touch.
    meta.U8(big ? 1 : 0);
    if (f >= 7) meta.CText(desc.unity_version);
  }
  if (!trailing || f >= 8) meta.I32(desc.platform);

  // Distinct types in order of first use.
  std::vector<TypeKey> types;
  std::map<TypeKey, int32_t> type_index;
  auto tree_of = [&desc](const TypeKey& t) -> const std::vector<TreeField>* {
    for (const AssetSpec::ClassTree& c : desc.class_trees)
      if (c.class_id == t.class_id && t.class_id != 114) return &c.fields;
    return nullptr;
  };
  for (const BuilderObject& o : desc.objects) {
    TypeKey k = KeyOf(o.class_id);
    if (!type_index.count(k)) {
      type_index[k] = static_cast<int32_t>(types.size());
      types.push_back(k);
    }
  }

  if (f <= 9) {
    if (desc.type_trees) {
      meta.U32(static_cast<uint32_t>(types.size()));
      for (const TypeKey& t : types) {
        meta.I32(t.class_id == 114 && t.script_index ? -t.script_index : t.class_id);
        OldTypeTree(meta, true);
      }
    } else {
      meta.U32(0);
    }
    if (f >= 7) meta.U32(0);  // big id flag
  } else {
    meta.U8(desc.type_trees ? 1 : 0);
    meta.U32(static_cast<uint32_t>(types.size()));
    for (const TypeKey& t : types) {
      bool script = t.class_id == 114;
      if (f <= 15) {
        int32_t id = script && t.script_index ? -t.script_index : t.class_id;
        meta.I32(id);
        meta.Zeros(id < 0 ? 32 : 16);
        if (desc.type_trees) {
          BlobTypeTree(meta, f, tree_of(t));
          TreeTail(meta, f, false);
        }
      } else {
        meta.I32(t.class_id).U8(0).U16(static_cast<uint16_t>(script ? t.script_index : -1));
        meta.Zeros(script ? 32 : 16);
        if (desc.type_trees)
          TypeTreeRecord(meta, f, false, tree_of(t), type_index[t], extracted_trees);
      }
    }
  }

  // Object table.
  const size_t table_offset_in_meta = meta.Size();
  meta.U32(static_cast<uint32_t>(desc.objects.size()));
  if (f > 9) {
    // aligned from the start of the file: header bytes come first
    while ((header.Size() + meta.Size()) % 4) meta.U8(0);
  }
  // Formats 6 to 8: the object data lies between the header and the metadata.
  const uint32_t align = desc.data_alignment ? desc.data_alignment : 16;
  const uint32_t trailing_data = (16 + align - 1) / align * align;
  (void)table_offset_in_meta;
  std::vector<size_t> offset_slots;
  uint32_t data_cursor = 0;
  std::vector<uint32_t> offsets;
  for (const BuilderObject& o : desc.objects) {
    data_cursor = (data_cursor + 7) & ~7u;
    offsets.push_back(data_cursor);
    data_cursor += static_cast<uint32_t>(o.data.size());
  }
  for (size_t i = 0; i < desc.objects.size(); ++i) {
    const BuilderObject& o = desc.objects[i];
    const TypeKey k = KeyOf(o.class_id);
    uint32_t size = static_cast<uint32_t>(o.data.size());
    uint32_t offset = offsets[i];
    for (const AssetSpec::RecordOverride& r : desc.record_overrides) {
      if (r.index != i) continue;
      offset = r.offset;
      size = r.size;
    }
    if (f <= 9) {
      meta.U32(static_cast<uint32_t>(i + 1)).U32(offset).U32(size).I32(o.class_id);
      meta.U16(static_cast<uint16_t>(k.class_id)).U16(0);
    } else if (f <= 15) {
      // Script objects carry a negative type id (the script type) and class 114.
      meta.U64(i + 1).U32(offset).U32(size).I32(o.class_id);
      meta.U16(static_cast<uint16_t>(k.class_id))
          .U16(static_cast<uint16_t>(o.class_id < 0 ? k.script_index : -1));
      if (f == 15) meta.U32(0);
    } else if (f == 16) {
      meta.U64(i + 1).U32(offset).U32(size).I32(type_index[k]);
      meta.U16(static_cast<uint16_t>(k.class_id == 114 ? k.script_index : -1)).U8(0).U8(0);
    } else if (f < 22) {
      meta.U64(i + 1).U32(offset).U32(size).I32(type_index[k]);
    } else {
      meta.U64(i + 1).U64(offset).U32(size).I32(type_index[k]);
    }
  }
  // Script types and externals (and from format 20 reference types): none.
  meta.U32(0);
  if (f >= 14) meta.U32(0);
  if (f >= 20) {
    // With type trees, one reference type: a script class of script index 0.
    meta.U32(desc.type_trees ? 1 : 0);
    if (desc.type_trees) {
      meta.I32(114).U8(0).U16(0).Zeros(32);
      TypeTreeRecord(meta, f, true, nullptr, types.size(), extracted_trees);
    }
  }

  auto put_be = [](Bytes& file, size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
  };
  Bytes file = header.Data();
  if (trailing) {
    file.resize(trailing_data, 0);
  } else {
    file.insert(file.end(), meta.Data().begin(), meta.Data().end());
  }
  const uint32_t metadata_size =
      static_cast<uint32_t>(trailing ? meta.Size() : file.size() - meta_start);
  while (file.size() % align) file.push_back(0);
  const uint64_t data_offset = file.size();
  for (size_t i = 0; i < desc.objects.size(); ++i) {
    while (file.size() < data_offset + offsets[i]) file.push_back(0);
    file.insert(file.end(), desc.objects[i].data.begin(), desc.objects[i].data.end());
  }
  if (trailing) file.insert(file.end(), meta.Data().begin(), meta.Data().end());
  put_be(file, 8, f, 4);
  if (wide) {
    put_be(file, 20, metadata_size, 4);
    put_be(file, 24, file.size(), 8);
    put_be(file, 32, data_offset, 8);
  } else {
    put_be(file, 0, metadata_size, 4);
    put_be(file, 4, file.size(), 4);
    put_be(file, 12, data_offset, 4);
  }
  return file;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kestrix::testing
