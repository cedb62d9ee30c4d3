// Type trees for files built without them (player builds): what the engine of a given version
// serializes for the classes Kestrix knows, as the real tree of that version would state it
// (nodes, strings, array and alignment flags), so that the tree-driven reader and writer take
// these objects like any other. Script objects (MonoBehaviour) are never among them: their
// fields come from their scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/serialized_file.h"

namespace kestrix {

// The newest engine generation the tables were checked against; later ones get no built-in
// tree rather than a guess.
inline constexpr int32_t kNewestTableMajor = 6000;

// The built-in tree of a class for an engine version, or nullptr when none is known (the class,
// an unknown version, or an engine newer than the tables). Built on first use and kept for the
// life of the program, so the pointer stays valid and may key caches.
const TypeTree* BuiltInTypeTree(int32_t class_id, const EngineVersion& engine);

// The classes that have built-in trees, for messages and tests.
std::vector<int32_t> BuiltInTreeClasses();

}  // namespace kestrix
