// Raw LZMA1 streams as bundles carry them: five property bytes (the lc/lp/pb byte and a
// little-endian dictionary size), in version 3 bundles the uncompressed size as 8 bytes
// little-endian, then the coded data, decoded to a size known beforehand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kestrix {

class ByteSource;

// Receives decoded or encoded bytes in order, in pieces of any size.
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

// A place where a reader that streams coded data can stop: the first `coded` bytes of the coded
// data (after the properties and any size field) decode to the first `decoded` bytes.
struct LzmaCheckpoint {
  uint64_t coded = 0;
  uint64_t decoded = 0;
};

// For each of the increasing `ends` (each at most `out_size`), the fewest coded bytes whose
// decoding reaches that end, and all that those bytes decode to (at least the end, a little more
// when the last symbol they hold runs past it). The stream is given as for LzmaDecode; what it
// decodes to is not kept. Throws as LzmaDecode does.
std::vector<LzmaCheckpoint> LzmaCheckpoints(const uint8_t props[5], ByteSource& source,
                                            uint64_t pos, uint64_t length, uint64_t out_size,
                                            const std::vector<uint64_t>& ends);

// The property bytes of every stream Kestrix writes: lc 3, lp 0, pb 2 (0x5D) and a 512 KiB
// dictionary, the settings bundles usually carry, so that a reader which plans its memory for
// them reads ours too.
inline constexpr uint8_t kLzmaEncodedProps[5] = {0x5D, 0x00, 0x00, 0x08, 0x00};

enum class LzmaSizeField {
  kOmit,   // version 6 LZMA blocks: the block table holds the size
  kWrite,  // version 3 bundles: the stream carries its size after the properties
};

// Encodes the `length` bytes of `source` at `pos` into one stream: the properties
// kLzmaEncodedProps, the size as 8 bytes little-endian when `size_field` asks for it, then the
// coded data without an end marker: the reader always knows the size, and a decoder told the
// size without leave to find a marker (liblzma's strict mode) refuses one. Bytes go to `sink` in
// pieces of at most 1 MiB as they are made; memory stays about 10 MB (the dictionary, the match
// finder's tables and two chunk buffers), whatever `length`. Returns the bytes handed to `sink`.
// Throws IoError when `source` runs short, Error "LZMA encoder failed." when liblzma does.
uint64_t LzmaEncode(ByteSource& source, uint64_t pos, uint64_t length, LzmaSizeField size_field,
                    const ByteSink& sink);

}  // namespace kestrix
