// The import plan: from the raw files an import takes and the open archive, everything the
// write will do, worked out before a byte is written. Which objects change and how, where every
// object then lies, the new object table and header size, and the new file as a list of splices
// over the old one. Making the plan reads the archive and the raw files; it writes nothing, so a
// file that does not fit is refused while the archive is still as it was.
//
// Objects keep the alignment the engine gives them: objects follow each other at multiples of 8
// bytes. When an object grows or shrinks by an amount that is not a multiple of 8, the padding
// after it is made anew (zeros), so that every later object keeps its place modulo 8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/bundle_repack.h"
#include "import/resource_edits.h"

namespace kestrix {

struct Session;
class FileSource;

// One entry's payload replaced by one raw file. The bytes [region_start, region_end) of the
// working file give way to the new ones: for an embedded file its length field, the file and the
// zero padding; for any other object the file alone, up to the object's end.
struct Replacement {
  size_t entry = 0;
  std::string path;
  uint64_t length = 0;      // of the raw file
  uint64_t old_length = 0;  // embedded: the length its field stated
  int64_t change = 0;       // of the object's size
  bool embedded = false;
  uint64_t region_start = 0;
  uint64_t region_end = 0;
  bool texture = false;  // the type text follows the file's format code
  int32_t texture_format = 0;
  std::string type_text;
};

// A piece of the new file: the old bytes [start, end) give way to `bytes`, or to the raw file
// of replacement `replacement` (its length field and padding included). start == end inserts.
struct Splice {
  uint64_t start = 0, end = 0;
  std::vector<uint8_t> bytes;
  long replacement = -1;  // index into ImportPlan::replacements, or -1
};

struct ImportPlan {
  std::vector<Replacement> replacements;  // in the order the raw files were taken
  std::vector<Splice> splices;            // in file order, none overlapping
  std::vector<uint64_t> new_offset;       // per object, from DataStart
  std::vector<uint32_t> new_size;         // per object
  uint64_t new_asset_file_size = 0;
  int64_t net_change = 0;   // of the asset's length
  // Resource entries of the bundle that grew (new data appended to them), and by how much in
  // all: the working file changes by net_change + resource_change.
  std::vector<ContainedChange> contained_changes;
  int64_t resource_change = 0;
  uint64_t new_length = 0;  // of the working file
  bool same_size = false;   // nothing moves: every new payload fills its old region exactly
};

// Checks the raw file at `path` for entry `entry` and works out what it replaces. Throws Error
// naming the file when it does not fit (not a regular file, an object size past its 32-bit
// field, an object past the archive's end).
Replacement PrepareReplacement(const Session& session, size_t entry, const std::string& path,
                               uint64_t working_size);

// Works out the plan for the checked replacements (an empty raw file of the old length has
// nothing to write and is left out). Throws Error when they do not fit together (overlapping
// objects, a table that does not lie where it is rewritten, an offset past its field).
// `resource_writes` (import/resource_edits.h) go in with the raw file they belong to: the last
// one made for an entry whose replacement is the very file it was made with; the bytes of
// appended writes left out become zeros, so that later ones keep their offsets. A resource entry
// that grows must lie after the asset file in the working file.
ImportPlan PlanImport(const Session& session, FileSource& working,
                      std::vector<Replacement> replacements,
                      const std::vector<ResourceWrite>& resource_writes = {});

// An embedded file's length rounded up to the 4-byte boundary its padding reaches.
inline uint64_t Round4(uint64_t v) { return (v + 3) & ~uint64_t{3}; }

// Whether the plan writes anything: an empty file of the old length has nothing to write.
inline bool PlanChangesNothing(const ImportPlan& plan) { return plan.replacements.empty(); }

}  // namespace kestrix
