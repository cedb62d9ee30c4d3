// Memory hints for the large per-entry arrays of big archives.
#pragma once

#include <cstddef>
#include <vector>

namespace kestrix {

// Asks the kernel to back [data, data + bytes) with huge pages where it can, so that filling a
// large array costs a few page faults instead of one per 4 KiB. Only a hint: nothing changes
// when it is refused.
void AdviseHugePages(void* data, size_t bytes);

// Sizes a vector to `count` elements (value-initialised), advising huge pages for large ones
// before the elements are first touched.
template <typename T>
void ResizeLarge(std::vector<T>& v, size_t count) {
  v.clear();
  v.reserve(count);
  AdviseHugePages(v.data(), count * sizeof(T));
  v.resize(count);
}

}  // namespace kestrix
