#include "formats/lz4_codec.h"

#include <lz4.h>

#include <climits>

#include "core/error.h"

namespace kestrix {

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

}  // namespace kestrix
