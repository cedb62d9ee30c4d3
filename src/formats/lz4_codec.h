// LZ4 blocks (the block format, no frame) as version 6 bundles carry them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix {

// Whether `uncompressed` bytes can come out of `compressed` bytes of LZ4 data at all: a block
// expands at most about 255 times, so a larger claim is refused before anything is allocated.
bool Lz4SizesPossible(uint64_t compressed, uint64_t uncompressed);

// Decodes one block into exactly `out_size` bytes at `out`.
// Throws Error "Error size lz4 in data stream." when the data does not decode to that size.
void Lz4Decode(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size);

}  // namespace kestrix
