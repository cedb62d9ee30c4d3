#include "platform/memory.h"

#ifndef _WIN32
#include <sys/mman.h>
#endif

#include <cstdint>
#include <cstdlib>
#ifdef _WIN32
#include <malloc.h>
#endif
#include <new>

namespace kestrix {

void AdviseHugePages(void* data, size_t bytes) {
#ifdef _WIN32
  // Large pages on Windows need a privilege users do not have: nothing to advise.
  (void)data;
  (void)bytes;
#else
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (bytes < kHuge || data == nullptr) return;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

void* AlignedAlloc(size_t alignment, size_t bytes) {
#ifdef _WIN32
  return _aligned_malloc(bytes, alignment);
#else
  return std::aligned_alloc(alignment, bytes);
#endif
}

void AlignedFree(void* data) noexcept {
#ifdef _WIN32
  _aligned_free(data);
#else
  std::free(data);
#endif
}

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kLargeArray = 2 * kHugePage;
}  // namespace

void* AllocateArray(size_t bytes) {
  if (bytes < kLargeArray) return ::operator new(bytes);
  // aligned_alloc wants a multiple of the alignment; the part past `bytes` is never touched.
  const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void* data = AlignedAlloc(kHugePage, rounded);
  if (data == nullptr) throw std::bad_alloc();
  // The last, partly used huge page stays in small pages, which are only taken as they are used.
  AdviseHugePages(data, bytes);
  return data;
}

void FreeArray(void* data, size_t bytes) noexcept {
  if (bytes < kLargeArray)
    ::operator delete(data);
  else
    AlignedFree(data);
}

}  // namespace kestrix
