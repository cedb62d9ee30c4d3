// Case folding as Kestrix does it everywhere: only the ASCII letters fold; every other byte
// (UTF-8 text included) compares as it is.
#pragma once

#include <string_view>

namespace kestrix {

inline unsigned char AsciiFold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

inline bool AsciiEqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiFold(static_cast<unsigned char>(a[i])) != AsciiFold(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace kestrix
