// The 128-bit content hash the export record keeps of objects and written files, computed in
// pieces as bytes go by, so that a file can be hashed while it is written instead of read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrix {

struct ContentHash {
  uint64_t high = 0, low = 0;
  bool operator==(const ContentHash& o) const { return high == o.high && low == o.low; }
  bool operator!=(const ContentHash& o) const { return !(*this == o); }
};

class ContentHasher {
 public:
  ContentHasher();
  ~ContentHasher();
  ContentHasher(const ContentHasher&) = delete;
  ContentHasher& operator=(const ContentHasher&) = delete;

  void Add(const void* data, size_t n);
  ContentHash Digest() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kestrix
