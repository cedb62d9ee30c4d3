#include "platform/content_hash.h"

#include <xxhash.h>

#include <new>

namespace kestrix {

struct ContentHasher::State {
  XXH3_state_t* xxh = nullptr;
};

ContentHasher::ContentHasher() : state_(std::make_unique<State>()) {
  state_->xxh = XXH3_createState();
  if (!state_->xxh) throw std::bad_alloc();
  XXH3_128bits_reset(state_->xxh);
}

ContentHasher::~ContentHasher() { XXH3_freeState(state_->xxh); }

void ContentHasher::Add(const void* data, size_t n) {
  if (n != 0) XXH3_128bits_update(state_->xxh, data, n);
}

ContentHash ContentHasher::Digest() const {
  const XXH128_hash_t h = XXH3_128bits_digest(state_->xxh);
  return {h.high64, h.low64};
}

}  // namespace kestrix
