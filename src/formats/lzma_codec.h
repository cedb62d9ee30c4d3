// Raw LZMA1 streams as bundles carry them: five property bytes (the lc/lp/pb byte and a
// little-endian dictionary size) followed by the coded data, decoded to a size known beforehand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kestrix {

class ByteSource;

// Receives decoded bytes in order, in pieces of any size.
using ByteSink = std::function<void(const uint8_t* data, size_t size)>;

// Whether `uncompressed` bytes can come out of `compressed` bytes of coded data at all. The
// cheapest thing a stream can say is a 273-byte repeat in twelve near-certain decisions, which
// bounds the expansion near 8,300 times; twice that is allowed, and a larger claim is refused
// before the decoder reserves a dictionary for it.
bool LzmaSizesPossible(uint64_t compressed, uint64_t uncompressed);

// Decodes the stream whose property bytes are `props` and whose coded data are the `length`
// bytes of `source` at `pos`, handing exactly `out_size` bytes to `sink`. Streams with and
// without an end marker are accepted. Memory stays bounded by the dictionary (at most
// `out_size`) and two chunk buffers, whatever the stream's size. A size that `length` coded
// bytes cannot produce is refused before anything is allocated.
// Throws Error "Incorrect stream properties lzma." or "Error lzma in data stream.".
void LzmaDecode(const uint8_t props[5], ByteSource& source, uint64_t pos, uint64_t length,
                uint64_t out_size, const ByteSink& sink);

}  // namespace kestrix
