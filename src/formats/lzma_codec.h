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

// Decodes the stream whose property bytes are `props` and whose coded data are the `length`
// bytes of `source` at `pos`, handing exactly `out_size` bytes to `sink`. Streams with and
// without an end marker are accepted. Memory stays bounded by the dictionary (at most
// `out_size`) and two chunk buffers, whatever the stream's size.
// Throws Error "Incorrect stream properties lzma." or "Error lzma in data stream.".
void LzmaDecode(const uint8_t props[5], ByteSource& source, uint64_t pos, uint64_t length,
                uint64_t out_size, const ByteSink& sink);

}  // namespace kestrix
