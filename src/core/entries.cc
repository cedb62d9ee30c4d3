#include "core/entries.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/error.h"
#include "platform/memory.h"

namespace kestrix {

char* NameBuffer::Reserve(size_t n) {
  if (n > kMaxText) throw Error("An entry name of " + std::to_string(n) + " bytes is too long.");
  if (blocks_.empty() || used_ + n > kBlockSize) {
    if (blocks_.size() >= (size_t{1} << (32 - kBlockBits)))
      throw Error("The entry names take more than 4 GiB.");
    char* block = static_cast<char*>(AlignedAlloc(size_t{2} << 20, kBlockSize));
    if (block == nullptr) throw std::bad_alloc();
    // Huge pages only once the names outgrow a block: a small archive's names touch a few
    // small pages, where a huge one would be zeroed whole.
    if (!blocks_.empty()) AdviseHugePages(block, kBlockSize);
    blocks_.emplace_back(block);
    used_ = 0;
  }
  return blocks_.back().get() + used_;
}

void NameBuffer::FreeBlock::operator()(char* p) const { AlignedFree(p); }

uint32_t NameBuffer::Commit(size_t length) {
  const uint32_t ref = static_cast<uint32_t>(((blocks_.size() - 1) << kBlockBits) | used_);
  used_ += length;
  return ref;
}

uint32_t NameBuffer::Append(NameBuffer&& other) {
  if (other.blocks_.empty()) return 0;
  if (blocks_.size() + other.blocks_.size() > (size_t{1} << (32 - kBlockBits)))
    throw Error("The entry names take more than 4 GiB.");
  const uint32_t shift = static_cast<uint32_t>(blocks_.size() << kBlockBits);
  for (auto& block : other.blocks_) blocks_.push_back(std::move(block));
  used_ = other.used_;
  other.Clear();
  return shift;
}

uint32_t NameBuffer::Add(std::string_view text) {
  char* at = Reserve(text.size());
  if (!text.empty()) std::memcpy(at, text.data(), text.size());
  return Commit(text.size());
}

uint32_t EntryList::DuplicateNumber(size_t i) const {
  const uint32_t entry = static_cast<uint32_t>(i);
  auto it = std::lower_bound(duplicates_.begin(), duplicates_.end(), entry,
                             [](const auto& d, uint32_t e) { return d.first < e; });
  return it != duplicates_.end() && it->first == entry ? it->second : 0;
}

void EntryList::Reset(size_t count) {
  ResizeLarge(entries_, count);
  names_.Clear();
  types_.Clear();
  duplicates_.clear();
  PrefixSkip = 0;
  InternType(std::string(), 0);  // id 0: no type text
}

void EntryList::SetName(size_t i, std::string_view name) {
  Entry& e = entries_[i];
  e.NameRef = names_.Add(name);
  e.NameLength = static_cast<uint16_t>(name.size());
}

uint32_t TypeTexts::Intern(const std::string& text, int32_t texture_format) {
  std::string key = text;
  key.append(reinterpret_cast<const char*>(&texture_format), sizeof texture_format);
  auto [it, added] = index_.try_emplace(std::move(key), static_cast<uint32_t>(types_.size()));
  if (added) types_.push_back({text, texture_format});
  return it->second;
}

void EntryList::AdoptPart(size_t begin, size_t end, NameBuffer&& names, const TypeTexts& types) {
  const uint32_t shift = names_.Append(std::move(names));
  std::vector<uint32_t> ids(types.Count());
  for (uint32_t k = 0; k < ids.size(); ++k)
    ids[k] = InternType(types[k].Text, types[k].TextureFormat);
  for (size_t i = begin; i < end; ++i) {
    entries_[i].NameRef += shift;
    entries_[i].TypeTextId = ids[entries_[i].TypeTextId];
  }
}

}  // namespace kestrix
