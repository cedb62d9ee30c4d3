// New bytes for the resource entries of the open bundle (contained ".resS" and ".resource" files),
// gathered while the importers run. An importer whose object keeps its data in such an entry puts
// the new data there rather than into the object: it asks where the bytes go (Place), points the
// raw object file's offset and size at them, and hands both over (Add). The plan then writes the
// bytes with the raw file they belong to, and leaves out bytes whose raw file did not go in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/bundle_resource.h"
#include "export/export_record.h"

namespace kestrix {

struct OpenedArchive;

struct ResourceWrite {
  size_t entry = 0;       // the object whose raw file points at the bytes
  int contained = -1;     // the contained file they go into
  uint64_t offset = 0;    // in the contained file
  bool appended = false;  // past the contained file's end (it grows); else over old bytes
  std::vector<uint8_t> bytes;
  ContentHash raw_hash;  // of the raw file that points at them
};

// Resource data kept as an entry of a web data file, beside the bundle being imported into,
// is read by export but not rewritten: the import of `source` is refused (throws Error) rather
// than leaving the object pointing at data that did not change.
void RefuseWebDataResource(const ContainedResource& resource, const std::string& source);

class ResourceEdits {
 public:
  explicit ResourceEdits(const OpenedArchive& archive) : archive_(archive) {}
  const OpenedArchive& Archive() const { return archive_; }

  // Where `length` new bytes go for entry `entry`, whose data lies now at [old_offset, old_offset
  // + old_length) of `resource`: over the old bytes when the new ones have their length (the
  // commit makes the change whole or not at all), else after the contained file's end and what
  // this run appended to it before, at a multiple of 16 as the engine places resource data.
  ResourceWrite Place(size_t entry, const ContainedResource& resource, uint64_t old_offset,
                      uint64_t old_length, uint64_t length);
  // Keeps `write` (its bytes filled in) for the raw file of bytes `raw`.
  void Add(ResourceWrite write, const std::vector<uint8_t>& raw);
  const std::vector<ResourceWrite>& Writes() const { return writes_; }

 private:
  const OpenedArchive& archive_;
  std::map<int, uint64_t> appended_;  // per contained file, the bytes this run appended
  std::vector<ResourceWrite> writes_;
};

}  // namespace kestrix
