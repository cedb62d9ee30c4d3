#include "core/serialized_file.h"

#include <cctype>

namespace kestrix {

namespace {

// Reads digits at `p`; false when there are none or too many for an int.
bool ReadNumber(const std::string& text, size_t& p, int32_t& out) {
  size_t start = p;
  int64_t value = 0;
  while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
    value = value * 10 + (text[p] - '0');
    if (value > INT32_MAX) return false;
    ++p;
  }
  out = static_cast<int32_t>(value);
  return p > start;
}

}  // namespace

bool EngineVersion::AtLeast(int32_t major, int32_t minor, int32_t patch) const {
  if (Major != major) return Major > major;
  if (Minor != minor) return Minor > minor;
  return Patch >= patch;
}

EngineVersion ParseEngineVersion(const std::string& text) {
  EngineVersion v;
  size_t p = 0;
  if (!ReadNumber(text, p, v.Major)) return EngineVersion();
  v.Known = true;
  if (p >= text.size() || text[p] != '.') return v;
  ++p;
  if (!ReadNumber(text, p, v.Minor)) return v;
  if (p >= text.size() || text[p] != '.') return v;
  ++p;
  if (!ReadNumber(text, p, v.Patch)) return v;
  if (p < text.size() && std::isalpha(static_cast<unsigned char>(text[p]))) {
    v.Type = text[p++];
    ReadNumber(text, p, v.Build);
  }
  return v;
}

RecordLayout RecordLayoutForFormat(uint32_t format) {
  RecordLayout l;
  if (format <= 9) {
    // path id, offset, size, type id, class id and a second 16-bit field
    l = {20, 4, 4, 4, 8, 12};
  } else if (format <= 14) {
    // 64-bit path id, offset, size, type id, class id and script index
    l = {24, 8, 8, 4, 12, 16};
  } else if (format == 15) {
    l = {28, 8, 8, 4, 12, 16};  // as 14, then the stripped flag and padding
  } else if (format == 16) {
    l = {24, 8, 8, 4, 12, 16};  // type index, then the script index with the stripped byte
  } else if (format < 22) {
    l = {20, 8, 8, 4, 12, 16};  // 64-bit path id, offset, size, type index
  } else {
    l = {24, 8, 8, 8, 16, 20};  // 64-bit offsets
  }
  return l;
}

}  // namespace kestrix
