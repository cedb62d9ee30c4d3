// LZ4 blocks (the block format, no frame) as version 6 bundles carry them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrix {

// Whether `uncompressed` bytes can come out of `compressed` bytes of LZ4 data at all: a block
// expands at most about 255 times, so a larger claim is refused before anything is allocated.
bool Lz4SizesPossible(uint64_t compressed, uint64_t uncompressed);

// Decodes one block into exactly `out_size` bytes at `out`.
// Throws Error "Error size lz4 in data stream." when the data does not decode to that size.
void Lz4Decode(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size);

// Compresses the `size` bytes at `in` into one block with LZ4's fast compressor, replacing the
// contents of `out`. Returns false, with `out` empty, when the block would not be smaller than
// the input: such a block is written stored (the input as it is, with the stored flag), since
// readers refuse an LZ4 flag on a block whose packed size is not below its unpacked size.
// Throws Error "Block too large for lz4." past LZ4's input limit (about 2 GB; PlanBlocks cuts
// larger data first).
template <typename Allocator>
bool Lz4EncodeBlock(const uint8_t* in, size_t size, std::vector<uint8_t, Allocator>& out);

// The room one block of `size` bytes may need packed, and the packing itself into that room;
// returns the packed length (Lz4EncodeBlock's parts, for buffers of any allocator).
size_t Lz4PackedRoom(size_t size);
size_t Lz4EncodeInto(const uint8_t* in, size_t size, uint8_t* out, size_t room);

template <typename Allocator>
bool Lz4EncodeBlock(const uint8_t* in, size_t size, std::vector<uint8_t, Allocator>& out) {
  out.resize(Lz4PackedRoom(size));
  const size_t packed = Lz4EncodeInto(in, size, out.data(), out.size());
  if (packed >= size) {
    out.clear();
    return false;
  }
  out.resize(packed);
  return true;
}

// The largest unpacked block PlanBlocks makes: 1 GiB. LZ4 takes at most 2,113,929,216 bytes in
// one block, and the block table holds 32-bit sizes; 1 GiB stays under both with room for
// the worst expansion of either codec (LZ4 adds at most 0.4 %, LZMA on random data about
// 1.5 %), so even readers that hold sizes in signed 32-bit integers take every block.
inline constexpr uint32_t kMaxBlockSize = 1u << 30;

// How `size` bytes of block data are cut into blocks of the same compression, each at most
// `max_block` bytes (clamped to 1..kMaxBlockSize): the fewest blocks that can hold them, of
// equal sizes but for one byte, the larger ones first, so that no small tail block is left.
// Data that fits one block stays one block, even when empty. The sizes add up to `size`.
std::vector<uint32_t> PlanBlocks(uint64_t size, uint32_t max_block = kMaxBlockSize);

}  // namespace kestrix
