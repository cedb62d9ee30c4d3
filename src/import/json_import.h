// Objects edited as JSON back into raw object files: the JSON is rebuilt through the object's
// type tree (types/tree_walker.h) into the object's bytes, and the payload part of them becomes
// the raw file the import plan takes like any other.
#pragma once

#include "import/importer.h"

namespace kestrix {

// Throws Error "Cannot import <path>: ..." naming the field's path when the JSON does not fit
// the layout; writes nothing when the rebuilt object is the one in the archive.
void ImportJson(const ImporterCall& call, ImporterContext& ctx);

// The raw file that turns `old_object` into `new_object` through the plan's replacement of
// entry `entry` (the payload after the header, or for objects that embed a file the embedded
// bytes). Throws Error when the two differ where a raw file cannot reach: the name and the
// fields before the payload, which make the entry's name and place.
std::vector<uint8_t> RawFileFor(const Session& session, size_t entry,
                                const std::vector<uint8_t>& old_object,
                                const std::vector<uint8_t>& new_object);

}  // namespace kestrix
