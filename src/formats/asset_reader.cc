#include "formats/asset_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/archive.h"
#include "core/error.h"
#include "core/frontend.h"
#include "core/serialized_file.h"
#include "formats/extracted_trees.h"
#include "platform/memory.h"
#include "platform/reader.h"
#include "platform/two_threads.h"
#include "types/class_ids.h"
#include "types/engine_inference.h"

namespace kestrix {

namespace {

// Formats 6 to 8 keep their metadata at the end of the file; 22 and later have the 48-byte
// header with 64-bit sizes.
constexpr uint32_t kFirstTrailingMetadataFormat = 6;
constexpr uint32_t kFirstLeadingMetadataFormat = 9;
constexpr uint32_t kFirstWideHeaderFormat = 22;
constexpr uint64_t kWideHeaderBytes = 48;
constexpr uint32_t kLatestFormat = 23;
// Format 23 puts a content hash and a size before each type tree; a tree of size 0 was extracted
// from the file.
constexpr uint32_t kFirstTreeHashFormat = 23;

// The deepest type tree a real file has is a few dozen levels; this bound keeps a hostile file
// from exhausting the stack.
constexpr int kMaxTreeDepth = 512;
// A type tree node takes at least two zero bytes of text, 20 bytes of fields and a child count.
constexpr uint64_t kMinNodeBytes = 26;

void CheckCount(const Reader& r, uint64_t count, uint64_t bytes_each, const char* what) {
  if (bytes_each != 0 && count > r.Remaining() / bytes_each)
    throw Error(std::string("Malformed asset file: ") + what + " " + std::to_string(count) +
                " is more than the file can hold.");
}

void SkipTypeTreeNode(Reader& r, int depth) {
  if (depth > kMaxTreeDepth) throw Error("Malformed asset file: type tree is too deep.");
  r.CString(64);  // type
  r.CString(64);  // field name
  r.Require(20);
  r.Skip(20);
  uint32_t children = r.U32();
  CheckCount(r, children, kMinNodeBytes, "type tree child count");
  for (uint32_t i = 0; i < children; ++i) SkipTypeTreeNode(r, depth + 1);
}

// Formats 6 to 9 (and 10 to 13, which share the old type tree layout).
void WalkOldTypeList(SerializedFile& s, Reader& r) {
  CheckCount(r, s.TypeCount, 4 + kMinNodeBytes, "type count");
  for (uint32_t i = 0; i < s.TypeCount; ++i) {
    r.I32();  // class identifier
    SkipTypeTreeNode(r, 0);
  }
  // The big-id word of formats 7 to 13 (format 6 has none).
  if (s.FormatVersion >= 7) {
    r.Require(4);
    r.Skip(4);
  }
}

// A type tree in its binary form: node count, string buffer size, the nodes, the strings.
// The trees are kept: they are how newer object layouts are read. Nodes take 24 bytes, 32 from
// format 19 on (a reference type hash follows the meta flags).
TypeTree ReadBinaryTypeTree(Reader& r, uint32_t format) {
  TypeTree tree;
  const uint32_t nodes = r.U32();
  const uint32_t buffer = r.U32();
  const uint64_t node_bytes = format >= 19 ? 32 : 24;
  r.Require(static_cast<uint64_t>(nodes) * node_bytes + buffer);
  tree.Nodes.resize(nodes);
  for (TypeTreeNode& n : tree.Nodes) {
    n.Version = r.U16();
    n.Level = r.U8();
    n.TypeFlags = r.U8();
    n.TypeNameOffset = r.U32();
    n.FieldNameOffset = r.U32();
    n.ByteSize = r.I32();
    n.Index = r.I32();
    n.MetaFlags = r.U32();
    if (node_bytes == 32) n.RefTypeHash = r.U64();
  }
  tree.Strings.resize(buffer);
  if (buffer) r.Read(tree.Strings.data(), buffer);
  return tree;
}

}  // namespace

// The tree as format 23 stores it, inline or extracted: "mhtt", the format it was written for,
// then the binary tree of that format.
TypeTree ReadTypeTreeBlob(Reader& r) {
  constexpr uint32_t kTreeMagic = 0x7474686D;  // "mhtt" as a 32-bit word
  if (r.U32() != kTreeMagic) throw Error("Malformed asset file: a type tree lacks its header.");
  const uint32_t format = r.U32();
  if (format != kFirstTreeHashFormat)
    throw Error("Unsupported asset file: a type tree of serialized format " +
                    std::to_string(format) + " is not supported yet.",
                ErrorKind::kNotSupported);
  return ReadBinaryTypeTree(r, format);
}

namespace {

// A type's tree, and from format 23 the hash and size before it. An extracted tree is left
// empty here and found by its hash once the whole file is read.
void ReadTypeTreeOf(SerializedType& type, const SerializedFile& s, Reader& r) {
  if (s.FormatVersion < kFirstTreeHashFormat) {
    type.Tree = ReadBinaryTypeTree(r, s.FormatVersion);
    return;
  }
  r.Read(type.TreeHash.data(), type.TreeHash.size());
  const uint32_t size = r.U32();
  if (size == 0) {
    type.TreeExtracted = true;
    return;
  }
  r.Require(size);
  const uint64_t end = r.Tell() + size;
  type.Tree = ReadTypeTreeBlob(r);
  if (r.Tell() > end)
    throw Error("Malformed asset file: a type tree is longer than its stated " +
                std::to_string(size) + " bytes.");
  r.Seek(end);
}

// Formats 14 and 15: per type a class identifier and its hashes, and with type trees the tree
// in its binary form.
void WalkHashedTypeList(SerializedFile& s, Reader& r, bool with_trees) {
  CheckCount(r, s.TypeCount, with_trees ? 28 : 20, "type count");
  s.Types.clear();
  s.Types.reserve(s.TypeCount);
  for (uint32_t i = 0; i < s.TypeCount; ++i) {
    SerializedType type;
    type.StoredClassId = type.ClassId = r.I32();
    uint32_t skip = type.StoredClassId < 0 ? 32 : 16;
    r.Require(skip);
    r.Skip(skip);
    if (with_trees) type.Tree = ReadBinaryTypeTree(r, s.FormatVersion);
    s.Types.push_back(std::move(type));
  }
}

// When the search finds no first record (the first object of many files does not have path
// id 1), the type list is walked instead. True when that leads to an object table the file can
// hold.
bool WalkTreesInstead(SerializedFile& s, uint64_t asset_base, Reader& r, uint64_t type_list_start) {
  try {
    r.Seek(type_list_start);
    WalkHashedTypeList(s, r, true);
    const uint64_t count_at = r.Tell();
    uint32_t count = r.U32();
    uint64_t rel = r.Tell() - asset_base;
    uint64_t table = asset_base + ((rel + 3) & ~uint64_t{3});
    uint64_t record_bytes = s.Layout.RecordBytes;
    if (table > s.DataStart || count > (s.DataStart - table) / record_bytes) return false;
    r.Seek(count_at);  // the reader takes the count from here
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// The search finds the object table without the type list; the trees are read from the list all
// the same, for what walks objects by their trees (JSON). A list that does not parse leaves
// them out and changes nothing else.
void KeepTreesOfHashedList(SerializedFile& s, Reader& r, uint64_t type_list_start) {
  const uint64_t resume = r.Tell();
  try {
    r.Seek(type_list_start);
    WalkHashedTypeList(s, r, true);
  } catch (const std::exception&) {
    s.Types.clear();
  }
  r.Seek(resume);
}

// Formats 16 and later.
void WalkModernTypeList(SerializedFile& s, Reader& r) {
  CheckCount(r, s.TypeCount, 23, "type count");
  s.TypeClassIds.assign(s.TypeCount, 0);
  s.Types.clear();
  s.Types.reserve(s.TypeCount);
  for (uint32_t i = 0; i < s.TypeCount; ++i) {
    SerializedType type;
    type.StoredClassId = r.I32();
    if (type.StoredClassId <= 0 || type.StoredClassId == kClassMonoBehaviour) {
      r.Require(1);
      r.Skip(1);
      int16_t script_index = static_cast<int16_t>(r.U16());
      type.ClassId = script_index == 0 ? kClassMonoBehaviour : -static_cast<int32_t>(script_index);
      r.Require(32);
      r.Skip(32);
    } else {
      type.ClassId = type.StoredClassId;
      r.Require(19);
      r.Skip(19);
    }
    if (s.TypeTreeFlag) {
      ReadTypeTreeOf(type, s, r);
      // From format 21 on, the indices of the types this one refers to follow its tree.
      if (s.FormatVersion >= 21) {
        const uint32_t count = r.U32();
        CheckCount(r, count, 4, "type dependency count");
        type.Dependencies.resize(count);
        for (int32_t& d : type.Dependencies) d = r.I32();
      }
    }
    s.TypeClassIds[i] = type.ClassId;
    s.Types.push_back(std::move(type));
  }
}

// The tail of a format 14/15 object record (type id, class id, second field, and for format
// 15 the stripped word) as the search reads it from the word-swapped copy. In a big-endian file
// the two 16-bit fields that share a word come out of the swap in the opposite halves.
bool RecordTailPasses(const std::vector<uint8_t>& copy, uint64_t at, uint32_t format, bool big) {
  uint64_t need = format == 15 ? 12 : 8;
  if (at + need > copy.size()) return false;
  const uint8_t* p = copy.data() + at;
  int32_t type_id = static_cast<int32_t>(Get32(p, ByteOrder::Little));
  int16_t class_id = static_cast<int16_t>(Get16(p + (big ? 6 : 4), ByteOrder::Little));
  int16_t second = static_cast<int16_t>(Get16(p + (big ? 4 : 6), ByteOrder::Little));
  int32_t extra = format == 15 ? static_cast<int32_t>(Get32(p + 8, ByteOrder::Little)) : 0;
  if (extra != 0 || type_id == 0 || class_id == 0) return false;
  return (class_id == type_id && second == -1) || (type_id < 0 && class_id == 114);
}

// Formats 14 and 15 with type trees: the type list is not parsed; the object table is found by
// looking for the first record (path id 1) in the metadata.
// Returns false when no first record was found.
bool SearchObjectTable(SerializedFile& s, uint64_t asset_base, Reader& r) {
  uint64_t p = r.Tell();
  if (s.DataStart < p || s.DataStart > r.Size())
    throw Error("Malformed asset file: the data offset lies outside the file.");
  r.Seek(p);
  const std::vector<uint8_t> original = r.ReadBytes(static_cast<size_t>(s.DataStart - p));
  std::vector<uint8_t> copy = original;
  const bool big = s.BigEndian == 1;
  if (big) {
    // Words are swapped where the file's words lie: aligned to 4 from the asset's start.
    size_t lead = static_cast<size_t>((4 - (p - asset_base) % 4) % 4);
    for (size_t i = lead; i + 4 <= copy.size(); i += 4) {
      uint32_t w;
      std::memcpy(&w, copy.data() + i, 4);
      w = Swap32(w);
      std::memcpy(copy.data() + i, &w, 4);
    }
  }
  // The first record's 64-bit path id 1, as it reads after the swap.
  static const uint8_t kFirstIdLittle[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  static const uint8_t kFirstIdBig[8] = {0, 0, 0, 0, 1, 0, 0, 0};
  const uint8_t* first_id = big ? kFirstIdBig : kFirstIdLittle;
  const uint64_t column_bytes = s.Layout.TypePos;  // 16
  uint64_t hit = 0;
  bool found = false;
  auto it = copy.begin();
  while (true) {
    it = std::search(it, copy.end(), first_id, first_id + 8);
    if (it == copy.end()) break;
    uint64_t h = static_cast<uint64_t>(it - copy.begin());
    if (RecordTailPasses(copy, h + column_bytes, s.FormatVersion, big)) {
      hit = h;
      found = true;
      break;
    }
    ++it;
  }
  if (!found) {
    return false;
  }
  const uint64_t tail = s.FormatVersion == 14 ? 8 : 12;
  uint64_t start = hit;
  uint64_t counted = 0;
  while (start >= tail && RecordTailPasses(copy, start - tail, s.FormatVersion, big) &&
         start >= tail + 16) {
    start = start - tail - 16;
    ++counted;
  }
  uint64_t h = hit;
  while (h + 16 + tail <= copy.size() && RecordTailPasses(copy, h + 16, s.FormatVersion, big)) {
    ++counted;
    h += 16 + tail;
  }
  // The count need not sit on a word boundary, so it is read from the bytes as stored.
  auto count_at = [&](uint64_t at, uint32_t* out) {
    if (at + 4 > original.size()) return false;
    *out = Get32(original.data() + at, r.Order());
    return true;
  };
  uint64_t chosen = 0;
  bool matched = false;
  for (uint64_t back = 4; back <= 7 && !matched; ++back) {
    if (start < back) break;
    uint32_t value = 0;
    if (count_at(start - back, &value) && (value == counted || value == counted + 1)) {
      chosen = start - back;
      matched = true;
    }
  }
  if (!matched) {
    if (start < 4) throw Error("Malformed asset file: the object table has no count.");
    chosen = start - 4;
    s.Warnings.push_back("WARNING: Not find coint offsets.");
  }
  r.Seek(p + chosen);
  return true;
}

// Formats 20 and later: after the object table, the script types and the external files come
// the reference types (the types of managed references), each a type record with its tree and,
// from format 21, its class, namespace and assembly names. Nothing else here depends on them,
// so a tail that does not read leaves the list empty rather than refusing the file.
void ReadReferenceTypes(SerializedFile& s, uint64_t asset_base, Reader& r) {
  try {
    const uint32_t scripts = r.U32();
    CheckCount(r, scripts, 12, "script type count");
    for (uint32_t i = 0; i < scripts; ++i) {
      r.I32();  // file index
      const uint64_t rel = r.Tell() - asset_base;
      r.Seek(asset_base + ((rel + 3) & ~uint64_t{3}));
      r.U64();  // path id
    }
    const uint32_t externals = r.U32();
    CheckCount(r, externals, 22, "external file count");
    for (uint32_t i = 0; i < externals; ++i) {
      r.CString(256);
      r.Require(20);
      r.Skip(20);  // GUID and type
      r.CString(1024);
    }
    const uint32_t count = r.U32();
    CheckCount(r, count, 31, "reference type count");
    std::vector<SerializedType> types;
    types.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      SerializedType type;
      type.StoredClassId = type.ClassId = r.I32();
      r.Require(3);
      r.Skip(1);  // stripped
      const int16_t script_index = static_cast<int16_t>(r.U16());
      const uint64_t hashes =
          script_index >= 0 || type.StoredClassId == kClassMonoBehaviour ? 32 : 16;
      r.Require(hashes);
      r.Skip(hashes);
      ReadTypeTreeOf(type, s, r);
      if (s.FormatVersion >= 21) {
        type.ClassName = r.CString(1024);
        type.Namespace = r.CString(1024);
        type.AssemblyName = r.CString(1024);
      }
      types.push_back(std::move(type));
    }
    s.ReferenceTypes = std::move(types);
  } catch (const std::exception&) {
    s.ReferenceTypes.clear();
  }
}

void BuildRawSingleFile(SerializedFile& s, const OpenedArchive& a, Reader& r) {
  s.RawSingleFile = true;
  s.AssetFileSize = 0;
  s.DataStart = 0;
  s.ObjectCount = 0;
  uint8_t head[4] = {0, 0, 0, 0};
  r.Seek(a.AssetBase);
  size_t have = static_cast<size_t>(std::min<uint64_t>(4, r.Remaining()));
  r.Read(head, have);
  std::string four(reinterpret_cast<char*>(head), 4);
  std::string three(reinterpret_cast<char*>(head), 3);
  uint64_t size = a.AssetBase <= r.Size() ? r.Size() - a.AssetBase : 0;
  // A web data file's own entries are contained files too, though it is no bundle.
  if ((a.Bundle.IsBundle() || a.WebData.Present) &&
      static_cast<size_t>(a.SelectedFileIndex) < a.Bundle.ContainedFiles.size())
    size = a.Bundle.ContainedFiles[static_cast<size_t>(a.SelectedFileIndex)].Size;
  // One object: the whole stream (or the chosen contained file) from AssetBase on.
  ObjectRecord record{};
  record.Offset = a.AssetBase;
  record.Size = static_cast<uint32_t>(size);
  s.Objects.assign(1, record);
  s.TypeIndex.clear();
  bool mp3 = (have >= 1 && head[0] == 0xFF) || (have >= 3 && three == "ID3");
  bool audio =
      mp3 || (have == 4 && (four == "OggS" || four == "RIFF" || four == "FORM" || four == "FSB5"));
  s.ShownKind = audio ? (mp3 ? "MP3" : four) : "unknown";
}

// Records [begin, end) of the object table, which starts at `table`.
void ReadRecordRange(SerializedFile& s, Reader& r, uint64_t table, size_t begin, size_t end) {
  const RecordLayout& l = s.Layout;
  const ByteOrder order = r.Order();
  const bool typed = s.FormatVersion >= 16;
  r.Seek(table + begin * uint64_t{l.RecordBytes});
  uint8_t record[64];
  for (size_t i = begin; i < end; ++i) {
    r.Read(record, l.RecordBytes);
    ObjectRecord& o = s.Objects[i];
    o.PathId = l.PathIdBytes == 8 ? static_cast<int64_t>(Get64(record, order))
                                  : static_cast<int32_t>(Get32(record, order));
    o.Offset = l.OffsetBytes == 8 ? Get64(record + l.OffsetPos, order)
                                  : Get32(record + l.OffsetPos, order);
    o.Size = Get32(record + l.SizePos, order);
    const int32_t type = static_cast<int32_t>(Get32(record + l.TypePos, order));
    if (!typed) {
      o.ClassId = type;
      continue;
    }
    if (type < 0 || static_cast<size_t>(type) >= s.TypeClassIds.size())
      throw Error("Malformed asset file: object " + std::to_string(i + 1) + " names type " +
                  std::to_string(type) + " of " + std::to_string(s.TypeClassIds.size()) + ".");
    s.TypeIndex[i] = type;
    o.ClassId = s.TypeClassIds[static_cast<size_t>(type)];
  }
}

// The object table: ObjectCount records of the format's layout, each word in the file's byte
// order. From format 16 on the class comes from the record's type index. A big table is read in
// two halves at once.
void ReadObjectRecords(SerializedFile& s, Reader& r) {
  const size_t count = s.ObjectCount;
  const uint64_t table = r.Tell();
  ResizeLarge(s.Objects, count);
  if (s.FormatVersion >= 16) ResizeLarge(s.TypeIndex, count);
  if (count < kSecondThreadFrom) {
    ReadRecordRange(s, r, table, 0, count);
    return;
  }
  RunBoth([&] { ReadRecordRange(s, r, table, 0, count / 2); },
          [&] {
            Reader second(r.Source());
            second.SetOrder(r.Order());
            ReadRecordRange(s, second, table, count / 2, count);
          });
  r.Seek(table + count * uint64_t{s.Layout.RecordBytes});
}

// Stripped version texts appear from format 14 on; older files keep their version rules.
constexpr uint32_t kFirstInferredFormat = 14;

EngineVersion NamedEngine(const std::string& option) {
  if (option.empty()) return EngineVersion();
  const EngineVersion v = ParseEngineVersion(option);
  if (!v.Known || v.Major <= 0)
    throw Error("--engine " + option + " is not an engine version (such as 2022.3.5f1).");
  return v;
}

std::string VersionText(const EngineVersion& v) {
  return std::to_string(v.Major) + "." + std::to_string(v.Minor);
}

}  // namespace

bool LooksLikeAssetFile(Reader& r, uint64_t base, uint64_t size) {
  // Formats before 6 were never written by the engines bundles come from; past 64 is data.
  constexpr uint32_t kFirstFormat = 6, kLastPlausibleFormat = 64;
  if (size < 20 || base > r.Size() || r.Size() - base < 20) return false;
  r.Seek(base);
  const uint32_t metadata_size = r.U32(ByteOrder::Big);
  uint64_t file_size = r.U32(ByteOrder::Big);
  const uint32_t format = r.U32(ByteOrder::Big);
  uint64_t data_offset = r.U32(ByteOrder::Big);
  if (format < kFirstFormat || format > kLastPlausibleFormat) return false;
  if (format >= kFirstWideHeaderFormat) {
    if (size < kWideHeaderBytes || r.Size() - base < kWideHeaderBytes) return false;
    if (r.U32(ByteOrder::Little) > 1) return false;  // the endianness word
    r.U32(ByteOrder::Big);
    file_size = r.U64(ByteOrder::Big);
    data_offset = r.U64(ByteOrder::Big);
  } else if (format < kFirstLeadingMetadataFormat && metadata_size > file_size) {
    return false;
  }
  return file_size >= 20 && file_size <= size && data_offset <= file_size;
}

int32_t MajorVersionOf(const std::string& unity_version, uint32_t format_version) {
  std::string head = unity_version.substr(0, unity_version.find('.'));
  bool numeric = !head.empty() && head.size() <= 9 &&
                 std::all_of(head.begin(), head.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (numeric) return std::stoi(head);
  switch (format_version) {
    case 9:
    case 14:
      return 4;
    case 15:
    case 17:
      return 5;
    default:
      return 0;
  }
}

void ReadAssetFile(SerializedFile& s, const OpenedArchive& a, Frontend& frontend, Reader& r) {
  s = SerializedFile();
  r.SetOrder(ByteOrder::Little);
  // A file too short for the header is not an asset file.
  if (a.AssetBase > r.Size() || r.Size() - a.AssetBase < 20) {
    BuildRawSingleFile(s, a, r);
    return;
  }
  r.Seek(a.AssetBase);
  const uint32_t metadata_size = r.U32(ByteOrder::Big);
  s.AssetFileSize = r.U32(ByteOrder::Big);
  s.FormatVersion = r.U32(ByteOrder::Big);
  uint64_t data_offset = r.U32(ByteOrder::Big);
  const uint64_t available = r.Size() - a.AssetBase;
  const bool wide_header = s.FormatVersion >= kFirstWideHeaderFormat;
  if (wide_header) {
    // The 32-bit fields above are 0; the wide ones follow the endianness word.
    if (available < kWideHeaderBytes) {
      BuildRawSingleFile(s, a, r);
      return;
    }
    s.BigEndian = r.U32(ByteOrder::Little);
    r.U32(ByteOrder::Big);  // metadata size
    s.AssetFileSize = r.U64(ByteOrder::Big);
    data_offset = r.U64(ByteOrder::Big);
    r.Skip(8);
    s.FileSizeFieldPos = 24;
    s.FileSizeFieldBytes = 8;
  } else if (s.FormatVersion >= kFirstTrailingMetadataFormat &&
             s.FormatVersion < kFirstLeadingMetadataFormat) {
    // The metadata lies at the end of the file and begins with the endianness byte.
    if (s.AssetFileSize > available || metadata_size > s.AssetFileSize ||
        s.AssetFileSize - metadata_size < 16) {
      BuildRawSingleFile(s, a, r);
      return;
    }
    r.Seek(a.AssetBase + s.AssetFileSize - metadata_size);
    s.MetadataAtEnd = true;
    s.BigEndian = r.U8();
    if (s.BigEndian > 1) {
      BuildRawSingleFile(s, a, r);
      return;
    }
  } else {
    s.BigEndian = r.U32(ByteOrder::Little);
  }
  if (data_offset > UINT64_MAX - a.AssetBase) {
    BuildRawSingleFile(s, a, r);
    return;
  }
  s.DataStart = a.AssetBase + data_offset;
  // Format 6 states no version; later ones the text the engine wrote.
  std::string version;
  if (!s.MetadataAtEnd || s.FormatVersion >= 7) version = r.CStringToEnd(16);
  s.UnityVersion = version;
  s.MajorVersion = MajorVersionOf(version, s.FormatVersion);
  const EngineVersion stated = ParseEngineVersion(version);
  // Bundled files of some engines say "0.0.0"; the bundle header then knows the version.
  const EngineVersion bundled =
      a.Bundle.IsBundle() ? ParseEngineVersion(a.Bundle.EngineVersion) : EngineVersion();
  const bool stripped = stated.Known && stated.Major == 0;
  // A stripped version is the user's to name (--engine), else the bundle's, else inferred once
  // the type trees are read.
  const EngineVersion named = NamedEngine(a.EngineOption);
  const bool infer = stripped && !named.Known && !(bundled.Known && bundled.Major > 0) &&
                     s.FormatVersion >= kFirstInferredFormat;
  const EngineVersion assumed = named.Known ? named : infer ? InferEngine(s) : bundled;
  if (s.MajorVersion == 0 && stripped && assumed.Known && assumed.Major > 0)
    s.MajorVersion = assumed.Major;
  if (s.MajorVersion == 0 && s.MetadataAtEnd && (s.FormatVersion == 6 || stated.Known))
    s.MajorVersion = stated.Known && stated.Major > 0 ? stated.Major : 3;
  if (s.FormatVersion > kLatestFormat && s.MajorVersion != 0)
    throw Error("Unsupported asset file: serialized format " + std::to_string(s.FormatVersion) +
                " is not supported yet (engine " + version + ").");
  if (s.MajorVersion == 0) {
    BuildRawSingleFile(s, a, r);
    return;
  }
  s.Engine = stated;
  if ((!s.Engine.Known || s.Engine.Major == 0) && assumed.Known) s.Engine = assumed;
  r.SetOrder(s.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little);
  if (!s.MetadataAtEnd || s.FormatVersion >= 8) s.Platform = r.I32();
  frontend.ProcessMessages();
  s.Layout = RecordLayoutForFormat(s.FormatVersion);
  if (s.FormatVersion > 9) {
    s.TypeTreeFlag = r.U8();
  }
  s.TypeCount = r.U32();

  bool table_found = true;
  const uint64_t type_list_start = r.Tell();
  if (s.FormatVersion <= 13) {
    WalkOldTypeList(s, r);
  } else if (s.FormatVersion <= 15) {
    if (s.TypeTreeFlag) {
      table_found = SearchObjectTable(s, a.AssetBase, r) ||
                    WalkTreesInstead(s, a.AssetBase, r, type_list_start);
      if (!table_found) s.Warnings.push_back("Error: Not find offsets.");
      if (table_found && s.Types.empty()) KeepTreesOfHashedList(s, r, type_list_start);
    } else {
      WalkHashedTypeList(s, r, false);
    }
  } else {
    WalkModernTypeList(s, r);
  }

  // Without a first record there is no table to read: the list stays empty.
  if (!table_found) return;
  s.ObjectCount = r.U32();
  if (s.FormatVersion > 9) {
    uint64_t rel = r.Tell() - a.AssetBase;
    r.Seek(a.AssetBase + ((rel + 3) & ~uint64_t{3}));
  }
  if (s.ObjectCount > r.Remaining() / s.Layout.RecordBytes)
    throw Error("Malformed asset file: object count " + std::to_string(s.ObjectCount) +
                " is more than the file can hold.");
  s.ObjectTableStart = r.Tell();
  ReadObjectRecords(s, r);
  if (s.FormatVersion >= 20 && s.TypeTreeFlag) ReadReferenceTypes(s, a.AssetBase, r);
  ResolveExtractedTrees(s, a, r);
  if (infer) {
    s.Engine = InferEngine(s);
    s.MajorVersion = s.Engine.Major;
    const bool by_trees = !assumed.AtLeast(s.Engine.Major, s.Engine.Minor);
    s.Warnings.push_back("The file states no engine version (\"" + version +
                         "\"): it is read as engine " + VersionText(s.Engine) +
                         " (inferred from its " + (by_trees ? "type trees" : "format") +
                         "); --engine <version> names another.");
  }
}

}  // namespace kestrix
