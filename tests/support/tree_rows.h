// Type trees written as a table, one row per node in the file's order: the shape tests and fuzz
// targets give the tree-driven reader. Header only, so that fuzz targets need no more sources.
#pragma once

#include <cstdint>
#include <string>

#include "core/serialized_file.h"

namespace kestrix::testing {

struct TreeRow {
  uint8_t level;
  const char* type;
  const char* name;
  int32_t size;
  uint8_t flags;  // 1: array
  uint32_t meta;  // 0x4000: aligned after
};

template <size_t N>
TypeTree TreeFromRows(const TreeRow (&rows)[N]) {
  TypeTree tree;
  for (const TreeRow& r : rows) {
    TypeTreeNode n;
    n.Level = r.level;
    n.TypeNameOffset = static_cast<uint32_t>(tree.Strings.size());
    tree.Strings += std::string(r.type) + '\0';
    n.FieldNameOffset = static_cast<uint32_t>(tree.Strings.size());
    tree.Strings += std::string(r.name) + '\0';
    n.ByteSize = r.size;
    n.TypeFlags = r.flags;
    n.MetaFlags = r.meta;
    tree.Nodes.push_back(n);
  }
  return tree;
}

}  // namespace kestrix::testing
