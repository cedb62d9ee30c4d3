#include "formats/lz4_codec.h"

#include <lz4.h>

#include <algorithm>
#include <climits>

#include "core/error.h"

namespace kestrix {

static_assert(kMaxBlockSize <= LZ4_MAX_INPUT_SIZE &&
                  LZ4_COMPRESSBOUND(static_cast<uint64_t>(kMaxBlockSize)) <= INT_MAX,
              "a planned block must fit one LZ4 block, packed or not");

bool Lz4SizesPossible(uint64_t compressed, uint64_t uncompressed) {
  return uncompressed <= compressed * 255 + 16;
}

void Lz4Decode(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size) {
  if (in_size > INT_MAX || out_size > INT_MAX) throw Error("Error size lz4 in data stream.");
  int got = LZ4_decompress_safe(reinterpret_cast<const char*>(in), reinterpret_cast<char*>(out),
                                static_cast<int>(in_size), static_cast<int>(out_size));
  if (got < 0 || static_cast<size_t>(got) != out_size)
    throw Error("Error size lz4 in data stream.");
}

size_t Lz4PackedRoom(size_t size) {
  if (size > LZ4_MAX_INPUT_SIZE) throw Error("Block too large for lz4.");
  return static_cast<size_t>(LZ4_compressBound(static_cast<int>(size)));
}

size_t Lz4EncodeInto(const uint8_t* in, size_t size, uint8_t* out, size_t room) {
  if (size > LZ4_MAX_INPUT_SIZE) throw Error("Block too large for lz4.");
  const int packed =
      LZ4_compress_default(reinterpret_cast<const char*>(in), reinterpret_cast<char*>(out),
                           static_cast<int>(size), static_cast<int>(room));
  // With the bound's room the compressor cannot fail; a packed size of 0 would be a liblz4 fault.
  if (packed <= 0) throw Error("LZ4 encoder failed.");
  return static_cast<size_t>(packed);
}

std::vector<uint32_t> PlanBlocks(uint64_t size, uint32_t max_block) {
  const uint64_t limit = std::clamp<uint32_t>(max_block, 1, kMaxBlockSize);
  const uint64_t count = std::max<uint64_t>(1, size / limit + (size % limit != 0));
  const uint64_t base = size / count;
  const uint64_t larger = size % count;  // blocks that take one byte more than `base`
  std::vector<uint32_t> sizes(static_cast<size_t>(count), static_cast<uint32_t>(base));
  std::fill_n(sizes.begin(), static_cast<size_t>(larger), static_cast<uint32_t>(base + 1));
  return sizes;
}

}  // namespace kestrix
