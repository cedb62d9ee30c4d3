#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace kestrix {

void AdviseHugePages(void* data, size_t bytes) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (bytes < kHuge || data == nullptr) return;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kLargeArray = 2 * kHugePage;
}  // namespace

void* AllocateArray(size_t bytes) {
  if (bytes < kLargeArray) return ::operator new(bytes);
  // aligned_alloc wants a multiple of the alignment; the part past `bytes` is never touched.
  const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void* data = std::aligned_alloc(kHugePage, rounded);
  if (data == nullptr) throw std::bad_alloc();
  // The last, partly used huge page stays in small pages, which are only taken as they are used.
  AdviseHugePages(data, bytes);
  return data;
}

void FreeArray(void* data, size_t bytes) noexcept {
  if (bytes < kLargeArray)
    ::operator delete(data);
  else
    std::free(data);
}

}  // namespace kestrix
