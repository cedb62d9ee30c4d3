// Memory hints for the large per-entry arrays of big archives.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace kestrix {

// Asks the kernel to back [data, data + bytes) with huge pages where it can, so that filling a
// large array costs a few page faults instead of one per 4 KiB. Only a hint: nothing changes
// when it is refused.
void AdviseHugePages(void* data, size_t bytes);

// aligned_alloc and free where the C runtime has them; Windows' own pair elsewhere (its free
// cannot take what an aligned allocation returned).
void* AlignedAlloc(size_t alignment, size_t bytes);
void AlignedFree(void* data) noexcept;

// Memory for a large array: from 4 MiB on it starts on a huge-page boundary and is advised as
// huge pages up to its last whole one, so a big array takes few 4 KiB page faults. FreeArray takes
// the size that was asked for.
void* AllocateArray(size_t bytes);
void FreeArray(void* data, size_t bytes) noexcept;

// An allocator whose vectors leave new elements of trivial types uninitialised when they grow:
// the large per-entry arrays are filled field by field right after they are sized, and writing
// every byte twice (once as zeros) costs a measurable share of opening a million objects. Large
// arrays are placed by AllocateArray.
template <typename T>
struct FillLaterAllocator : std::allocator<T> {
  FillLaterAllocator() = default;
  template <typename U>
  FillLaterAllocator(const FillLaterAllocator<U>&) noexcept {}
  template <typename U>
  struct rebind {
    using other = FillLaterAllocator<U>;
  };
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateArray(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { FreeArray(p, n * sizeof(T)); }
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// A vector of plain records that are filled right after they are sized.
template <typename T>
using FillLaterVector = std::vector<T, FillLaterAllocator<T>>;

// Sizes a vector to `count` elements (value-initialised; left as they come for FillLaterVector's
// plain records), advising huge pages for large ones before the elements are first touched.
template <typename T, typename A>
void ResizeLarge(std::vector<T, A>& v, size_t count) {
  v.clear();
  v.reserve(count);
  AdviseHugePages(v.data(), count * sizeof(T));
  v.resize(count);
}

}  // namespace kestrix
