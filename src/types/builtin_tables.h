// The text of the built-in layout tables (types/builtin_trees.h reads it) and the classes that
// have one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix {

struct BuiltInClass {
  int32_t class_id;
  const char* block;  // the table block of the class
  // The engines the block describes: from (inclusive) to until (exclusive; 0.0: no end). A
  // class may have several entries for the generations it covers.
  int32_t from_major = 0, from_minor = 0;
  int32_t until_major = 0, until_minor = 0;
};

extern const BuiltInClass kBuiltInClasses[];
extern const size_t kBuiltInClassCount;
extern const char kBuiltInTableText[];

}  // namespace kestrix
