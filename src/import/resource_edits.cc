#include "import/resource_edits.h"

#include <utility>

#include "core/error.h"
#include "platform/byte_source.h"

namespace kestrix {

void RefuseWebDataResource(const ContainedResource& resource, const std::string& source) {
  if (resource.InWebData())
    throw Error("Cannot import " + source + ": its data lies in " + resource.name +
                ", an entry of the web data file outside the bundle, which import does not "
                "rewrite yet.");
}

namespace {

constexpr uint64_t kResourceAlignment = 16;

}  // namespace

ResourceWrite ResourceEdits::Place(size_t entry, const ContainedResource& resource,
                                   uint64_t old_offset, uint64_t old_length, uint64_t length) {
  ResourceWrite w;
  w.entry = entry;
  w.contained = resource.index;
  if (length == old_length && old_offset <= resource.size &&
      old_length <= resource.size - old_offset) {
    w.offset = old_offset;
    return w;
  }
  uint64_t& grown = appended_[resource.index];
  const uint64_t end = resource.size + grown;
  w.offset = (end + kResourceAlignment - 1) / kResourceAlignment * kResourceAlignment;
  w.appended = true;
  grown = w.offset + length - resource.size;
  return w;
}

void ResourceEdits::Add(ResourceWrite write, const std::vector<uint8_t>& raw) {
  MemorySource bytes(raw);
  write.raw_hash = HashBytes(bytes, 0, raw.size());
  writes_.push_back(std::move(write));
}

}  // namespace kestrix
