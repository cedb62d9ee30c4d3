// Objects as JSON, read through the file's own type tree (types/tree_walker.h), one file per
// object: Json/<entry name>.json in the export folder. Kept out of the folder's top level, where
// every file is a raw object file the import takes.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "types/tree_walker.h"

namespace kestrix {

struct Session;
class Reader;

inline constexpr char kJsonFolder[] = "Json";

// The layout object `index` is read and rebuilt through: the file's own type tree, else the
// built-in one of its class and engine (types/builtin_trees.h); nullptr when neither is known,
// and always for script objects of files without trees.
const TypeTree* ObjectLayoutTree(const SerializedFile& file, size_t index);

// The walkers of one run, one per type tree, so that a tree is taken apart once.
class ObjectTrees {
 public:
  // The walker for object `index`. Throws Error "no type tree: ..." when ObjectLayoutTree knows
  // none: its fields are then unknown (a MonoBehaviour's fields come from its script, and are
  // never guessed).
  const ObjectTree& For(const Session& session, size_t index);

 private:
  std::map<const void*, std::unique_ptr<ObjectTree>> trees_;
};

// What a JSON export run wrote and passed over.
struct JsonTally {
  size_t written = 0;
  size_t skipped = 0;
  std::map<std::string, size_t> reasons;  // why objects were passed over, with how many
  ObjectTrees trees;
};

// Writes object `index` as JSON below `folder` (the export folder), or counts it as passed over
// in `tally` when its layout is not known or its bytes do not fit its tree. Throws only when the
// file cannot be written.
void ExportObjectJson(const Session& session, size_t index, Reader& data, const std::string& folder,
                      JsonTally& tally);

// The run's summary lines: how many objects were written and passed over, and why.
std::string JsonSummary(const JsonTally& tally);

}  // namespace kestrix
