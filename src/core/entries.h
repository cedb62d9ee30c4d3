// The entries of the open archive: one per object, with the file name the naming pass gave it,
// its type text and texture format, and where its payload lies inside the object. Written by the
// naming pass (types/naming.cc) alone. Big archives hold millions of entries, so names live in
// one shared buffer and the few distinct type texts are kept once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/memory.h"

namespace kestrix {

// Append-only text storage in blocks that never move, so a reference stays valid and growing
// never copies what is there.
class NameBuffer {
 public:
  // Stores a text of at most kMaxText bytes and returns its reference.
  uint32_t Add(std::string_view text);
  // Room for a text of at most n (<= kMaxText) bytes, to be written in place and kept by Commit.
  char* Reserve(size_t n);
  // Keeps the `length` bytes written at the reserved place; returns their reference.
  uint32_t Commit(size_t length);
  // Takes over the texts of `other`, which is left empty. Returns what is added to the references
  // `other` gave to make them references of this buffer.
  uint32_t Append(NameBuffer&& other);
  std::string_view Get(uint32_t ref, uint32_t length) const {
    return {blocks_[ref >> kBlockBits].get() + (ref & kBlockMask), length};
  }
  void Clear() {
    blocks_.clear();
    used_ = kBlockSize;
  }
  static constexpr size_t kMaxText = 4096;

 private:
  // 4 MiB blocks on huge-page boundaries: a million names fill a few, at a few page faults.
  static constexpr uint32_t kBlockBits = 22;
  static constexpr size_t kBlockSize = size_t{1} << kBlockBits;
  static constexpr uint32_t kBlockMask = kBlockSize - 1;
  struct FreeBlock {
    void operator()(char* p) const;
  };
  std::vector<std::unique_ptr<char[], FreeBlock>> blocks_;
  size_t used_ = kBlockSize;  // in the last block
};

// A type text shared by many entries: the class name, for textures with the format's name.
struct TypeTextInfo {
  std::string Text;
  int32_t TextureFormat = 0;
};

// Type texts, each kept once under its number.
class TypeTexts {
 public:
  uint32_t Intern(const std::string& text, int32_t texture_format);
  const TypeTextInfo& operator[](uint32_t id) const { return types_[id]; }
  size_t Count() const { return types_.size(); }
  void Clear() {
    types_.clear();
    index_.clear();
  }

 private:
  std::vector<TypeTextInfo> types_;
  std::unordered_map<std::string, uint32_t> index_;
};

// Plain fields without initialisers: the naming pass sets every field of every entry.
struct Entry {
  uint32_t NameRef;
  uint16_t NameLength;
  uint16_t NameFieldSize;  // the length-prefixed object name, padded (0 when not read)
  uint32_t PayloadSkip;    // bytes between the name field and the payload (texts: 4)
  uint32_t PayloadLength;  // embedded files: the length their field states
  uint32_t TypeTextId;
};

class EntryList {
 public:
  size_t Count() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  const Entry& operator[](size_t i) const { return entries_[i]; }
  Entry& operator[](size_t i) { return entries_[i]; }

  std::string_view Name(size_t i) const {
    return names_.Get(entries_[i].NameRef, entries_[i].NameLength);
  }
  std::string NameText(size_t i) const { return std::string(Name(i)); }
  const std::string& TypeText(size_t i) const { return types_[entries_[i].TypeTextId].Text; }
  // The type text of a type text number (Entry::TypeTextId).
  const std::string& TypeTextOfId(uint32_t id) const { return types_[id].Text; }
  int32_t TextureFormat(size_t i) const { return types_[entries_[i].TypeTextId].TextureFormat; }
  // The number a duplicate name got (0: the name was not taken before).
  uint32_t DuplicateNumber(size_t i) const;
  // (entry, number) of the entries whose names got a number, in entry order.
  const std::vector<std::pair<uint32_t, uint32_t>>& Duplicates() const { return duplicates_; }

  // For the naming pass.
  void Reset(size_t count);
  void SetName(size_t i, std::string_view name);
  // The stores names and type texts are written to in place.
  NameBuffer& NameStore() { return names_; }
  TypeTexts& TypeStore() { return types_; }
  // Entries [begin, end) were named into stores of their own: their texts join this list's and
  // the entries are pointed at them.
  void AdoptPart(size_t begin, size_t end, NameBuffer&& names, const TypeTexts& types);
  uint32_t InternType(const std::string& text, int32_t texture_format) {
    return types_.Intern(text, texture_format);
  }
  // Numbers are given in entry order, each entry at most once.
  void SetDuplicateNumber(size_t i, uint32_t number) {
    duplicates_.push_back({static_cast<uint32_t>(i), number});
  }
  uint32_t PrefixSkip = 0;  // bytes before every object's name (28 on platforms below 0)

  // For the import driver, which replaces payloads: the length an embedded file's field now
  // states, and a replaced texture's format with its type text.
  void SetPayloadLength(size_t i, uint32_t length) { entries_[i].PayloadLength = length; }
  void SetTextureType(size_t i, const std::string& text, int32_t texture_format) {
    entries_[i].TypeTextId = InternType(text, texture_format);
  }

 private:
  FillLaterVector<Entry> entries_;
  NameBuffer names_;
  TypeTexts types_;
  // (entry, number) of the numbered entries, in entry order: few entries have one.
  std::vector<std::pair<uint32_t, uint32_t>> duplicates_;
};

}  // namespace kestrix
