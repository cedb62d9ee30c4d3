// The serialized asset file: header, engine version, type list and object records, as the asset
// reader (formats/asset_reader.cc) found them. Positions and sizes are 64-bit.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory.h"

namespace kestrix {

// An engine version text such as "2018.4.2f1" taken apart once. Type is the release letter
// ('a', 'b', 'f', 'p', 'x', ...; 0 when absent). Known is false when the text holds no number.
struct EngineVersion {
  int32_t Major = 0;
  int32_t Minor = 0;
  int32_t Patch = 0;
  char Type = 0;
  int32_t Build = 0;
  bool Known = false;

  // Orders by major, minor and patch (the release letter and build do not change layouts).
  bool AtLeast(int32_t major, int32_t minor = 0, int32_t patch = 0) const;
};

// Reads "major.minor.patch<letter><build>"; whatever does not fit leaves the later parts 0.
EngineVersion ParseEngineVersion(const std::string& text);

// One node of a type tree in its binary form (formats 14 and later; 32 bytes from format 19).
struct TypeTreeNode {
  uint16_t Version = 0;
  uint8_t Level = 0;
  uint8_t TypeFlags = 0;        // 1: the field is an array
  uint32_t TypeNameOffset = 0;  // into Strings, or with the top bit set into the engine's table
  uint32_t FieldNameOffset = 0;
  int32_t ByteSize = 0;
  int32_t Index = 0;
  uint32_t MetaFlags = 0;
  uint64_t RefTypeHash = 0;  // formats 19 and later
};

struct TypeTree {
  std::vector<TypeTreeNode> Nodes;
  std::string Strings;  // the local string buffer as stored
};

struct SerializedType {
  int32_t StoredClassId = 0;          // as stored
  int32_t ClassId = 0;                // scripts: 114 for index 0, else the negated script index
  TypeTree Tree;                      // empty when the file carries no type trees
  // Format 23 and later: the content hash of the tree, and whether the tree was extracted from
  // the file (a size of 0) to a bundle entry or a ".typetreedata" file named by that hash.
  std::array<uint8_t, 16> TreeHash{};
  bool TreeExtracted = false;
  std::vector<int32_t> Dependencies;  // format 21 and later: the types this one refers to
  // Reference types of format 21 and later: the managed class they describe.
  std::string ClassName, Namespace, AssemblyName;
};

// One object record. For formats before 16 the class is the record's type id word; from 16 on
// it is the class of the record's type index, which TypeIndex keeps (-1 before 16).
// Plain fields without initialisers: the reader fills every field of every record (a record made
// elsewhere is value-initialised, ObjectRecord{}).
struct ObjectRecord {
  int64_t PathId;
  uint64_t Offset;  // from DataStart
  uint32_t Size;
  int32_t ClassId;
};

// Where a format's object records keep their fields, for reading and for rewriting the table.
struct RecordLayout {
  uint32_t RecordBytes = 0;
  uint32_t PathIdBytes = 0;  // 4 or 8
  uint32_t OffsetPos = 0;
  uint32_t OffsetBytes = 4;  // 4, or 8 from format 22 on
  uint32_t SizePos = 0;
  uint32_t TypePos = 0;  // the type id word (before 16) or the type index (16 and later)
};
RecordLayout RecordLayoutForFormat(uint32_t format_version);

struct SerializedFile {
  uint64_t AssetFileSize = 0;  // the header's file-size field
  // Where that field lies from the asset's start, and how wide it is: 4 bytes at 4, or from
  // format 22 on 8 bytes at 24.
  uint32_t FileSizeFieldPos = 4;
  uint32_t FileSizeFieldBytes = 4;
  // Formats 6 to 8: the metadata (type list and object table) follows the object data, at the
  // end of the file.
  bool MetadataAtEnd = false;
  uint32_t FormatVersion = 0;
  uint64_t DataStart = 0;  // absolute: AssetBase + the header's data offset
  uint32_t BigEndian = 0;
  std::string UnityVersion;  // the text as stored
  int32_t MajorVersion = 0;  // 0: not an asset file (raw single-file mode)
  EngineVersion Engine;      // of the text, or of the bundle's when the file says "0.0.0"
  int32_t Platform = 0;
  uint8_t TypeTreeFlag = 0;
  uint32_t TypeCount = 0;
  std::vector<SerializedType> Types;  // formats 16 and later (and 14-15 read without the search)
  std::vector<int32_t> TypeClassIds;  // formats 16 and later: class per type index
  // Formats 20 and later with type trees: the types of managed references, stored after the
  // object table.
  std::vector<SerializedType> ReferenceTypes;
  uint64_t ObjectCount = 0;  // records read; stays 0 in raw single-file mode
  uint64_t ObjectTableStart = 0;
  RecordLayout Layout;
  FillLaterVector<ObjectRecord> Objects;
  FillLaterVector<int32_t> TypeIndex;  // per object, formats 16 and later only
  // Notes for the user that did not stop the read ("Error: Not find offsets."), in order; the
  // open shows them.
  std::vector<std::string> Warnings;
  bool RawSingleFile = false;
  std::string ShownKind;  // raw single-file mode: "OggS", "MP3", ... or "unknown"

  bool IsBigEndian() const { return BigEndian == 1; }

  // For the import driver, once the rebuilt file is in place: where object i now lies and how
  // long it is, and the header's new file size.
  void MoveObject(size_t i, uint64_t offset, uint32_t size) {
    Objects[i].Offset = offset;
    Objects[i].Size = size;
  }
  void SetAssetFileSize(uint64_t size) {
    // Metadata at the end of the file moves with its length.
    if (MetadataAtEnd) ObjectTableStart = ObjectTableStart - AssetFileSize + size;
    AssetFileSize = size;
  }
};

}  // namespace kestrix
